#pragma once
// Text conversions shared by orsa-reg's commands, its .reg reader and writer.
//
// Registry strings are stored as narrow bytes in the system's code page
// (platform/CodePage.h: the ANSI code page on Windows, the locale's codeset,
// usually UTF-8, on Linux); the .reg format carries them as UTF-16LE. Text the
// code page converts goes over as it is. Other bytes are read as UTF-8, and
// bytes that are not valid UTF-8 travel as the lone surrogates
// U+DC80..U+DCFF, so any stored string survives an export and a re-import
// byte for byte. UTF-16 text that the code page cannot hold comes back as
// UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace orsareg {

std::vector<unsigned char> NarrowToUtf16Le(const std::vector<unsigned char>& narrow);
// False when the byte count is odd.
bool Utf16LeToNarrow(const std::vector<unsigned char>& utf16, std::vector<unsigned char>* narrow);

// "REG_SZ", "REG_EXPAND_SZ", "REG_DWORD", "REG_BINARY", "REG_NONE",
// "REG_MULTI_SZ"; other types as "REG_0xN". ParseRegTypeName accepts these six
// (any case).
std::string RegTypeName(uint32_t type);
bool ParseRegTypeName(const std::string& name, uint32_t* type);

// A DWORD as orsa-reg's /d takes it: decimal or 0x hex, 0..4294967295.
bool ParseDwordText(const std::string& text, uint32_t* value);

// The data column of `query`: text up to the first NUL for REG_SZ and
// REG_EXPAND_SZ, the strings of a REG_MULTI_SZ joined by "\0", 0x%x for a
// 4-byte DWORD, upper-case hex digits otherwise.
std::string FormatQueryData(uint32_t type, const std::vector<unsigned char>& data);

// Splits "HKLM\SOFTWARE\X" into its hive and subkey; false for an unknown hive.
bool SplitKeyArgument(const std::string& argument, platform::RegRoot* root, std::string* subkey);

}  // namespace orsareg
