#include "foundation/SettingsStore.h"

#include <vector>

namespace obx {

const char* const kModuleKey = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX";
const char* const kPatchInfoKey = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo";
const char* const kManagementServerKey = "SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX";
const char* const kDownloadServerKey = "SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\DOWNLOAD";
const char* const kFrameworkKey = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\Framework";
const char* const kLanguageKey = "Software\\Kelvor.Tz\\QUOR\\";

namespace {

constexpr uint32_t kCreateAccess = platform::kKeyRead | platform::kKeyWrite;  // 0x2001F

// Closes the key on every path out of a function.
class KeyCloser {
 public:
  explicit KeyCloser(platform::RegKey key) : key_(key) {}
  ~KeyCloser() { platform::CloseRegKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  platform::RegKey key_;
};

// A function-local object, so that a call from another library's static
// initialiser never meets an unconstructed string.
std::string& ModuleFolderStorage() {
  static std::string folder;
  return folder;
}

}  // namespace

bool ReadRegDword(RegRoot root, const std::string& subkey, const std::string& name,
                  uint32_t& value) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(root, subkey, platform::kKeyRead, &key) != platform::kErrorSuccess)
    return false;
  KeyCloser closer(key);
  uint32_t type = platform::kRegNone;
  unsigned char data[4] = {0, 0, 0, 0};
  uint32_t size = sizeof data;
  if (platform::QueryRegValue(key, name, &type, data, &size) != platform::kErrorSuccess ||
      type != platform::kRegDword || size != sizeof data)
    return false;
  // REG_DWORD is little-endian whatever the machine.
  value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
          static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
  return true;
}

std::string ReadRegString(RegRoot root, const std::string& subkey, const std::string& name) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(root, subkey, platform::kKeyRead, &key) != platform::kErrorSuccess)
    return std::string();
  KeyCloser closer(key);
  uint32_t size = 0;
  if (platform::QueryRegValue(key, name, nullptr, nullptr, &size) != platform::kErrorSuccess)
    size = 0;
  // One spare zero byte: the value may change between the two queries, and a
  // result must never run past the buffer.
  std::vector<unsigned char> buffer(static_cast<size_t>(size) + 1, 0);
  uint32_t type = platform::kRegNone;
  uint32_t got = size + 1;
  if (platform::QueryRegValue(key, name, &type, buffer.data(), &got) != platform::kErrorSuccess)
    return std::string();
  if (type != platform::kRegSz && type != platform::kRegExpandSz) return std::string();
  // Data that does not end in its NUL is not a well-formed string.
  if (got == 0 || buffer[got - 1] != 0) return std::string();
  return std::string(reinterpret_cast<const char*>(buffer.data()));
}

bool WriteRegString(RegRoot root, const std::string& subkey, const std::string& name,
                    const std::string& text) {
  platform::RegKey key = nullptr;
  if (platform::OpenRegKey(root, subkey, platform::kKeyWrite, &key) != platform::kErrorSuccess &&
      platform::CreateRegKey(root, subkey, kCreateAccess, &key) != platform::kErrorSuccess)
    return false;
  KeyCloser closer(key);
  bool stored =
      platform::SetRegValue(key, name, platform::kRegSz,
                            reinterpret_cast<const unsigned char*>(text.c_str()),
                            static_cast<uint32_t>(text.size() + 1)) == platform::kErrorSuccess;
  // The program the task runs next reads the value from its own process.
  if (stored) platform::FlushRegKey(key);
  return stored;
}

const std::string& ModuleFolder() { return ModuleFolderStorage(); }

void CaptureModuleFolder() {
  ModuleFolderStorage() = ReadRegString(HKLM, kModuleKey, "InstallPath");
}

std::string UpdateFolder() {
  std::string folder = ReadRegString(HKLM, kModuleKey, "FileSavedPath");
  if (folder.empty()) folder = ModuleFolder() + "\\download";
  return folder;
}

}  // namespace obx
