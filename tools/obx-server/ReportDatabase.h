#pragma once
// The reports obx-server has received, kept in SQLite: one row per record.
#include <sqlite3.h>

#include <mutex>
#include <string>
#include <vector>

#include "tools/obx-server/ReportRecords.h"

namespace obxserver {

struct ReportRow {
  long long seq = 0;      // order of arrival
  std::string time;       // UTC, "YYYY-MM-DDTHH:MM:SSZ"
  std::string operation;  // "uploadExecuteStatus" or "uploadExecuteResult"
  std::string type;
  std::string id;
  std::string record;
};

// Threads: every operation may be called from any thread (one connection,
// serialised by a mutex). Failures: std::runtime_error with SQLite's text.
class ReportDatabase {
 public:
  // Opens (and for a writable database creates) the file and its table.
  // A read-only database must already exist.
  ReportDatabase(const std::string& path, bool readOnly);
  ~ReportDatabase();
  ReportDatabase(const ReportDatabase&) = delete;
  ReportDatabase& operator=(const ReportDatabase&) = delete;

  // Stores all records of one upload in one transaction: all rows or none.
  void Add(const std::string& operation, const std::vector<ReportRecord>& records);
  // Every row in order of arrival.
  std::vector<ReportRow> All();

 private:
  void Exec(const char* sql);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  bool readOnly_;
};

}  // namespace obxserver
