#pragma once
// The reports obx-server has received, kept in SQLite: one row per record.
#include <sqlite3.h>

#include <condition_variable>
#include <exception>
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

  // Stores all records of one upload: all rows or none, on disk when it
  // returns. Uploads that arrive while another commit is under way are
  // written together in the next transaction (one durable commit for all),
  // each in a savepoint of its own, so one that fails takes no other with it.
  void Add(const std::string& operation, const std::vector<ReportRecord>& records);
  // Every row in order of arrival.
  std::vector<ReportRow> All();

 private:
  struct Pending {
    const std::string* operation;
    const std::vector<ReportRecord>* records;
    std::exception_ptr error;
    bool done = false;
  };
  // Writes the uploads in one transaction and notes each one's failure.
  void Commit(const std::vector<Pending*>& batch);
  void Insert(const std::string& time, const Pending& upload);
  void Exec(const char* sql);

  std::mutex queueMutex_;
  std::condition_variable queueDone_;
  std::vector<Pending*> queue_;  // uploads waiting for the next commit
  bool committing_ = false;

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  bool readOnly_;
};

}  // namespace obxserver
