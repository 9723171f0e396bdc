#include "tools/obx-server/ReportRecords.h"

#include <tinyxml.h>

#include <cstring>
#include <stdexcept>

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
  size_t i = 0;
  auto skipPast = [&](const char* terminator) {
    size_t end = xml.find(terminator, i);
    i = end == std::string::npos ? xml.size() : end + std::strlen(terminator);
  };
  while (i < xml.size()) {
    if (xml[i] != '<') {
      ++i;
    } else if (xml.compare(i, 4, "<!--") == 0) {
      skipPast("-->");
    } else if (xml.compare(i, 9, "<![CDATA[") == 0) {
      skipPast("]]>");
    } else if (xml.compare(i, 2, "<?") == 0) {
      skipPast("?>");
    } else if (xml.compare(i, 2, "<!") == 0) {
      skipPast(">");
    } else {
      size_t j = i + 1;
      char quote = 0;
      for (; j < xml.size(); ++j) {
        if (quote) {
          if (xml[j] == quote) quote = 0;
        } else if (xml[j] == '"' || xml[j] == '\'') {
          quote = xml[j];
        } else if (xml[j] == '>') {
          break;
        }
      }
      if (j >= xml.size()) break;
      const bool closing = xml[i + 1] == '/';
      const bool selfClosing = !closing && xml[j - 1] == '/';
      if (closing) {
        --depth;
        if (depth == 1 && start != std::string::npos) {
          children.push_back({name, xml.substr(start, j + 1 - start)});
          start = std::string::npos;
        }
      } else {
        if (depth == 1) {
          start = i;
          size_t nameEnd = xml.find_first_of(" \t\r\n/>", i + 1);
          name = xml.substr(i + 1, nameEnd - i - 1);
        }
        if (selfClosing) {
          if (depth == 1) {
            children.push_back({name, xml.substr(start, j + 1 - start)});
            start = std::string::npos;
          }
        } else {
          ++depth;
        }
      }
      i = j + 1;
    }
  }
  return children;
}

}  // namespace

std::vector<ReportRecord> SplitReportRecords(const std::string& payload) {
  TiXmlDocument doc;
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
    std::string text;
    if (raw.size() == maps.size()) {
      text = raw[k].text;
    } else {
      // The raw scan and the parser disagree (an exotic construct): keep the
      // parser's compact form rather than a wrong slice.
      text << *maps[k];
    }
    records.push_back({type ? type : "", id ? id : "", std::move(text)});
  }
  return records;
}

}  // namespace obxserver
