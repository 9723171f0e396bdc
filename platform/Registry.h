#pragma once
// The machine's registry, with the semantics of the Windows registry API the
// settings store relies on. On Windows it is the registry itself, always in
// its 32-bit view (KEY_WOW64_32KEY), where the agent's 32-bit task programs
// write too. A state root named in ORSA_ROOT (tests, demos) has a registry
// of its own instead, as on Linux, so that no test writes the machine's keys
// (below HKEY_CURRENT_USER\Software\orsa\roots, named in
// "<root>\registry.id"); ORSA_MACHINE_REGISTRY set beside it keeps the
// machine's registry, for a run whose settings regedit or reg.exe wrote. On Linux it is one
// database file under the state root, shared by every process that uses that root (the agent,
// orsa-reg, the programs a task runs). Key and value names compare case-insensitively (ASCII);
// values keep their type and raw bytes. Every function is thread-safe.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Export.h"
#include "platform/WinError.h"

namespace platform {

enum RegType : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
};

// Access masks as Windows spells them. Opening checks that the key exists;
// a handle opened without write rights refuses writes with kErrorAccessDenied.
constexpr uint32_t kKeyQueryValue = 0x0001;
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kKeyCreateSubKey = 0x0004;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;
constexpr uint32_t kKeyAllAccess = 0xF003F;

enum class RegRoot { kLocalMachine, kCurrentUser };

// Parses "HKLM", "HKEY_LOCAL_MACHINE", "HKCU", "HKEY_CURRENT_USER" (any case).
PLATFORM_EXPORT bool ParseRegRoot(const std::string& name, RegRoot* root);
// "HKEY_LOCAL_MACHINE" or "HKEY_CURRENT_USER"
PLATFORM_EXPORT const char* RegRootName(RegRoot root);

struct RegKeyImpl;
typedef RegKeyImpl* RegKey;  // Closed with CloseRegKey; one thread at a time.

// Subkey paths use "\" between names; leading and trailing "\" and empty
// names are ignored. An empty subkey names the root itself.
//
// A key lies at most kMaxKeyDepth names below its hive, as on Windows. Creating
// a deeper one (CreateRegKey, RegApplyChanges) fails with
// kErrorInvalidParameter, the code Windows gives for a key name it refuses;
// nothing is created. Opening and deleting deeper keys that a registry file
// already holds still works.
constexpr size_t kMaxKeyDepth = 512;
// The number of names in `subkey`, as the depth rule counts them.
inline size_t RegKeyDepth(const std::string& subkey) {
  size_t depth = 0;
  bool inName = false;
  for (char c : subkey) {
    if (c == '\\') {
      inName = false;
    } else if (!inName) {
      inName = true;
      ++depth;
    }
  }
  return depth;
}

PLATFORM_EXPORT long OpenRegKey(RegRoot root, const std::string& subkey, uint32_t access,
                                RegKey* key);
// Opens `subkey` below an open key: one lookup per name of `subkey` however
// deep `parent` lies, so a walk of a tree costs one lookup per key. An empty
// subkey gives a new handle to `parent`. kErrorKeyDeleted when `parent` itself
// is gone.
PLATFORM_EXPORT long OpenRegKey(RegKey parent, const std::string& subkey, uint32_t access,
                                RegKey* key);
// Opens the key, creating it and every missing parent first.
PLATFORM_EXPORT long CreateRegKey(RegRoot root, const std::string& subkey, uint32_t access,
                                  RegKey* key);
// Windows rules: `data` null asks for the size only; a buffer smaller than the
// value gives kErrorMoreData with `*size` set to the needed size; `type` may be
// null. An empty name is the key's default value.
PLATFORM_EXPORT long QueryRegValue(RegKey key, const std::string& name, uint32_t* type,
                                   unsigned char* data, uint32_t* size);
PLATFORM_EXPORT long SetRegValue(RegKey key, const std::string& name, uint32_t type,
                                 const unsigned char* data, uint32_t size);
PLATFORM_EXPORT long DeleteRegValue(RegKey key, const std::string& name);
// Deletes the key with all its subkeys and values. On Windows the machine's
// hive itself (an empty subkey) is refused with kErrorAccessDenied.
PLATFORM_EXPORT long DeleteRegTree(RegRoot root, const std::string& subkey);
// Returns when everything written through this key is on disk.
PLATFORM_EXPORT long FlushRegKey(RegKey key);
PLATFORM_EXPORT long CloseRegKey(RegKey key);

struct RegValue {
  std::string name;  // as stored (original letter case)
  uint32_t type = kRegNone;
  std::vector<unsigned char> data;
};
// Values in name order (case-insensitive) and direct subkey names in order.
PLATFORM_EXPORT long RegEnumValues(RegKey key, std::vector<RegValue>* values);
PLATFORM_EXPORT long RegEnumSubKeys(RegKey key, std::vector<std::string>* names);
// The key's full path in the stored spelling, e.g. "SOFTWARE\Kelvor\QUOR5.0".
PLATFORM_EXPORT std::string RegKeyPath(RegKey key);

// One change of a batch (what a .reg file describes).
struct RegChange {
  enum Kind { kCreateKey, kDeleteTree, kSetValue, kDeleteValue };
  Kind kind = kCreateKey;
  RegRoot root = RegRoot::kLocalMachine;
  std::string subkey;
  std::string name;  // kSetValue, kDeleteValue; "" is the default value
  uint32_t type = kRegNone;
  std::vector<unsigned char> data;
};
// Applies the changes in order as one transaction: either all of them take
// effect or none does. Setting a value creates its key with all missing
// parents; deleting a missing key or value is not an error. A key deeper than
// kMaxKeyDepth to create or set a value in fails the whole batch with
// kErrorInvalidParameter. On disk when it returns kErrorSuccess. Windows before
// Vista has no registry transactions: there the batch notes how to put back
// each change and undoes them in reverse order when one fails, so other
// processes may see it half done while it runs.
PLATFORM_EXPORT long RegApplyChanges(const std::vector<RegChange>& changes);

}  // namespace platform
