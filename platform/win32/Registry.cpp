// The registry functions on the Windows registry itself, always in its 32-bit
// view: the agent is a 32-bit program, and its keys and those of the task
// programs it starts must be the same keys on a 64-bit system too.
#include "platform/Registry.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/File.h"
#include "platform/detail/KeyPath.h"
#include "platform/detail/RegistryGuard.h"
#include "platform/win32/Windows.h"
// Builds on <windows.h>, which must come first.
#include <objbase.h>

namespace platform {

namespace {

constexpr uint32_t kHandleMagic = 0x52454731;  // catches a closed or foreign handle
constexpr size_t kMaxKeyNameLength = 255;

}  // namespace

struct RegKeyImpl {
  uint32_t magic = kHandleMagic;
  HKEY key = nullptr;
  RegRoot hive = RegRoot::kLocalMachine;
  std::string path;  // the names as opened, joined by "\"
};

namespace {

REGSAM View(uint32_t access) { return static_cast<REGSAM>(access) | KEY_WOW64_32KEY; }

// The name of the registry of a state root, kept in "<root>\\registry.id": a
// new root folder (a removed one made again) starts with a new, empty
// registry, as a new registry.db does on Linux. Made on first use; "" when it
// cannot be had.
std::string RootRegistryName(const std::string& root) {
  const std::string path = root + "\\registry.id";
  for (int attempt = 0; attempt < 50; ++attempt) {
    HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      char text[64] = {};
      DWORD got = 0;
      ::ReadFile(file, text, sizeof text - 1, &got, nullptr);
      ::CloseHandle(file);
      // Complete once its line ends; the maker may be between the two steps.
      if (got > 1 && text[got - 1] == '\n') return std::string(text, got - 1);
      ::Sleep(10);
      continue;
    }
    CreateDirectories(root);
    GUID id;
    if (FAILED(::CoCreateGuid(&id))) return std::string();
    char name[40];
    std::snprintf(name, sizeof name, "%08lx%04x%04x%02x%02x%02x%02x%02x%02x%02x%02x\n",
                  static_cast<unsigned long>(id.Data1), id.Data2, id.Data3, id.Data4[0],
                  id.Data4[1], id.Data4[2], id.Data4[3], id.Data4[4], id.Data4[5], id.Data4[6],
                  id.Data4[7]);
    // One maker wins; the others read its name on the next round.
    file = ::CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    const DWORD length = static_cast<DWORD>(std::strlen(name));
    const bool ok = ::WriteFile(file, name, length, &written, nullptr) && written == length;
    ::CloseHandle(file);
    if (ok) return std::string(name, length - 1);
  }
  return std::string();
}

// The key that stands for a hive. A state root named in ORSA_ROOT (a test, a
// demo) has a registry of its own, as each state root has on Linux, so that
// no test writes the machine's keys (the release it states, say); its hives
// are keys below
// HKEY_CURRENT_USER\Software\orsa\roots\<the root's registry name>.
class Hive {
 public:
  explicit Hive(RegRoot root) {
    const std::string stateRoot = win32::PrivateRegistryRoot();
    if (stateRoot.empty()) {
      key_ = root == RegRoot::kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
      return;
    }
    const std::string id = RootRegistryName(stateRoot);
    if (id.empty()) {
      error_ = kErrorRegistryIo;
      return;
    }
    const std::string name =
        "Software\\orsa\\roots\\" + id + (root == RegRoot::kLocalMachine ? "\\HKLM" : "\\HKCU");
    error_ = ::RegCreateKeyExA(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               View(KEY_ALL_ACCESS), nullptr, &key_, nullptr);
    owned_ = error_ == ERROR_SUCCESS;
    if (!owned_) key_ = nullptr;
  }
  ~Hive() {
    if (owned_) ::RegCloseKey(key_);
  }
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;

  HKEY get() const { return key_; }
  long error() const { return error_; }
  // A registry of a state root's own, which may be emptied as a whole.
  bool Private() const { return owned_; }

 private:
  HKEY key_ = nullptr;
  bool owned_ = false;
  long error_ = kErrorSuccess;
};

bool ValidHandle(RegKey key) { return key != nullptr && key->magic == kHandleMagic; }

using detail::SplitKeyPath;

std::string JoinKeyPath(const std::vector<std::string>& names) {
  std::string path;
  for (const std::string& name : names) {
    if (!path.empty()) path += '\\';
    path += name;
  }
  return path;
}

// The system refuses a leading "\" and stores empty names; the interface
// ignores both, so the path is rewritten in its plain form first.
std::string Normalised(const std::string& subkey) { return JoinKeyPath(SplitKeyPath(subkey)); }

bool HasOverlongName(const std::string& subkey) {
  for (const std::string& name : SplitKeyPath(subkey))
    if (name.size() > kMaxKeyNameLength) return true;
  return false;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

RegKey NewHandle(HKEY key, RegRoot hive, std::string path) {
  RegKeyImpl* impl = new (std::nothrow) RegKeyImpl;
  if (impl == nullptr) {
    ::RegCloseKey(key);
    return nullptr;
  }
  impl->key = key;
  impl->hive = hive;
  impl->path = std::move(path);
  return impl;
}

long Open(HKEY parent, RegRoot hive, const std::string& parentPath, const std::string& subkey,
          uint32_t access, RegKey* key) {
  const std::string plain = Normalised(subkey);
  HKEY opened = nullptr;
  const LONG rc = ::RegOpenKeyExA(parent, plain.c_str(), 0, View(access), &opened);
  if (rc != ERROR_SUCCESS) return rc;
  std::string path = parentPath;
  if (!path.empty() && !plain.empty()) path += '\\';
  path += plain;
  *key = NewHandle(opened, hive, std::move(path));
  return *key != nullptr ? kErrorSuccess : kErrorNotEnoughMemory;
}

long Create(RegRoot root, const std::string& subkey, uint32_t access, HKEY* key) {
  Hive hive(root);
  if (hive.get() == nullptr) return hive.error();
  if (RegKeyDepth(subkey) > kMaxKeyDepth || HasOverlongName(subkey)) return kErrorInvalidParameter;
  return ::RegCreateKeyExA(hive.get(), Normalised(subkey).c_str(), 0, nullptr,
                           REG_OPTION_NON_VOLATILE, View(access), nullptr, key, nullptr);
}

// Removes every subkey and value of `key` (opened with all access), deepest first.
long EmptyKey(HKEY key) {
  for (;;) {
    char name[kMaxKeyNameLength + 1];
    DWORD length = sizeof name;
    LONG rc = ::RegEnumKeyExA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) return rc;
    HKEY child = nullptr;
    rc = ::RegOpenKeyExA(key, name, 0, View(KEY_ALL_ACCESS), &child);
    if (rc != ERROR_SUCCESS) return rc;
    rc = EmptyKey(child);
    ::RegCloseKey(child);
    if (rc != ERROR_SUCCESS) return rc;
    // Relative to `key`: in the view `key` was opened in.
    rc = ::RegDeleteKeyA(key, name);
    if (rc != ERROR_SUCCESS) return rc;
  }
  for (;;) {
    char name[16384];
    DWORD length = sizeof name;
    LONG rc = ::RegEnumValueA(key, 0, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) return kErrorSuccess;
    if (rc != ERROR_SUCCESS) return rc;
    rc = ::RegDeleteValueA(key, name);
    if (rc != ERROR_SUCCESS) return rc;
  }
}

long DeleteTree(RegRoot root, const std::string& subkey) {
  Hive hive(root);
  if (hive.get() == nullptr) return hive.error();
  std::vector<std::string> names = SplitKeyPath(subkey);
  // Emptying a whole hive of the real machine is never what a caller means;
  // a state root's own registry empties as it does on Linux.
  if (names.empty()) return hive.Private() ? EmptyKey(hive.get()) : kErrorAccessDenied;
  const std::string last = names.back();
  names.pop_back();
  // RegDeleteKeyA asks no rights of the parent's handle: reading it is enough.
  HKEY parent = nullptr;
  LONG rc = ::RegOpenKeyExA(hive.get(), JoinKeyPath(names).c_str(), 0, View(KEY_READ), &parent);
  if (rc != ERROR_SUCCESS) return rc;
  HKEY key = nullptr;
  rc = ::RegOpenKeyExA(parent, last.c_str(), 0, View(KEY_ALL_ACCESS), &key);
  if (rc == ERROR_SUCCESS) {
    rc = EmptyKey(key);
    ::RegCloseKey(key);
    if (rc == ERROR_SUCCESS) rc = ::RegDeleteKeyA(parent, last.c_str());
  }
  ::RegCloseKey(parent);
  return rc;
}

long ReadValue(HKEY key, const std::string& name, RegValue* value) {
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &type, nullptr, &size);
  // Another writer may grow the value between the two calls.
  while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
    value->data.resize(size);
    rc = ::RegQueryValueExA(key, name.c_str(), nullptr, &type,
                            size != 0 ? value->data.data() : nullptr, &size);
    if (rc == ERROR_SUCCESS) {
      value->data.resize(size);
      value->name = name;
      value->type = type;
      return kErrorSuccess;
    }
  }
  return rc;
}

}  // namespace

using detail::Guarded;

long OpenRegKey(RegRoot root, const std::string& subkey, uint32_t access, RegKey* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;
  return Guarded([&]() -> long {
    Hive hive(root);
    if (hive.get() == nullptr) return hive.error();
    return Open(hive.get(), root, "", subkey, access, key);
  });
}

long OpenRegKey(RegKey parent, const std::string& subkey, uint32_t access, RegKey* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;
  if (!ValidHandle(parent)) return kErrorInvalidHandle;
  return Guarded(
      [&] { return Open(parent->key, parent->hive, parent->path, subkey, access, key); });
}

long CreateRegKey(RegRoot root, const std::string& subkey, uint32_t access, RegKey* key) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;
  return Guarded([&]() -> long {
    HKEY created = nullptr;
    const long rc = Create(root, subkey, access, &created);
    if (rc != kErrorSuccess) return rc;
    *key = NewHandle(created, root, Normalised(subkey));
    return *key != nullptr ? kErrorSuccess : kErrorNotEnoughMemory;
  });
}

long QueryRegValue(RegKey key, const std::string& name, uint32_t* type, unsigned char* data,
                   uint32_t* size) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  DWORD storedType = REG_NONE;
  DWORD length = size != nullptr ? *size : 0;
  const LONG rc = ::RegQueryValueExA(key->key, name.c_str(), nullptr, &storedType, data,
                                     size != nullptr ? &length : nullptr);
  if (rc != ERROR_SUCCESS && rc != ERROR_MORE_DATA) return rc;
  if (type != nullptr) *type = storedType;
  if (size != nullptr) *size = length;
  return rc;
}

long SetRegValue(RegKey key, const std::string& name, uint32_t type, const unsigned char* data,
                 uint32_t size) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  if (data == nullptr && size != 0) return kErrorInvalidParameter;
  static const BYTE kNothing = 0;
  return ::RegSetValueExA(key->key, name.c_str(), 0, type, data != nullptr ? data : &kNothing,
                          size);
}

long DeleteRegValue(RegKey key, const std::string& name) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  return ::RegDeleteValueA(key->key, name.c_str());
}

long DeleteRegTree(RegRoot root, const std::string& subkey) {
  return Guarded([&] { return DeleteTree(root, subkey); });
}

long FlushRegKey(RegKey key) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  return ::RegFlushKey(key->key);
}

long CloseRegKey(RegKey key) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  const LONG rc = ::RegCloseKey(key->key);
  key->magic = 0;
  delete key;
  return rc;
}

long RegEnumValues(RegKey key, std::vector<RegValue>* values) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  if (values == nullptr) return kErrorInvalidParameter;
  return Guarded([&]() -> long {
    values->clear();
    DWORD count = 0;
    DWORD longestName = 0;
    LONG rc = ::RegQueryInfoKeyA(key->key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 &count, &longestName, nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS) return rc;
    std::vector<std::string> names;
    std::vector<char> name(longestName + 1);
    for (DWORD i = 0;; ++i) {
      DWORD length = static_cast<DWORD>(name.size());
      rc = ::RegEnumValueA(key->key, i, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // a longer name was added meanwhile
        name.resize(name.size() * 2 + 256);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) return rc;
      names.emplace_back(name.data(), length);
    }
    std::sort(names.begin(), names.end(), LessNoCase);
    for (const std::string& valueName : names) {
      RegValue value;
      rc = ReadValue(key->key, valueName, &value);
      if (rc == ERROR_FILE_NOT_FOUND) continue;  // deleted meanwhile
      if (rc != ERROR_SUCCESS) return rc;
      values->push_back(std::move(value));
    }
    return kErrorSuccess;
  });
}

long RegEnumSubKeys(RegKey key, std::vector<std::string>* names) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  if (names == nullptr) return kErrorInvalidParameter;
  return Guarded([&]() -> long {
    names->clear();
    for (DWORD i = 0;; ++i) {
      char name[kMaxKeyNameLength + 1];
      DWORD length = sizeof name;
      const LONG rc =
          ::RegEnumKeyExA(key->key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc != ERROR_SUCCESS) return rc;
      names->emplace_back(name, length);
    }
    std::sort(names->begin(), names->end(), LessNoCase);
    return kErrorSuccess;
  });
}

std::string RegKeyPath(RegKey key) {
  if (!ValidHandle(key)) return std::string();
  try {
    // The names in the spelling the registry keeps, looked up level by level
    // (only here: opening a key costs no enumeration). A level that cannot be
    // read keeps the spelling it was opened with.
    std::string stored;
    Hive hive(key->hive);
    HKEY parent = hive.get();
    bool walking = parent != nullptr;
    for (const std::string& name : SplitKeyPath(key->path)) {
      std::string found = name;
      HKEY child = nullptr;
      if (walking) {
        for (DWORD i = 0;; ++i) {
          char entry[kMaxKeyNameLength + 1];
          DWORD length = sizeof entry;
          if (::RegEnumKeyExA(parent, i, entry, &length, nullptr, nullptr, nullptr, nullptr) !=
              ERROR_SUCCESS)
            break;
          if (length == name.size() && ::lstrcmpiA(entry, name.c_str()) == 0) {
            found.assign(entry, length);
            break;
          }
        }
        walking = ::RegOpenKeyExA(parent, name.c_str(), 0, View(KEY_READ), &child) == ERROR_SUCCESS;
      }
      if (parent != hive.get()) ::RegCloseKey(parent);
      parent = walking ? child : hive.get();
      if (!stored.empty()) stored += '\\';
      stored += found;
    }
    if (parent != hive.get()) ::RegCloseKey(parent);
    return stored;
  } catch (...) {
    return key->path;
  }
}

namespace {

// A key with everything below it, as it was before a batch deleted it.
struct KeyTree {
  std::string name;
  std::vector<RegValue> values;
  std::vector<KeyTree> children;
};

long Snapshot(HKEY key, KeyTree* tree) {
  RegKeyImpl handle;
  handle.key = key;
  std::vector<std::string> names;
  long rc = RegEnumValues(&handle, &tree->values);
  if (rc == kErrorSuccess) rc = RegEnumSubKeys(&handle, &names);
  handle.magic = 0;
  for (const std::string& name : names) {
    if (rc != kErrorSuccess) break;
    HKEY child = nullptr;
    rc = ::RegOpenKeyExA(key, name.c_str(), 0, View(KEY_READ), &child);
    if (rc != ERROR_SUCCESS) break;
    tree->children.emplace_back();
    tree->children.back().name = name;
    rc = Snapshot(child, &tree->children.back());
    ::RegCloseKey(child);
  }
  return rc;
}

long Restore(HKEY parent, const KeyTree& tree) {
  HKEY key = nullptr;
  long rc = ::RegCreateKeyExA(parent, tree.name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              View(KEY_ALL_ACCESS), nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  static const BYTE kNothing = 0;
  for (const RegValue& value : tree.values) {
    if (rc != ERROR_SUCCESS) break;
    rc = ::RegSetValueExA(key, value.name.c_str(), 0, value.type,
                          value.data.empty() ? &kNothing : value.data.data(),
                          static_cast<DWORD>(value.data.size()));
  }
  for (const KeyTree& child : tree.children) {
    if (rc != ERROR_SUCCESS) break;
    rc = Restore(key, child);
  }
  ::RegCloseKey(key);
  return rc;
}

bool KeyExists(RegRoot root, const std::string& subkey) {
  HKEY key = nullptr;
  Hive hive(root);
  if (hive.get() == nullptr ||
      ::RegOpenKeyExA(hive.get(), subkey.c_str(), 0, View(KEY_READ), &key) != ERROR_SUCCESS)
    return false;
  ::RegCloseKey(key);
  return true;
}

// What puts the registry back as it was before one change of a batch.
struct Undo {
  enum Kind { kDeleteCreatedKeys, kRestoreValue, kDeleteValue, kRestoreTree } kind;
  RegRoot root;
  std::string subkey;  // the key (kRestoreTree: its parent)
  RegValue value;      // kRestoreValue, kDeleteValue (name only)
  KeyTree tree;        // kRestoreTree
};

long RunUndo(const Undo& undo) {
  Hive hive(undo.root);
  if (hive.get() == nullptr) return hive.error();
  if (undo.kind == Undo::kDeleteCreatedKeys) return DeleteTree(undo.root, undo.subkey);
  HKEY key = nullptr;
  long rc = ::RegCreateKeyExA(hive.get(), undo.subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              View(KEY_ALL_ACCESS), nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  static const BYTE kNothing = 0;
  switch (undo.kind) {
    case Undo::kRestoreValue:
      rc = ::RegSetValueExA(key, undo.value.name.c_str(), 0, undo.value.type,
                            undo.value.data.empty() ? &kNothing : undo.value.data.data(),
                            static_cast<DWORD>(undo.value.data.size()));
      break;
    case Undo::kDeleteValue:
      rc = ::RegDeleteValueA(key, undo.value.name.c_str());
      break;
    default:
      rc = Restore(key, undo.tree);
      break;
  }
  ::RegCloseKey(key);
  return rc;
}

// Records how to remove the keys that creating `subkey` is about to add: the
// first missing level with everything below it.
void NoteCreatedKeys(RegRoot root, const std::string& subkey, std::vector<Undo>* undo) {
  std::vector<std::string> names = SplitKeyPath(subkey);
  std::vector<std::string> prefix;
  for (const std::string& name : names) {
    prefix.push_back(name);
    const std::string path = JoinKeyPath(prefix);
    if (!KeyExists(root, path)) {
      undo->push_back(Undo{Undo::kDeleteCreatedKeys, root, path, RegValue(), KeyTree()});
      return;
    }
  }
}

// Records the value's present state: restored if it exists, removed if not.
void NoteValue(HKEY key, RegRoot root, const std::string& subkey, const std::string& name,
               std::vector<Undo>* undo) {
  Undo entry{Undo::kDeleteValue, root, subkey, RegValue(), KeyTree()};
  entry.value.name = name;
  if (ReadValue(key, name, &entry.value) == kErrorSuccess) entry.kind = Undo::kRestoreValue;
  undo->push_back(std::move(entry));
}

long ApplyOne(const RegChange& change, std::vector<Undo>* undo) {
  Hive hive(change.root);
  if (hive.get() == nullptr) return hive.error();
  const std::string subkey = Normalised(change.subkey);
  switch (change.kind) {
    case RegChange::kCreateKey:
    case RegChange::kSetValue: {
      NoteCreatedKeys(change.root, subkey, undo);
      HKEY key = nullptr;
      long rc = Create(change.root, subkey, KEY_ALL_ACCESS, &key);
      if (rc != kErrorSuccess || change.kind == RegChange::kCreateKey) {
        if (key != nullptr) ::RegCloseKey(key);
        return rc;
      }
      NoteValue(key, change.root, subkey, change.name, undo);
      static const BYTE kNothing = 0;
      rc = change.data.size() > 0xFFFFFFFFu
               ? kErrorInvalidParameter
               : ::RegSetValueExA(key, change.name.c_str(), 0, change.type,
                                  change.data.empty() ? &kNothing : change.data.data(),
                                  static_cast<DWORD>(change.data.size()));
      ::RegCloseKey(key);
      return rc;
    }
    case RegChange::kDeleteValue: {
      HKEY key = nullptr;
      long rc = ::RegOpenKeyExA(hive.get(), subkey.c_str(), 0, View(KEY_ALL_ACCESS), &key);
      if (rc != ERROR_SUCCESS) return rc;
      NoteValue(key, change.root, subkey, change.name, undo);
      rc = ::RegDeleteValueA(key, change.name.c_str());
      ::RegCloseKey(key);
      return rc;
    }
    case RegChange::kDeleteTree: {
      std::vector<std::string> names = SplitKeyPath(subkey);
      if (names.empty()) return kErrorAccessDenied;
      HKEY key = nullptr;
      long rc = ::RegOpenKeyExA(hive.get(), subkey.c_str(), 0, View(KEY_READ), &key);
      if (rc != ERROR_SUCCESS) return rc;
      Undo entry{Undo::kRestoreTree, change.root, "", RegValue(), KeyTree()};
      entry.tree.name = names.back();
      names.pop_back();
      entry.subkey = JoinKeyPath(names);
      rc = Snapshot(key, &entry.tree);
      ::RegCloseKey(key);
      if (rc != kErrorSuccess) return rc;
      undo->push_back(std::move(entry));
      return DeleteTree(change.root, subkey);
    }
  }
  return kErrorInvalidParameter;
}

}  // namespace

// The registry of the supported systems has no transactions (they came with
// Vista), so a batch keeps what it needs to put back every change it made and
// undoes them in reverse order when one fails. Other processes may see a batch
// half done while it runs.
long RegApplyChanges(const std::vector<RegChange>& changes) {
  return Guarded([&]() -> long {
    // Checked before anything is touched: a refused batch leaves no trace.
    for (const RegChange& change : changes) {
      bool creates = change.kind == RegChange::kCreateKey || change.kind == RegChange::kSetValue;
      if (creates && (RegKeyDepth(change.subkey) > kMaxKeyDepth || HasOverlongName(change.subkey)))
        return kErrorInvalidParameter;
    }
    std::vector<Undo> undo;
    bool touched[2] = {false, false};
    for (const RegChange& change : changes) {
      long rc = ApplyOne(change, &undo);
      // Removing what is already gone is what the caller wanted.
      if (rc == kErrorFileNotFound &&
          (change.kind == RegChange::kDeleteTree || change.kind == RegChange::kDeleteValue))
        rc = kErrorSuccess;
      if (rc != kErrorSuccess) {
        for (auto it = undo.rbegin(); it != undo.rend(); ++it) RunUndo(*it);
        return rc;
      }
      touched[change.root == RegRoot::kLocalMachine ? 0 : 1] = true;
    }
    // On disk before the batch counts as done.
    if (touched[0]) ::RegFlushKey(Hive(RegRoot::kLocalMachine).get());
    if (touched[1]) ::RegFlushKey(Hive(RegRoot::kCurrentUser).get());
    return kErrorSuccess;
  });
}

}  // namespace platform
