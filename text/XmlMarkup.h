#pragma once
// A scanner for the markup constructs of an XML text, for code that has to
// see the raw text around what a parser reads: the SOAP reader protects
// whitespace before parsing, obx-server keeps each uploaded record exactly
// as it was sent, and XmlWithinLimits (text/XmlLimits.h) measures a
// text's nesting before it is parsed. Reentrant, no state.
#include <string>

namespace textutil {

enum class XmlMarkupKind {
  kComment,                // <!-- ... -->
  kCData,                  // <![CDATA[ ... ]]>
  kProcessingInstruction,  // <? ... ?>, also the XML declaration
  kDeclaration,            // any other <! ... >, such as a document type declaration
  kStartTag,               // <name ...>
  kEndTag,                 // </name>
  kEmptyElementTag,        // <name .../>
};

struct XmlMarkup {
  XmlMarkupKind kind;
  // One past the construct's last character; std::string::npos when the text
  // ends before the construct does.
  std::string::size_type end;
};

// The construct that starts at xml[at], which must be '<'. Inside a tag, a
// quoted attribute value may hold ">"; a declaration ends at its first ">".
XmlMarkup ScanXmlMarkup(const std::string& xml, std::string::size_type at);

}  // namespace textutil
