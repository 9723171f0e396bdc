#pragma once
// The only registry access of the component. Each call opens and closes its own
// key; nothing is cached except the module folder. No failure is logged.
#include <cstdint>
#include <string>

#include "platform/Registry.h"

namespace obx {

using platform::RegRoot;
constexpr RegRoot HKLM = RegRoot::kLocalMachine;
constexpr RegRoot HKCU = RegRoot::kCurrentUser;

// Keys the component reads and writes (under HKLM unless said otherwise).
extern const char* const kModuleKey;            // SOFTWARE\Kelvor\QUOR5.0\Composites\ZEB\OBX
extern const char* const kPatchInfoKey;         // kModuleKey + "\PatchInfo"
extern const char* const kManagementServerKey;  // SOFTWARE\Kelvor\QUOR5.0\ServiceUrl\OBX
extern const char* const kDownloadServerKey;    // SOFTWARE\Kelvor\QUOR5.0\ServiceUrl\DOWNLOAD
extern const char* const kFrameworkKey;         // SOFTWARE\Kelvor\QUOR5.0\Composites\Framework
extern const char* const kLanguageKey;          // Software\Kelvor.Tz\QUOR\ (HKLM, then HKCU)

// Stores the REG_DWORD value in `value` and returns true; on any failure
// (missing key or value, other type or size) returns false and leaves `value`
// as the caller preset it.
bool ReadRegDword(RegRoot root, const std::string& subkey, const std::string& name,
                  uint32_t& value);

// The text of a REG_SZ or REG_EXPAND_SZ value (unexpanded) without its
// terminating NUL; "" on any failure or when the data does not end in NUL.
std::string ReadRegString(RegRoot root, const std::string& subkey, const std::string& name);

// Stores `text` as REG_SZ (with its NUL), creating the key and its parents,
// and flushes it to disk before returning. True when the value was stored.
bool WriteRegString(RegRoot root, const std::string& subkey, const std::string& name,
                    const std::string& text);

// The module folder: InstallPath of the module key as CaptureModuleFolder
// last read it ("" when absent or never read). Later changes of the value are
// not seen.
const std::string& ModuleFolder();
// Reads InstallPath and keeps it as the module folder. The component library
// calls it once when it is loaded, as a Windows DLL reads its settings at
// attach; nothing else in the process does registry work before main.
void CaptureModuleFolder();

// The update folder into which files are downloaded and from which task
// programs run: FileSavedPath of the module key, or when that is empty the
// module folder followed by "\download". Read afresh at every call.
std::string UpdateFolder();

}  // namespace obx
