// handover.cpp — one browser window per user: a later start that names a
// document hands it to the window already open, which opens it as if typed
// into its location bar, and ends.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/window.h"
#include "shell/windowpriv.h"
#include "www/www.h"

namespace {

// The user asked for this world just now, from elsewhere: the window comes
// forward to show it.
void documentHandedOver(void*, const char* document) {
  zvPlatformRaiseWindow(zvShellWindow());
  zvShellPostOpenUrl(document);
}

}  // namespace

int zvHandOverDocument(const char* word) {
  if (!word || !*word) return -1;
  // A plain path means this start's directory, not the window's.
  std::string document = word;
  if (zvUrlScheme(word) == ZV_SCHEME_NONE) {
    std::error_code ec;
    auto path = std::filesystem::absolute(word, ec);
    if (!ec) document = path.lexically_normal().string();
  }
  // A browser that has just taken the lock may not listen yet.
  // Tries go on for three seconds at most, whatever one try waits.
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
  int status = zvPlatformSendDocument(document.c_str());
  while (status == -1 && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    status = zvPlatformSendDocument(document.c_str());
  }
  if (status == -2)
    std::fprintf(stderr, "quillmoor: %.200s: the running browser does not take this document\n", word);
  if (status == -3) {
    std::fprintf(stderr, "quillmoor: the running browser is busy; it opens %.200s when it is free\n", word);
    return 0;
  }
  return status;
}

int zvServeHandOvers(int on) {
  if (!on) {
    zvPlatformStopServing();
    return 0;
  }
  if (zvPlatformServeDocuments(documentHandedOver, nullptr) == 0) return 0;
  std::fprintf(stderr, "quillmoor: %s: cannot listen there; later starts cannot hand documents over\n",
               zvPlatformServicePath());
  return -1;
}
