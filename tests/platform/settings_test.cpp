// The settings file: what is written comes back, what a hostile or broken
// file holds never gets past the checks, every row has its default without
// a file, and the table writes only what changed and keeps what another
// instance wrote meanwhile.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/settings.h"

namespace {

namespace fs = std::filesystem;

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qm-settings-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    path = dir + "/config/quillmoor/quillmoor.ini";
    zvSetSettingsPath(path.c_str());
  }
  void TearDown() override {
    zvSetSettingsPath(nullptr);
    fs::remove_all(dir);
  }
  void write(const std::string& text) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
  }
  std::string read() {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
  }
  std::string get(int index) {
    char out[300];
    EXPECT_GE(zvGetSetting(index, out, sizeof out), 0);
    return out;
  }
  std::string dir, path;
};

TEST_F(Settings, IniRoundTripKeepsSectionsKeysAndValues) {
  ZvIni* ini = zvNewIni();
  ASSERT_EQ(zvIniSet(ini, "MultiUser", "SOCKS Host", "proxy.example"), 0);
  ASSERT_EQ(zvIniSet(ini, "", "Birthday", "0a0b0c0d"), 0);
  ASSERT_EQ(zvIniSet(ini, "User", "NickName", "Åsa = ; [x]"), 0);  // '=' and ';' inside a value
  ASSERT_EQ(zvIniSet(ini, "MultiUser", "SOCKS Port", ""), 0);
  ASSERT_EQ(zvIniSet(ini, "MultiUser", "SOCKS Host", "second"), 0);  // replaces
  EXPECT_EQ(zvIniCount(ini), 4);
  ASSERT_EQ(zvIniSave(ini, path.c_str()), 0);
  // Nothing of the temporary file is left beside it.
  int files = 0;
  for (auto& entry : fs::directory_iterator(fs::path(path).parent_path())) files += entry.is_regular_file();
  EXPECT_EQ(files, 1);

  ZvIni* back = zvNewIni();
  ASSERT_EQ(zvIniLoad(back, path.c_str()), 0);
  EXPECT_EQ(zvIniCount(back), 4);
  for (auto [section, key, value] : {std::tuple{"MultiUser", "SOCKS Host", "second"}, {"", "Birthday", "0a0b0c0d"},
                                     {"User", "NickName", "Åsa = ; [x]"}, {"MultiUser", "SOCKS Port", ""}})
    EXPECT_STREQ(zvIniGet(back, section, key), value) << key;
  EXPECT_EQ(zvIniGet(back, "User", "Birthday"), nullptr);
  zvDeleteIni(ini);
  zvDeleteIni(back);
}

TEST_F(Settings, IniRefusesWhatCouldNotComeBack) {
  ZvIni* ini = zvNewIni();
  EXPECT_EQ(zvIniSet(ini, "User", "Nick\nName=evil", "x"), -1);
  EXPECT_EQ(zvIniSet(ini, "User", "a=b", "x"), -1);
  EXPECT_EQ(zvIniSet(ini, "Us]er", "a", "x"), -1);
  EXPECT_EQ(zvIniSet(ini, "User", "", "x"), -1);
  EXPECT_EQ(zvIniSet(ini, "User", "Name", "line\n[Sound]\nSound=no"), -1);
  EXPECT_EQ(zvIniSet(ini, "User", std::string(ZV_INI_MAX_NAME + 1, 'k').c_str(), "x"), -1);
  EXPECT_EQ(zvIniSet(ini, "User", "Name", std::string(ZV_INI_MAX_VALUE + 1, 'v').c_str()), -1);
  EXPECT_EQ(zvIniCount(ini), 0);
  for (int i = 0; i < ZV_INI_MAX_ENTRIES; ++i) ASSERT_EQ(zvIniSet(ini, "S", ("k" + std::to_string(i)).c_str(), "v"), 0);
  EXPECT_EQ(zvIniSet(ini, "S", "one-more", "v"), -1);
  EXPECT_EQ(zvIniSet(ini, "S", "k7", "changed"), 0);  // a known key still changes
  zvDeleteIni(ini);
}

TEST_F(Settings, HostileIniTextIsLeftOutLineByLine) {
  std::string text = "Birthday=01020304\r\n"
                     "[User]\r\n"
                     "  NickName =  kim  \r\n"
                     "no equals sign here\n"
                     "=no key\n"
                     "[Broken\n"
                     "Name=should not land in User\n"
                     "[Sound]\n"
                     "Sound=yes";
  text += '\0';
  text += "Sound=no\n";
  text += "Walking" + std::string(ZV_INI_MAX_LINE + 10, 'x') + "=yes\n";
  text += "WalkingSound=no";  // no final newline
  ZvIni* ini = zvNewIni();
  EXPECT_EQ(zvIniParse(ini, text.data(), text.size()), 6);
  EXPECT_STREQ(zvIniGet(ini, "", "Birthday"), "01020304");
  EXPECT_STREQ(zvIniGet(ini, "User", "NickName"), "kim");
  EXPECT_EQ(zvIniGet(ini, "User", "Name"), nullptr);
  EXPECT_EQ(zvIniGet(ini, "Sound", "Sound"), nullptr);
  EXPECT_STREQ(zvIniGet(ini, "Sound", "WalkingSound"), "no");
  EXPECT_EQ(zvIniCount(ini), 3);

  // More entries than the record takes: the rest is counted, not kept.
  std::string many = "[S]\n";
  for (int i = 0; i < ZV_INI_MAX_ENTRIES + 20; ++i) many += "k" + std::to_string(i) + "=v\n";
  ZvIni* full = zvNewIni();
  EXPECT_EQ(zvIniParse(full, many.data(), many.size()), 20);
  EXPECT_EQ(zvIniCount(full), ZV_INI_MAX_ENTRIES);
  EXPECT_EQ(zvIniParse(nullptr, "x", 1), -1);
  zvDeleteIni(ini);
  zvDeleteIni(full);
}

TEST_F(Settings, FilesThatCannotBeTrustedGiveAnEmptyRecord) {
  ZvIni* ini = zvNewIni();
  EXPECT_EQ(zvIniLoad(ini, (dir + "/absent.ini").c_str()), 1);
  write("[S]\nk=v\n" + std::string(ZV_INI_MAX_FILE, '#'));
  EXPECT_EQ(zvIniLoad(ini, path.c_str()), -1);
  EXPECT_EQ(zvIniCount(ini), 0);
  EXPECT_EQ(zvIniLoad(ini, dir.c_str()), -1);  // a directory
  std::string fifo = dir + "/fifo.ini";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(zvIniLoad(ini, fifo.c_str()), -1);  // and does not wait for a writer
  // Random bytes: whatever is taken obeys the rules for names and values.
  std::string noise;
  unsigned state = 7;
  for (int i = 0; i < 20000; ++i) noise += char((state = state * 1103515245 + 12345) >> 16);
  EXPECT_GE(zvIniParse(ini, noise.data(), noise.size()), 0);
  EXPECT_LE(zvIniCount(ini), ZV_INI_MAX_ENTRIES);
  // A path whose directory is a file cannot be written.
  EXPECT_EQ(zvIniSave(ini, (fifo + "/x.ini").c_str()), -1);
  zvDeleteIni(ini);
}

TEST_F(Settings, EveryRowHasItsDefaultWithoutAFile) {
  EXPECT_EQ(get(ZV_SET_SOUND), "yes");
  for (int row : {ZV_SET_WALKING_SOUND, ZV_SET_MULTI_USER, ZV_SET_TEXTURE}) EXPECT_EQ(zvGetSettingFlag(row), 1) << row;
  EXPECT_EQ((std::vector<std::string>{get(ZV_SET_USER_NAME), get(ZV_SET_NICK_NAME), get(ZV_SET_SOCKS_HOST), get(ZV_SET_SOCKS_PORT)}),
            (std::vector<std::string>{"(usr)", "(nik)", "", ""}));
  uint8_t birthday[4] = {9, 9, 9, 9};
  EXPECT_EQ(zvGetSettingBinary(ZV_SET_BIRTHDAY, birthday, 4), 4);
  EXPECT_EQ(birthday[0] | birthday[1] | birthday[2] | birthday[3], 0);
  EXPECT_STREQ(zvSettingKey(ZV_SET_SOCKS_HOST), "SOCKS Host");
  EXPECT_STREQ(zvSettingSection(ZV_SET_SOCKS_HOST), "MultiUser");
  EXPECT_EQ(zvSettingSize(ZV_SET_NICK_NAME), ZV_USER_NAME_SIZE);
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_NICK_NAME), -1);
  char out[8];
  EXPECT_TRUE(zvGetSetting(ZV_SETTING_COUNT, out, sizeof out) == -1 && zvGetSetting(-1, out, sizeof out) == -1);
  // Reading never writes.
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(zvSettingsProblem(), nullptr);
}

TEST_F(Settings, BadValuesInTheFileKeepTheDefaultsAndLongOnesAreCut) {
  write("Birthday=xyz\n[Sound]\nSound=maybe\nWalkingSound=no\n[User]\nNickName=" + std::string(40, 'n') +
        "\nName=ÅÅÅÅÅÅÅÅÅÅÅÅÅÅÅÅ\n[MultiUser]\nSOCKS Port=1080\n");
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_SOUND), 1);
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_WALKING_SOUND), 0);
  EXPECT_EQ(get(ZV_SET_NICK_NAME), std::string(31, 'n'));
  // Sixteen two-byte letters do not fit 31 bytes: fifteen do, whole.
  std::string name = get(ZV_SET_USER_NAME);
  EXPECT_EQ(name.size(), 30u);
  EXPECT_EQ(name.substr(28), "Å");
  EXPECT_EQ(get(ZV_SET_SOCKS_PORT), "1080");
  uint8_t birthday[4];
  ASSERT_EQ(zvGetSettingBinary(ZV_SET_BIRTHDAY, birthday, 4), 4);
  EXPECT_EQ(birthday[0], 0);
  // A buffer smaller than the value gets a cut, terminated copy.
  char small[4];
  EXPECT_EQ(zvGetSetting(ZV_SET_NICK_NAME, small, sizeof small), 3);
  EXPECT_STREQ(small, "nnn");
}

TEST_F(Settings, ChangesAreWrittenOnlyWhenTheyDifferAndKeepOtherRows) {
  EXPECT_EQ(zvSetSettingFlag(ZV_SET_SOUND, 1), 0);  // the default again
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(zvSetSetting(ZV_SET_SOCKS_HOST, "  socks.local\t"), 0);
  ASSERT_TRUE(fs::exists(path));
  EXPECT_NE(read().find("[MultiUser]\nSOCKS Host=socks.local\n"), std::string::npos);

  // Another instance changes a row meanwhile; our next change keeps it.
  std::string text = read();
  write(text + "[Texture]\nTexture=no\n");
  EXPECT_EQ(zvSetSettingFlag(ZV_SET_WALKING_SOUND, 0), 0);
  zvForgetSettings();
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_TEXTURE), 0);
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_WALKING_SOUND), 0);
  EXPECT_EQ(get(ZV_SET_SOCKS_HOST), "socks.local");

  // Control bytes never reach the file; yes/no and binary rows take only
  // their forms.
  EXPECT_EQ(zvSetSetting(ZV_SET_NICK_NAME, "ev\nil\r\x01"), 0);
  EXPECT_EQ(get(ZV_SET_NICK_NAME), "evil");
  EXPECT_EQ(zvSetSetting(ZV_SET_SOUND, "perhaps"), -1);
  EXPECT_EQ(zvSetSetting(ZV_SET_SOUND, "no"), 0);
  EXPECT_EQ(zvSetSetting(ZV_SET_BIRTHDAY, "12"), -1);
  const uint8_t day[4] = {0xde, 0xad, 0xbe, 0xef};
  EXPECT_EQ(zvSetSettingBinary(ZV_SET_BIRTHDAY, day, 4), 0);
  EXPECT_EQ(get(ZV_SET_BIRTHDAY), "deadbeef");
  EXPECT_EQ(zvSetSetting(ZV_SET_NICK_NAME, std::string(50, 'z').c_str()), 0);
  EXPECT_EQ(get(ZV_SET_NICK_NAME).size(), 31u);
  zvForgetSettings();
  EXPECT_EQ(zvGetSettingFlag(ZV_SET_SOUND), 0);
  EXPECT_EQ(get(ZV_SET_BIRTHDAY), "deadbeef");
  // The birthday, a key of no section, stands before the first header.
  EXPECT_LT(read().find("Birthday="), read().find('['));
}

TEST_F(Settings, AFailedWriteKeepsTheValueForTheRun) {
  std::string blocker = dir + "/file";
  std::ofstream(blocker) << "x";
  zvSetSettingsPath((blocker + "/quillmoor.ini").c_str());
  EXPECT_EQ(zvSetSetting(ZV_SET_SOCKS_PORT, "1080"), -1);
  EXPECT_EQ(get(ZV_SET_SOCKS_PORT), "1080");
  EXPECT_NE(zvSettingsProblem(), nullptr);
}

TEST_F(Settings, TheUserNameComesFromTheLoginOnlyWhileUnset) {
  char login[ZV_USER_NAME_SIZE];
  ASSERT_EQ(zvPlatformLoginName(login, sizeof login), 0);
  EXPECT_GT(std::strlen(login), 0u);
  for (const char* p = login; *p; ++p) EXPECT_TRUE(*p > 0x20 && *p < 0x7f);
  char tiny[3];
  ASSERT_EQ(zvPlatformLoginName(tiny, sizeof tiny), 0);
  EXPECT_LE(std::strlen(tiny), 2u);

  EXPECT_EQ(zvInitUserName(), 1);
  char name[ZV_USER_NAME_SIZE];
  ASSERT_GE(zvGetUserName(name, sizeof name), 0);
  EXPECT_STREQ(name, login);
  EXPECT_EQ(get(ZV_SET_USER_NAME), login);
  EXPECT_EQ(zvSetUserName("someone else"), 0);
  EXPECT_EQ(zvInitUserName(), 0);
  zvForgetSettings();
  ASSERT_GE(zvGetUserName(name, sizeof name), 0);
  EXPECT_STREQ(name, "someone else");
}

}  // namespace
