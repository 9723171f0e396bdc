#pragma once
// Bounds on the shape of an XML text, checked before the parser sees it. The
// parser (TinyXML) recurses once per nesting level, so a text nested 100,000
// levels deep overflows the stack and its parse time grows with the square of
// the depth; it also looks for a duplicate attribute by walking the element's
// attributes, so one element with 40,000 attributes takes seconds. Every XML
// text that comes from outside the process (an answer, a stored file, an
// upload) passes XmlWithinLimits first and counts as malformed when it fails.
#include <cstddef>
#include <string>

namespace textutil {

// This system's documents nest fewer than ten levels (a SOAP answer:
// Envelope, Body, operation, message, map, item, value).
inline constexpr int kXmlMaxDepth = 256;
// A policy of 10,000 tasks holds about 90,000 elements, a report record about
// sixty: room for a hundred thousand tasks, or as many records.
inline constexpr std::size_t kXmlMaxElements = 1000000;
// Attributes of one element; the widest element of a policy has five, a SOAP
// envelope carries a few namespace declarations.
inline constexpr std::size_t kXmlMaxAttributes = 64;

struct XmlLimits {
  int maxDepth = kXmlMaxDepth;
  std::size_t maxElements = kXmlMaxElements;
  std::size_t maxAttributes = kXmlMaxAttributes;  // of one element
};

// How the parser will read bytes above 0x7f. kUtf8: it is told the text is
// UTF-8. kDetect: it takes the text as UTF-8 after a byte order mark or an XML
// declaration naming UTF-8 (or no encoding), as single bytes otherwise.
enum class XmlEncoding { kUtf8, kDetect };

// True when the elements of `xml`, counted the way the parser will read the
// text, nest no deeper than limits.maxDepth, number no more than
// limits.maxElements and carry no more than limits.maxAttributes each.
// Markup inside comments, CDATA sections and attribute values does not count;
// an end tag with no element open closes nothing. A text that ends inside a
// construct is measured up to there (the parser stops there as well).
//
// Also false when the parser would step over markup without looking at it,
// so that no count could be vouched for: a byte that begins a multibyte UTF-8
// character followed by "<", ">" or a quote (or by the text's end), "&#"
// followed by one of those before its ";", or a construct starting "<?xml"
// (any case) other than a declaration of plain name="value" pairs. None of
// these occurs in this system's documents.
//
// Linear in the text's length; reentrant, allocates nothing.
// `elements`, when given, receives the number of elements counted (up to the
// one past the limit when that ended the count).
bool XmlWithinLimits(const std::string& xml, XmlEncoding encoding,
                     const XmlLimits& limits = XmlLimits(), std::size_t* elements = nullptr);

}  // namespace textutil
