#include "host/services/SoapCodec.h"

#include <tinyxml.h>

#include <cstring>
#include <utility>

#include "host/services/LogManager.h"
#include "orsa/IWebServiceInvoker.h"
#include "text/XmlEscape.h"
#include "text/XmlLimits.h"
#include "text/XmlMarkup.h"

namespace orsahost {
namespace soap {

namespace {

bool StartsWith(const std::string& text, size_t at, const char* prefix) {
  return text.compare(at, std::strlen(prefix), prefix) == 0;
}

bool IsXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// TinyXML collapses runs of raw whitespace in text and drops whitespace-only
// text nodes unless its process-wide "condense" switch is off; flipping that
// switch would change every other TinyXML user in the process. So the text
// is rewritten before parsing: whitespace inside text becomes character
// references (which TinyXML keeps), and a whitespace-only element content
// becomes a CDATA section (which it also keeps). Line ends are normalised as
// an XML reader must: CR LF and a lone CR are LF.
std::string ProtectWhitespace(const std::string& xml) {
  std::string out;
  out.reserve(xml.size() + xml.size() / 8);
  bool afterStartTag = false;
  size_t i = 0;
  const size_t n = xml.size();
  while (i < n) {
    if (xml[i] == '<') {
      const textutil::XmlMarkup markup = textutil::ScanXmlMarkup(xml, i);
      if (markup.kind == textutil::XmlMarkupKind::kDeclaration) {
        throw std::runtime_error("malformed SOAP message: document type declarations are refused");
      }
      if (markup.end == std::string::npos) {
        throw std::runtime_error("malformed XML: unterminated markup");
      }
      out.append(xml, i, markup.end - i);
      afterStartTag = markup.kind == textutil::XmlMarkupKind::kStartTag;
      i = markup.end;
      continue;
    }
    size_t end = xml.find('<', i);
    if (end == std::string::npos) end = n;
    bool blank = true;
    for (size_t k = i; k < end && blank; ++k) blank = IsXmlSpace(xml[k]);
    if (blank) {
      if (afterStartTag && end < n && StartsWith(xml, end, "</")) {
        out += "<![CDATA[";
        for (size_t k = i; k < end; ++k) {
          if (xml[k] == '\r') {
            out += '\n';
            if (k + 1 < end && xml[k + 1] == '\n') ++k;
          } else {
            out += xml[k];
          }
        }
        out += "]]>";
      } else {
        out.append(xml, i, end - i);  // layout between elements
      }
    } else {
      for (size_t k = i; k < end; ++k) {
        switch (xml[k]) {
          case ' ':
            out += "&#32;";
            break;
          case '\t':
            out += "&#9;";
            break;
          case '\n':
            out += "&#10;";
            break;
          case '\r':
            out += "&#10;";
            if (k + 1 < end && xml[k + 1] == '\n') ++k;
            break;
          default:
            out += xml[k];
        }
      }
    }
    afterStartTag = false;
    i = end;
  }
  return out;
}

std::string LocalName(const TiXmlElement& e) {
  const std::string& name = e.ValueStr();
  size_t colon = name.find(':');
  return colon == std::string::npos ? name : name.substr(colon + 1);
}

// The namespace URI bound to the element's prefix (or the default namespace)
// on the element itself or the nearest ancestor that declares it.
std::string NamespaceOf(const TiXmlElement& e) {
  const std::string& name = e.ValueStr();
  size_t colon = name.find(':');
  const std::string attribute =
      colon == std::string::npos ? std::string("xmlns") : "xmlns:" + name.substr(0, colon);
  for (const TiXmlNode* node = &e; node != nullptr; node = node->Parent()) {
    const TiXmlElement* element = node->ToElement();
    if (element == nullptr) break;
    if (const std::string* uri = element->Attribute(attribute)) return *uri;
  }
  return std::string();
}

bool Is(const TiXmlElement& e, const char* local, const char* ns) {
  return LocalName(e) == local && NamespaceOf(e) == ns;
}

const TiXmlElement* Child(const TiXmlElement& parent, const char* local, const char* ns) {
  for (const TiXmlElement* c = parent.FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (Is(*c, local, ns)) return c;
  }
  return nullptr;
}

std::string TextOf(const TiXmlElement* e) {
  std::string text;
  if (e == nullptr) return text;
  for (const TiXmlNode* c = e->FirstChild(); c; c = c->NextSibling()) {
    if (const TiXmlText* t = c->ToText()) text += t->ValueStr();
  }
  return text;
}

// Fault children are unqualified in SOAP 1.1; match by local name only.
std::string FaultPart(const TiXmlElement& fault, const char* local) {
  for (const TiXmlElement* c = fault.FirstChildElement(); c; c = c->NextSiblingElement()) {
    if (LocalName(*c) == local) return TextOf(c);
  }
  return std::string();
}

}  // namespace

Fault::Fault(std::string code, const std::string& text)
    : std::runtime_error(text.empty() ? (code.empty() ? std::string("SOAP Fault") : code) : text),
      code_(std::move(code)) {}

bool IsValidOperationName(const std::string& name) {
  if (name.empty()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char c = name[i];
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
    const bool other = (c >= '0' && c <= '9') || c == '-' || c == '.';
    if (!letter && !(i > 0 && other)) return false;
  }
  return true;
}

std::string BuildEnvelope(const std::string& wrapper, const Message& message) {
  if (!IsValidOperationName(wrapper)) throw std::invalid_argument("invalid SOAP operation name");
  std::string xml;
  xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  xml += "<soap:Envelope xmlns:soap=\"";
  xml += kEnvelopeNamespace;
  xml += "\" xmlns:ns=\"";
  xml += orsa::ws::kObxNamespace;
  xml += "\"><soap:Body><ns:" + wrapper + "><ns:message>";
  for (const Map& map : message.maps) {
    xml += "<ns:map>";
    for (const Item& item : map) {
      xml += "<ns:item><ns:key>" + textutil::EscapeXml(item.key) + "</ns:key><ns:value>" +
             textutil::EscapeXml(item.value) + "</ns:value><ns:type>" +
             textutil::EscapeXml(item.type) + "</ns:type></ns:item>";
    }
    xml += "</ns:map>";
  }
  xml += "</ns:message></ns:" + wrapper + "></soap:Body></soap:Envelope>";
  return xml;
}

std::string BuildFault(const std::string& code, const std::string& text) {
  auto clean = [](std::string s) {
    for (char& c : s) {
      if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') c = '?';
    }
    return textutil::EscapeXml(s);
  };
  std::string xml;
  xml += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  xml += "<soap:Envelope xmlns:soap=\"";
  xml += kEnvelopeNamespace;
  xml += "\"><soap:Body><soap:Fault><faultcode>" + clean(code) + "</faultcode><faultstring>" +
         clean(text) + "</faultstring></soap:Fault></soap:Body></soap:Envelope>";
  return xml;
}

Parsed ParseEnvelope(const std::string& xml) {
  const std::string text = ProtectWhitespace(xml);
  // Checked on the text the parser reads, so no nesting escapes the count.
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kUtf8)) {
    throw std::runtime_error(
        "malformed SOAP message: beyond the limits of nesting, elements or attributes");
  }
  TiXmlDocument doc;
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (doc.Error()) {
    throw std::runtime_error(std::string("malformed SOAP message: ") + doc.ErrorDesc());
  }
  const TiXmlElement* envelope = doc.RootElement();
  if (envelope == nullptr || !Is(*envelope, "Envelope", kEnvelopeNamespace)) {
    throw std::runtime_error("malformed SOAP message: no SOAP 1.1 Envelope");
  }
  const TiXmlElement* body = Child(*envelope, "Body", kEnvelopeNamespace);
  if (body == nullptr) throw std::runtime_error("malformed SOAP message: no Body");
  const TiXmlElement* content = body->FirstChildElement();
  if (content == nullptr) throw std::runtime_error("malformed SOAP message: empty Body");
  if (Is(*content, "Fault", kEnvelopeNamespace)) {
    // The other end's texts go into exception texts and log lines: cut them.
    throw Fault(CutText(FaultPart(*content, "faultcode")),
                CutText(FaultPart(*content, "faultstring")));
  }
  const char* ns = orsa::ws::kObxNamespace;
  if (NamespaceOf(*content) != ns) {
    throw std::runtime_error("malformed SOAP message: element " + CutText(content->ValueStr()) +
                             " is not in namespace " + ns);
  }
  Parsed parsed;
  parsed.wrapper = LocalName(*content);
  const TiXmlElement* message = Child(*content, "message", ns);
  if (message == nullptr) throw std::runtime_error("malformed SOAP message: no message element");
  for (const TiXmlElement* m = message->FirstChildElement(); m; m = m->NextSiblingElement()) {
    if (!Is(*m, "map", ns)) continue;
    Map map;
    for (const TiXmlElement* it = m->FirstChildElement(); it; it = it->NextSiblingElement()) {
      if (!Is(*it, "item", ns)) continue;
      map.push_back(Item{TextOf(Child(*it, "key", ns)), TextOf(Child(*it, "value", ns)),
                         TextOf(Child(*it, "type", ns))});
    }
    parsed.message.maps.push_back(std::move(map));
  }
  return parsed;
}

}  // namespace soap
}  // namespace orsahost
