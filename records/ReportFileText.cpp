#include "records/ReportFileText.h"

#include <tinyxml.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/StopToken.h"
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

// Parses `text`, known to be within the bounds, as UTF-8.
bool ParseChecked(TiXmlDocument& doc, const std::string& text) {
  doc.SetTabSize(0);  // no row and column tracking: nothing reads them
  doc.Parse(text.c_str(), nullptr, TIXML_ENCODING_UTF8);
  return !doc.Error();
}

}  // namespace

std::string CompactText(const TiXmlNode& node) {
  std::string text;
  text << node;
  return text;
}

bool ParseAsUtf8(TiXmlDocument& doc, const std::string& text) {
  return textutil::XmlWithinLimits(text, textutil::XmlEncoding::kUtf8) && ParseChecked(doc, text);
}

bool ReadsAlikeAsUtf8(const std::string& text) {
  const unsigned char* const begin = reinterpret_cast<const unsigned char*>(text.data());
  const unsigned char* const end = begin + text.size();
  for (const unsigned char* p = begin; p < end;) {
    const unsigned char c = *p;
    if (c >= 0x80) {
      // 0xEF begins the byte order mark and the two non-characters the UTF-8
      // reader skips as white space.
      const size_t length = textutil::Utf8SequenceLength(text, static_cast<size_t>(p - begin));
      if (length == 0 || c == 0xEF) return false;
      p += length;
      continue;
    }
    if (c == '\0' || c == '\r') return false;
    if ((c == '<' || c == '&') && p + 1 < end && p[1] == (c == '<' ? '?' : '#')) return false;
    ++p;
  }
  return true;
}

bool ParseReportFile(TiXmlDocument& doc, const std::string& fileText, bool stoppable) {
  const auto stopped = [stoppable] { return stoppable && platform::QuitRequested(); };
  if (ReadsAlikeAsUtf8(fileText)) {
    if (stopped()) return false;
    const bool within = textutil::XmlWithinLimits(fileText, textutil::XmlEncoding::kUtf8);
    if (stopped()) return false;
    if (within && ParseChecked(doc, fileText) && doc.RootElement() != nullptr) return true;
  }
  return !stopped() && ParseReportFileAsLoaded(doc, fileText);
}

bool ParseReportFileAsLoaded(TiXmlDocument& doc, const std::string& fileText) {
  doc.Clear();
  TiXmlDocument file;
  if (!ParseFileText(file, fileText) || file.RootElement() == nullptr) return false;
  return ParseAsUtf8(doc, CompactText(*file.RootElement())) && doc.RootElement() != nullptr;
}

bool FileTextOf(const TiXmlElement& root, std::string* fileText, bool stoppable, size_t partBytes) {
  const auto stopped = [stoppable] { return stoppable && platform::QuitRequested(); };
  // Printed as root.Accept(&printer) prints it, noting where each child of
  // the root begins.
  TiXmlPrinter printer;
  printer.VisitEnter(root, root.FirstAttribute());
  std::vector<size_t> starts;
  for (const TiXmlNode* child = root.FirstChild(); child != nullptr; child = child->NextSibling()) {
    if (starts.size() % 64 == 63 && stopped()) return false;
    starts.push_back(printer.Size());
    child->Accept(&printer);
  }
  const size_t childrenEnd = printer.Size();
  printer.VisitExit(root);
  *fileText = printer.Str();
  if (stopped()) return false;
  TiXmlDocument check;
  if (starts.size() < 2) return ParseReportFile(check, *fileText, stoppable);
  // Read as UTF-8, the text parses when each run of children does under
  // the root's own start and end tags, and the bounds hold when they hold
  // for each run with the elements of the runs before it counted: so it is
  // checked in parts of about `partBytes`, and a stop need not wait for the
  // whole. Whether it reads alike as UTF-8 is settled part by part too: the
  // parts cover the text, and one that does not makes the whole not.
  const std::string head = fileText->substr(0, starts.front());
  const std::string tail = fileText->substr(childrenEnd);
  const textutil::XmlLimits limits;
  size_t elements = 0;  // of the runs checked, the root not counted
  for (size_t first = 0; first < starts.size();) {
    size_t next = first + 1;
    while (next < starts.size() && starts[next] - starts[first] < partBytes) ++next;
    const size_t end = next < starts.size() ? starts[next] : childrenEnd;
    if (stopped()) return false;
    const std::string part = head + fileText->substr(starts[first], end - starts[first]) + tail;
    if (!ReadsAlikeAsUtf8(part)) return ParseReportFile(check, *fileText, stoppable);
    textutil::XmlLimits partLimits = limits;
    partLimits.maxElements = limits.maxElements - elements;
    size_t counted = 0;
    if (!textutil::XmlWithinLimits(part, textutil::XmlEncoding::kUtf8, partLimits, &counted))
      return false;
    elements += counted - 1;
    if (stopped()) return false;
    TiXmlDocument doc;
    if (!ParseChecked(doc, part) || doc.RootElement() == nullptr) return false;
    first = next;
  }
  return true;
}

bool FileTextFor(const std::string& text, std::string* fileText) {
  TiXmlDocument doc;
  return ParseAsUtf8(doc, text) && doc.RootElement() != nullptr &&
         FileTextOf(*doc.RootElement(), fileText);
}

}  // namespace obx
