// Libraries opened at first use: what binds, and what a missing library or
// entry leaves behind.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace {

TEST(BindLibrary, BindsEveryEntryOrNone) {
  decltype(&zlibVersion) version = nullptr;
  decltype(&crc32) checksum = nullptr;
  std::string error;
  const ZvLibraryEntry good[] = {{"zlibVersion", reinterpret_cast<void**>(&version)},
                                 {"crc32", reinterpret_cast<void**>(&checksum)}};
  ASSERT_TRUE(zvPlatformBindLibrary("libz.so.1", good, 2, &error)) << error;
  EXPECT_STREQ(version(), zlibVersion());
  EXPECT_EQ(checksum(0, reinterpret_cast<const Bytef*>("abc"), 3), 0x352441c2u);

  double (*cosine)(double) = nullptr;
  const ZvLibraryEntry partly[] = {{"cos", reinterpret_cast<void**>(&cosine)},
                                   {"no_such_entry", reinterpret_cast<void**>(&checksum)}};
  EXPECT_FALSE(zvPlatformBindLibrary("libm.so.6", partly, 2, &error));
  EXPECT_EQ(cosine, nullptr) << "a found entry was bound though another was missing";
  EXPECT_NE(error.find("no_such_entry"), std::string::npos) << error;
  EXPECT_TRUE(zvPlatformBindLibrary("libm.so.6", partly, 1, &error)) << "the library itself is there";
  EXPECT_EQ(cosine(0.0), 1.0);

  for (int attempt = 0; attempt < 2; ++attempt) {  // the second from what the first found
    error.clear();
    EXPECT_FALSE(zvPlatformBindLibrary("libquillmoor-absent.so.9", good, 2, &error));
    EXPECT_NE(error.find("libquillmoor-absent"), std::string::npos) << error;
  }
}

// Sound, MIDI and the web are loaded when a world first needs them: the
// program that starts must not bring them, or whatever they pull in.
TEST(BindLibrary, TheProgramStartsWithoutTheLibrariesItOpensLater) {
#ifndef QUILLMOOR_EXE
  GTEST_SKIP() << "built without the program";
#else
  FILE* ldd = popen("ldd " QUILLMOOR_EXE " 2>&1", "r");
  ASSERT_NE(ldd, nullptr);
  std::string listed;
  char line[512];
  while (std::fgets(line, sizeof line, ldd)) listed += line;
  ASSERT_EQ(pclose(ldd), 0) << listed;
  ASSERT_NE(listed.find("libtcl"), std::string::npos) << listed;
  for (const char* later : {"libSDL2", "libfluidsynth", "libcurl"})
    EXPECT_EQ(listed.find(later), std::string::npos) << later << " is loaded at start-up";
#endif
}

}  // namespace
