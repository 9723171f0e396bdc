// The registry functions on the Windows registry: the 32-bit view, the
// Windows size and access rules, and the all-or-nothing batch.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "platform/Registry.h"
#include "tests/platform/win32/ScratchRoot.h"

namespace {

using namespace platform;

// A key of its own under HKLM\SOFTWARE for each test, removed afterwards.
class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    base_ = "SOFTWARE\\ObxPlatformTest-" + std::to_string(::GetCurrentProcessId()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { DeleteRegTree(RegRoot::kLocalMachine, base_); }
  std::string Key(const std::string& sub) const { return base_ + "\\" + sub; }

  std::string ReadString(const std::string& sub, const std::string& name) {
    RegKey key = nullptr;
    if (OpenRegKey(RegRoot::kLocalMachine, Key(sub), kKeyRead, &key) != kErrorSuccess) return "?";
    char data[256] = {};
    uint32_t size = sizeof data - 1;
    long rc = QueryRegValue(key, name, nullptr, reinterpret_cast<unsigned char*>(data), &size);
    CloseRegKey(key);
    return rc == kErrorSuccess ? std::string(data) : "?";
  }
  void WriteString(const std::string& sub, const std::string& name, const std::string& value) {
    RegKey key = nullptr;
    ASSERT_EQ(kErrorSuccess, CreateRegKey(RegRoot::kLocalMachine, Key(sub), kKeyAllAccess, &key));
    ASSERT_EQ(kErrorSuccess,
              SetRegValue(key, name, kRegSz, reinterpret_cast<const unsigned char*>(value.c_str()),
                          static_cast<uint32_t>(value.size() + 1)));
    CloseRegKey(key);
  }
  bool Exists(const std::string& sub) {
    RegKey key = nullptr;
    if (OpenRegKey(RegRoot::kLocalMachine, Key(sub), kKeyRead, &key) != kErrorSuccess) return false;
    CloseRegKey(key);
    return true;
  }

  std::string base_;
};

TEST_F(RegistryWin32Test, KeysLiveInThe32BitView) {
  WriteString("View", "v", "32");
  HKEY native = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key("View").c_str(), 0,
                                           KEY_READ | KEY_WOW64_32KEY, &native));
  ::RegCloseKey(native);
  BOOL wow64 = FALSE;
  ::IsWow64Process(::GetCurrentProcess(), &wow64);
  const LONG in64 = ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, Key("View").c_str(), 0,
                                    KEY_READ | KEY_WOW64_64KEY, &native);
  if (in64 == ERROR_SUCCESS) ::RegCloseKey(native);
  if (wow64) {
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, in64) << "a 64-bit system keeps the 32-bit view apart";
  } else {
    // A 32-bit system (and Wine's 32-bit prefix) has one view only.
    std::cout << "32-bit system: the registry has one view; the 64-bit view is the same keys\n";
    EXPECT_EQ(ERROR_SUCCESS, in64);
  }
}

TEST_F(RegistryWin32Test, QueriesFollowTheWindowsSizeAndAccessRules) {
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess,
            CreateRegKey(RegRoot::kLocalMachine, Key("Values"), kKeyAllAccess, &key));
  const unsigned char binary[] = {0, 1, 0, 255};
  const uint32_t dword = 0x12345678;
  struct Case {
    const char* name;
    uint32_t type;
    const unsigned char* data;
    uint32_t size;
  } cases[] = {{"Text", kRegSz, reinterpret_cast<const unsigned char*>("abc"), 4},
               {"Raw", kRegBinary, binary, sizeof binary},
               {"Number", kRegDword, reinterpret_cast<const unsigned char*>(&dword), 4},
               {"", kRegSz, reinterpret_cast<const unsigned char*>("default"), 8},
               {"Empty", kRegBinary, nullptr, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(kErrorSuccess, SetRegValue(key, c.name, c.type, c.data, c.size));
    uint32_t type = kRegNone;
    uint32_t size = 0;
    EXPECT_EQ(kErrorSuccess, QueryRegValue(key, c.name, &type, nullptr, &size));
    EXPECT_EQ(c.type, type);
    EXPECT_EQ(c.size, size);
    std::vector<unsigned char> data(c.size + 1, 0xAA);
    if (c.size > 0) {
      size = c.size - 1;
      EXPECT_EQ(kErrorMoreData, QueryRegValue(key, c.name, nullptr, data.data(), &size));
      EXPECT_EQ(c.size, size);
    }
    size = static_cast<uint32_t>(data.size());
    ASSERT_EQ(kErrorSuccess, QueryRegValue(key, c.name, nullptr, data.data(), &size));
    EXPECT_EQ(std::vector<unsigned char>(c.data, c.data + c.size),
              std::vector<unsigned char>(data.begin(), data.begin() + size));
  }
  unsigned char byte = 0;
  EXPECT_EQ(kErrorInvalidParameter, QueryRegValue(key, "Text", nullptr, &byte, nullptr));
  EXPECT_EQ(kErrorFileNotFound, QueryRegValue(key, "Missing", nullptr, nullptr, nullptr));
  EXPECT_EQ(kErrorSuccess, FlushRegKey(key));  // Wine writes its files later, at its own pace
  CloseRegKey(key);

  RegKey readOnly = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(RegRoot::kLocalMachine, Key("Values"), kKeyRead, &readOnly));
  EXPECT_EQ(kErrorAccessDenied, SetRegValue(readOnly, "Text", kRegSz, nullptr, 0));
  EXPECT_EQ(kErrorAccessDenied, DeleteRegValue(readOnly, "Text"));
  CloseRegKey(readOnly);
  EXPECT_EQ(kErrorInvalidHandle, CloseRegKey(nullptr));
}

TEST_F(RegistryWin32Test, NamesMatchInAnyCaseAndEnumerateInNameOrder) {
  WriteString("Mixed\\Case", "b", "2");
  WriteString("Mixed\\Case", "A", "1");
  WriteString("Mixed\\Case\\zeta", "x", "");
  WriteString("Mixed\\Case\\Alpha", "x", "");
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess,
            OpenRegKey(RegRoot::kLocalMachine, "\\" + Key("MIXED\\\\case") + "\\", kKeyRead, &key));
  // The stored spelling (Windows keeps "SOFTWARE", Wine "Software").
  const std::string path = RegKeyPath(key);
  EXPECT_EQ(0, ::lstrcmpiA(Key("Mixed\\Case").c_str(), path.c_str())) << path;
  EXPECT_EQ("\\Mixed\\Case", path.substr(path.size() - 11));
  std::vector<RegValue> values;
  ASSERT_EQ(kErrorSuccess, RegEnumValues(key, &values));
  ASSERT_EQ(2u, values.size());
  EXPECT_EQ("A", values[0].name);
  EXPECT_EQ("b", values[1].name);
  std::vector<std::string> names;
  ASSERT_EQ(kErrorSuccess, RegEnumSubKeys(key, &names));
  EXPECT_EQ((std::vector<std::string>{"Alpha", "zeta"}), names);

  RegKey child = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(key, "ALPHA", kKeyAllAccess, &child));
  CloseRegKey(key);
  EXPECT_EQ(kErrorSuccess, DeleteRegTree(RegRoot::kLocalMachine, Key("mixed")));
  EXPECT_FALSE(Exists("Mixed"));
  EXPECT_EQ(kErrorKeyDeleted, SetRegValue(child, "x", kRegSz, nullptr, 0));
  CloseRegKey(child);
  EXPECT_EQ(kErrorFileNotFound, DeleteRegTree(RegRoot::kLocalMachine, Key("mixed")));
  // The machine's own hives are never emptied through this call.
  EXPECT_EQ(kErrorAccessDenied, DeleteRegTree(RegRoot::kCurrentUser, "\\"));
}

TEST_F(RegistryWin32Test, TooDeepOrTooLongNamesAreNeverCreated) {
  std::string deep = Key("Deep");
  for (size_t i = RegKeyDepth(deep); i <= kMaxKeyDepth; ++i) deep += "\\k";
  ASSERT_EQ(kMaxKeyDepth + 1, RegKeyDepth(deep));
  RegKey key = nullptr;
  EXPECT_EQ(kErrorInvalidParameter,
            CreateRegKey(RegRoot::kLocalMachine, deep, kKeyAllAccess, &key));
  EXPECT_EQ(kErrorInvalidParameter,
            CreateRegKey(RegRoot::kLocalMachine, Key(std::string(256, 'n')), kKeyAllAccess, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_FALSE(Exists("Deep"));
}

TEST_F(RegistryWin32Test, BatchTakesEffectWholeOrNotAtAll) {
  WriteString("Batch", "v", "old");
  WriteString("Batch\\Sub\\Leaf", "w", "kept");
  auto set = [&](const std::string& sub, const std::string& name, const char* text) {
    RegChange change;
    change.kind = RegChange::kSetValue;
    change.subkey = Key(sub);
    change.name = name;
    change.type = kRegSz;
    change.data.assign(text, text + std::strlen(text) + 1);
    return change;
  };
  RegChange dropSub;
  dropSub.kind = RegChange::kDeleteTree;
  dropSub.subkey = Key("Batch\\Sub");
  RegChange broken;
  broken.kind = static_cast<RegChange::Kind>(99);
  const std::vector<RegChange> failing = {set("Batch", "v", "new"),
                                          set("Batch\\New\\Deep", "x", "1"), dropSub, broken};
  EXPECT_EQ(kErrorInvalidParameter, RegApplyChanges(failing));
  EXPECT_EQ("old", ReadString("Batch", "v"));
  EXPECT_FALSE(Exists("Batch\\New"));
  EXPECT_EQ("kept", ReadString("Batch\\Sub\\Leaf", "w"));

  RegChange dropMissing = dropSub;
  dropMissing.subkey = Key("Nowhere");
  const std::vector<RegChange> working = {set("Batch", "v", "new"), dropSub, dropMissing};
  EXPECT_EQ(kErrorSuccess, RegApplyChanges(working));
  EXPECT_EQ("new", ReadString("Batch", "v"));
  EXPECT_FALSE(Exists("Batch\\Sub"));
}

TEST(RegistryWin32, AStateRootBringsARegistryOfItsOwn) {
  const std::string path = "SOFTWARE\\ObxRootTest";
  auto write = [&](const char* text) {
    RegKey key = nullptr;
    ASSERT_EQ(kErrorSuccess, CreateRegKey(RegRoot::kLocalMachine, path, kKeyAllAccess, &key));
    SetRegValue(key, "v", kRegSz, reinterpret_cast<const unsigned char*>(text), 2);
    CloseRegKey(key);
  };
  auto read = [&]() -> std::string {
    RegKey key = nullptr;
    if (OpenRegKey(RegRoot::kLocalMachine, path, kKeyRead, &key) != kErrorSuccess) return "none";
    char text[8] = {};
    uint32_t size = sizeof text - 1;
    QueryRegValue(key, "v", nullptr, reinterpret_cast<unsigned char*>(text), &size);
    CloseRegKey(key);
    return text;
  };
  obxtest::ScratchRoot first;
  write("a");
  {
    obxtest::ScratchRoot second;
    EXPECT_EQ("none", read());
    write("b");
  }
  EXPECT_EQ("a", read());
  // Asked for, the machine's registry, which regedit and task programs write.
  ::SetEnvironmentVariableA("ORSA_MACHINE_REGISTRY", "1");
  EXPECT_EQ("none", read());
  ::SetEnvironmentVariableA("ORSA_MACHINE_REGISTRY", nullptr);
  HKEY machine = nullptr;
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, ::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ,
                                                  &machine));  // the machine's stays untouched
  EXPECT_EQ(kErrorSuccess, DeleteRegTree(RegRoot::kLocalMachine, ""));  // a root's own hive empties
  EXPECT_EQ("none", read());
}

}  // namespace
