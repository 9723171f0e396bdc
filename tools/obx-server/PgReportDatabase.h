#pragma once
// The records and the machine inventory in PostgreSQL, shared by several
// obx-server processes. Every client text is stored as bytes (BYTEA), so a
// record is kept byte for byte whatever its encoding. A record is stored
// once: an upload resent after a lost answer finds its records present (same
// operation and the same record text) and adds nothing. An upload is
// committed before Add returns, so an acknowledged upload is on the
// database server's disk.
#include <libpq-fe.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tools/obx-server/ReportStore.h"

namespace obxserver {

// Threads: any; each call takes a connection of a small pool (a connection
// that broke is opened again on its next use).
class PgReportDatabase : public ReportStore {
 public:
  // Connects and, unless read-only, creates the tables when missing.
  PgReportDatabase(std::string conninfo, bool readOnly, size_t connections = 4);
  ~PgReportDatabase() override;
  PgReportDatabase(const PgReportDatabase&) = delete;
  PgReportDatabase& operator=(const PgReportDatabase&) = delete;

  void Add(const std::string& operation, const std::vector<ReportRecord>& records) override;
  void SeePolicyRequest(const PolicyRequestSeen& request) override;
  std::vector<ReportRow> All() override;
  std::vector<ReportRow> Find(const std::string& code, const std::string& id) override;
  std::vector<MachineRow> Machines() override;
  std::string HostOf(const std::string& code) override;

 private:
  struct ResultDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
  };
  using Result = std::unique_ptr<PGresult, ResultDeleter>;
  class Lease;

  PGconn* Acquire();
  void Release(PGconn* connection);
  // Runs `sql` with `params` (bytes, binary) and asks for binary results;
  // throws on any status but the command's success.
  static Result Run(PGconn* c, const std::string& sql, const std::vector<std::string>& params);
  void CreateSchema(PGconn* c);
  std::vector<ReportRow> Select(const std::string& where, const std::vector<std::string>& params);

  std::string conninfo_;
  bool readOnly_;
  bool hasTables_ = true;
  size_t max_;
  std::mutex mutex_;
  std::condition_variable released_;
  std::vector<PGconn*> idle_;
  size_t open_ = 0;
};

}  // namespace obxserver
