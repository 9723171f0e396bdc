#include "text/XmlLimits.h"

#include <cctype>

#include "text/XmlMarkup.h"

namespace textutil {

namespace {

using Size = std::string::size_type;
constexpr Size npos = std::string::npos;

constexpr char kMarkupCharacters[] = "<>\"'";

bool IsMarkupCharacter(char c) { return c == '<' || c == '>' || c == '"' || c == '\''; }
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsValueCharacter(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == ':' || c == '-';
}

// The parser reads "<" followed by one of these as an element; it takes every
// byte above 0x7e for a letter.
bool StartsElementName(char c) {
  return IsAsciiLetter(c) || c == '_' || static_cast<unsigned char>(c) >= 0x7f;
}

bool StartsWithNoCase(const std::string& text, Size at, const char* prefix) {
  for (; *prefix != '\0'; ++prefix, ++at) {
    if (at >= text.size() ||
        std::tolower(static_cast<unsigned char>(text[at])) != static_cast<unsigned char>(*prefix)) {
      return false;
    }
  }
  return true;
}

// Bytes the parser takes as one character in UTF-8, by the character's first
// byte; it steps over the following ones without looking at them.
Size Utf8Length(unsigned char c) {
  if (c >= 0xc2 && c <= 0xdf) return 2;
  if (c >= 0xe0 && c <= 0xef) return 3;
  if (c >= 0xf0 && c <= 0xf4) return 4;
  return 1;
}

// Whether reading `xml` character by character as UTF-8 never steps over a
// markup character or past the end. The parser reads text and attribute
// values that way, always starting right after a markup character, so when
// this holds it sees every markup character the scan sees.
bool Utf8StepsStayInText(const std::string& xml) {
  // Over the bytes themselves: this runs over every byte of every document.
  const unsigned char* p = reinterpret_cast<const unsigned char*>(xml.data());
  const unsigned char* const end = p + xml.size();
  while (p < end) {
    if (*p < 0xc2) {  // a byte read alone
      ++p;
      continue;
    }
    const Size length = Utf8Length(*p);
    if (length > static_cast<Size>(end - p)) return false;
    for (Size k = 1; k < length; ++k) {
      if (IsMarkupCharacter(static_cast<char>(p[k]))) return false;
    }
    p += length;
  }
  return true;
}

// The parser takes "&#" and everything up to the next ";" as one character
// reference when the last few bytes before the ";" look like one; whatever
// lies between is skipped. No markup may lie there.
bool ReferencesStayInText(const std::string& xml) {
  Size semicolon = 0;  // the first ";" at or after the current reference's digits
  Size markup = 0;     // the first markup character at or after them
  for (Size i = xml.find("&#"); i != npos; i = xml.find("&#", i + 1)) {
    if (semicolon < i + 2) {
      semicolon = xml.find(';', i + 2);
      if (semicolon == npos) return true;
    }
    if (markup < i + 2) {
      markup = xml.find_first_of(kMarkupCharacters, i + 2);
      if (markup == npos) return true;
    }
    if (markup < semicolon) return false;
  }
  return true;
}

// Number of "=" outside quoted values in the tag xml[at, end): at least the
// number of attributes the parser will read from it.
Size AttributeCount(const std::string& xml, Size at, Size end) {
  Size count = 0;
  char quote = 0;
  for (const char *p = xml.data() + at, *stop = xml.data() + end; p < stop; ++p) {
    if (quote) {
      if (*p == quote) quote = 0;
    } else if (*p == '"' || *p == '\'') {
      quote = *p;
    } else if (*p == '=') {
      ++count;
    }
  }
  return count;
}

// The parser reads a construct starting "<?xml" as a declaration with its own
// rules: some attributes' quoted values may hold ">", anything else ends at
// the first ">". Only the plain form
//   <?xml name="value" ...?>   (letters as names, [A-Za-z0-9._:-] in values)
// is sure to end where the scan ends it. Returns one past its "?>", npos for
// any other form. `utf8` is set when the encoding it names makes the parser
// read the rest as UTF-8.
Size PlainDeclarationEnd(const std::string& xml, Size at, bool& utf8) {
  const Size n = xml.size();
  Size i = at + 5;  // past "<?xml"
  bool encodingNamed = false;
  Size encodingAt = 0;
  while (true) {
    const Size nameAt = i;
    while (i < n && IsSpace(xml[i])) ++i;
    if (xml.compare(i, 2, "?>") == 0) break;
    if (i == nameAt) return npos;  // names follow white space
    const Size name = i;
    while (i < n && IsAsciiLetter(xml[i])) ++i;
    if (i == name) return npos;
    while (i < n && IsSpace(xml[i])) ++i;
    if (i >= n || xml[i] != '=') return npos;
    ++i;
    while (i < n && IsSpace(xml[i])) ++i;
    if (i >= n || (xml[i] != '"' && xml[i] != '\'')) return npos;
    const char quote = xml[i++];
    const Size value = i;
    while (i < n && IsValueCharacter(xml[i])) ++i;
    if (i >= n || xml[i] != quote) return npos;
    ++i;
    // The parser tests the names in this order, each as a prefix.
    if (!StartsWithNoCase(xml, name, "version") && StartsWithNoCase(xml, name, "encoding")) {
      encodingNamed = i - 1 > value;
      encodingAt = value;
    }
  }
  if (!encodingNamed || StartsWithNoCase(xml, encodingAt, "utf-8") ||
      StartsWithNoCase(xml, encodingAt, "utf8")) {
    utf8 = true;
  }
  return i + 2;
}

// One past the first ">" from `at`; npos when there is none.
Size PastFirstGreater(const std::string& xml, Size at) {
  const Size end = xml.find('>', at);
  return end == npos ? npos : end + 1;
}

// XmlWithinLimits, with the elements counted so far in `elements`.
bool WithinLimits(const std::string& xml, XmlEncoding encoding, const XmlLimits& limits,
                  Size& elements) {
  bool utf8 = encoding == XmlEncoding::kUtf8 || xml.compare(0, 3, "\xEF\xBB\xBF") == 0;
  int depth = 0;
  for (Size i = xml.find('<'); i != npos;) {
    const char next = i + 1 < xml.size() ? xml[i + 1] : '\0';
    Size end = npos;
    if (next == '?' && StartsWithNoCase(xml, i, "<?xml")) {
      bool declaresUtf8 = false;
      end = PlainDeclarationEnd(xml, i, declaresUtf8);
      if (end == npos) return false;
      // Only a declaration outside every element sets how the parser reads.
      if (depth == 0 && declaresUtf8) utf8 = true;
    } else if (next == '!' || (next == '/' && depth > 0) || StartsElementName(next)) {
      const XmlMarkup markup = ScanXmlMarkup(xml, i);
      end = markup.end;
      if (StartsElementName(next)) {
        // Depth counts the element itself ("<a/>" alone nests one level), and
        // an unterminated tag counts too: the parser makes the element, and
        // reads its attributes, before it fails.
        if (depth >= limits.maxDepth || ++elements > limits.maxElements) return false;
        if (AttributeCount(xml, i, end == npos ? xml.size() : end) > limits.maxAttributes) {
          return false;
        }
        if (markup.kind == XmlMarkupKind::kStartTag) ++depth;
      } else if (markup.kind == XmlMarkupKind::kEndTag && end != npos) {
        --depth;
      }
    } else {
      // Any other "<" (a processing instruction, an end tag outside every
      // element, "<" before a digit) starts what the parser takes for an
      // unknown construct, which ends at its first ">".
      end = PastFirstGreater(xml, i + 1);
    }
    // The parser stops inside an unterminated construct too.
    if (end == npos) break;
    i = xml.find('<', end);
  }
  return ReferencesStayInText(xml) && (!utf8 || Utf8StepsStayInText(xml));
}

}  // namespace

bool XmlWithinLimits(const std::string& xml, XmlEncoding encoding, const XmlLimits& limits,
                     Size* counted) {
  Size elements = 0;
  const bool within = WithinLimits(xml, encoding, limits, elements);
  if (counted != nullptr) *counted = elements;
  return within;
}

}  // namespace textutil
