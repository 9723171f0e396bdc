#include "records/ReportFileText.h"

#include <tinyxml.h>

#include <algorithm>
#include <string>

#include "text/Utf8.h"
#include "text/XmlLimits.h"

namespace obx {

namespace {

// Parses file text as TinyXML's LoadFile does (up to the first NUL, line ends
// made "\n", encoding detected), but checks the bounds before parsing.
bool ParseFileText(TiXmlDocument& doc, std::string text) {
  text.resize(std::min(text.size(), text.find('\0')));
  std::string::size_type out = 0;
  for (std::string::size_type in = 0; in < text.size(); ++in) {
    if (text[in] != '\r') {
      text[out++] = text[in];
    } else {
      text[out++] = '\n';
      if (in + 1 < text.size() && text[in + 1] == '\n') ++in;
    }
  }
  text.resize(out);
  if (text.empty() || !textutil::XmlWithinLimits(text, textutil::XmlEncoding::kDetect)) {
    return false;
  }
  doc.SetTabSize(0);
  doc.Parse(text.c_str(), nullptr, TIXML_DEFAULT_ENCODING);
  return !doc.Error();
}

}  // namespace

std::string CompactText(const TiXmlNode& node) {
  std::string text;
  text << node;
  return text;
}

bool ParseAsUtf8(TiXmlDocument& doc, const std::string& text) {
  if (!textutil::XmlWithinLimits(text, textutil::XmlEncoding::kUtf8)) return false;
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  return !doc.Error();
}

bool ReadsAlikeAsUtf8(const std::string& text) {
  for (size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      const char next = i + 1 < text.size() ? text[i + 1] : '\0';
      if (c == '\0' || c == '\r' || (c == '<' && next == '?') || (c == '&' && next == '#'))
        return false;
      ++i;
      continue;
    }
    // 0xEF begins the byte order mark and the two non-characters the UTF-8
    // reader skips as white space.
    const size_t length = textutil::Utf8SequenceLength(text, i);
    if (length == 0 || c == 0xEF) return false;
    i += length;
  }
  return true;
}

bool ParseReportFile(TiXmlDocument& doc, const std::string& fileText) {
  if (ReadsAlikeAsUtf8(fileText) && ParseAsUtf8(doc, fileText) && doc.RootElement() != nullptr)
    return true;
  return ParseReportFileAsLoaded(doc, fileText);
}

bool ParseReportFileAsLoaded(TiXmlDocument& doc, const std::string& fileText) {
  doc.Clear();
  TiXmlDocument file;
  if (!ParseFileText(file, fileText) || file.RootElement() == nullptr) return false;
  return ParseAsUtf8(doc, CompactText(*file.RootElement())) && doc.RootElement() != nullptr;
}

bool FileTextOf(const TiXmlElement& root, std::string* fileText) {
  TiXmlPrinter printer;
  root.Accept(&printer);
  *fileText = printer.Str();
  TiXmlDocument check;
  return ParseReportFile(check, *fileText);
}

bool FileTextFor(const std::string& text, std::string* fileText) {
  TiXmlDocument doc;
  return ParseAsUtf8(doc, text) && doc.RootElement() != nullptr &&
         FileTextOf(*doc.RootElement(), fileText);
}

}  // namespace obx
