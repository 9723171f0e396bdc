#pragma once
// The reports obx-server has received and the machines that asked for a
// policy or uploaded records, kept in SQLite: one row per record, one per
// machine. The schema carries a version (PRAGMA user_version); a database of
// an older version is upgraded in place when it is opened for writing.
#include <sqlite3.h>

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/obx-server/ReportStore.h"

namespace obxserver {

// Threads: every operation may be called from any thread (one connection,
// serialised by a mutex). Failures: std::runtime_error with SQLite's text.
class ReportDatabase : public ReportStore {
 public:
  // The schema version this code writes.
  static constexpr int kSchemaVersion = 1;

  // Opens (and for a writable database creates or upgrades) the file and its
  // tables. A read-only database must already exist and is read as it is.
  ReportDatabase(const std::string& path, bool readOnly);
  ~ReportDatabase() override;
  ReportDatabase(const ReportDatabase&) = delete;
  ReportDatabase& operator=(const ReportDatabase&) = delete;

  // Stores all records of one upload: all rows or none, on disk when it
  // returns. Uploads that arrive while another commit is under way are
  // written together in the next transaction (one durable commit for all),
  // each in a savepoint of its own, so one that fails takes no other with it.
  // The records also update their machines (host name, last seen).
  void Add(const std::string& operation, const std::vector<ReportRecord>& records) override;
  // Records a policy request in the machine's row (created on first sight),
  // durably, like Add.
  void SeePolicyRequest(const PolicyRequestSeen& request) override;
  // Every row in order of arrival.
  std::vector<ReportRow> All() override;
  // The rows whose `computer_code` is `code`, or whose record id is `id`
  // (either may be "": no condition), in order of arrival.
  std::vector<ReportRow> Find(const std::string& code, const std::string& id) override;
  // Every machine, ordered by computer code; none in a database made before
  // the inventory existed.
  std::vector<MachineRow> Machines() override;
  // The host name the machine's records gave, "" when none did.
  std::string HostOf(const std::string& code) override;

 private:
  struct Pending {
    std::function<void(const std::string& time)> write;
    std::exception_ptr error;
    bool done = false;
  };
  // Queues `write` for the next commit and waits until it is on disk.
  void Write(std::function<void(const std::string& time)> write);
  // Writes the uploads in one transaction and notes each one's failure.
  void Commit(const std::vector<Pending*>& batch);
  void Insert(const std::string& time, const std::string& operation,
              const std::vector<ReportRecord>& records);
  void Upsert(const std::string& time, const PolicyRequestSeen& request);
  void Exec(const char* sql);
  struct StatementDeleter {
    void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
  };
  using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;
  // A statement with `args` bound as texts to ?1, ?2, ...
  Statement Prepare(const std::string& sql, const std::vector<std::string>& args);
  // Runs a statement that returns no rows.
  void Run(const std::string& sql, const std::vector<std::string>& args);
  int UserVersion();
  // Brings a database of an older schema to kSchemaVersion, in one transaction.
  void Upgrade();
  std::vector<ReportRow> Select(const std::string& where, const std::vector<std::string>& args);

  std::mutex queueMutex_;
  std::condition_variable queueDone_;
  std::vector<Pending*> queue_;  // uploads waiting for the next commit
  bool committing_ = false;

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  bool readOnly_;
  int version_ = 0;  // the schema version of the open database
};

}  // namespace obxserver
