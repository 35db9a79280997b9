// The link to the web browser's side against a web server of our own:
// the transactions in their order, what a fetch leaves in the cache, every
// way a server can fail costing a message and no more, and the rule that a
// world from the network never reaches a file of this disk.
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/window.h"
#include "tests/support/webserver.h"
#include "tests/www/wwwtest.h"

namespace {

using wwwtest::get;

std::vector<std::string> transactions;
std::vector<std::string> errors;  // what the shell would hear of failed opens
std::vector<std::string> documents;

void record(const char* side, const char* topic, const char* item) {
  transactions.push_back(std::string(side) + " " + topic + " " + item);
}

class LinkTest : public wwwtest::WwwTest {
 protected:
  void SetUp() override {
    WwwTest::SetUp();
    transactions.clear();
    errors.clear();
    documents.clear();
    ASSERT_TRUE(server.up());
    zvWwwSetFetchLimits(2, 2, 1 << 20);
    ASSERT_EQ(zvWwwStartLink(), ZV_OK);
    ZvWwwLinkHooks& hooks = zvWwwLinkHooks();
    hooks = ZvWwwLinkHooks{};
    hooks.transaction = record;
    hooks.loadError = [](const char* reason) { errors.push_back(reason ? reason : "(browser)"); };
    hooks.document = [](const char* local, const char* url) {
      documents.push_back(std::string(url) + " " + local);
    };
  }
  void TearDown() override {
    zvWwwShutdownLink();
    zvWwwLinkHooks() = ZvWwwLinkHooks{};
    unsetenv("QUILLMOOR_OPEN_COMMAND");
    WwwTest::TearDown();
  }
  // Fetches as the reader does; the local name, or "" on failure.
  std::string fetch(const std::string& url, int type = ZV_TYPE_VRML) {
    char out[ZV_WWW_PATH_MAX] = "";
    return zvWwwLinkFetch(url.c_str(), type, out, sizeof out) == ZV_OK ? std::string(out) : std::string();
  }
  // Runs the loop until pred holds or ms pass.
  template <class Pred>
  bool serveUntil(Pred pred, int ms = 5000) {
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred() && std::chrono::steady_clock::now() < end) zvPlatformDoOneEvent(0);
    return pred();
  }
  std::vector<std::string> topics() const {
    // Progress comes as often as data does: once in the list.
    std::vector<std::string> out;
    for (const std::string& t : transactions) {
      std::string topic = t.substr(0, t.find(' ', t.find(' ') + 1));
      if (out.empty() || out.back() != topic || topic != "server WWW_MakingProgress") out.push_back(topic);
    }
    return out;
  }
  std::string file(const std::string& name) const { return qmtest::WebServer::sourceDir() + "/data/web/" + name; }
  // One server for the suite, started by the first test that needs it.
  static qmtest::WebServer& webServer() {
    static qmtest::WebServer instance;
    return instance;
  }
  qmtest::WebServer& server = webServer();
};

TEST_F(LinkTest, FetchOfASoundRegistersItsViewerAroundTheOpenAndProgress) {
  std::string url = server.url("files/chime.wav");
  std::string local = fetch(url, ZV_TYPE_WAV);
  ASSERT_FALSE(local.empty()) << sink.dump();
  EXPECT_EQ(get(local), get(file("chime.wav")));
  EXPECT_EQ(local.rfind(cache(), 0), 0u) << local;
  std::vector<std::string> want = {"client WWW_RegisterViewer", "client WWW_OpenURL", "server WWW_BeginProgress",
                                   "server WWW_MakingProgress", "server WWW_EndProgress", "server WWW_ViewDocFile",
                                   "client WWW_UnRegisterViewer"};
  EXPECT_EQ(topics(), want);
  EXPECT_EQ(transactions[0], "client WWW_RegisterViewer Quillmoor,audio/x-wav,0x4");
  EXPECT_EQ(transactions[1], "client WWW_OpenURL " + url + ",,0xFFFFFFFF,0x04,,,Quillmoor");
  EXPECT_NE(transactions[transactions.size() - 2].find("\"audio/x-wav\""), std::string::npos);
  EXPECT_EQ(transactions.back(), "client WWW_UnRegisterViewer Quillmoor,audio/x-wav");
  EXPECT_EQ(zvWwwViewerRegistered("audio/x-wav"), 0);
  EXPECT_EQ(zvWwwViewerRegistered("x-world/x-vrml"), 1);
  // The browser side knows which URL the file came from.
  EXPECT_STREQ(zvWwwFilenameToUrl(local.c_str()), url.c_str());
  EXPECT_STREQ(zvWwwFilenameToUrl("/nowhere/x.wrl"), "file:///nowhere/x.wrl");
}

TEST_F(LinkTest, WorldsNeedNoRegistrationAndArriveDecodedWhateverTheRoute) {
  std::string plain = get(file("world.wrl"));
  for (const char* route : {"files/world.wrl", "gzip/world.wrl", "redirect/5/world.wrl", "typed/world"}) {
    transactions.clear();
    std::string local = fetch(server.url(route));
    ASSERT_FALSE(local.empty()) << route << sink.dump();
    EXPECT_EQ(get(local), plain) << route;
    EXPECT_EQ(zvFileToType(local.c_str()) == ZV_TYPE_VRML || std::string(route) == "typed/world", true);
    EXPECT_EQ(topics().front(), "client WWW_OpenURL") << route;
  }
}

TEST_F(LinkTest, ProgressCountsTransactionsAndCancelNamesTheLastOne) {
  std::string reply;
  uint32_t first = zvWwwProgressCounter();
  zvDdeServe("WWW_BeginProgress", "", &reply);
  ASSERT_EQ(reply.size(), 4u);
  uint32_t n;
  std::memcpy(&n, reply.data(), 4);
  EXPECT_EQ(n, first + 1);
  zvDdeServe("WWW_BeginProgress", "", &reply);
  std::memcpy(&n, reply.data(), 4);
  EXPECT_EQ(n, first + 2);
  zvDdeServe("WWW_MakingProgress", "", &reply);
  EXPECT_EQ(reply, std::string(2, '\0'));
  transactions.clear();
  zvWwwCancelProgress();
  char hex[32];
  std::snprintf(hex, sizeof hex, "client WWW_CancelProgress 0x%X", first + 2);
  ASSERT_FALSE(transactions.empty());
  EXPECT_EQ(transactions[0], hex);
  // Stopped: nothing more is fetched until the next open.
  EXPECT_EQ(fetch(server.url("files/world.wrl")), "");
  EXPECT_TRUE(sink.hasText("loading was stopped"));
  zvWwwClearStop();
  EXPECT_NE(fetch(server.url("files/world.wrl")), "");
}

TEST_F(LinkTest, AnAlertAboutGzipNeitherEndsAFetchNorReachesTheShell) {
  std::string reply;
  zvDdeServe("WWW_Alert", "\"the type application/x-gzip is not known\",1", &reply);
  int32_t answer = -1;
  ASSERT_EQ(reply.size(), 4u);
  std::memcpy(&answer, reply.data(), 4);
  EXPECT_EQ(answer, 1);
  EXPECT_TRUE(errors.empty());
  zvDdeServe("WWW_Alert", "\"Not found\",1", &reply);
  std::memcpy(&answer, reply.data(), 4);
  EXPECT_EQ(answer, 0);
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_EQ(errors[0], "Not found");
}

TEST_F(LinkTest, ItemFieldsFollowQuotesAndRefuseWhatRunsOff) {
  char out[64];
  const char* item = "\"/c/a,b.wrl\",http://h/x.wrl,\"x-world/x-vrml\"";
  EXPECT_STREQ(zvDdeGetField(item, 0, out, sizeof out), "/c/a,b.wrl");
  EXPECT_STREQ(zvDdeGetField(item, 1, out, sizeof out), "http://h/x.wrl");
  EXPECT_STREQ(zvDdeGetField(item, 2, out, sizeof out), "x-world/x-vrml");
  EXPECT_STREQ(zvDdeGetField("a,,c", 1, out, sizeof out), "");
  EXPECT_STREQ(zvDdeGetField("abcdefgh", 0, out, 4), "abc");  // cut to the buffer
  EXPECT_EQ(zvDdeGetField("a,b", 2, out, sizeof out), nullptr);
  EXPECT_EQ(zvDdeGetField("a,\"b", 1, out, sizeof out), nullptr);
  EXPECT_TRUE(sink.hasText("getNthMessage : message buffer is invalid"));
  EXPECT_EQ(zvDdeGetField(std::string(600, 'x').c_str(), 0, out, sizeof out), nullptr);
  // A document item without its quotes delivers nothing.
  zvDdeServe("WWW_ViewDocFile", "/etc/passwd,http://h/x.wrl,\"x-world/x-vrml\"", nullptr);
  EXPECT_TRUE(documents.empty());
}

TEST_F(LinkTest, EveryFailingServerCostsAMessageAndTheNextFetchWorks) {
  struct Case {
    const char* route;
    const char* message;
  } cases[] = {
      {"404", "answered 404"},
      {"loop", "too many redirects"},
      {"redirect/11/world.wrl", "too many redirects"},
      {"huge", "larger than 1024 KB"},
      {"truncated/world.wrl", "remaining to read"},
      {"silent", "stopped answering"},
      {"slow", "stopped answering"},
      {"garbage", "HTTP/0.9"},
      {"html/world.wrl", "not a document this browser shows (text/html)"},
  };
  for (const Case& c : cases) {
    sink.clear();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetch(server.url(c.route)), "") << c.route;
    EXPECT_TRUE(sink.hasText(c.message)) << c.route << ": " << sink.dump();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8)) << c.route;
  }
  EXPECT_NE(fetch(server.url("files/world.wrl")), "");
  // Nothing of a failed fetch stays behind.
  for (const std::string& f : wwwtest::filesUnder(cache()))
    for (const char* name : {"-404", "-loop", "-huge", "-silent", "-slow", "-garbage"})
      EXPECT_EQ(f.find(name), std::string::npos) << f;
}

TEST_F(LinkTest, OnlyWebSchemesAreFetchedAndARemoteWorldReadsNoLocalFile) {
  EXPECT_EQ(fetch("gopher://127.0.0.1/x.wrl"), "");
  EXPECT_EQ(fetch("file:///etc/hostname"), "");
  EXPECT_TRUE(sink.hasText("only http, https and ftp URLs are fetched"));
  zvWwwInstallHooks();
  ZvWorld* world = zvNewWorld(server.url("files/world.wrl").c_str());
  ASSERT_NE(world, nullptr);
  zvSetCurrentWorld(world);
  zvWwwSetBaseUrl(world->url);
  ZvUrlHash* passwd = zvWwwLoadFile("file:///etc/hostname");
  ASSERT_NE(passwd, nullptr);
  EXPECT_EQ(zvGetLocalFile(passwd), nullptr);
  EXPECT_TRUE(sink.hasText("a world from the network may not read local files"));
  // An absolute path is one of its server's.
  ZvUrlHash* path = zvWwwLoadFile("/etc/hostname");
  ASSERT_NE(path, nullptr);
  EXPECT_EQ(zvGetLocalFile(path), nullptr);
  EXPECT_TRUE(sink.hasText(server.url("etc/hostname") + " : the server answered 404")) << sink.dump();
  // Its relative names are fetched from its server.
  ZvUrlHash* entry = zvWwwLoadFile("parts/box.wrl");
  ASSERT_NE(entry, nullptr);
  const char* local = zvGetLocalFile(entry);
  ASSERT_NE(local, nullptr) << sink.dump();
  EXPECT_EQ(get(local), get(file("parts/box.wrl")));
  zvSetCurrentWorld(nullptr);
  zvDeleteWorld(world);
}

TEST_F(LinkTest, DocumentsThatAreNotWorldsGoToTheUsersBrowser) {
  std::string log = root + "/opened.txt";
  std::string recorder = wwwtest::put(root + "/record.sh", "#!/bin/sh\necho \"$1\" >> " + log + "\n");
  chmod(recorder.c_str(), 0755);
  setenv("QUILLMOOR_OPEN_COMMAND", recorder.c_str(), 1);
  // A picture by its name: straight to the browser, nothing fetched.
  transactions.clear();
  EXPECT_EQ(zvOpenUrl(server.url("files/stones.png").c_str()), ZV_OK);
  EXPECT_EQ(topics(), std::vector<std::string>{"browser " + std::string(recorder)});
  // A page, or a world's name that the server says is a page: fetched,
  // found not to be a world, handed on.
  EXPECT_EQ(zvOpenUrl(server.url("files/page.html").c_str()), ZV_OK);
  EXPECT_TRUE(serveUntil([] { return errors.size() == 1; }));
  EXPECT_EQ(zvOpenUrl(server.url("html/world.wrl").c_str()), ZV_OK);
  EXPECT_TRUE(serveUntil([] { return errors.size() == 2; }));
  EXPECT_EQ(errors, (std::vector<std::string>{"(browser)", "(browser)"}));
  auto lines = [&] {
    std::string text = get(log);
    return std::count(text.begin(), text.end(), '\n');
  };
  EXPECT_TRUE(serveUntil([&] { return lines() >= 3; }));
  std::string opened = get(log);
  for (const char* route : {"files/stones.png", "files/page.html", "html/world.wrl"})
    EXPECT_NE(opened.find(server.url(route) + "\n"), std::string::npos) << route << ": " << opened;
  // A world opened as the document goes to the shell, not to a wait.
  EXPECT_EQ(zvOpenUrl(server.url("files/world.wrl").c_str()), ZV_OK);
  EXPECT_TRUE(serveUntil([] { return !documents.empty(); }));
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].rfind(server.url("files/world.wrl") + " " + cache(), 0), 0u) << documents[0];
  EXPECT_EQ(zvOpenUrl("mailto:someone@example.org"), ZV_FAIL);
}

TEST_F(LinkTest, StopEndsAWaitingFetch) {
  ZvPlatformTimer stop{[](void*) { zvWwwCancelProgress(); }, nullptr, nullptr};
  zvPlatformArmTimer(&stop, 200);
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(fetch(server.url("silent")), "");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_TRUE(sink.hasText("stopped")) << sink.dump();
  EXPECT_EQ(topics().back(), "server WWW_Alert");
}

TEST_F(LinkTest, AWorldsInlinesAndTexturesAreOnTheirWayBeforeTheyAreAskedFor) {
  std::string world = fetch(server.url("files/world.wrl"));
  ASSERT_FALSE(world.empty());
  // The prefetches finish in the background; the fetch then answers at once.
  serveUntil([] { return false; }, 500);
  transactions.clear();
  auto start = std::chrono::steady_clock::now();
  std::string box = fetch(server.url("files/parts/box.wrl"));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(get(box), get(file("parts/box.wrl")));
  std::vector<std::string> want = {"client WWW_OpenURL", "server WWW_BeginProgress", "server WWW_MakingProgress",
                                   "server WWW_EndProgress", "server WWW_ViewDocFile"};
  EXPECT_EQ(topics(), want);
}

}  // namespace
