// The SOAP invoker against scripted loopback servers: what goes on the wire,
// how answers, Faults, HTTP errors and hung servers come back.
#include "host/services/WebServiceInvoker.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/services/SdoHelper.h"
#include "host/services/SoapCodec.h"
#include "orsa/IWebServiceInvoker.h"
#include "platform/StopToken.h"
#include "tests/host/LoopbackHttpServer.h"
#include "tests/host/WebServiceInvokerTest.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::HttpRequest;
using obxtest::HttpResponse;
using obxtest::LoopbackHttpServer;
using orsa::sdo::DataObjectPtr;
using orsahost::WebServiceInvoker;
using orsahost::WebServiceInvokerOptions;
using webserviceinvokertest::AnswerEnvelope;
using webserviceinvokertest::FailureOf;
using webserviceinvokertest::MakeMessage;

TEST(WebServiceInvoker, RequestFollowsWireContract) {
  LoopbackHttpServer server([](const HttpRequest&) {
    return HttpResponse(
        200, "OK",
        AnswerEnvelope("<r:updatePatchPolicyResponse "
                       "xmlns:r=\"urn:obx:patch:1\"><r:message/></r:updatePatchPolicyResponse>"));
  });
  WebServiceInvoker invoker;
  DataObjectPtr request = MakeMessage({{{"computerCode", "QUJD"},
                                        {"userName", "alice"},
                                        {"version", "3"},
                                        {"osVersion", "winxp"}}});
  DataObjectPtr response;
  EXPECT_EQ(invoker.invoke(server.Url("/obx/service").c_str(), "updatePatchPolicy", &request,
                           &response, 0, 0, 0, 0),
            0);

  ASSERT_EQ(server.Requests().size(), 1u);
  const HttpRequest r = server.Requests()[0];
  EXPECT_EQ(r.requestLine, "POST /obx/service HTTP/1.1");
  EXPECT_EQ(r.Values("Content-Type"), std::vector<std::string>{"text/xml; charset=utf-8"});
  EXPECT_EQ(r.Values("SOAPAction"), std::vector<std::string>{"\"updatePatchPolicy\""});
  EXPECT_EQ(r.Values("Content-Length"), std::vector<std::string>{std::to_string(r.body.size())});
  EXPECT_TRUE(r.Values("Transfer-Encoding").empty());
  EXPECT_TRUE(r.Values("Expect").empty());

  EXPECT_NE(r.body.find("<soap:Body><ns:updatePatchPolicy><ns:message><ns:map><ns:item>"
                        "<ns:key>computerCode</ns:key><ns:value>QUJD</ns:value>"
                        "<ns:type>string</ns:type></ns:item><ns:item><ns:key>userName</ns:key>"),
            std::string::npos)
      << r.body;
  EXPECT_NE(r.body.find("xmlns:ns=\"urn:obx:patch:1\""), std::string::npos);
  const orsahost::soap::Parsed sent = orsahost::soap::ParseEnvelope(r.body);
  EXPECT_EQ(sent.wrapper, "updatePatchPolicy");
  ASSERT_EQ(sent.message.maps.size(), 1u);
  ASSERT_EQ(sent.message.maps[0].size(), 4u);
  EXPECT_EQ(sent.message.maps[0][3].key, "osVersion");
  EXPECT_EQ(sent.message.maps[0][3].value, "winxp");
}

TEST(WebServiceInvoker, LargeBodyIsSentWithLengthAndWithoutExpect) {
  LoopbackHttpServer server([](const HttpRequest&) {
    return HttpResponse(
        200, "OK",
        AnswerEnvelope("<uploadExecuteResultResponse "
                       "xmlns=\"urn:obx:patch:1\"><message/></uploadExecuteResultResponse>"));
  });
  WebServiceInvoker invoker;
  DataObjectPtr request = MakeMessage({{{"infos", std::string(300000, 'A')}}});
  DataObjectPtr response;
  invoker.invoke(server.Url("/s").c_str(), "uploadExecuteResult", &request, &response, 0, 0, 0, 0);
  ASSERT_EQ(server.Requests().size(), 1u);
  const HttpRequest r = server.Requests()[0];
  EXPECT_TRUE(r.Values("Expect").empty());
  EXPECT_TRUE(r.Values("Transfer-Encoding").empty());
  EXPECT_EQ(r.Values("Content-Length"), std::vector<std::string>{std::to_string(r.body.size())});
  EXPECT_GT(r.body.size(), 300000u);
}

TEST(WebServiceInvoker, AnswerBecomesMessageWhateverThePrefixes) {
  // Default namespace on the wrapper, a prefix on the envelope, layout
  // whitespace between elements, two maps.
  LoopbackHttpServer server([](const HttpRequest&) {
    return HttpResponse(
        200, "OK",
        AnswerEnvelope(
            "<uploadExecuteStatusResponse xmlns=\"urn:obx:patch:1\">\n  <message>\n"
            "    <map><item><key>result</key><value>true</value><type>string</type></item></map>\n"
            "    <p:map xmlns:p=\"urn:obx:patch:1\"><p:item><p:key>a</p:key><p:value/>"
            "<p:type>string</p:type></p:item><p:item><p:key>b</p:key><p:value>2</p:value>"
            "<p:type>string</p:type></p:item></p:map>\n"
            "  </message>\n</uploadExecuteStatusResponse>"));
  });
  WebServiceInvoker invoker;
  DataObjectPtr response;
  ASSERT_EQ(FailureOf(invoker, server.Url("/s"), "uploadExecuteStatus", response), "");
  ASSERT_TRUE(response);
  EXPECT_EQ(response->getType(), "Message");
  EXPECT_EQ(response->getNamespace(), "urn:obx:patch:1");
  orsa::sdo::IDataObjectList& maps = response->getList("map");
  ASSERT_EQ(maps.size(), 2u);
  ASSERT_EQ(maps.get(0)->getList("item").size(), 1u);
  EXPECT_EQ(maps.get(0)->getList("item").get(0)->getCString("key"), "result");
  EXPECT_EQ(maps.get(0)->getList("item").get(0)->getCString("value"), "true");
  EXPECT_EQ(maps.get(0)->getList("item").get(0)->getCString("type"), "string");
  ASSERT_EQ(maps.get(1)->getList("item").size(), 2u);
  EXPECT_EQ(maps.get(1)->getList("item").get(0)->getCString("value"), "");
  EXPECT_EQ(maps.get(1)->getList("item").get(1)->getCString("value"), "2");
}

TEST(WebServiceInvoker, SpecialCharactersRoundTrip) {
  // The server echoes the request's message back unchanged, so what comes
  // back went through our escaping and our parsing once each.
  LoopbackHttpServer server([](const HttpRequest& r) {
    std::string body = r.body;
    const std::string open = "<ns:uploadExecuteResult>", close = "</ns:uploadExecuteResult>";
    body.replace(body.find(open), open.size(), "<ns:uploadExecuteResultResponse>");
    body.replace(body.find(close), close.size(), "</ns:uploadExecuteResultResponse>");
    return HttpResponse(200, "OK", body);
  });
  const std::vector<std::string> values = {
      "a<b&c>d",
      "<map type=\"x\" id=\"1\" ><item><key>r1</key><value>1 & 2</value></item></map>",
      "&amp; stays literal &lt;",
      "  two  spaces and trailing  ",
      "line1\nline2\r\nline3\rend\t",
      " ",
      "]]> and <![CDATA[ text",
      "\xe4\xb8\xad\xe6\x96\x87 utf-8",
  };
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t i = 0; i < values.size(); ++i)
    entries.emplace_back("k" + std::to_string(i), values[i]);
  DataObjectPtr request = MakeMessage({entries});
  DataObjectPtr response;
  WebServiceInvoker invoker;
  invoker.invoke(server.Url("/s").c_str(), "uploadExecuteResult", &request, &response, 0, 0, 0, 0);
  ASSERT_TRUE(response);
  orsa::sdo::IDataObjectList& items = response->getList("map").get(0)->getList("item");
  ASSERT_EQ(items.size(), values.size());
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(items.get(static_cast<uint32_t>(i))->getCString("value"), values[i]) << "value " << i;
  }
  // On the wire the markup characters are escaped, never raw.
  const std::string body = server.Requests()[0].body;
  EXPECT_NE(body.find("<ns:value>a&lt;b&amp;c&gt;d</ns:value>"), std::string::npos);
}

TEST(WebServiceInvoker, FaultThrowsFaultTextAndLeavesResponseAlone) {
  for (int status : {500, 200}) {
    LoopbackHttpServer server([status](const HttpRequest&) {
      return HttpResponse(
          status, status == 500 ? "Internal Server Error" : "OK",
          AnswerEnvelope("<e:Fault><faultcode>e:Server</faultcode>"
                         "<faultstring>policy store &lt;unavailable&gt;</faultstring></e:Fault>"));
    });
    WebServiceInvoker invoker;
    DataObjectPtr response;
    EXPECT_EQ(FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response),
              "policy store <unavailable>")
        << "status " << status;
    EXPECT_FALSE(response);
  }
}

// A hostile server's texts reach the caller's log only cut, and an answer
// nested too deep is refused before it is parsed.
TEST(WebServiceInvoker, OutsideTextsAreCutAndDeepAnswersRefused) {
  const std::string huge(4 << 20, 'f');
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<a>";
  const std::string answers[] = {
      AnswerEnvelope("<e:Fault><faultcode>e:Server</faultcode><faultstring>" + huge +
                     "</faultstring></e:Fault>"),
      AnswerEnvelope("<ns:" + huge + " xmlns:ns=\"urn:obx:patch:1\"><ns:message/></ns:" + huge +
                     ">"),
      AnswerEnvelope(nested),
  };
  for (const std::string& body : answers) {
    const std::string answer = HttpResponse(200, "OK", body);
    LoopbackHttpServer server([answer](const HttpRequest&) { return answer; });
    WebServiceInvoker invoker;
    DataObjectPtr response;
    const std::string failure = FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response);
    EXPECT_FALSE(failure.empty());
    EXPECT_LT(failure.size(), 1200u) << failure.substr(0, 200);
  }
}

TEST(WebServiceInvoker, HttpErrorsAndBadAnswersThrow) {
  struct Case {
    const char* name;
    std::string answer;
    const char* expected;  // part of the exception text
  };
  const std::string good = AnswerEnvelope(
      "<ns:updatePatchPolicyResponse xmlns:ns=\"urn:obx:patch:1\"><ns:message/>"
      "</ns:updatePatchPolicyResponse>");
  const std::vector<Case> cases = {
      {"500 without Fault", HttpResponse(500, "Internal Server Error", "oops", "text/plain"),
       "HTTP status 500"},
      {"404 with a valid envelope", HttpResponse(404, "Not Found", good), "HTTP status 404"},
      {"redirect not followed",
       "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/x\r\nContent-Length: 0\r\n\r\n",
       "HTTP status 302"},
      {"not XML", HttpResponse(200, "OK", "hello"), "malformed"},
      {"not an envelope", HttpResponse(200, "OK", "<a/>"), "Envelope"},
      {"answer for another operation",
       HttpResponse(200, "OK",
                    AnswerEnvelope("<ns:uploadExecuteResultResponse "
                                   "xmlns:ns=\"urn:obx:patch:1\"><ns:message/>"
                                   "</ns:uploadExecuteResultResponse>")),
       "unexpected answer element uploadExecuteResultResponse"},
      {"wrong namespace",
       HttpResponse(200, "OK",
                    AnswerEnvelope("<ns:updatePatchPolicyResponse xmlns:ns=\"urn:other\">"
                                   "<ns:message/></ns:updatePatchPolicyResponse>")),
       "namespace"},
      {"document type declaration",
       HttpResponse(200, "OK", "<!DOCTYPE x [<!ENTITY a \"b\">]>" + good), "document type"},
  };
  for (const Case& c : cases) {
    const std::string answer = c.answer;
    LoopbackHttpServer server([answer](const HttpRequest&) { return answer; });
    WebServiceInvoker invoker;
    DataObjectPtr response;
    const std::string failure = FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response);
    EXPECT_NE(failure.find(c.expected), std::string::npos) << c.name << ": " << failure;
    EXPECT_FALSE(response) << c.name;
  }
}

TEST(WebServiceInvoker, HungServerEndsInTimeOut) {
  LoopbackHttpServer server([](const HttpRequest&) { return std::string(); });
  WebServiceInvokerOptions options;
  options.totalTimeoutMs = 300;
  WebServiceInvoker invoker(options);
  DataObjectPtr response;
  const std::string failure = FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response);
  EXPECT_NE(failure.find("timed out"), std::string::npos) << failure;
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(WebServiceInvoker, QuitRequestAbortsTransfer) {
  LoopbackHttpServer server([](const HttpRequest&) { return std::string(); });
  std::atomic<int> polls{0};
  WebServiceInvokerOptions options;
  options.totalTimeoutMs = 600000;  // only the quit request can end this call
  options.cancelRequested = [&polls] { return ++polls >= 2; };
  WebServiceInvoker invoker(options);
  DataObjectPtr response;
  const std::string failure = FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response);
  EXPECT_NE(failure.find("cancelled by a quit request"), std::string::npos) << failure;
  EXPECT_GE(polls.load(), 2);
}

TEST(WebServiceInvoker, WorkerQuitRequestAbortsTransferByDefault) {
  LoopbackHttpServer server([](const HttpRequest&) { return std::string(); });
  platform::StopSource stop;
  stop.RequestStop();
  platform::ScopedStopToken current(stop.Token());
  WebServiceInvokerOptions options;
  options.totalTimeoutMs = 600000;
  WebServiceInvoker invoker(options);
  DataObjectPtr response;
  const std::string failure = FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response);
  EXPECT_NE(failure.find("cancelled by a quit request"), std::string::npos) << failure;
}

TEST(WebServiceInvoker, OversizedAnswerIsRefused) {
  LoopbackHttpServer server(
      [](const HttpRequest&) { return HttpResponse(200, "OK", std::string(100000, ' ')); });
  WebServiceInvokerOptions options;
  options.maxResponseBytes = 1000;
  WebServiceInvoker invoker(options);
  DataObjectPtr response;
  EXPECT_NE(FailureOf(invoker, server.Url("/s"), "updatePatchPolicy", response).find("limit"),
            std::string::npos);
}

TEST(WebServiceInvoker, RefusedCallsSendNothing) {
  LoopbackHttpServer server([](const HttpRequest&) { return HttpResponse(200, "OK", ""); });
  WebServiceInvoker invoker;
  DataObjectPtr response;
  // A name that would inject a header or break the envelope.
  for (const char* op : {"", "update Policy", "x\r\nX-Evil: 1", "a\"b", "<x>", "1abc"}) {
    EXPECT_NE(FailureOf(invoker, server.Url("/s"), op, response), "") << op;
  }
  // Only http and https.
  EXPECT_NE(FailureOf(invoker, "file:///etc/passwd", "updatePatchPolicy", response), "");
  // A value XML cannot carry.
  DataObjectPtr bad = MakeMessage({{{"infos", std::string("a\x01") + "b"}}});
  EXPECT_THROW(
      invoker.invoke(server.Url("/s").c_str(), "uploadExecuteResult", &bad, &response, 0, 0, 0, 0),
      std::runtime_error);
  // An empty request pointer.
  DataObjectPtr empty;
  try {
    invoker.invoke(server.Url("/s").c_str(), "uploadExecuteResult", &empty, &response, 0, 0, 0, 0);
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "NullPointer");
  }
  EXPECT_TRUE(server.Requests().empty());
  EXPECT_FALSE(response);
}

// The fields a caller adds go out as sent; the answer's fields and both
// bodies come back byte for byte, the fields of an interim answer dropped.
TEST(WebServiceInvoker, ExchangePassesFieldsAndBodiesBothWays) {
  const std::string answer = AnswerEnvelope(
      "<r:uploadExecuteStatusResponse xmlns:r=\"urn:obx:patch:1\"><r:message/>"
      "</r:uploadExecuteStatusResponse>");
  LoopbackHttpServer server([&answer](const HttpRequest&) {
    std::string reply = HttpResponse(200, "OK", answer);
    reply.insert(reply.find("\r\n") + 2, "X-Obx-Signature: c2ln\r\n");
    return "HTTP/1.1 100 Continue\r\nX-Early: 1\r\n\r\n" + reply;
  });
  WebServiceInvoker invoker;
  DataObjectPtr request = MakeMessage({{{"infos", "x"}}});
  DataObjectPtr response;
  orsa::ws::SoapExchange exchange;
  exchange.requestHeaders = {{"X-Obx-Nonce", "00ff"}, {"X-Obx-Key", "2"}};
  invoker.invokeExchange(server.Url("/s").c_str(), "uploadExecuteStatus", &request, &response,
                         &exchange);
  ASSERT_EQ(server.Requests().size(), 1u);
  const HttpRequest r = server.Requests()[0];
  EXPECT_EQ(r.Values("X-Obx-Nonce"), std::vector<std::string>{"00ff"});
  EXPECT_EQ(r.Values("X-Obx-Key"), std::vector<std::string>{"2"});
  EXPECT_EQ(exchange.requestBody, r.body);
  EXPECT_EQ(exchange.answerBody, answer);
  std::vector<std::string> names;
  for (const auto& field : exchange.answerHeaders) names.push_back(field.first);
  EXPECT_EQ(names, (std::vector<std::string>{"X-Obx-Signature", "Content-Type", "Content-Length",
                                             "Connection"}));
  EXPECT_EQ(exchange.answerHeaders[0].second, "c2ln");

  // A field that would end the head or start another is refused unsent.
  for (const auto& bad :
       orsa::ws::SoapExchange::Fields{{"X-A", "1\r\nX-Evil: 1"}, {"X A", "1"}, {"", "1"}}) {
    orsa::ws::SoapExchange refused;
    refused.requestHeaders = {bad};
    EXPECT_THROW(invoker.invokeExchange(server.Url("/s").c_str(), "uploadExecuteStatus", &request,
                                        &response, &refused),
                 std::runtime_error);
  }
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(WebServiceInvoker, ClosedPortThrows) {
  int port = 0;
  {
    LoopbackHttpServer gone([](const HttpRequest&) { return std::string(); });
    port = gone.Port();
  }
  WebServiceInvoker invoker;
  DataObjectPtr response;
  EXPECT_NE(FailureOf(invoker, "http://127.0.0.1:" + std::to_string(port) + "/s",
                      "updatePatchPolicy", response),
            "");
}

}  // namespace
