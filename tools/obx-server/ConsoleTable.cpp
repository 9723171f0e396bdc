#include "tools/obx-server/ConsoleTable.h"

#include <Poco/URI.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "text/XmlEscape.h"

namespace obxserver {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// Whether `text` is a plain decimal number, and its value.
bool Number(const std::string& text, double& value) {
  if (text.empty() || text.size() > 30) return false;
  char* end = nullptr;
  value = std::strtod(text.c_str(), &end);
  return end == text.c_str() + text.size() && text.find_first_of("xXnN") == std::string::npos;
}

bool Less(const std::string& a, const std::string& b) {
  double x = 0;
  double y = 0;
  if (Number(a, x) && Number(b, y)) return x < y;
  return a < b;
}

std::string CsvCell(std::string text) {
  if (!text.empty() && std::string("=+-@").find(text[0]) != std::string::npos) text = "'" + text;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

std::string HtmlEscape(const std::string& text) {
  // Whatever the agents sent is shown, control bytes included: a page must
  // not fail on a stray byte in one record.
  return textutil::EscapeXml(text, textutil::XmlControlBytes::kKeep);
}

std::string ConsoleUrl(const std::string& path, const ConsoleQuery& query) {
  std::string url = path;
  char separator = '?';
  for (const auto& p : query) {
    if (p.second.empty()) continue;
    std::string name;
    std::string value;
    Poco::URI::encode(p.first, "&=+?#/;", name);
    Poco::URI::encode(p.second, "&=+?#/;", value);
    url += separator + name + "=" + value;
    separator = '&';
  }
  return url;
}

ConsoleTable::ConsoleTable(std::string name, std::vector<std::string> columns)
    : name_(std::move(name)), columns_(std::move(columns)) {}

void ConsoleTable::Apply(const ConsoleQuery& query, int defaultSort) {
  auto get = [&](const std::string& key) {
    auto it = query.find(name_ + "_" + key);
    return it == query.end() ? std::string() : it->second;
  };
  filter_ = get("q");
  const std::string sort = get("sort");
  sort_ = defaultSort;
  if (!sort.empty() && sort.size() < 4 && sort.find_first_not_of("0123456789") == std::string::npos)
    sort_ = std::atoi(sort.c_str());
  if (sort_ >= static_cast<int>(columns_.size())) sort_ = -1;
  descending_ = get("desc") == "1";
  if (!filter_.empty()) {
    const std::string needle = Lower(filter_);
    rows_.erase(std::remove_if(rows_.begin(), rows_.end(),
                               [&](const ConsoleRow& row) {
                                 for (const ConsoleCell& c : row.cells) {
                                   if (Lower(c.text).find(needle) != std::string::npos)
                                     return false;
                                 }
                                 return true;
                               }),
                rows_.end());
  }
  if (sort_ >= 0) {
    const size_t column = static_cast<size_t>(sort_);
    std::stable_sort(rows_.begin(), rows_.end(), [&](const ConsoleRow& a, const ConsoleRow& b) {
      const std::string& x = column < a.cells.size() ? a.cells[column].text : std::string();
      const std::string& y = column < b.cells.size() ? b.cells[column].text : std::string();
      return descending_ ? Less(y, x) : Less(x, y);
    });
  }
}

std::string ConsoleTable::Html(const std::string& page, const ConsoleQuery& query) const {
  std::string html = "<form class=\"filter\" method=\"get\" action=\"" + HtmlEscape(page) + "\">";
  for (const auto& p : query) {
    if (p.first == name_ + "_q" || p.first == "csv" || p.second.empty()) continue;
    html += "<input type=\"hidden\" name=\"" + HtmlEscape(p.first) + "\" value=\"" +
            HtmlEscape(p.second) + "\">";
  }
  ConsoleQuery csv = query;
  csv["csv"] = name_;
  html += "<input type=\"search\" name=\"" + HtmlEscape(name_) + "_q\" value=\"" +
          HtmlEscape(filter_) + "\" placeholder=\"filter\"> <button>Filter</button> <a href=\"" +
          HtmlEscape(ConsoleUrl(page, csv)) + "\">CSV</a> <span class=\"count\">" +
          std::to_string(rows_.size()) + (rows_.size() == 1 ? " row" : " rows") +
          "</span></form>\n<table id=\"" + HtmlEscape(name_) + "\">\n<thead><tr>";
  for (size_t i = 0; i < columns_.size(); ++i) {
    ConsoleQuery sorted = query;
    sorted.erase("csv");
    sorted[name_ + "_sort"] = std::to_string(i);
    const bool current = static_cast<int>(i) == sort_;
    sorted[name_ + "_desc"] = current && !descending_ ? "1" : "";
    html += "<th><a href=\"" + HtmlEscape(ConsoleUrl(page, sorted)) + "\">" +
            HtmlEscape(columns_[i]) + (current ? (descending_ ? " &#9660;" : " &#9650;") : "") +
            "</a></th>";
  }
  html += "</tr></thead>\n<tbody>\n";
  for (const ConsoleRow& row : rows_) {
    html += row.cssClass.empty() ? "<tr>" : "<tr class=\"" + HtmlEscape(row.cssClass) + "\">";
    for (const ConsoleCell& c : row.cells) {
      html += c.href.empty() ? "<td>" + HtmlEscape(c.text) + "</td>"
                             : "<td><a href=\"" + HtmlEscape(c.href) + "\">" + HtmlEscape(c.text) +
                                   "</a></td>";
    }
    html += "</tr>\n";
  }
  return html + "</tbody></table>\n";
}

std::string ConsoleTable::Csv() const {
  std::string csv;
  for (size_t i = 0; i < columns_.size(); ++i) csv += (i ? "," : "") + CsvCell(columns_[i]);
  csv += "\r\n";
  for (const ConsoleRow& row : rows_) {
    for (size_t i = 0; i < row.cells.size(); ++i)
      csv += (i ? "," : "") + CsvCell(row.cells[i].text);
    csv += "\r\n";
  }
  return csv;
}

}  // namespace obxserver
