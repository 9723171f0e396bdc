// obx-server's splitter of an uploaded report payload. Any text must end as
// records or std::runtime_error. From a payload in UTF-8, every record it
// hands out must be one `map` element on its own, carrying the type and id
// reported for it and the items that text holds: the server stores that text
// as the record.
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "fuzz/Utf8.h"
#include "tools/obx-server/ReportRecords.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string payload(reinterpret_cast<const char*>(data), size);
  std::vector<obxserver::ReportRecord> records;
  try {
    records = obxserver::SplitReportRecords(payload);
  } catch (const std::runtime_error&) {
    return 0;
  }
  if (!obxfuzz::IsWellFormedUtf8(payload)) return 0;
  for (const obxserver::ReportRecord& record : records) {
    TiXmlDocument doc;
    doc.Parse(record.text.c_str(), nullptr, TIXML_ENCODING_UTF8);
    const TiXmlElement* map = doc.Error() ? nullptr : doc.RootElement();
    const char* type = map ? map->Attribute("type") : nullptr;
    const char* id = map ? map->Attribute("id") : nullptr;
    if (map == nullptr || map->ValueStr() != "map" || record.type != (type ? type : "") ||
        record.id != (id ? id : "") || record.items != obxserver::RecordItems(record.text)) {
      std::fprintf(stderr, "record text is not its own map element: %s\n", record.text.c_str());
      std::abort();
    }
  }
  return 0;
}
