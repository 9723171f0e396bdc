// OS release, service pack and language, read through the registry-backed
// version record and the XDG desktop folder of a fresh state root.
#include "sysinfo/OsInfo.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/SystemInfo.h"
#include "tests/support/TempStateRoot.h"
#include "tests/sysinfo/SysinfoTestSupport.h"

namespace {

using obxtest::ScopedEnv;
using obxtest::WriteRegDword;
using obxtest::WriteVersionRecord;

const char kDesktopWord[] = "\xE6\xA1\x8C\xE9\x9D\xA2";  // the Chinese word for desktop, UTF-8

struct VersionCase {
  const char* version;
  const char* productType;
  const char* csd;
  const char* expectedName;
  const char* expectedServicePack;
};

// How a case reads in test listings.
void PrintTo(const VersionCase& c, std::ostream* out) {
  *out << '"' << c.version << "\" \"" << c.productType << "\" \"" << c.csd << '"';
}

class OsVersionFromRecord : public ::testing::TestWithParam<VersionCase> {
 protected:
  obxtest::TempStateRoot root_;
};

TEST_P(OsVersionFromRecord, NamesReleaseAndServicePack) {
  const VersionCase& c = GetParam();
  WriteVersionRecord(c.version, c.productType, c.csd);
  const obx::osVersion version = obx::GetOsVersion();
  std::string name;
  std::string servicePack;
  obx::GetOsVersionName(version.type, version.servicePack, name, servicePack);
  EXPECT_EQ(c.expectedName, name);
  EXPECT_EQ(c.expectedServicePack, servicePack);
}

INSTANTIATE_TEST_SUITE_P(
    Releases, OsVersionFromRecord,
    ::testing::Values(
        // XP x64 is NT 5.2 on a workstation.
        VersionCase{"5.2", "WinNT", "Service Pack 2", "WINXP", "SP2"},
        // Only the basic record: the product type is unknown, so the server name.
        VersionCase{"5.2", "", "Service Pack 2", "WIN2003", "SP0"},
        VersionCase{"5.2", "ServerNT", "Service Pack 2", "WIN2003", "SP2"},
        VersionCase{"5.2", "LanmanNT", "", "WIN2003", "SP0"},
        VersionCase{"5.1", "WinNT", "Service Pack 3", "WINXP", "SP3"},
        VersionCase{"5.1", "", "Service Pack 3", "WINXP", "SP0"},
        VersionCase{"5.0", "ServerNT", "Service Pack 4", "WIN2000", "SP4"},
        VersionCase{"4.0", "WinNT", "Service Pack 6", "WINNT", "SP6"},
        VersionCase{"3.51", "WinNT", "", "WINNT", "SP0"},
        VersionCase{"6.0", "WinNT", "Service Pack 2", "VISTA", "SP2"},
        VersionCase{"6.0", "ServerNT", "Service Pack 1", "WIN2008", "SP1"},
        VersionCase{"6.0", "", "", "WIN2008", "SP0"},
        VersionCase{"6.1", "WinNT", "Service Pack 1", "WIN7", "SP1"},
        VersionCase{"6.1", "ServerNT", "Service Pack 1", "WIN2008R2", "SP1"},
        VersionCase{"6.1", "", "Service Pack 1", "WIN2008R2", "SP0"},
        VersionCase{"6.2", "WinNT", "", "WIN7", "SP0"},
        VersionCase{"6.3", "WinNT", "", "WIN7", "SP0"},
        VersionCase{"6.2", "ServerNT", "", "WIN2008R2", "SP0"},
        VersionCase{"6.3", "LanmanNT", "", "WIN2008R2", "SP0"},
        // Releases the table does not know keep their service pack.
        VersionCase{"7.0", "WinNT", "Service Pack 2", "UNKNOWN", "SP2"},
        VersionCase{"10.0", "WinNT", "", "UNKNOWN", "SP0"},
        VersionCase{"5.3", "WinNT", "Service Pack 1", "UNKNOWN", "SP1"},
        VersionCase{"5.1", "WinNT", "Service Pack 7", "WINXP", "SP0"},
        VersionCase{"5.1", "WinNT", "service pack 3", "WINXP", "SP3"},
        VersionCase{"5.1", "WinNT", "Service Pack 2.1", "WINXP", "SP2"},
        // Without a readable version nothing is known.
        VersionCase{"", "WinNT", "Service Pack 3", "UNKNOWN", "SP0"},
        VersionCase{"", "", "", "UNKNOWN", "SP0"},
        VersionCase{"five.one", "WinNT", "Service Pack 3", "UNKNOWN", "SP0"},
        VersionCase{"5", "WinNT", "Service Pack 3", "UNKNOWN", "SP0"}),
    // Readable test names: the case's number, version and product type.
    [](const ::testing::TestParamInfo<VersionCase>& info) {
      std::string name =
          std::to_string(info.index) + "_" + info.param.version + "_" + info.param.productType;
      for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      return name;
    });

TEST(OsVersionName, TypesAndServicePacksOutsideTheTablesAreUnknownAndSp0) {
  const char* const names[] = {"UNKNOWN", "WIN9X",   "WINNT", "WIN2000",   "WINXP",  "WIN2003",
                               "VISTA",   "WIN2008", "WIN7",  "WIN2008R2", "UNKNOWN"};
  for (uint32_t type = 0; type <= 10; ++type) {
    std::string name;
    std::string servicePack;
    obx::GetOsVersionName(type, type, name, servicePack);
    EXPECT_EQ(names[type], name) << "type " << type;
    const std::string expectedPack =
        type >= 1 && type <= 6 ? "SP" + std::to_string(type) : std::string("SP0");
    EXPECT_EQ(expectedPack, servicePack) << "service pack " << type;
  }
  std::string name;
  std::string servicePack;
  obx::GetOsVersionName(0xFFFFFFFFu, 1, name, servicePack);
  EXPECT_EQ("UNKNOWN", name);
  EXPECT_EQ("SP1", servicePack);
  obx::GetOsVersionName(4, 0xFFFFFFFFu, name, servicePack);
  EXPECT_EQ("SP0", servicePack);
}

TEST(VersionRecord, BasicFormLeavesTheExtendedFieldsAlone) {
  obxtest::TempStateRoot root;
  WriteVersionRecord("6.1", "WinNT", "Service Pack 1", "7601");
  platform::OsVersionInfoEx info;
  std::memset(&info, 0xAB, sizeof(info));
  info.osVersionInfoSize = platform::kOsVersionInfoSize;
  ASSERT_TRUE(platform::GetVersionExA(&info));
  EXPECT_EQ(6u, info.majorVersion);
  EXPECT_EQ(1u, info.minorVersion);
  EXPECT_EQ(7601u, info.buildNumber);
  EXPECT_EQ(platform::kVerPlatformWin32Nt, info.platformId);
  EXPECT_STREQ("Service Pack 1", info.csdVersion);
  EXPECT_EQ(0xABABu, info.servicePackMajor);
  EXPECT_EQ(0xABu, info.productType);

  info.osVersionInfoSize = platform::kOsVersionInfoExSize;
  ASSERT_TRUE(platform::GetVersionExA(&info));
  EXPECT_EQ(1u, info.servicePackMajor);
  EXPECT_EQ(0u, info.servicePackMinor);
  EXPECT_EQ(platform::kVerNtWorkstation, info.productType);
}

TEST(VersionRecord, ExtendedFormNeedsTheProductTypeAndBothNeedTheVersion) {
  obxtest::TempStateRoot root;
  platform::OsVersionInfoEx info{};
  info.osVersionInfoSize = platform::kOsVersionInfoExSize;
  EXPECT_FALSE(platform::GetVersionExA(&info));
  info.osVersionInfoSize = platform::kOsVersionInfoSize;
  EXPECT_FALSE(platform::GetVersionExA(&info));
  EXPECT_EQ(0u, platform::GetVersion());

  WriteVersionRecord("5.2", "", "");
  info.osVersionInfoSize = platform::kOsVersionInfoExSize;
  EXPECT_FALSE(platform::GetVersionExA(&info));
  info.osVersionInfoSize = platform::kOsVersionInfoSize;
  EXPECT_TRUE(platform::GetVersionExA(&info));

  for (uint32_t size : {0u, 147u, 152u, 157u, 284u}) {
    info.osVersionInfoSize = size;
    EXPECT_FALSE(platform::GetVersionExA(&info)) << "size " << size;
  }
}

TEST(VersionRecord, GetVersionPacksMajorMinorBuildWithoutThe9xBit) {
  obxtest::TempStateRoot root;
  WriteVersionRecord("6.1", "WinNT", "", "7601");
  const uint32_t packed = platform::GetVersion();
  EXPECT_EQ(6u, packed & 0xFF);
  EXPECT_EQ(1u, (packed >> 8) & 0xFF);
  EXPECT_EQ(7601u, packed >> 16);
  EXPECT_EQ(0u, packed & 0x80000000u);
}

// Language: the OsLanguage override, then the desktop folder.
class OsLanguage : public ::testing::Test {
 protected:
  obxtest::TempStateRoot root_;
  // A desktop folder that is neither English nor Chinese by default, so every
  // test states the one it means.
  ScopedEnv desktop_{"XDG_DESKTOP_DIR", "/home/tester/Desktop"};
  ScopedEnv lcAll_{"LC_ALL", nullptr};
};

TEST_F(OsLanguage, UserValueCountsWhenTheMachineValueIsZero) {
  ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", 0));
  ASSERT_TRUE(WriteRegDword(obx::HKCU, obx::kLanguageKey, "OsLanguage", 2052));
  EXPECT_EQ(2052, obx::GetOsLanguageId());
  EXPECT_EQ("zh", obx::GetOsLanguage());
}

TEST_F(OsLanguage, MachineValueWinsOverTheUserValue) {
  ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", 2052));
  ASSERT_TRUE(WriteRegDword(obx::HKCU, obx::kLanguageKey, "OsLanguage", 1033));
  EXPECT_EQ(2052, obx::GetOsLanguageId());
}

TEST_F(OsLanguage, OnlyChinesePrcMapsToZh) {
  for (uint32_t id : {1041u, 1028u, 3076u, 1033u}) {
    ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", id));
    EXPECT_EQ(id, obx::GetOsLanguageId());
    EXPECT_EQ("en", obx::GetOsLanguage()) << id;
  }
}

TEST_F(OsLanguage, OverrideKeepsTheLow16Bits) {
  ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", 0x10804));
  EXPECT_EQ(2052, obx::GetOsLanguageId());
}

TEST_F(OsLanguage, OverrideOfAnotherTypeIsIgnored) {
  obx::WriteRegString(obx::HKLM, obx::kLanguageKey, "OsLanguage", "2052");
  ScopedEnv desktop("XDG_DESKTOP_DIR", "/home/tester/Desktop");
  EXPECT_EQ(1033, obx::GetOsLanguageId());
}

TEST_F(OsLanguage, EnglishDesktopFolderIsEnglishUnderAChineseLocale) {
  ScopedEnv locale("LC_ALL", "zh_CN.UTF-8");
  ASSERT_EQ(platform::kLangZhCn, platform::GetSystemDefaultLangID());
  ScopedEnv desktop("XDG_DESKTOP_DIR", "/home/tester/Desktop");
  EXPECT_EQ(1033, obx::GetOsLanguageId());
  EXPECT_EQ("en", obx::GetOsLanguage());
}

TEST_F(OsLanguage, ChineseDesktopFolderEndingIsChinese) {
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  struct Case {
    std::string path;
    uint16_t expected;
  };
  const std::string word = kDesktopWord;
  const Case cases[] = {
      {"/home/tester/" + word, 2052},
      {"/home/tester/" + word + "/", 2052},      // trailing separator is dropped
      {"/home/tester/" + word + "\\", 2052},     // Windows separator after the word
      {"/home/tester/" + word + "/Work", 1033},  // only the end of the path counts
      {"/home/tester/" + word.substr(3), 1033},  // half of the word
      {"/home/" + word + "/Desktop", 1033},
  };
  for (const Case& c : cases) {
    ScopedEnv desktop("XDG_DESKTOP_DIR", c.path.c_str());
    EXPECT_EQ(c.expected, obx::GetOsLanguageId()) << c.path;
  }
}

// The desktop test compares bytes at the end of the path: the code-page-936
// bytes of the word do not match the same word written in 950 or UTF-8.
TEST(DesktopPath, EndsWithTheWordWithOrWithoutABackslash) {
  const std::string gbk = "\xD7\xC0\xC3\xE6";
  struct Case {
    std::string path;
    bool chinese;
  } const cases[] = {
      {"C:\\Documents and Settings\\u\\" + gbk, true},
      {"C:\\Documents and Settings\\u\\" + gbk + "\\", true},
      {"C:\\Users\\u\\" + gbk + "\\\\", false},
      {"C:\\" + gbk + "\\Desktop", false},
      {"C:\\Users\\u\\\xAE\xE0\xAD\xB1", false},  // code page 950
      {std::string("C:\\Users\\u\\") + kDesktopWord, false},
      {"C:\\Users\\u\\\xC3\xE6", false},
      {"C:\\Users\\u\\Desktop", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.chinese, obx::DesktopPathIsChinese(c.path, gbk)) << c.path;
  EXPECT_FALSE(obx::DesktopPathIsChinese("C:\\Users\\", ""));
}

TEST_F(OsLanguage, ChineseDesktopIsRecognisedInADoubleByteAnsiCodePage) {
  // A GBK locale built into the test's own root: the folder name reaches the
  // comparison as GBK bytes, and the word must be compared in that code page.
  const std::string locales = root_.Sub("locales");
  std::filesystem::create_directories(locales);
  const std::string build =
      "localedef -c -i zh_CN -f GBK '" + locales + "/zh_CN.GBK' >/dev/null 2>&1";
  (void)std::system(build.c_str());  // warnings give a non-zero status
  if (!std::filesystem::exists(locales + "/zh_CN.GBK/LC_CTYPE"))
    GTEST_SKIP() << "localedef could not build zh_CN.GBK";
  ScopedEnv locpath("LOCPATH", locales.c_str());
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(nullptr, std::setlocale(LC_ALL, "zh_CN.GBK"));

  ScopedEnv chinese("XDG_DESKTOP_DIR", ("/home/tester/" + std::string(kDesktopWord)).c_str());
  std::string path;
  const bool found = platform::GetDesktopDirectory(&path);
  const uint16_t chineseId = obx::GetOsLanguageId();
  ScopedEnv english("XDG_DESKTOP_DIR", "/home/tester/Desktop");
  const uint16_t englishId = obx::GetOsLanguageId();
  std::setlocale(LC_ALL, previous.c_str());

  ASSERT_TRUE(found);
  EXPECT_EQ("/home/tester/\xD7\xC0\xC3\xE6", path);
  EXPECT_EQ(2052, chineseId);
  EXPECT_EQ(1033, englishId);
}

TEST_F(OsLanguage, DesktopFromUserDirsFile) {
  ScopedEnv noDirect("XDG_DESKTOP_DIR", nullptr);
  ScopedEnv home("HOME", root_.Sub("home").c_str());
  ScopedEnv config("XDG_CONFIG_HOME", root_.Sub("config").c_str());
  obxtest::WriteFile(root_.Sub("config/user-dirs.dirs"),
                     "# written by xdg-user-dirs-update\n"
                     "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n"
                     "XDG_DESKTOP_DIR=\"$HOME/" +
                         std::string(kDesktopWord) + "\"\n");
  std::string path;
  ASSERT_TRUE(platform::GetDesktopDirectory(&path));
  EXPECT_EQ(root_.Sub("home/") + kDesktopWord, path);
  EXPECT_EQ(2052, obx::GetOsLanguageId());
}

TEST(OsInfoRefresh, StoresLowerCasedTexts) {
  obxtest::TempStateRoot root;
  ScopedEnv lcAll("LC_ALL", nullptr);
  WriteVersionRecord("5.1", "WinNT", "Service Pack 3");
  ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", 2052));
  obx::SetOsInfoForTest("old", "old", "old");
  obx::RefreshOsInfo();
  EXPECT_EQ("winxp", obx::CurOsVer());
  EXPECT_EQ("sp3", obx::CurOsVerNum());
  EXPECT_EQ("zh", obx::CurOsLang());

  // Every refresh asks again.
  WriteVersionRecord("6.1", "ServerNT", "Service Pack 1");
  ASSERT_TRUE(WriteRegDword(obx::HKLM, obx::kLanguageKey, "OsLanguage", 1033));
  obx::RefreshOsInfo();
  EXPECT_EQ("win2008r2", obx::CurOsVer());
  EXPECT_EQ("sp1", obx::CurOsVerNum());
  EXPECT_EQ("en", obx::CurOsLang());
  obx::SetOsInfoForTest("", "", "");
}

TEST(LowerMultibyte, FollowsTheLocaleAndKeepsStrayBytes) {
  const std::string previous = std::setlocale(LC_ALL, nullptr);
  ASSERT_NE(nullptr, std::setlocale(LC_ALL, "C.UTF-8"));
  EXPECT_EQ("winxp", obx::LowerMultibyte("WINXP"));
  EXPECT_EQ(
      "\xC3\xA4"
      "b",
      obx::LowerMultibyte("\xC3\x84"
                          "B"));  // A-umlaut
  EXPECT_EQ(
      "\xFF"
      "ab",
      obx::LowerMultibyte("\xFF"
                          "AB"));
  EXPECT_EQ(
      "x\xE6"
      "a",
      obx::LowerMultibyte("X\xE6"
                          "A"));  // a cut-off sequence
  EXPECT_EQ(std::string("a\0b", 3), obx::LowerMultibyte(std::string("A\0B", 3)));
  std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
