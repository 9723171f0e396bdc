#pragma once
// Text as a JSON string literal, for the tools' --json output.
#include <string>

namespace obxtools {

// `text` quoted and escaped. A well-formed UTF-8 sequence is copied; a stray
// byte, an overlong form or a surrogate becomes U+FFFD, so the result is valid
// JSON whatever bytes `text` holds.
std::string JsonString(const std::string& text);

}  // namespace obxtools
