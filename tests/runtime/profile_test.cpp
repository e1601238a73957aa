#include "runtime/Profile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "runtime/ExePath.h"

namespace {

TEST(Profile, FindsSectionAndKeyWithoutRegardToCase) {
  const char* ini = "[Other]\nCAMINHO=wrong\n[banco]\n  caminho =  /data/kavro.fdb  \n";
  EXPECT_EQ(rt::ReadProfileStringFromText(ini, "BANCO", "CAMINHO"), "/data/kavro.fdb");
}

TEST(Profile, MissingSectionOrKeyGivesTheDefault) {
  const char* ini = "[BANCO]\nOUTRO=x\n";
  EXPECT_EQ(rt::ReadProfileStringFromText(ini, "BANCO", "CAMINHO"), "");
  EXPECT_EQ(rt::ReadProfileStringFromText(ini, "NADA", "OUTRO", "dflt"), "dflt");
}

TEST(Profile, OnePairOfEnclosingQuotesIsRemoved) {
  EXPECT_EQ(rt::ReadProfileStringFromText("[B]\nK=\"a b\"\n", "B", "K"), "a b");
  EXPECT_EQ(rt::ReadProfileStringFromText("[B]\nK='a b'\n", "B", "K"), "a b");
  EXPECT_EQ(rt::ReadProfileStringFromText("[B]\nK=\"\"x\"\"\n", "B", "K"), "\"x\"");
  EXPECT_EQ(rt::ReadProfileStringFromText("[B]\nK=\"a\n", "B", "K"), "\"a");
}

TEST(Profile, CrLfLinesAndFirstKeyWins) {
  EXPECT_EQ(rt::ReadProfileStringFromText("[B]\r\nK=one\r\nK=two\r\n", "B", "K"), "one");
}

TEST(Profile, ValueIsCutAt2047Characters) {
  std::string longValue(2100, 'x');
  longValue[2046] = 'y';
  std::string v = rt::ReadProfileStringFromText("[B]\nK=" + longValue + "\n", "B", "K");
  ASSERT_EQ(v.size(), 2047u);
  EXPECT_EQ(v.back(), 'y');
}

TEST(Profile, ReadsAFileAndTreatsAMissingFileAsEmpty) {
  std::string path = testing::TempDir() + "profile_test.ini";
  {
    std::ofstream out(path);
    out << "[BANCO]\nCAMINHO=localhost:/x.fdb\n";
  }
  EXPECT_EQ(rt::ReadProfileString(path, "BANCO", "CAMINHO"), "localhost:/x.fdb");
  EXPECT_TRUE(rt::FileExists(path));
  std::remove(path.c_str());
  EXPECT_EQ(rt::ReadProfileString(path, "BANCO", "CAMINHO"), "");
  EXPECT_FALSE(rt::FileExists(path));
  EXPECT_FALSE(rt::FileExists(testing::TempDir()));  // a directory is not a file
}

TEST(ExePath, DirectoryEndsWithSlashAndHoldsTheProgram) {
  std::string dir = rt::ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  EXPECT_EQ(rt::ExecutablePath().rfind(dir, 0), 0u);
  EXPECT_TRUE(rt::FileExists(rt::ExecutablePath()));
}

}  // namespace
