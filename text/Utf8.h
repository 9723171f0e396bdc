#pragma once
// Well-formed UTF-8, as the text encodings of this system count it.
#include <cstddef>
#include <string>

namespace textutil {

// The length (1 to 4) of the well-formed UTF-8 sequence that starts at
// text[at]; 0 when there is none there (a stray continuation byte, an
// overlong form, a surrogate, a code point past U+10FFFF, a cut-off sequence).
size_t Utf8SequenceLength(const std::string& text, size_t at);

}  // namespace textutil
