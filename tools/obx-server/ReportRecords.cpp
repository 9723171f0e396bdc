#include "tools/obx-server/ReportRecords.h"

#include <tinyxml.h>

#include <stdexcept>

#include "text/XmlLimits.h"
#include "text/XmlMarkup.h"

namespace obxserver {

namespace {

struct RawChild {
  std::string name;
  std::string text;
};

// The children of the root element as raw text, in document order. Run only
// on text TinyXML has accepted, so the markup is known to be well formed.
std::vector<RawChild> RawChildrenOfRoot(const std::string& xml) {
  std::vector<RawChild> children;
  int depth = 0;
  size_t start = std::string::npos;
  std::string name;
  for (size_t i = 0; i < xml.size();) {
    if (xml[i] != '<') {
      ++i;
      continue;
    }
    const textutil::XmlMarkup markup = textutil::ScanXmlMarkup(xml, i);
    if (markup.end == std::string::npos) break;
    switch (markup.kind) {
      case textutil::XmlMarkupKind::kEndTag:
        --depth;
        if (depth == 1 && start != std::string::npos) {
          children.push_back({name, xml.substr(start, markup.end - start)});
          start = std::string::npos;
        }
        break;
      case textutil::XmlMarkupKind::kStartTag:
      case textutil::XmlMarkupKind::kEmptyElementTag:
        if (depth == 1) {
          start = i;
          const size_t nameEnd = xml.find_first_of(" \t\r\n/>", i + 1);
          name = xml.substr(i + 1, nameEnd - i - 1);
        }
        if (markup.kind == textutil::XmlMarkupKind::kStartTag) {
          ++depth;
        } else if (depth == 1) {
          children.push_back({name, xml.substr(start, markup.end - start)});
          start = std::string::npos;
        }
        break;
      default:
        break;  // comments, CDATA, processing instructions, declarations
    }
    i = markup.end;
  }
  return children;
}

std::string Compact(const TiXmlElement& element) {
  std::string text;
  text << element;
  return text;
}

// Whether `raw` alone reads as exactly the element whose compact print is
// `parsed`. The raw scan only approximates the parser (it takes "<>" for a
// start tag, for one), so the counts of both can agree while a slice belongs
// to another element.
bool ReadsAs(const std::string& raw, const std::string& parsed) {
  TiXmlDocument doc;
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(raw.c_str(), nullptr, TIXML_ENCODING_UTF8);
  const TiXmlNode* only = doc.FirstChild();
  return !doc.Error() && only != nullptr && only->NextSibling() == nullptr &&
         only->ToElement() != nullptr && Compact(*only->ToElement()) == parsed;
}

std::map<std::string, std::string> ItemsOf(const TiXmlElement& map) {
  std::map<std::string, std::string> items;
  for (const TiXmlElement* item = map.FirstChildElement("item"); item;
       item = item->NextSiblingElement("item")) {
    const TiXmlElement* key = item->FirstChildElement("key");
    const TiXmlElement* value = item->FirstChildElement("value");
    if (key == nullptr || key->GetText() == nullptr) continue;
    const char* text = value ? value->GetText() : nullptr;
    items.emplace(key->GetText(), text ? text : "");
  }
  return items;
}

}  // namespace

std::vector<ReportRecord> SplitReportRecords(const std::string& payload) {
  if (!textutil::XmlWithinLimits(payload, textutil::XmlEncoding::kUtf8)) {
    throw std::runtime_error("nesting, elements or attributes beyond the limits");
  }
  TiXmlDocument doc;
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(payload.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (doc.Error()) throw std::runtime_error(std::string("not XML: ") + doc.ErrorDesc());
  const TiXmlElement* root = doc.RootElement();
  if (root == nullptr || root->ValueStr() != "message") {
    throw std::runtime_error("root element is not message");
  }
  std::vector<const TiXmlElement*> maps;
  for (const TiXmlElement* e = root->FirstChildElement(); e; e = e->NextSiblingElement()) {
    if (e->ValueStr() == "map") maps.push_back(e);
  }
  std::vector<RawChild> raw;
  for (RawChild& c : RawChildrenOfRoot(payload)) {
    if (c.name == "map") raw.push_back(std::move(c));
  }
  std::vector<ReportRecord> records;
  for (size_t k = 0; k < maps.size(); ++k) {
    const char* type = maps[k]->Attribute("type");
    const char* id = maps[k]->Attribute("id");
    ReportRecord record{type ? type : "", id ? id : "", "", {}};
    // A slice that is the element's own compact print (what the agent sends)
    // is what the fallback below would store; it is not parsed again.
    const std::string compact = Compact(*maps[k]);
    if (raw.size() == maps.size() && (raw[k].text == compact || ReadsAs(raw[k].text, compact))) {
      // The slice reads as this element: its items are this element's.
      record.text = raw[k].text;
      record.items = ItemsOf(*maps[k]);
    } else {
      // The raw scan and the parser disagree (an exotic construct): keep the
      // parser's compact form rather than a wrong slice, and its items as
      // that text gives them.
      record.text = compact;
      record.items = RecordItems(record.text);
    }
    records.push_back(std::move(record));
  }
  return records;
}

std::map<std::string, std::string> RecordItems(const std::string& record) {
  if (!textutil::XmlWithinLimits(record, textutil::XmlEncoding::kUtf8)) return {};
  TiXmlDocument doc;
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(record.c_str(), nullptr, TIXML_ENCODING_UTF8);
  const TiXmlElement* map = doc.Error() ? nullptr : doc.RootElement();
  if (map == nullptr || map->ValueStr() != "map") return {};
  return ItemsOf(*map);
}

}  // namespace obxserver
