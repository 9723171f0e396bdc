#include "tools/reg/RegText.h"

#include <strings.h>

#include <cstdio>

#include "platform/CodePage.h"

namespace orsareg {

namespace {

// A list of strings, each with its NUL, and one more NUL at the end.
constexpr uint32_t kRegMultiSz = 7;

void PutUnit(std::vector<unsigned char>* out, uint32_t unit) {
  out->push_back(static_cast<unsigned char>(unit & 0xFF));
  out->push_back(static_cast<unsigned char>(unit >> 8));
}

void PutCodePoint(std::vector<unsigned char>* out, uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    PutUnit(out, 0xD800 + (cp >> 10));
    PutUnit(out, 0xDC00 + (cp & 0x3FF));
  } else {
    PutUnit(out, cp);
  }
}

void PutUtf8(std::vector<unsigned char>* out, uint32_t cp) {
  if (cp < 0x80) {
    out->push_back(static_cast<unsigned char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<unsigned char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<unsigned char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<unsigned char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
  }
}

// Length of the valid UTF-8 sequence at `i` with its code point, or 0.
size_t DecodeUtf8(const std::vector<unsigned char>& s, size_t i, uint32_t* cp) {
  unsigned char lead = s[i];
  size_t length;
  uint32_t value;
  uint32_t minimum;
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (i + length > s.size()) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((s[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (s[i + k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *cp = value;
  return length;
}

}  // namespace

std::vector<unsigned char> NarrowToUtf16Le(const std::vector<unsigned char>& narrow) {
  std::string wide;
  long error = platform::kErrorSuccess;
  if (platform::ConvertCodePage(platform::kCpAcp, platform::kCpUtf16,
                                std::string(narrow.begin(), narrow.end()), &wide, &error))
    return std::vector<unsigned char>(wide.begin(), wide.end());
  std::vector<unsigned char> out;
  out.reserve(narrow.size() * 2);
  for (size_t i = 0; i < narrow.size();) {
    uint32_t cp = 0;
    size_t length = DecodeUtf8(narrow, i, &cp);
    if (length == 0) {
      PutUnit(&out, 0xDC00 + narrow[i]);  // a stray byte, kept recoverable
      ++i;
    } else {
      PutCodePoint(&out, cp);
      i += length;
    }
  }
  return out;
}

bool Utf16LeToNarrow(const std::vector<unsigned char>& utf16, std::vector<unsigned char>* narrow) {
  if (utf16.size() % 2 != 0) return false;
  std::string text;
  long error = platform::kErrorSuccess;
  if (platform::ConvertCodePage(platform::kCpUtf16, platform::kCpAcp,
                                std::string(utf16.begin(), utf16.end()), &text, &error)) {
    narrow->assign(text.begin(), text.end());
    return true;
  }
  narrow->clear();
  size_t count = utf16.size() / 2;
  auto unit = [&](size_t k) { return static_cast<uint32_t>(utf16[2 * k] | utf16[2 * k + 1] << 8); };
  for (size_t k = 0; k < count; ++k) {
    uint32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < count && unit(k + 1) >= 0xDC00 &&
        unit(k + 1) <= 0xDFFF) {
      PutUtf8(narrow, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else if (u >= 0xDC80 && u <= 0xDCFF) {
      narrow->push_back(static_cast<unsigned char>(u - 0xDC00));
    } else if (u >= 0xD800 && u <= 0xDFFF) {
      PutUtf8(narrow, 0xFFFD);
    } else {
      PutUtf8(narrow, u);
    }
  }
  return true;
}

std::string RegTypeName(uint32_t type) {
  switch (type) {
    case platform::kRegNone:
      return "REG_NONE";
    case platform::kRegSz:
      return "REG_SZ";
    case platform::kRegExpandSz:
      return "REG_EXPAND_SZ";
    case platform::kRegBinary:
      return "REG_BINARY";
    case platform::kRegDword:
      return "REG_DWORD";
    case kRegMultiSz:
      return "REG_MULTI_SZ";
    default: {
      char text[24];
      std::snprintf(text, sizeof text, "REG_0x%x", type);
      return text;
    }
  }
}

bool ParseRegTypeName(const std::string& name, uint32_t* type) {
  static const uint32_t kTypes[] = {platform::kRegNone,     platform::kRegSz,
                                    platform::kRegExpandSz, platform::kRegBinary,
                                    platform::kRegDword,    kRegMultiSz};
  for (uint32_t candidate : kTypes) {
    if (strcasecmp(name.c_str(), RegTypeName(candidate).c_str()) == 0) {
      *type = candidate;
      return true;
    }
  }
  return false;
}

bool ParseDwordText(const std::string& text, uint32_t* value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  size_t start = hex ? 2 : 0;
  if (text.size() == start) return false;
  uint64_t result = 0;
  for (size_t i = start; i < text.size(); ++i) {
    char c = text[i];
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return false;
    result = result * (hex ? 16 : 10) + static_cast<uint64_t>(digit);
    if (result > 0xFFFFFFFFull) return false;
  }
  *value = static_cast<uint32_t>(result);
  return true;
}

std::string FormatQueryData(uint32_t type, const std::vector<unsigned char>& data) {
  if (type == platform::kRegSz || type == platform::kRegExpandSz) {
    std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
  }
  if (type == kRegMultiSz) {
    // The strings joined by "\0", as reg shows them; the NULs that end the
    // list are not shown.
    std::string text(data.begin(), data.end());
    text.erase(text.find_last_not_of('\0') + 1);
    std::string shown;
    for (char c : text) shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    return shown;
  }
  if (type == platform::kRegDword && data.size() == 4) {
    uint32_t value = static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
                     static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
  }
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char byte : data) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

bool SplitKeyArgument(const std::string& argument, platform::RegRoot* root, std::string* subkey) {
  size_t slash = argument.find('\\');
  std::string hive = argument.substr(0, slash);
  if (!platform::ParseRegRoot(hive, root)) return false;
  *subkey = slash == std::string::npos ? std::string() : argument.substr(slash + 1);
  return true;
}

}  // namespace orsareg
