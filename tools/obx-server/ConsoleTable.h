#pragma once
// One table of the web console: rows of text cells that the query of the
// page sorts and filters on the server, written as HTML (with sortable
// column heads and a filter form) or as CSV of exactly what is shown.
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace obxserver {

struct ConsoleCell {
  ConsoleCell(std::string t, std::string link = std::string())
      : text(std::move(t)), href(std::move(link)) {}
  std::string text;
  std::string href;  // a link, already a complete URL of the console; "" for none
};

struct ConsoleRow {
  std::vector<ConsoleCell> cells;
  std::string cssClass;  // "" for none
};

// The query of a page: decoded parameter names and values.
using ConsoleQuery = std::map<std::string, std::string>;

class ConsoleTable {
 public:
  // `name` tells the table's query parameters from those of other tables
  // of the page: NAME_sort (a column number), NAME_desc (1: descending),
  // NAME_q (rows holding this text in any cell, ignoring letter case).
  ConsoleTable(std::string name, std::vector<std::string> columns);

  void Add(ConsoleRow row) { rows_.push_back(std::move(row)); }
  // Keeps the rows that match the query, sorted as it asks (numbers as
  // numbers, ties in the order added). `defaultSort`: the column sorted by
  // when the query names none; -1 keeps the order added.
  void Apply(const ConsoleQuery& query, int defaultSort = -1);
  const std::vector<ConsoleRow>& Rows() const { return rows_; }
  const std::string& Name() const { return name_; }

  // The table as HTML: a filter form, then the table. `page` is the path of
  // the page; `query` the page's whole query, kept in every link and form.
  std::string Html(const std::string& page, const ConsoleQuery& query) const;
  // The rows shown, with a head line, as CSV (RFC 4180). A cell starting
  // with = + - @ gets a leading ' so that a spreadsheet never runs it.
  std::string Csv() const;

 private:
  std::string name_;
  std::vector<std::string> columns_;
  std::vector<ConsoleRow> rows_;
  int sort_ = -1;
  bool descending_ = false;
  std::string filter_;
};

// Text made safe inside HTML elements and quoted attribute values.
std::string HtmlEscape(const std::string& text);
// "path?a=1&b=2", names and values percent-encoded.
std::string ConsoleUrl(const std::string& path, const ConsoleQuery& query);

}  // namespace obxserver
