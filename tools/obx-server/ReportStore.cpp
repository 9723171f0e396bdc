#include "tools/obx-server/ReportStore.h"

#include <cctype>
#include <ctime>

#include "tools/obx-server/PgReportDatabase.h"
#include "tools/obx-server/ReportDatabase.h"

namespace obxserver {

bool IsPostgresUrl(const std::string& db) {
  return db.compare(0, 13, "postgresql://") == 0 || db.compare(0, 11, "postgres://") == 0;
}

std::unique_ptr<ReportStore> OpenReportStore(const std::string& db, bool readOnly) {
  if (IsPostgresUrl(db)) return std::make_unique<PgReportDatabase>(db, readOnly);
  return std::make_unique<ReportDatabase>(db, readOnly);
}

std::string RecordComputerCode(const std::map<std::string, std::string>& items) {
  auto found = items.find("computer_code");
  std::string code = found == items.end() ? std::string() : found->second;
  while (!code.empty() && std::isspace(static_cast<unsigned char>(code.back()))) code.pop_back();
  return code;
}

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace obxserver
