#pragma once
// The records of one upload: the opened "infos" payload is
// "<message>" + records + "</message>", each record one `map` element with
// the attributes `type` and `id`.
#include <map>
#include <string>
#include <vector>

namespace obxserver {

struct ReportRecord {
  std::string type;  // "" when the attribute is missing
  std::string id;
  std::string text;                          // the record exactly as it appears in the payload
  std::map<std::string, std::string> items;  // RecordItems(text), read with the payload
};

// Throws std::runtime_error when the payload is not well-formed XML or its
// root is not `message`. A payload without `map` children gives no records.
std::vector<ReportRecord> SplitReportRecords(const std::string& payload);

// The items of one record, key to value (values decoded; the first of a key
// wins). Empty for a text that is not one well-formed `map`.
std::map<std::string, std::string> RecordItems(const std::string& record);

}  // namespace obxserver
