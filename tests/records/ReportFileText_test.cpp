#include "records/ReportFileText.h"

#include <gtest/gtest.h>
#include <tinyxml.h>

#include <string>

namespace {

// A file whose text reads alike as UTF-8 is parsed once; these texts hold
// what a one-pass reading could get wrong, and both readings must agree on
// each: whether it loads, and the records it gives.
TEST(ReportFileTextTest, OneParseReadsAsTheLoadAndCompactParseDo) {
  const struct {
    std::string text;
    bool alike;
  } cases[] = {
      {"<message>\n    <map type=\"versionInfo\" id=\"1\">\n        <item><key>k</key>"
       "<value>a  b &amp; &lt;c&gt; &quot;</value></item>\n    </map>\n</message>\n",
       true},
      {"<message><map id=\"\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80\"><!-- note --><![CDATA[<x>]]>"
       "</map></message>",
       true},
      {"<!-- before --><message>  padded   text  </message><!-- after -->", true},
      {"<message><map/></message>trailing", true},
      {"<message><map></message>", true},
      {"<message/>", true},
      {"", true},
      {"<message>&#xE9;&#233;&#x4E2D;</message>", false},
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><message>\xE9</message>", false},
      {"\xEF\xBB\xBF<message/>", false},
      {"<message>\xEF\xBF\xBE<map/></message>", false},
      {"<message>\xE9t\xE9</message>", false},
      {"<message>\r\n<map/>\r</message>", false},
      {std::string("<message/>\0<x", 13), false},
  };
  for (const auto& c : cases) {
    const std::string& text = c.text;
    SCOPED_TRACE(text);
    EXPECT_EQ(obx::ReadsAlikeAsUtf8(text), c.alike);
    TiXmlDocument once;
    TiXmlDocument loaded;
    const bool readOnce = obx::ParseReportFile(once, text);
    ASSERT_EQ(readOnce, obx::ParseReportFileAsLoaded(loaded, text));
    if (readOnce) {
      EXPECT_EQ(obx::CompactText(*once.RootElement()), obx::CompactText(*loaded.RootElement()));
    }
  }
}

}  // namespace
