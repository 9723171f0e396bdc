#include "tools/obx-server/PgReportDatabase.h"

#include <openssl/sha.h>

#include <cstdio>
#include <stdexcept>

namespace obxserver {

namespace {

// What tells one stored record from another: the operation and the exact
// record text.
std::string RecordKey(const std::string& operation, const std::string& record) {
  const std::string text = operation + "\n" + record;
  unsigned char digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest);
  std::string hex;
  char two[3];
  for (unsigned char b : digest) {
    std::snprintf(two, sizeof two, "%02x", b);
    hex += two;
  }
  return hex;
}

std::string Value(PGresult* r, int row, int column) {
  return std::string(PQgetvalue(r, row, column), static_cast<size_t>(PQgetlength(r, row, column)));
}

// The tables, in one transaction under a lock, so servers starting together
// create them once.
const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS obx_schema (version INTEGER NOT NULL);"
    "CREATE TABLE IF NOT EXISTS reports ("
    " seq BIGSERIAL PRIMARY KEY,"
    " received TEXT NOT NULL,"
    " operation TEXT NOT NULL,"
    " type BYTEA NOT NULL,"
    " record_id BYTEA NOT NULL,"
    " record BYTEA NOT NULL,"
    " computer_code BYTEA NOT NULL,"
    " record_key TEXT NOT NULL UNIQUE);"
    "CREATE INDEX IF NOT EXISTS reports_machine ON reports (computer_code, seq);"
    "CREATE INDEX IF NOT EXISTS reports_task ON reports (record_id, seq);"
    "CREATE TABLE IF NOT EXISTS machines ("
    " computer_code BYTEA PRIMARY KEY,"
    " host BYTEA NOT NULL DEFAULT '',"
    " user_name BYTEA NOT NULL DEFAULT '',"
    " os BYTEA NOT NULL DEFAULT '',"
    " address TEXT NOT NULL DEFAULT '',"
    " held_version BYTEA NOT NULL DEFAULT '',"
    " sent_version BYTEA NOT NULL DEFAULT '',"
    " group_name TEXT NOT NULL DEFAULT '',"
    " policy_file TEXT NOT NULL DEFAULT '',"
    " first_seen TEXT NOT NULL,"
    " last_seen TEXT NOT NULL,"
    " policy_requests BIGINT NOT NULL DEFAULT 0);";

}  // namespace

// A connection of the pool for one call; a connection left inside a failed
// transaction is rolled back before it goes back.
class PgReportDatabase::Lease {
 public:
  explicit Lease(PgReportDatabase& db) : db_(db), c_(db.Acquire()) {}
  ~Lease() { db_.Release(c_); }
  PGconn* get() const { return c_; }

 private:
  PgReportDatabase& db_;
  PGconn* c_;
};

PgReportDatabase::PgReportDatabase(std::string conninfo, bool readOnly, size_t connections)
    : conninfo_(std::move(conninfo)), readOnly_(readOnly), max_(connections ? connections : 1) {
  Lease lease(*this);
  if (readOnly_) {
    Result r = Run(lease.get(), "SELECT to_regclass('machines') IS NOT NULL", {});
    hasTables_ = PQntuples(r.get()) == 1 && PQgetvalue(r.get(), 0, 0)[0] == 1;
  } else {
    CreateSchema(lease.get());
  }
}

PgReportDatabase::~PgReportDatabase() {
  for (PGconn* c : idle_) PQfinish(c);
}

PGconn* PgReportDatabase::Acquire() {
  std::unique_lock<std::mutex> lock(mutex_);
  released_.wait(lock, [this] { return !idle_.empty() || open_ < max_; });
  PGconn* c = nullptr;
  if (!idle_.empty()) {
    c = idle_.back();
    idle_.pop_back();
  } else {
    ++open_;
  }
  lock.unlock();
  if (c != nullptr && PQstatus(c) != CONNECTION_OK) PQreset(c);
  if (c == nullptr) c = PQconnectdb(conninfo_.c_str());
  if (PQstatus(c) != CONNECTION_OK) {
    const std::string why = c ? PQerrorMessage(c) : "out of memory";
    PQfinish(c);
    std::lock_guard<std::mutex> relock(mutex_);
    --open_;
    released_.notify_one();
    throw std::runtime_error("report database: cannot connect: " + why);
  }
  return c;
}

void PgReportDatabase::Release(PGconn* c) {
  if (PQtransactionStatus(c) != PQTRANS_IDLE) {
    PGresult* r = PQexec(c, "ROLLBACK");
    PQclear(r);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_back(c);
  released_.notify_one();
}

PgReportDatabase::Result PgReportDatabase::Run(PGconn* c, const std::string& sql,
                                               const std::vector<std::string>& params) {
  std::vector<const char*> values;
  std::vector<int> lengths;
  std::vector<int> formats(params.size(), 1);
  for (const std::string& p : params) {
    values.push_back(p.data());
    lengths.push_back(static_cast<int>(p.size()));
  }
  Result r(PQexecParams(c, sql.c_str(), static_cast<int>(params.size()), nullptr, values.data(),
                        lengths.data(), formats.data(), 1));
  const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    std::string why = r ? PQresultErrorMessage(r.get()) : PQerrorMessage(c);
    while (!why.empty() && why.back() == '\n') why.pop_back();
    throw std::runtime_error("report database: " + why);
  }
  return r;
}

void PgReportDatabase::CreateSchema(PGconn* c) {
  Run(c, "BEGIN", {});
  Run(c, "SELECT pg_advisory_xact_lock(708010)", {});
  Result done(PQexec(c, kSchema));
  if (!done || PQresultStatus(done.get()) != PGRES_COMMAND_OK) {
    throw std::runtime_error(std::string("report database: ") +
                             (done ? PQresultErrorMessage(done.get()) : PQerrorMessage(c)));
  }
  Result version = Run(c, "SELECT version FROM obx_schema", {});
  if (PQntuples(version.get()) == 0) {
    Run(c, "INSERT INTO obx_schema (version) VALUES (1)", {});
  }
  Run(c, "COMMIT", {});
}

void PgReportDatabase::Add(const std::string& operation, const std::vector<ReportRecord>& records) {
  if (readOnly_) throw std::runtime_error("report database opened read-only");
  Lease lease(*this);
  PGconn* c = lease.get();
  const std::string time = UtcNow();
  Run(c, "BEGIN", {});
  for (const ReportRecord& r : records) {
    const std::string code = RecordComputerCode(r.items);
    Run(c,
        "INSERT INTO reports (received, operation, type, record_id, record, computer_code,"
        " record_key) VALUES ($1::text, $2::text, $3, $4, $5, $6, $7::text)"
        " ON CONFLICT (record_key) DO NOTHING",
        {time, operation, r.type, r.id, r.text, code, RecordKey(operation, r.text)});
    if (code.empty()) continue;
    auto host = r.items.find("host");
    Run(c,
        "INSERT INTO machines (computer_code, host, first_seen, last_seen)"
        " VALUES ($1, $2, $3::text, $3::text) ON CONFLICT (computer_code) DO UPDATE SET"
        " last_seen = GREATEST(machines.last_seen, $3::text),"
        " host = CASE WHEN $2 = ''::bytea THEN machines.host ELSE $2 END",
        {code, host == r.items.end() ? std::string() : host->second, time});
  }
  // Returns once the commit is durable (synchronous_commit, the default).
  Run(c, "COMMIT", {});
}

void PgReportDatabase::SeePolicyRequest(const PolicyRequestSeen& r) {
  if (readOnly_) throw std::runtime_error("report database opened read-only");
  Lease lease(*this);
  Run(lease.get(),
      "INSERT INTO machines (computer_code, user_name, os, address, held_version, sent_version,"
      " group_name, policy_file, first_seen, last_seen, policy_requests)"
      " VALUES ($1, $2, $3, $4::text, $5, $6, $7::text, $8::text, $9::text, $9::text, 1)"
      " ON CONFLICT (computer_code) DO UPDATE SET user_name = $2, os = $3, address = $4::text,"
      " held_version = $5,"
      " sent_version = CASE WHEN $10::text = '1' THEN $6 ELSE machines.sent_version END,"
      " group_name = $7::text, policy_file = $8::text,"
      " last_seen = GREATEST(machines.last_seen, $9::text),"
      " policy_requests = machines.policy_requests + 1",
      {r.computerCode, r.userName, r.os, r.address, r.heldVersion,
       r.delivered ? r.policyVersion : std::string(), r.group, r.policyFile, UtcNow(),
       r.delivered ? "1" : "0"});
}

std::vector<ReportRow> PgReportDatabase::Select(const std::string& where,
                                                const std::vector<std::string>& params) {
  if (!hasTables_) return {};
  Lease lease(*this);
  Result r = Run(lease.get(),
                 "SELECT seq::text, received, operation, type, record_id, record, computer_code"
                 " FROM reports" +
                     where + " ORDER BY seq",
                 params);
  std::vector<ReportRow> rows;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    ReportRow row;
    row.seq = std::stoll(Value(r.get(), i, 0));
    row.time = Value(r.get(), i, 1);
    row.operation = Value(r.get(), i, 2);
    row.type = Value(r.get(), i, 3);
    row.id = Value(r.get(), i, 4);
    row.record = Value(r.get(), i, 5);
    row.computerCode = Value(r.get(), i, 6);
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<ReportRow> PgReportDatabase::All() { return Select("", {}); }

std::vector<ReportRow> PgReportDatabase::Find(const std::string& code, const std::string& id) {
  std::string where;
  std::vector<std::string> params;
  if (!code.empty()) {
    params.push_back(code);
    where = " WHERE computer_code = $1";
  }
  if (!id.empty()) {
    params.push_back(id);
    where += (where.empty() ? " WHERE record_id = $" : " AND record_id = $") +
             std::to_string(params.size());
  }
  return Select(where, params);
}

std::vector<MachineRow> PgReportDatabase::Machines() {
  if (!hasTables_) return {};
  Lease lease(*this);
  Result r = Run(lease.get(),
                 "SELECT computer_code, host, user_name, os, address, held_version, sent_version,"
                 " group_name, policy_file, first_seen, last_seen, policy_requests::text"
                 " FROM machines ORDER BY computer_code",
                 {});
  std::vector<MachineRow> rows;
  for (int i = 0; i < PQntuples(r.get()); ++i) {
    MachineRow m;
    std::string* texts[] = {&m.computerCode, &m.host,        &m.userName,    &m.os,
                            &m.address,      &m.heldVersion, &m.sentVersion, &m.group,
                            &m.policyFile,   &m.firstSeen,   &m.lastSeen};
    for (int k = 0; k < 11; ++k) *texts[k] = Value(r.get(), i, k);
    m.policyRequests = std::stoll(Value(r.get(), i, 11));
    rows.push_back(std::move(m));
  }
  return rows;
}

std::string PgReportDatabase::HostOf(const std::string& code) {
  if (!hasTables_) return std::string();
  Lease lease(*this);
  Result r = Run(lease.get(), "SELECT host FROM machines WHERE computer_code = $1", {code});
  return PQntuples(r.get()) == 1 ? Value(r.get(), 0, 0) : std::string();
}

}  // namespace obxserver
