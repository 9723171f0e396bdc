// The wire form shared by the invoker and obx-server.
#include "host/services/SoapCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace orsahost::soap;

std::string Wrap(const std::string& value) {
  return "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
         "<o:opResponse xmlns:o=\"urn:obx:patch:1\"><o:message><o:map><o:item><o:key>k</o:key>"
         "<o:value>" +
         value +
         "</o:value><o:type>string</o:type></o:item></o:map></o:message>"
         "</o:opResponse></s:Body></s:Envelope>";
}

TEST(SoapCodec, ValueTextIsReadExactly) {
  struct Case {
    std::string wire;
    std::string value;
  };
  const std::vector<Case> cases = {
      {"plain", "plain"},
      {"  lead and trail  ", "  lead and trail  "},
      {"a \t\n b", "a \t\n b"},
      {"crlf\r\nand\rcr", "crlf\nand\ncr"},  // line ends normalised as XML requires
      {"&#13;kept", "\rkept"},
      {"   ", "   "},
      {"", ""},
      {"&lt;map&gt; &amp; &quot;&apos;", "<map> & \"'"},
      {"<![CDATA[<raw> & ]]>", "<raw> & "},
      {"a<!-- note -->b", "ab"},
      {"&#x4e2d;", "\xe4\xb8\xad"},
  };
  for (const Case& c : cases) {
    const Parsed p = ParseEnvelope(Wrap(c.wire));
    ASSERT_EQ(p.message.maps.size(), 1u) << c.wire;
    ASSERT_EQ(p.message.maps[0].size(), 1u) << c.wire;
    EXPECT_EQ(p.message.maps[0][0].value, c.value) << c.wire;
    EXPECT_EQ(p.message.maps[0][0].key, "k");
  }
}

TEST(SoapCodec, BuildThenParseGivesBackEveryValue) {
  Message m;
  m.maps.push_back({{"infos", "a<b&c> \"q\" 'a'", "string"}, {"", "", ""}});
  m.maps.push_back({});
  m.maps.push_back({{"x", "\r\n\t x \r", "string"}});
  const Parsed p = ParseEnvelope(BuildEnvelope("uploadExecuteStatus", m));
  EXPECT_EQ(p.wrapper, "uploadExecuteStatus");
  ASSERT_EQ(p.message.maps.size(), 3u);
  EXPECT_EQ(p.message.maps[0][0].value, "a<b&c> \"q\" 'a'");
  EXPECT_EQ(p.message.maps[0][1].key, "");
  EXPECT_TRUE(p.message.maps[1].empty());
  EXPECT_EQ(p.message.maps[2][0].value, "\r\n\t x \r");
}

TEST(SoapCodec, ElementsOfOtherNamespacesAreSkipped) {
  const std::string xml =
      "<Envelope xmlns=\"http://schemas.xmlsoap.org/soap/envelope/\"><Header/><Body>"
      "<opResponse xmlns=\"urn:obx:patch:1\"><message>"
      "<map xmlns=\"urn:other\"><item><key>foreign</key></item></map>"
      "<map><item><key>ours</key><extra xmlns=\"urn:x\">z</extra><value>v</value></item>"
      "<o:item xmlns:o=\"urn:other\"/></map>"
      "</message></opResponse></Body></Envelope>";
  const Parsed p = ParseEnvelope(xml);
  EXPECT_EQ(p.wrapper, "opResponse");
  ASSERT_EQ(p.message.maps.size(), 1u);
  ASSERT_EQ(p.message.maps[0].size(), 1u);
  EXPECT_EQ(p.message.maps[0][0].key, "ours");
  EXPECT_EQ(p.message.maps[0][0].value, "v");
}

TEST(SoapCodec, FaultCarriesFaultstringOrCode) {
  try {
    ParseEnvelope(BuildFault("soap:Server", "no \x01 policy <here>"));
    FAIL();
  } catch (const Fault& f) {
    EXPECT_STREQ(f.what(), "no ? policy <here>");
    EXPECT_EQ(f.code(), "soap:Server");
  }
  try {
    ParseEnvelope(
        "<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"><e:Body><e:Fault>"
        "<faultcode>e:Client</faultcode></e:Fault></e:Body></e:Envelope>");
    FAIL();
  } catch (const Fault& f) {
    EXPECT_STREQ(f.what(), "e:Client");
  }
}

TEST(SoapCodec, MalformedMessagesAreRefused) {
  const std::vector<std::string> bad = {
      "",
      "<unclosed",
      "<a><b></a>",
      "<Envelope><Body/></Envelope>",  // no SOAP namespace
      "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\"><s:Body/></s:Envelope>",
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"/>",
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body/></s:Envelope>",
      "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
      "<o:op xmlns:o=\"urn:obx:patch:1\"/></s:Body></s:Envelope>",  // no message
      "<!DOCTYPE s [<!ENTITY e SYSTEM \"file:///etc/passwd\">]>" + Wrap("&e;"),
  };
  for (const std::string& xml : bad) {
    EXPECT_THROW(ParseEnvelope(xml), std::runtime_error) << xml;
  }
}

TEST(SoapCodec, OperationNamesAreChecked) {
  for (const char* ok : {"updatePatchPolicy", "_a", "a-b.c9"})
    EXPECT_TRUE(IsValidOperationName(ok)) << ok;
  for (const char* no : {"", "9a", "-a", ".a", "a b", "a:b", "a\"", "a\n"})
    EXPECT_FALSE(IsValidOperationName(no)) << no;
  EXPECT_THROW(BuildEnvelope("a b", Message()), std::invalid_argument);
}

TEST(SoapCodec, DeepAnswerIsRefusedAndFaultTextsAreCut) {
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<o:x>";
  EXPECT_THROW(ParseEnvelope(Wrap(nested)), std::runtime_error);
  const std::string big(300000, 'x');
  try {
    ParseEnvelope(
        "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\"><s:Body>"
        "<s:Fault><faultcode>" +
        big + "</faultcode><faultstring>" + big.substr(0, 1023) + "\xc3\xa9" + big +
        "</faultstring></s:Fault></s:Body></s:Envelope>");
    ADD_FAILURE() << "no Fault";
  } catch (const Fault& f) {
    // The cut never splits a UTF-8 character: here it keeps 1023 bytes.
    EXPECT_EQ(std::string(f.what()), big.substr(0, 1023) + "...(300002 bytes cut)");
    EXPECT_EQ(f.code(), big.substr(0, 1024) + "...(298976 bytes cut)");
  }
}

}  // namespace
