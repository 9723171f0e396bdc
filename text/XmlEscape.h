#pragma once
// Text written into an XML document, as element content or as an attribute
// value in either kind of quotes, such that a reader gives back exactly the
// same bytes.
#include <string>

namespace textutil {

// What to do with a control byte that XML 1.0 cannot carry at all (below 0x20
// other than tab, LF and CR; not even as a character reference).
enum class XmlControlBytes {
  kRefuse,  // throw std::runtime_error
  kKeep,    // copy it: the document does not parse, which its reader reports
};

// `text` with "&", "<", ">", '"' and "'" as entities, CR as "&#13;" (a reader
// turns a raw CR into LF), and U+FEFF, U+FFFE and U+FFFF as character
// references (readers skip them wherever they stand, as byte-order marks).
// Every other byte passes unchanged: texts are expected in UTF-8.
std::string EscapeXml(const std::string& text, XmlControlBytes controls = XmlControlBytes::kRefuse);

}  // namespace textutil
