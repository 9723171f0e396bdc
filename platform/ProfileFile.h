#pragma once
// The profile file ("ini") functions the component uses for win.ini, with the
// behaviour of the Windows calls of the same names. Paths are Windows-style
// (see NativePath). Thread-safe; each call reads or replaces the whole file.
#include <cstdint>
#include <string>

#include "platform/Export.h"

namespace platform {

// Section and key compare case-insensitively. Copies the value (or `defaultValue`
// when the file, section or key is missing) into `buffer`, cut to `size - 1`
// characters and NUL-terminated; returns the number of characters copied.
PLATFORM_EXPORT uint32_t GetPrivateProfileStringA(const char* section, const char* key,
                                                  const char* defaultValue, char* buffer,
                                                  uint32_t size, const std::string& fileName);

// Sets the key, creating the file and the section when missing; a value of null
// removes the key. The file is replaced atomically. True on success.
PLATFORM_EXPORT bool WritePrivateProfileStringA(const char* section, const char* key,
                                                const char* value, const std::string& fileName);

}  // namespace platform
