#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TempStateRoot.h"

namespace {

using namespace platform;

const RegRoot kLM = RegRoot::kLocalMachine;

std::vector<unsigned char> Bytes(const std::string& s) {
  return std::vector<unsigned char>(s.begin(), s.end());
}

// Creates the key with all access, sets the value, closes.
void Put(RegRoot root, const std::string& subkey, const std::string& name, uint32_t type,
         const std::vector<unsigned char>& data) {
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, CreateRegKey(root, subkey, kKeyAllAccess, &key));
  ASSERT_EQ(kErrorSuccess,
            SetRegValue(key, name, type, data.data(), static_cast<uint32_t>(data.size())));
  ASSERT_EQ(kErrorSuccess, CloseRegKey(key));
}

// The value's type and bytes through a fresh read handle; false when it cannot be read.
bool Get(RegRoot root, const std::string& subkey, const std::string& name, uint32_t* type,
         std::vector<unsigned char>* data) {
  RegKey key = nullptr;
  if (OpenRegKey(root, subkey, kKeyRead, &key) != kErrorSuccess) return false;
  uint32_t size = 0;
  long rc = QueryRegValue(key, name, type, nullptr, &size);
  if (rc == kErrorSuccess) {
    data->assign(size, 0xEE);
    rc = QueryRegValue(key, name, type, data->data(), &size);
  }
  CloseRegKey(key);
  return rc == kErrorSuccess;
}

class RegistryTest : public ::testing::Test {
 protected:
  obxtest::TempStateRoot root_;
};

TEST_F(RegistryTest, OpenMissingKeyFailsWithoutCreatingAnything) {
  RegKey key = nullptr;
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "SOFTWARE\\Nowhere", kKeyRead, &key));
  EXPECT_EQ(nullptr, key);
  // A read never brings the registry file into being.
  EXPECT_EQ("", obxtest::ReadFile(root_.Sub("registry.db")));
}

TEST_F(RegistryTest, HiveRootOpensBeforeTheFileExists) {
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "", kKeyRead, &key));
  std::vector<RegValue> values;
  std::vector<std::string> names;
  EXPECT_EQ(kErrorSuccess, RegEnumValues(key, &values));
  EXPECT_EQ(kErrorSuccess, RegEnumSubKeys(key, &names));
  EXPECT_TRUE(values.empty());
  EXPECT_TRUE(names.empty());
  EXPECT_EQ(kErrorFileNotFound, QueryRegValue(key, "x", nullptr, nullptr, nullptr));
  CloseRegKey(key);
}

TEST_F(RegistryTest, CreateMakesEveryMissingParentAndTheStateRootFolder) {
  obxtest::TempStateRoot nested;  // point the root one level deeper, not yet existing
  std::string deeper = nested.Path() + "/a/b";
  setenv("ORSA_ROOT", deeper.c_str(), 1);
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, CreateRegKey(kLM, "One\\Two\\Three", kKeyAllAccess, &key));
  CloseRegKey(key);
  for (const char* path : {"One", "One\\Two", "One\\Two\\Three"}) {
    EXPECT_EQ(kErrorSuccess, OpenRegKey(kLM, path, kKeyRead, &key)) << path;
    CloseRegKey(key);
  }
  EXPECT_NE("", obxtest::ReadFile(deeper + "/registry.db"));
}

TEST_F(RegistryTest, NamesMatchWhateverTheirLetterCaseAndKeepTheFirstSpelling) {
  Put(kLM, "SOFTWARE\\Kelvor\\QUOR5.0", "InstallPath", kRegSz, Bytes(std::string("C:\\x", 5)));
  Put(kLM, "software\\KELVOR\\quor5.0\\Extra", "installpath", kRegSz, Bytes(std::string("y", 2)));

  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "SoftWare\\kelvor\\QUOR5.0", kKeyRead, &key));
  EXPECT_EQ("SOFTWARE\\Kelvor\\QUOR5.0", RegKeyPath(key));
  std::vector<RegValue> values;
  ASSERT_EQ(kErrorSuccess, RegEnumValues(key, &values));
  ASSERT_EQ(1u, values.size());
  EXPECT_EQ("InstallPath", values[0].name);
  std::vector<std::string> subkeys;
  ASSERT_EQ(kErrorSuccess, RegEnumSubKeys(key, &subkeys));
  EXPECT_EQ(std::vector<std::string>{"Extra"}, subkeys);
  CloseRegKey(key);

  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(Get(kLM, "SOFTWARE\\KELVOR\\QUOR5.0", "INSTALLPATH", &type, &data));
  EXPECT_EQ(Bytes(std::string("C:\\x", 5)), data);
}

TEST_F(RegistryTest, HivesAreSeparate) {
  Put(kLM, "Software\\Kelvor.Tz\\QUOR", "OsLanguage", kRegDword, {4, 8, 0, 0});
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(Get(RegRoot::kCurrentUser, "Software\\Kelvor.Tz\\QUOR", "OsLanguage", &type, &data));
  EXPECT_TRUE(Get(kLM, "Software\\Kelvor.Tz\\QUOR", "OsLanguage", &type, &data));
}

TEST_F(RegistryTest, KeyNamesLongerThan255AreRefused) {
  RegKey key = nullptr;
  EXPECT_EQ(kErrorInvalidParameter,
            CreateRegKey(kLM, "A\\" + std::string(256, 'x'), kKeyAllAccess, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "A", kKeyRead, &key));  // nothing half-made
  ASSERT_EQ(kErrorSuccess, CreateRegKey(kLM, std::string(255, 'x'), kKeyAllAccess, &key));
  CloseRegKey(key);
}

TEST_F(RegistryTest, SeparatorsAtEitherEndAndDoubledAreIgnored) {
  Put(kLM, "\\A\\\\B\\", "v", kRegSz, {'1', 0});
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "A\\B", kKeyRead, &key));
  EXPECT_EQ("A\\B", RegKeyPath(key));
  CloseRegKey(key);
}

TEST_F(RegistryTest, ValuesKeepTypeAndRawBytes) {
  struct Case {
    const char* name;
    uint32_t type;
    std::vector<unsigned char> data;
  } cases[] = {
      {"sz", kRegSz, {'a', 'b', 0}},
      {"noNul", kRegSz, {'a', 'b'}},
      {"innerNul", kRegSz, {'a', 0, 'b', 0}},
      {"empty", kRegSz, {}},
      {"expand", kRegExpandSz, {'%', 'T', 'E', 'M', 'P', '%', 0}},
      {"dword", kRegDword, {1, 2, 3, 4}},
      {"shortDword", kRegDword, {1, 2}},
      {"binary", kRegBinary, {0, 0xFF, 0, 0x80}},
      {"", kRegSz, {'d', 0}},  // the key's default value
  };
  for (const Case& c : cases) Put(kLM, "K", c.name, c.type, c.data);
  for (const Case& c : cases) {
    uint32_t type = 99;
    std::vector<unsigned char> data;
    ASSERT_TRUE(Get(kLM, "K", c.name, &type, &data)) << c.name;
    EXPECT_EQ(c.type, type) << c.name;
    EXPECT_EQ(c.data, data) << c.name;
  }
  // A size the database cannot take is refused before any byte is read.
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "K", kKeyAllAccess, &key));
  const unsigned char one[1] = {0};
  EXPECT_EQ(kErrorInvalidParameter, SetRegValue(key, "huge", kRegBinary, one, 0x80000000u));
  CloseRegKey(key);
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(Get(kLM, "K", "huge", &type, &data));
}

TEST_F(RegistryTest, QueryFollowsTheSizeRules) {
  Put(kLM, "K", "v", kRegSz, {'a', 'b', 'c', 0});
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "K", kKeyRead, &key));

  uint32_t size = 0;
  uint32_t type = 0;
  EXPECT_EQ(kErrorSuccess, QueryRegValue(key, "v", &type, nullptr, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(kRegSz, type);

  unsigned char small[3] = {9, 9, 9};
  size = sizeof small;
  EXPECT_EQ(kErrorMoreData, QueryRegValue(key, "v", nullptr, small, &size));
  EXPECT_EQ(4u, size);

  unsigned char big[8];
  std::memset(big, 0x55, sizeof big);
  size = sizeof big;
  EXPECT_EQ(kErrorSuccess, QueryRegValue(key, "v", nullptr, big, &size));
  EXPECT_EQ(4u, size);
  EXPECT_EQ(0, std::memcmp(big, "abc\0", 4));
  EXPECT_EQ(0x55, big[4]);  // nothing written past the value

  EXPECT_EQ(kErrorInvalidParameter, QueryRegValue(key, "v", nullptr, big, nullptr));
  EXPECT_EQ(kErrorSuccess, QueryRegValue(key, "v", &type, nullptr, nullptr));
  EXPECT_EQ(kErrorFileNotFound, QueryRegValue(key, "missing", nullptr, nullptr, &size));
  EXPECT_EQ(kErrorFileNotFound, QueryRegValue(key, "", nullptr, nullptr, &size));
  CloseRegKey(key);
}

TEST_F(RegistryTest, AccessMaskDecidesWhatAHandleMayDo) {
  Put(kLM, "K", "v", kRegSz, {'a', 0});
  const unsigned char data[] = {'b', 0};
  RegKey key = nullptr;

  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "K", kKeyRead, &key));
  EXPECT_EQ(kErrorAccessDenied, SetRegValue(key, "v", kRegSz, data, 2));
  EXPECT_EQ(kErrorAccessDenied, DeleteRegValue(key, "v"));
  CloseRegKey(key);

  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "K", kKeyWrite, &key));
  uint32_t size = 0;
  EXPECT_EQ(kErrorAccessDenied, QueryRegValue(key, "v", nullptr, nullptr, &size));
  std::vector<RegValue> values;
  EXPECT_EQ(kErrorAccessDenied, RegEnumValues(key, &values));
  EXPECT_EQ(kErrorSuccess, SetRegValue(key, "v", kRegSz, data, 2));
  EXPECT_EQ(kErrorSuccess, FlushRegKey(key));
  CloseRegKey(key);

  uint32_t type = 0;
  std::vector<unsigned char> stored;
  ASSERT_TRUE(Get(kLM, "K", "v", &type, &stored));
  EXPECT_EQ((std::vector<unsigned char>{'b', 0}), stored);
}

TEST_F(RegistryTest, NullOrClosedHandleIsRejected) {
  uint32_t size = 0;
  EXPECT_EQ(kErrorInvalidHandle, QueryRegValue(nullptr, "v", nullptr, nullptr, &size));
  EXPECT_EQ(kErrorInvalidHandle, SetRegValue(nullptr, "v", kRegSz, nullptr, 0));
  EXPECT_EQ(kErrorInvalidHandle, FlushRegKey(nullptr));
  EXPECT_EQ(kErrorInvalidHandle, CloseRegKey(nullptr));
  EXPECT_EQ(kErrorInvalidParameter, OpenRegKey(kLM, "K", kKeyRead, nullptr));
}

TEST_F(RegistryTest, DeleteValueAndDeleteTree) {
  Put(kLM, "Top\\Mid\\Leaf", "a", kRegSz, {'1', 0});
  Put(kLM, "Top\\Mid", "b", kRegSz, {'2', 0});
  Put(kLM, "Top", "c", kRegSz, {'3', 0});
  Put(kLM, "Topmost", "d", kRegSz, {'4', 0});

  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "Top", kKeyAllAccess, &key));
  EXPECT_EQ(kErrorSuccess, DeleteRegValue(key, "C"));
  EXPECT_EQ(kErrorFileNotFound, DeleteRegValue(key, "c"));
  CloseRegKey(key);

  EXPECT_EQ(kErrorSuccess, DeleteRegTree(kLM, "top\\MID"));
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "Top\\Mid", kKeyRead, &key));
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "Top\\Mid\\Leaf", kKeyRead, &key));
  EXPECT_EQ(kErrorFileNotFound, DeleteRegTree(kLM, "Top\\Mid"));
  // The parent and a sibling whose name shares a prefix stay.
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "Top", kKeyRead, &key));
  CloseRegKey(key);
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_TRUE(Get(kLM, "Topmost", "d", &type, &data));
  // Recreating a deleted key gives an empty key, not the old values.
  Put(kLM, "Top\\Mid", "z", kRegSz, {0});
  EXPECT_FALSE(Get(kLM, "Top\\Mid", "b", &type, &data));
}

TEST_F(RegistryTest, HandleToADeletedKeyNeverWritesIntoItsSuccessor) {
  RegKey stale = nullptr;
  ASSERT_EQ(kErrorSuccess, CreateRegKey(kLM, "Gone", kKeyAllAccess, &stale));
  ASSERT_EQ(kErrorSuccess, DeleteRegTree(kLM, "Gone"));
  Put(kLM, "Gone", "fresh", kRegSz, {'f', 0});
  const unsigned char data[] = {'s', 0};
  EXPECT_EQ(kErrorKeyDeleted, SetRegValue(stale, "stale", kRegSz, data, 2));
  CloseRegKey(stale);
  uint32_t type = 0;
  std::vector<unsigned char> read;
  EXPECT_FALSE(Get(kLM, "Gone", "stale", &type, &read));
  EXPECT_TRUE(Get(kLM, "Gone", "fresh", &type, &read));
}

TEST_F(RegistryTest, EnumerationIsInCaseInsensitiveNameOrder) {
  for (const char* name : {"beta", "Alpha", "gamma", "ALPHA2"}) {
    Put(kLM, "E", name, kRegSz, {0});
    Put(kLM, std::string("E\\") + name, "", kRegSz, {0});
  }
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "E", kKeyRead, &key));
  std::vector<RegValue> values;
  std::vector<std::string> subkeys;
  ASSERT_EQ(kErrorSuccess, RegEnumValues(key, &values));
  ASSERT_EQ(kErrorSuccess, RegEnumSubKeys(key, &subkeys));
  CloseRegKey(key);
  std::vector<std::string> names;
  for (const RegValue& v : values) names.push_back(v.name);
  const std::vector<std::string> expected = {"Alpha", "ALPHA2", "beta", "gamma"};
  EXPECT_EQ(expected, names);
  EXPECT_EQ(expected, subkeys);
}

TEST_F(RegistryTest, ApplyChangesRunsInOrder) {
  Put(kLM, "Old", "x", kRegSz, {'1', 0});
  std::vector<RegChange> changes(5);
  changes[0].kind = RegChange::kDeleteTree;
  changes[0].subkey = "Old";
  changes[1].kind = RegChange::kSetValue;
  changes[1].subkey = "New\\Deep";
  changes[1].name = "v";
  changes[1].type = kRegDword;
  changes[1].data = {7, 0, 0, 0};
  changes[2].kind = RegChange::kDeleteValue;  // missing: not an error
  changes[2].subkey = "New\\Deep";
  changes[2].name = "absent";
  changes[3].kind = RegChange::kDeleteTree;  // missing: not an error
  changes[3].subkey = "NeverThere";
  changes[4].kind = RegChange::kCreateKey;
  changes[4].root = RegRoot::kCurrentUser;
  changes[4].subkey = "Empty";
  ASSERT_EQ(kErrorSuccess, RegApplyChanges(changes));

  RegKey key = nullptr;
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "Old", kKeyRead, &key));
  EXPECT_EQ(kErrorSuccess, OpenRegKey(RegRoot::kCurrentUser, "Empty", kKeyRead, &key));
  CloseRegKey(key);
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(Get(kLM, "New\\Deep", "v", &type, &data));
  EXPECT_EQ((std::vector<unsigned char>{7, 0, 0, 0}), data);
}

TEST_F(RegistryTest, ApplyChangesTakesNothingWhenOneChangeFails) {
  Put(kLM, "Keep", "x", kRegSz, {'1', 0});
  std::vector<RegChange> changes(3);
  changes[0].kind = RegChange::kDeleteTree;
  changes[0].subkey = "Keep";
  changes[1].kind = RegChange::kSetValue;
  changes[1].subkey = "Added";
  changes[1].name = "v";
  changes[1].type = kRegSz;
  changes[1].data = {'a', 0};
  changes[2].kind = RegChange::kCreateKey;
  changes[2].subkey = "Added\\" + std::string(256, 'n');  // longer than a key name may be
  EXPECT_EQ(kErrorInvalidParameter, RegApplyChanges(changes));

  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_TRUE(Get(kLM, "Keep", "x", &type, &data));
  RegKey key = nullptr;
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "Added", kKeyRead, &key));
}

// "k\k\...": a key `depth` levels below its hive.
std::string Chain(size_t depth) {
  std::string path = "k";
  for (size_t i = 1; i < depth; ++i) path += "\\k";
  return path;
}

TEST_F(RegistryTest, KeysDeeperThanTheLimitAreNeverCreated) {
  const std::string tooDeep = Chain(kMaxKeyDepth + 1);
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, CreateRegKey(kLM, Chain(kMaxKeyDepth), kKeyAllAccess, &key));
  CloseRegKey(key);
  EXPECT_EQ(kErrorInvalidParameter, CreateRegKey(kLM, tooDeep, kKeyAllAccess, &key));
  EXPECT_EQ(nullptr, key);

  std::vector<RegChange> batch(2);
  batch[0].kind = RegChange::kSetValue;
  batch[0].subkey = "Before";
  batch[0].name = "v";
  batch[0].type = kRegSz;
  batch[0].data = {'a', 0};
  for (RegChange::Kind kind : {RegChange::kSetValue, RegChange::kCreateKey}) {
    batch[1] = batch[0];
    batch[1].kind = kind;
    batch[1].subkey = tooDeep;
    EXPECT_EQ(kErrorInvalidParameter, RegApplyChanges(batch)) << kind;
  }
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, tooDeep, kKeyRead, &key));
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(kLM, "Before", kKeyRead, &key));
  // Removing such a key (what an older registry file may hold) is still allowed.
  batch[1].kind = RegChange::kDeleteTree;
  EXPECT_EQ(kErrorSuccess, RegApplyChanges({batch[1]}));
}

TEST_F(RegistryTest, OpenBelowAnOpenKey) {
  Put(kLM, "SOFTWARE\\Kelvor\\QUOR5.0\\Sub", "v", kRegSz, {'a', 0});
  RegKey parent = nullptr;
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "software\\kelvor", kKeyRead, &parent));
  ASSERT_EQ(kErrorSuccess, OpenRegKey(parent, "quor5.0\\SUB", kKeyRead, &key));
  EXPECT_EQ("SOFTWARE\\Kelvor\\QUOR5.0\\Sub", RegKeyPath(key));
  uint32_t size = 0;
  EXPECT_EQ(kErrorSuccess, QueryRegValue(key, "V", nullptr, nullptr, &size));
  CloseRegKey(key);
  EXPECT_EQ(kErrorFileNotFound, OpenRegKey(parent, "Missing", kKeyRead, &key));
  ASSERT_EQ(kErrorSuccess, DeleteRegTree(kLM, "SOFTWARE\\Kelvor"));
  EXPECT_EQ(kErrorKeyDeleted, OpenRegKey(parent, "QUOR5.0", kKeyRead, &key));
  EXPECT_EQ(nullptr, key);
  CloseRegKey(parent);
}

TEST_F(RegistryTest, DeletingAHiveEmptiesItButKeepsIt) {
  Put(RegRoot::kCurrentUser, "A\\B", "v", kRegSz, {0});
  Put(RegRoot::kCurrentUser, "", "top", kRegSz, {0});
  Put(kLM, "Other", "v", kRegSz, {0});
  ASSERT_EQ(kErrorSuccess, DeleteRegTree(RegRoot::kCurrentUser, ""));
  RegKey key = nullptr;
  ASSERT_EQ(kErrorSuccess, OpenRegKey(RegRoot::kCurrentUser, "", kKeyRead, &key));
  std::vector<std::string> subkeys;
  std::vector<RegValue> values;
  EXPECT_EQ(kErrorSuccess, RegEnumSubKeys(key, &subkeys));
  EXPECT_EQ(kErrorSuccess, RegEnumValues(key, &values));
  CloseRegKey(key);
  EXPECT_TRUE(subkeys.empty());
  EXPECT_TRUE(values.empty());
  Put(RegRoot::kCurrentUser, "Again", "v", kRegSz, {0});  // the hive still takes keys
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_TRUE(Get(kLM, "Other", "v", &type, &data));
}

TEST_F(RegistryTest, SwitchingStateRootsSwitchesRegistries) {
  Put(kLM, "K", "where", kRegSz, {'1', 0});
  {
    obxtest::TempStateRoot other;
    uint32_t type = 0;
    std::vector<unsigned char> data;
    EXPECT_FALSE(Get(kLM, "K", "where", &type, &data));
    Put(kLM, "K", "where", kRegSz, {'2', 0});
    ASSERT_TRUE(Get(kLM, "K", "where", &type, &data));
    EXPECT_EQ((std::vector<unsigned char>{'2', 0}), data);
  }
  uint32_t type = 0;
  std::vector<unsigned char> data;
  ASSERT_TRUE(Get(kLM, "K", "where", &type, &data));
  EXPECT_EQ((std::vector<unsigned char>{'1', 0}), data);
}

TEST_F(RegistryTest, ARemovedStateRootStartsAFreshRegistry) {
  std::string path = root_.Path();
  Put(kLM, "K", "v", kRegSz, {'1', 0});
  // A test (or an operator) wipes the root while this process still has the file open.
  ASSERT_EQ(0, std::system(("rm -rf '" + path + "'/*").c_str()));
  uint32_t type = 0;
  std::vector<unsigned char> data;
  EXPECT_FALSE(Get(kLM, "K", "v", &type, &data));
  Put(kLM, "K", "w", kRegSz, {'2', 0});
  EXPECT_NE("", obxtest::ReadFile(path + "/registry.db"));
  EXPECT_TRUE(Get(kLM, "K", "w", &type, &data));
}

TEST_F(RegistryTest, DamagedFileGivesAnErrorNotACrash) {
  obxtest::WriteFile(root_.Sub("registry.db"), std::string(4096, 'z'));
  RegKey key = nullptr;
  EXPECT_EQ(kErrorRegistryIo, OpenRegKey(kLM, "K", kKeyRead, &key));
  EXPECT_EQ(kErrorRegistryIo, CreateRegKey(kLM, "K", kKeyAllAccess, &key));
  EXPECT_EQ(nullptr, key);
  EXPECT_EQ(std::string(4096, 'z'), obxtest::ReadFile(root_.Sub("registry.db")));
}

TEST_F(RegistryTest, ThreadsWritingAtOnceLoseNothing) {
  const int kThreads = 4;
  const int kWrites = 40;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kWrites; ++i) {
        RegKey key = nullptr;
        std::string subkey = "Shared\\T" + std::to_string(t);
        if (CreateRegKey(RegRoot::kLocalMachine, subkey, kKeyAllAccess, &key) != kErrorSuccess)
          continue;
        unsigned char data[4] = {static_cast<unsigned char>(i), 0, 0, 0};
        SetRegValue(key, "v" + std::to_string(i), kRegDword, data, 4);
        CloseRegKey(key);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    RegKey key = nullptr;
    ASSERT_EQ(kErrorSuccess, OpenRegKey(kLM, "Shared\\T" + std::to_string(t), kKeyRead, &key));
    std::vector<RegValue> values;
    ASSERT_EQ(kErrorSuccess, RegEnumValues(key, &values));
    CloseRegKey(key);
    EXPECT_EQ(static_cast<size_t>(kWrites), values.size()) << "thread " << t;
  }
}

TEST(RegRoot, ParsesShortAndLongNamesInAnyCase) {
  struct Case {
    const char* text;
    bool ok;
    RegRoot root;
  } cases[] = {
      {"HKLM", true, RegRoot::kLocalMachine},  {"hkey_local_machine", true, RegRoot::kLocalMachine},
      {"HKCU", true, RegRoot::kCurrentUser},   {"HKEY_CURRENT_USER", true, RegRoot::kCurrentUser},
      {"HKCR", false, RegRoot::kLocalMachine}, {"", false, RegRoot::kLocalMachine},
  };
  for (const Case& c : cases) {
    RegRoot root = RegRoot::kLocalMachine;
    EXPECT_EQ(c.ok, ParseRegRoot(c.text, &root)) << c.text;
    if (c.ok) {
      EXPECT_EQ(c.root, root) << c.text;
    }
  }
}

}  // namespace
