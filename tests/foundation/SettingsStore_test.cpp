#include "foundation/SettingsStore.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

using namespace obx;

void Store(const std::string& subkey, const std::string& name, uint32_t type,
           const std::vector<unsigned char>& data) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::kErrorSuccess,
            platform::CreateRegKey(HKLM, subkey, platform::kKeyAllAccess, &key));
  ASSERT_EQ(platform::kErrorSuccess, platform::SetRegValue(key, name, type, data.data(),
                                                           static_cast<uint32_t>(data.size())));
  platform::CloseRegKey(key);
}

// The stored type and bytes, read past the settings store.
bool Raw(const std::string& subkey, const std::string& name, uint32_t* type,
         std::vector<unsigned char>* data) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(HKLM, subkey, platform::kKeyRead, &key) != platform::kErrorSuccess)
    return false;
  unsigned char buffer[256];
  uint32_t size = sizeof buffer;
  long rc = platform::QueryRegValue(key, name, type, buffer, &size);
  platform::CloseRegKey(key);
  if (rc != platform::kErrorSuccess) return false;
  data->assign(buffer, buffer + size);
  return true;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override { runtime_.Install(); }
  obxtest::TempStateRoot root_;
  obxtest::FakeRuntime runtime_;
};

TEST_F(SettingsStoreTest, KeyConstantsNameTheModuleTree) {
  EXPECT_STREQ("SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX", kModuleKey);
  EXPECT_EQ(std::string(kModuleKey) + "\\PatchInfo", kPatchInfoKey);
  EXPECT_STREQ("SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX", kManagementServerKey);
  EXPECT_STREQ("SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\DOWNLOAD", kDownloadServerKey);
  EXPECT_STREQ("SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\Framework", kFrameworkKey);
  EXPECT_STREQ("Software\\Kelvor.Tz\\QUOR\\", kLanguageKey);
}

TEST_F(SettingsStoreTest, MissingModuleKeyGivesTheCallersDefaults) {
  uint32_t taskSchedule = 1;
  uint32_t tryTimes = 0;
  EXPECT_FALSE(ReadRegDword(HKLM, kModuleKey, "taskSchedule", taskSchedule));
  EXPECT_FALSE(ReadRegDword(HKLM, kModuleKey, "TryTimes", tryTimes));
  EXPECT_EQ(1u, taskSchedule);
  EXPECT_EQ(0u, tryTimes);
  EXPECT_EQ("", ReadRegString(HKLM, kModuleKey, "FileSavedPath"));
  std::string installPath = ReadRegString(HKLM, kModuleKey, "InstallPath");
  EXPECT_EQ("", installPath);
  EXPECT_EQ("\\download", installPath + "\\download");
  // Nothing of this is logged, and nothing was created by reading.
  EXPECT_TRUE(runtime_.Lines().empty());
  EXPECT_EQ("", obxtest::ReadFile(root_.Sub("registry.db")));
}

TEST_F(SettingsStoreTest, DwordReadAcceptsOnlyFourByteDwords) {
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
    bool ok;
    uint32_t expected;
  } cases[] = {
      {"dword", platform::kRegDword, {0x18, 0, 0, 0}, true, 24},
      {"big", platform::kRegDword, {0x78, 0x56, 0x34, 0x12}, true, 0x12345678},
      {"asString", platform::kRegSz, {'5', 0}, false, 1},
      {"short", platform::kRegDword, {5, 0}, false, 1},
      {"long", platform::kRegDword, {5, 0, 0, 0, 0}, false, 1},
      {"binary", platform::kRegBinary, {5, 0, 0, 0}, false, 1},
  };
  for (const Case& c : cases) Store(kModuleKey, c.name, c.type, c.data);
  for (const Case& c : cases) {
    uint32_t value = 1;
    EXPECT_EQ(c.ok, ReadRegDword(HKLM, kModuleKey, c.name, value)) << c.name;
    EXPECT_EQ(c.expected, value) << c.name;
  }
  uint32_t value = 7;
  EXPECT_FALSE(ReadRegDword(HKLM, kModuleKey, "absent", value));
  EXPECT_EQ(7u, value);
  EXPECT_TRUE(runtime_.Lines().empty());
}

TEST_F(SettingsStoreTest, StringReadFollowsTypeAndNulRules) {
  struct Case {
    const char* name;
    uint32_t type;
    std::string data;
    const char* expected;
  } cases[] = {
      {"plain", platform::kRegSz, std::string("C:\\OBX\0", 7), "C:\\OBX"},
      {"expand", platform::kRegExpandSz, std::string("%TEMP%\\obx\0", 11), "%TEMP%\\obx"},
      {"withoutNul", platform::kRegSz, "abc", ""},
      {"innerNul", platform::kRegSz, std::string("ab\0cd\0", 6), "ab"},
      {"oneNul", platform::kRegSz, std::string("\0", 1), ""},
      {"noBytes", platform::kRegSz, "", ""},
      {"binary", platform::kRegBinary, std::string("abc\0", 4), ""},
      {"dword", platform::kRegDword, std::string("\1\0\0\0", 4), ""},
  };
  for (const Case& c : cases)
    Store(kModuleKey, c.name, c.type, std::vector<unsigned char>(c.data.begin(), c.data.end()));
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, ReadRegString(HKLM, kModuleKey, c.name)) << c.name;
  EXPECT_TRUE(runtime_.Lines().empty());
}

TEST_F(SettingsStoreTest, WriteUnderMissingPatchInfoCreatesBothKeys) {
  const std::string taskKey = std::string(kPatchInfoKey) + "\\1001";
  ASSERT_TRUE(WriteRegString(HKLM, taskKey, "bootCheckResult", "true"));
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(Raw(taskKey, "bootCheckResult", &type, &data));
  EXPECT_EQ(static_cast<uint32_t>(platform::kRegSz), type);
  EXPECT_EQ((std::vector<unsigned char>{'t', 'r', 'u', 'e', 0}), data);
  EXPECT_EQ("true", ReadRegString(HKLM, taskKey, "bootcheckresult"));
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::kErrorSuccess,
            platform::OpenRegKey(HKLM, kPatchInfoKey, platform::kKeyRead, &key));
  platform::CloseRegKey(key);
}

TEST_F(SettingsStoreTest, WritingEmptyTextLeavesAnEmptyValueOfOneNul) {
  const std::string taskKey = std::string(kPatchInfoKey) + "\\7";
  ASSERT_TRUE(WriteRegString(HKLM, taskKey, "bootCheckResult", "false"));
  ASSERT_TRUE(WriteRegString(HKLM, taskKey, "bootCheckResult", ""));
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(Raw(taskKey, "bootCheckResult", &type, &data));
  EXPECT_EQ(static_cast<uint32_t>(platform::kRegSz), type);
  EXPECT_EQ(std::vector<unsigned char>{0}, data);
  EXPECT_EQ("", ReadRegString(HKLM, taskKey, "bootCheckResult"));
}

TEST_F(SettingsStoreTest, WriteReplacesAValueOfAnotherType) {
  Store(kModuleKey, "Result1", platform::kRegDword, {1, 0, 0, 0});
  ASSERT_TRUE(WriteRegString(HKLM, kModuleKey, "RESULT1", "Running ..."));
  EXPECT_EQ("Running ...", ReadRegString(HKLM, kModuleKey, "Result1"));
  uint32_t value = 9;
  EXPECT_FALSE(ReadRegDword(HKLM, kModuleKey, "Result1", value));
}

TEST_F(SettingsStoreTest, ModuleFolderIsCapturedNotFollowed) {
  ASSERT_TRUE(WriteRegString(HKLM, kModuleKey, "InstallPath", "/opt/obx"));
  CaptureModuleFolder();
  ASSERT_TRUE(WriteRegString(HKLM, kModuleKey, "InstallPath", "/elsewhere"));
  EXPECT_EQ("/opt/obx", ModuleFolder());
  ASSERT_TRUE(WriteRegString(HKLM, kModuleKey, "InstallPath", ""));
  CaptureModuleFolder();
}

}  // namespace
