#include "text/XmlEscape.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <stdexcept>
#include <string>

namespace {

using textutil::EscapeXml;
using textutil::XmlControlBytes;

// Every text comes back byte for byte from attributes in both kinds of quotes
// (and so from content, which a reader normalises less).
TEST(XmlEscape, ReadsBackExactlyInEitherQuotes) {
  const struct {
    std::string text;
    std::string escaped;
  } cases[] = {
      {"a&b<c>d", "a&amp;b&lt;c&gt;d"},
      {"\"quoted\" 'single'", "&quot;quoted&quot; &apos;single&apos;"},
      {"line\r\nnext\ttab", "line&#13;\nnext\ttab"},
      {"\x7f\xc3\xa9", "\x7f\xc3\xa9"},
      // What a reader would skip as a byte-order mark goes as a reference.
      {"\xef\xbb\xbf"
       "a\xef\xbf\xbe\xef\xbf\xbf",
       "&#xFEFF;a&#xFFFE;&#xFFFF;"},
  };
  for (const auto& c : cases) {
    const std::string escaped = EscapeXml(c.text);
    EXPECT_EQ(escaped, c.escaped);
    TiXmlDocument doc;
    doc.Parse(("<e a=\"" + escaped + "\" b='" + escaped + "'/>").c_str(), nullptr,
              TIXML_ENCODING_UTF8);
    ASSERT_FALSE(doc.Error()) << c.escaped << ": " << doc.ErrorDesc();
    const TiXmlElement* e = doc.RootElement();
    EXPECT_EQ(std::string(e->Attribute("a")), c.text);
    EXPECT_EQ(std::string(e->Attribute("b")), c.text);
  }
}

TEST(XmlEscape, ControlBytesAreRefusedOrKeptAsTheCallerSays) {
  for (const std::string bad : {std::string("a\0b", 3), std::string("\x1f"), std::string("\x01")}) {
    EXPECT_THROW(EscapeXml(bad), std::runtime_error);
    EXPECT_EQ(EscapeXml(bad, XmlControlBytes::kKeep), bad);
  }
}

}  // namespace
