#include "platform/ProfileFile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/StateRoot.h"
#include "tests/support/TempStateRoot.h"

namespace {

using namespace platform;

// What a caller passes: the Windows folder with a backslash file name.
std::string WinIni() { return WindowsDirectory() + "\\win.ini"; }

std::string Read(const char* section, const char* key, const char* fallback = "",
                 uint32_t size = 64, uint32_t* copied = nullptr) {
  std::vector<char> buffer(size + 1, '#');
  uint32_t n = GetPrivateProfileStringA(section, key, fallback, buffer.data(), size, WinIni());
  if (copied) *copied = n;
  return std::string(buffer.data());
}

class ProfileFileTest : public ::testing::Test {
 protected:
  void Seed(const std::string& text) { obxtest::WriteFile(NativePath(WinIni()), text); }
  std::string Contents() { return obxtest::ReadFile(NativePath(WinIni())); }
  obxtest::TempStateRoot root_;
};

TEST_F(ProfileFileTest, SectionAndKeyMatchInAnyCase) {
  Seed("; machine\n[fonts]\nFlag=wrong\n[WinSet]\n  Flag = 0123ABC  \nOther=1\n");
  struct Case {
    const char* section;
    const char* key;
    const char* expected;
  } cases[] = {
      {"WINSET", "Flag", "0123ABC"}, {"winset", "FLAG", "0123ABC"}, {"WinSet", "other", "1"},
      {"fonts", "flag", "wrong"},    {"WINSET", "Missing", "dflt"}, {"NoSection", "Flag", "dflt"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, Read(c.section, c.key, "dflt")) << c.section << "/" << c.key;
}

TEST_F(ProfileFileTest, MissingFileGivesTheDefault) {
  uint32_t copied = 99;
  EXPECT_EQ("fallback", Read("WINSET", "Flag", "fallback", 64, &copied));
  EXPECT_EQ(8u, copied);
  EXPECT_EQ("", Read("WINSET", "Flag", nullptr, 64, &copied));
  EXPECT_EQ(0u, copied);
  EXPECT_EQ("pad", Read("WINSET", "Flag", "pad   ", 64));  // trailing blanks of a default go
}

TEST_F(ProfileFileTest, ValueIsCutToBufferSizeLessOne) {
  Seed("[WINSET]\nFlag=0123456789abcdef0123456789abcdefXYZ\n");
  struct Case {
    uint32_t size;
    const char* expected;
    uint32_t copied;
  } cases[] = {
      {33, "0123456789abcdef0123456789abcdef", 32},
      {5, "0123", 4},
      {1, "", 0},
      {100, "0123456789abcdef0123456789abcdefXYZ", 35},
  };
  for (const Case& c : cases) {
    uint32_t copied = 0;
    EXPECT_EQ(c.expected, Read("WINSET", "Flag", "", c.size, &copied)) << c.size;
    EXPECT_EQ(c.copied, copied) << c.size;
  }
  char untouched = '#';
  EXPECT_EQ(0u, GetPrivateProfileStringA("WINSET", "Flag", "", &untouched, 0, WinIni()));
  EXPECT_EQ('#', untouched);
}

TEST_F(ProfileFileTest, QuotedValueLosesItsQuotes) {
  Seed("[s]\na=\"quoted text\"\nb='single'\nc=\"half\n");
  EXPECT_EQ("quoted text", Read("s", "a"));
  EXPECT_EQ("single", Read("s", "b"));
  EXPECT_EQ("\"half", Read("s", "c"));
}

TEST_F(ProfileFileTest, WriteCreatesFolderFileSectionAndKey) {
  ASSERT_TRUE(WritePrivateProfileStringA("WINSET", "Flag", "ABC", WinIni()));
  EXPECT_EQ("[WINSET]\nFlag=ABC\n", Contents());
  EXPECT_EQ("ABC", Read("winset", "flag"));
  ASSERT_TRUE(WritePrivateProfileStringA("Other", "k", "v", WinIni()));
  EXPECT_EQ("[WINSET]\nFlag=ABC\n[Other]\nk=v\n", Contents());
}

TEST_F(ProfileFileTest, ReplacingAKeyKeepsEverythingElse) {
  Seed("; comment\r\n[WINSET]\r\nBefore=1\r\nflag=old\r\nAfter=2\r\n\r\n[Next]\r\nflag=n\r\n");
  ASSERT_TRUE(WritePrivateProfileStringA("winset", "FLAG", "new", WinIni()));
  EXPECT_EQ("; comment\r\n[WINSET]\r\nBefore=1\r\nflag=new\r\nAfter=2\r\n\r\n[Next]\r\nflag=n\r\n",
            Contents());
  ASSERT_TRUE(WritePrivateProfileStringA("WINSET", "Added", "3", WinIni()));
  EXPECT_EQ(
      "; comment\r\n[WINSET]\r\nBefore=1\r\nflag=new\r\nAfter=2\r\nAdded=3\r\n\r\n[Next]\r\n"
      "flag=n\r\n",
      Contents());
  EXPECT_EQ("n", Read("Next", "Flag"));
}

TEST_F(ProfileFileTest, NullValueRemovesKeyAndNullKeyRemovesSection) {
  Seed("[a]\nx=1\ny=2\n[b]\nz=3\n");
  ASSERT_TRUE(WritePrivateProfileStringA("A", "X", nullptr, WinIni()));
  EXPECT_EQ("[a]\ny=2\n[b]\nz=3\n", Contents());
  ASSERT_TRUE(WritePrivateProfileStringA("a", nullptr, nullptr, WinIni()));
  EXPECT_EQ("[b]\nz=3\n", Contents());
  ASSERT_TRUE(WritePrivateProfileStringA("gone", "k", nullptr, WinIni()));
  EXPECT_EQ("[b]\nz=3\n", Contents());
}

TEST_F(ProfileFileTest, LineBreaksCannotPlantOtherEntries) {
  Seed("[WINSET]\nFlag=good\n");
  EXPECT_FALSE(WritePrivateProfileStringA("WINSET", "Flag", "x\n[Evil]\nk=v", WinIni()));
  EXPECT_FALSE(WritePrivateProfileStringA("WIN\nSET", "Flag", "x", WinIni()));
  EXPECT_FALSE(WritePrivateProfileStringA("WINSET", "Fl\rag", "x", WinIni()));
  EXPECT_FALSE(WritePrivateProfileStringA("WINSET", "a=b", "x", WinIni()));
  EXPECT_FALSE(WritePrivateProfileStringA(nullptr, "k", "x", WinIni()));
  EXPECT_EQ("[WINSET]\nFlag=good\n", Contents());
}

TEST_F(ProfileFileTest, ListsSectionsAndKeysWhenNamesAreNull) {
  Seed("[one]\na=1\nb=2\n[two]\n");
  char buffer[64];
  uint32_t n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, sizeof buffer, WinIni());
  EXPECT_EQ(std::string("one\0two\0", 8), std::string(buffer, n));
  EXPECT_EQ('\0', buffer[n]);
  n = GetPrivateProfileStringA("ONE", nullptr, "", buffer, sizeof buffer, WinIni());
  EXPECT_EQ(std::string("a\0b\0", 4), std::string(buffer, n));
  n = GetPrivateProfileStringA(nullptr, nullptr, "", buffer, 5, WinIni());
  EXPECT_EQ(3u, n);  // cut, still ending in two NULs
  EXPECT_EQ(std::string("one\0\0", 5), std::string(buffer, 5));
}

TEST_F(ProfileFileTest, ProcessesWritingAtOnceLoseNoKey) {
  const int kChildren = 4;
  const int kKeysEach = 15;
  std::vector<pid_t> children;
  for (int c = 0; c < kChildren; ++c) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      bool ok = true;
      for (int k = 0; k < kKeysEach; ++k) {
        std::string key = "c" + std::to_string(c) + "k" + std::to_string(k);
        ok = WritePrivateProfileStringA("Shared", key.c_str(), "v", WinIni()) && ok;
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int c = 0; c < kChildren; ++c)
    for (int k = 0; k < kKeysEach; ++k) {
      std::string key = "c" + std::to_string(c) + "k" + std::to_string(k);
      EXPECT_EQ("v", Read("Shared", key.c_str(), "missing")) << key;
    }
}

}  // namespace
