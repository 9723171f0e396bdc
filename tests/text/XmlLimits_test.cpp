// The markup scanner, and the bounds checked before the parser sees a text:
// what the check counts must be what the parser (TinyXML) will build.
#include "text/XmlLimits.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <algorithm>
#include <string>

#include "text/XmlMarkup.h"

namespace {

using textutil::XmlEncoding;
using textutil::XmlLimits;
using textutil::XmlWithinLimits;

std::string Repeat(const std::string& part, int times) {
  std::string text;
  for (int i = 0; i < times; ++i) text += part;
  return text;
}

int ParsedDepth(const TiXmlNode& node) {
  int depth = 0;
  for (const TiXmlNode* c = node.FirstChild(); c; c = c->NextSibling()) {
    depth = std::max(depth, ParsedDepth(*c) + (c->ToElement() ? 1 : 0));
  }
  return depth;
}

TEST(XmlMarkup, EachConstructEndsWhereItsTerminatorIs) {
  using textutil::XmlMarkupKind;
  const size_t npos = std::string::npos;
  struct Case {
    const char* text;
    XmlMarkupKind kind;
    size_t end;
  };
  const Case cases[] = {
      {"<a>x", XmlMarkupKind::kStartTag, 3},
      {"<a b=\"1>2\" c='>'>x", XmlMarkupKind::kStartTag, 17},
      {"</a >x", XmlMarkupKind::kEndTag, 5},
      {"<a b=\"/\"/>x", XmlMarkupKind::kEmptyElementTag, 10},
      {"<!-- <a> -->x", XmlMarkupKind::kComment, 12},
      {"<!-->x-->", XmlMarkupKind::kComment, 9},
      {"<![CDATA[</a>]]>x", XmlMarkupKind::kCData, 16},
      {"<?xml version=\"1.0\"?>x", XmlMarkupKind::kProcessingInstruction, 21},
      {"<!DOCTYPE a>x", XmlMarkupKind::kDeclaration, 12},
      {"<a b=\">", XmlMarkupKind::kStartTag, npos},
      {"<!-- open", XmlMarkupKind::kComment, npos},
  };
  for (const Case& c : cases) {
    const textutil::XmlMarkup markup = textutil::ScanXmlMarkup(c.text, 0);
    EXPECT_EQ(static_cast<int>(markup.kind), static_cast<int>(c.kind)) << c.text;
    EXPECT_EQ(markup.end, c.end) << c.text;
  }
}

TEST(XmlLimits, CountsDepthElementsAndAttributesOfEachElement) {
  struct Case {
    std::string text;
    XmlLimits limits;
    bool within;
  };
  const Case cases[] = {
      {"<a><b/></a>", {2, 2, 0}, true},
      {"<a><b/></a>", {1, 2, 0}, false},  // "<b/>" nests a second level
      {"<a><b/><b/></a>", {2, 2, 0}, false},
      {"<a x=\"=\" y='2'/>", {1, 1, 2}, true},
      {"<a x=\"1\" y='2'/>", {1, 1, 1}, false},
      {"<a><b", {1, 9, 9}, false},  // an unterminated tag still makes an element
      {"<a x='1' y='2'", {9, 9, 1}, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XmlWithinLimits(c.text, XmlEncoding::kUtf8, c.limits), c.within) << c.text;
  }
}

// The parser reads several constructs unlike XML; nesting behind any of them
// must count. For every text the check agrees with the depth the parser builds.
TEST(XmlLimits, AgreesWithTheDepthTheParserBuilds) {
  const std::string deep = Repeat("<b>", 50);
  struct Case {
    std::string text;
    XmlEncoding encoding;
  };
  const Case cases[] = {
      {"<a><!--" + deep + "--><![CDATA[" + deep + "]]><c d='" + deep + "'/></a>",
       XmlEncoding::kUtf8},
      {"<?xml version=\"1.0\" encoding=\"utf-8\"?><a>\xe4\xb8\xad</a>", XmlEncoding::kDetect},
      {"<a cn=\"\xe4\xd0\"/>", XmlEncoding::kDetect},  // a legacy code page, read byte by byte
      {Repeat("</x>", 60) + deep, XmlEncoding::kUtf8},
      {"<a><?pi x=\">" + deep + "\"?></a>", XmlEncoding::kUtf8},
      {"<a><1 \">" + deep + "\"></a>", XmlEncoding::kUtf8},
      {"<a>\xe0<!" + deep + "--></a>", XmlEncoding::kUtf8},
      {"<a cn=\"\xe4\xd0\" x=\">" + deep + "\"/>", XmlEncoding::kUtf8},
      {"<a><?xml version=\"?><!--\">" + deep + "--></a>", XmlEncoding::kUtf8},
      {"<a>&#x<!--x;" + deep + "--></a>", XmlEncoding::kUtf8},
  };
  for (const Case& c : cases) {
    TiXmlDocument doc;
    doc.Parse(c.text.c_str(), nullptr,
              c.encoding == XmlEncoding::kUtf8 ? TIXML_ENCODING_UTF8 : TIXML_ENCODING_UNKNOWN);
    EXPECT_EQ(XmlWithinLimits(c.text, c.encoding, {8, 1000, 8}), ParsedDepth(doc) <= 8) << c.text;
  }
}

TEST(XmlLimits, RefusesHundredThousandLevelsAndPassesLargePolicies) {
  EXPECT_FALSE(
      XmlWithinLimits(Repeat("<a>", 100000) + Repeat("</a>", 100000), XmlEncoding::kDetect));
  const std::string task =
      "<patch policyid=\"1\"><check_os valid=\"windows\" validversion=\"\"/><bootdownload "
      "url=\"http://s/b.sh\" md5=\"0\" type=\"http\" validtime=\"8-18\"/><download url=\"u\" "
      "md5=\"0\" filename=\"f\" type=\"http\" validtime=\"\"/><exec runtype=\"1\"/><msgbox "
      "style=\"0\" en=\"e\" cn=\"c\"/><check_composite valid=\"\" validversion=\"\" invalid=\"\" "
      "invalidversions=\"\"/></patch>";
  EXPECT_TRUE(
      XmlWithinLimits("<?xml version='1.0' encoding='UTF-8' standalone='yes'?>\n"
                      "<patchs version=\"3\">" +
                          Repeat(task, 20000) + "</patchs>",
                      XmlEncoding::kDetect));
  // Forms the check cannot vouch for are refused.
  EXPECT_FALSE(XmlWithinLimits("<?xml-stylesheet href=\"a.xsl\"?><a/>", XmlEncoding::kUtf8));
  EXPECT_FALSE(XmlWithinLimits("<a>\xe4", XmlEncoding::kUtf8));
}

}  // namespace
