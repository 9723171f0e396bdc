#pragma once
// Bytes as hexadecimal text, the form digests and escapes are written in.
#include <cstddef>
#include <string>

namespace textutil {

// Two lower-case hexadecimal digits for each of the `count` bytes at `bytes`.
std::string HexText(const void* bytes, size_t count);

}  // namespace textutil
