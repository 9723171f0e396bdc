#pragma once
// The management server's wire form: SOAP 1.1 envelopes, document/literal
// wrapped, every element under Body qualified with orsa::ws::kObxNamespace.
//
//   <ns:OPERATION><ns:message><ns:map><ns:item><ns:key>K</ns:key>
//   <ns:value>V</ns:value><ns:type>string</ns:type></ns:item>...</ns:map>...
//   </ns:message></ns:OPERATION>
//
// and the answer <ns:OPERATIONResponse> of the same shape. Shared by the
// host's SOAP invoker and by obx-server, so both ends speak the same form.
// Every function is reentrant and keeps no state.
#include <stdexcept>
#include <string>
#include <vector>

namespace orsahost {
namespace soap {

inline constexpr const char kEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";

struct Item {
  std::string key;
  std::string value;
  std::string type;
};
using Map = std::vector<Item>;
struct Message {
  std::vector<Map> maps;
};

// A SOAP Fault: what() is the faultstring (the faultcode when that is empty).
class Fault : public std::runtime_error {
 public:
  Fault(std::string code, const std::string& text);
  const std::string& code() const { return code_; }

 private:
  std::string code_;
};

// True for a name usable as an element name and a SOAPAction value: ASCII
// letters, digits, "_", "-", "." and not starting with a digit, "-" or ".".
bool IsValidOperationName(const std::string& name);

// The envelope whose Body holds <ns:wrapper><ns:message>...; `wrapper` must
// pass IsValidOperationName (std::invalid_argument otherwise). Values are
// escaped with textutil::EscapeXml (text/XmlEscape.h) and throw as it does for a
// control byte XML cannot carry.
std::string BuildEnvelope(const std::string& wrapper, const Message& message);

// A Fault envelope; control bytes in `text` become "?" so that reporting an
// error never fails itself. `code` is a faultcode such as "soap:Server".
std::string BuildFault(const std::string& code, const std::string& text);

struct Parsed {
  std::string wrapper;  // local name of the Body's element
  Message message;
};

// Reads an envelope, matching elements by local name and namespace URI
// whatever prefixes the sender chose. Elements of other namespaces inside the
// message are skipped. Throws Fault when the Body holds a SOAP Fault (its code
// and text cut with CutText, host/services/LogManager.h) and std::runtime_error when
// the text is not a well-formed envelope of this form (also for a document
// type declaration, which SOAP forbids, and for a text beyond the bounds of
// text/XmlLimits.h, which is never parsed).
// Whitespace in values is kept exactly.
Parsed ParseEnvelope(const std::string& xml);

}  // namespace soap
}  // namespace orsahost
