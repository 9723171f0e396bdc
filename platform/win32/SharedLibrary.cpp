#include "platform/SharedLibrary.h"

#include <windows.h>

#include "platform/WinError.h"

namespace platform {

void* OpenSharedLibrary(const std::string& path, std::string* error) {
  // The full path: a bare name would be searched for along the system's DLL
  // path. The DLL's own folder is searched first for the DLLs it needs.
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full) {
    if (error)
      *error =
          path + ": " +
          ErrorText(length == 0 ? static_cast<long>(GetLastError()) : kErrorFilenameExcedRange);
    return nullptr;
  }
  HMODULE module = LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (module == nullptr) {
    if (error) *error = std::string(full) + ": " + ErrorText(static_cast<long>(GetLastError()));
    return nullptr;
  }
  // Pinned: FreeLibrary no longer unmaps it (an abandoned worker may still
  // run its code).
  HMODULE pinned = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCSTR>(module), &pinned);
  return reinterpret_cast<void*>(module);
}

void* OpenSystemLibrary(const std::string& name, std::string* error) {
  // The system folder only: never a DLL of that name planted beside the program.
  HMODULE module = LoadLibraryExA(name.c_str(), nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && error)
    *error = name + ": " + ErrorText(static_cast<long>(GetLastError()));
  return reinterpret_cast<void*>(module);
}

void* SharedLibrarySymbol(void* library, const std::string& name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name.c_str()));
}

void CloseSharedLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

std::string SharedLibraryFileName(const std::string& name) { return name + ".dll"; }

}  // namespace platform
