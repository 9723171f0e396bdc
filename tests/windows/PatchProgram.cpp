// obx-patchprogram.exe: a patch program for the install test. The agent starts
// it with the task id and the policy's arguments; it answers as a patch
// program does, under the task's registry key: "Result1" "installed",
// "Result2" every argument after the task id joined by blanks (so the
// server's result record shows what it was given), "clientVersion"
// "patchprogram-1". Exit status 0, or 1 when it has no task id or cannot write.
#include <windows.h>

#include <string>

namespace {

bool SetString(HKEY key, const char* name, const std::string& value) {
  return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 1;
  std::string arguments;
  for (int i = 2; i < argc; ++i) arguments += (i > 2 ? " " : "") + std::string(argv[i]);
  const std::string path =
      std::string("SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\") + argv[1];
  HKEY key = nullptr;
  if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS)
    return 1;
  const bool written = SetString(key, "Result1", "installed") &&
                       SetString(key, "Result2", arguments) &&
                       SetString(key, "clientVersion", "patchprogram-1");
  ::RegCloseKey(key);
  return written ? 0 : 1;
}
