#include "tools/obx-server/ReportDatabase.h"

#include <cctype>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <stdexcept>

namespace obxserver {

namespace {

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* text = sqlite3_column_text(s, i);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(s, i)))
              : std::string();
}

struct Seen {
  std::string first, last, host;
};

// The machine facts a record carries.
void NoteRecord(std::map<std::string, Seen>& machines, const std::string& time,
                const std::string& code, const std::map<std::string, std::string>& items) {
  if (code.empty()) return;
  Seen& seen = machines[code];
  if (seen.first.empty() || time < seen.first) seen.first = time;
  if (time >= seen.last) {
    seen.last = time;
    auto host = items.find("host");
    if (host != items.end()) seen.host = host->second;
  }
}

}  // namespace

ReportDatabase::ReportDatabase(const std::string& path, bool readOnly) : readOnly_(readOnly) {
  const int flags = readOnly ? SQLITE_OPEN_READONLY
                             : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
    // The system's reason (no such folder, permission denied) when there is one.
    const int error = db_ ? sqlite3_system_errno(db_) : 0;
    std::string why = error != 0 ? std::strerror(error)
                      : db_      ? sqlite3_errmsg(db_)
                                 : "out of memory";
    sqlite3_close(db_);
    db_ = nullptr;
    throw std::runtime_error("cannot open report database " + path + ": " + why);
  }
  sqlite3_busy_timeout(db_, 5000);
  try {
    if (!readOnly) {
      Exec("PRAGMA journal_mode=WAL");
      Exec("PRAGMA synchronous=FULL");
      Upgrade();
    }
    version_ = UserVersion();
  } catch (...) {
    sqlite3_close(db_);
    throw;
  }
}

ReportDatabase::~ReportDatabase() { sqlite3_close(db_); }

void ReportDatabase::Exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string why = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw std::runtime_error("report database: " + why);
  }
}

ReportDatabase::Statement ReportDatabase::Prepare(const std::string& sql,
                                                  const std::vector<std::string>& args) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  Statement statement(raw);
  for (size_t i = 0; i < args.size(); ++i) {
    sqlite3_bind_text(raw, static_cast<int>(i + 1), args[i].data(),
                      static_cast<int>(args[i].size()), SQLITE_TRANSIENT);
  }
  return statement;
}

void ReportDatabase::Run(const std::string& sql, const std::vector<std::string>& args) {
  Statement s = Prepare(sql, args);
  if (sqlite3_step(s.get()) != SQLITE_DONE) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
}

int ReportDatabase::UserVersion() {
  Statement s = Prepare("PRAGMA user_version", {});
  return sqlite3_step(s.get()) == SQLITE_ROW ? sqlite3_column_int(s.get(), 0) : 0;
}

void ReportDatabase::Upgrade() {
  const int version = UserVersion();
  if (version > kSchemaVersion) {
    throw std::runtime_error("report database has schema version " + std::to_string(version) +
                             ", newer than this server's " + std::to_string(kSchemaVersion));
  }
  if (version == kSchemaVersion) return;
  Exec("BEGIN IMMEDIATE");
  try {
    // Another server may have upgraded the file meanwhile.
    if (UserVersion() == kSchemaVersion) {
      Exec("COMMIT");
      return;
    }
    // Version 0: the table of reports alone (or nothing: a new file).
    Exec(
        "CREATE TABLE IF NOT EXISTS reports ("
        " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
        " received TEXT NOT NULL,"
        " operation TEXT NOT NULL,"
        " type TEXT NOT NULL,"
        " record_id TEXT NOT NULL,"
        " record TEXT NOT NULL)");
    // Version 1: the machines, and each record linked to its machine.
    Exec("ALTER TABLE reports ADD COLUMN computer_code TEXT NOT NULL DEFAULT ''");
    Exec(
        "CREATE TABLE machines ("
        " computer_code TEXT PRIMARY KEY,"
        " host TEXT NOT NULL DEFAULT '',"
        " user_name TEXT NOT NULL DEFAULT '',"
        " os TEXT NOT NULL DEFAULT '',"
        " address TEXT NOT NULL DEFAULT '',"
        " held_version TEXT NOT NULL DEFAULT '',"
        " sent_version TEXT NOT NULL DEFAULT '',"
        " group_name TEXT NOT NULL DEFAULT '',"
        " policy_file TEXT NOT NULL DEFAULT '',"
        " first_seen TEXT NOT NULL,"
        " last_seen TEXT NOT NULL,"
        " policy_requests INTEGER NOT NULL DEFAULT 0)");
    Exec("CREATE INDEX reports_machine ON reports (computer_code, seq)");
    Exec("CREATE INDEX reports_task ON reports (record_id, seq)");
    // The records already stored name their machines too.
    std::map<std::string, Seen> machines;
    std::vector<std::pair<std::string, std::string>> codes;  // seq, code
    {
      Statement s = Prepare("SELECT seq, received, record FROM reports ORDER BY seq", {});
      while (sqlite3_step(s.get()) == SQLITE_ROW) {
        const auto items = RecordItems(Column(s.get(), 2));
        const std::string code = RecordComputerCode(items);
        if (code.empty()) continue;
        codes.emplace_back(Column(s.get(), 0), code);
        NoteRecord(machines, Column(s.get(), 1), code, items);
      }
    }
    for (const auto& c : codes) {
      Run("UPDATE reports SET computer_code = ? WHERE seq = ?", {c.second, c.first});
    }
    for (const auto& m : machines) {
      Run("INSERT INTO machines (computer_code, host, first_seen, last_seen) VALUES (?, ?, ?, ?)",
          {m.first, m.second.host, m.second.first, m.second.last});
    }
    Exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
}

void ReportDatabase::Add(const std::string& operation, const std::vector<ReportRecord>& records) {
  Write([&](const std::string& time) { Insert(time, operation, records); });
}

void ReportDatabase::SeePolicyRequest(const PolicyRequestSeen& request) {
  Write([&](const std::string& time) { Upsert(time, request); });
}

void ReportDatabase::Write(std::function<void(const std::string& time)> write) {
  if (readOnly_) throw std::runtime_error("report database opened read-only");
  Pending me{std::move(write), nullptr, false};
  std::unique_lock<std::mutex> lock(queueMutex_);
  queue_.push_back(&me);
  while (!me.done) {
    if (committing_) {
      queueDone_.wait(lock);
      continue;
    }
    // This thread writes everything that has queued up meanwhile.
    committing_ = true;
    std::vector<Pending*> batch;
    batch.swap(queue_);
    lock.unlock();
    Commit(batch);
    lock.lock();
    for (Pending* upload : batch) upload->done = true;
    committing_ = false;
    queueDone_.notify_all();
  }
  if (me.error) std::rethrow_exception(me.error);
}

void ReportDatabase::Commit(const std::vector<Pending*>& batch) {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::string time = UtcNow();
  try {
    Exec("BEGIN IMMEDIATE");
  } catch (...) {
    for (Pending* upload : batch) upload->error = std::current_exception();
    return;
  }
  for (Pending* upload : batch) {
    Exec("SAVEPOINT upload");
    try {
      upload->write(time);
      Exec("RELEASE upload");
    } catch (...) {
      upload->error = std::current_exception();
      sqlite3_exec(db_, "ROLLBACK TO upload", nullptr, nullptr, nullptr);
      sqlite3_exec(db_, "RELEASE upload", nullptr, nullptr, nullptr);
    }
  }
  try {
    Exec("COMMIT");
  } catch (...) {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    for (Pending* upload : batch) upload->error = std::current_exception();
  }
}

void ReportDatabase::Insert(const std::string& time, const std::string& operation,
                            const std::vector<ReportRecord>& records) {
  Statement insert = Prepare(
      "INSERT INTO reports (received, operation, type, record_id, record, computer_code)"
      " VALUES (?, ?, ?, ?, ?, ?)",
      {});
  std::map<std::string, Seen> machines;
  for (const ReportRecord& r : records) {
    const std::string code = RecordComputerCode(r.items);
    NoteRecord(machines, time, code, r.items);
    sqlite3_reset(insert.get());
    const std::string* values[] = {&time, &operation, &r.type, &r.id, &r.text, &code};
    for (int i = 0; i < 6; ++i) {
      sqlite3_bind_text(insert.get(), i + 1, values[i]->data(), static_cast<int>(values[i]->size()),
                        SQLITE_TRANSIENT);
    }
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
    }
  }
  for (const auto& m : machines) {
    Run("INSERT INTO machines (computer_code, host, first_seen, last_seen) VALUES (?1, ?2, ?3, ?3)"
        " ON CONFLICT (computer_code) DO UPDATE SET last_seen = ?3,"
        " host = CASE WHEN ?2 = '' THEN host ELSE ?2 END",
        {m.first, m.second.host, time});
  }
}

void ReportDatabase::Upsert(const std::string& time, const PolicyRequestSeen& r) {
  Run("INSERT INTO machines (computer_code, user_name, os, address, held_version, sent_version,"
      " group_name, policy_file, first_seen, last_seen, policy_requests)"
      " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?9, 1)"
      " ON CONFLICT (computer_code) DO UPDATE SET user_name = ?2, os = ?3, address = ?4,"
      " held_version = ?5, sent_version = CASE WHEN ?10 = '1' THEN ?6 ELSE sent_version END,"
      " group_name = ?7, policy_file = ?8, last_seen = ?9,"
      " policy_requests = policy_requests + 1",
      {r.computerCode, r.userName, r.os, r.address, r.heldVersion,
       r.delivered ? r.policyVersion : std::string(), r.group, r.policyFile, time,
       r.delivered ? "1" : "0"});
}

std::vector<ReportRow> ReportDatabase::Select(const std::string& where,
                                              const std::vector<std::string>& args) {
  std::lock_guard<std::mutex> lock(mutex_);
  // A database from before the inventory, read as it is, has no codes.
  Statement select = Prepare(
      std::string("SELECT seq, received, operation, type, record_id, record, ") +
          (version_ >= 1 ? "computer_code" : "''") + " FROM reports" + where + " ORDER BY seq",
      args);
  std::vector<ReportRow> rows;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    ReportRow row;
    row.seq = sqlite3_column_int64(select.get(), 0);
    row.time = Column(select.get(), 1);
    row.operation = Column(select.get(), 2);
    row.type = Column(select.get(), 3);
    row.id = Column(select.get(), 4);
    row.record = Column(select.get(), 5);
    row.computerCode = Column(select.get(), 6);
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  return rows;
}

std::vector<ReportRow> ReportDatabase::All() { return Select("", {}); }

std::vector<ReportRow> ReportDatabase::Find(const std::string& code, const std::string& id) {
  if (version_ < 1 && !code.empty()) return {};
  std::string where;
  std::vector<std::string> args;
  if (!code.empty()) {
    where = " WHERE computer_code = ?";
    args.push_back(code);
  }
  if (!id.empty()) {
    where += where.empty() ? " WHERE record_id = ?" : " AND record_id = ?";
    args.push_back(id);
  }
  return Select(where, args);
}

std::vector<MachineRow> ReportDatabase::Machines() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (version_ < 1) return {};
  Statement select = Prepare(
      "SELECT computer_code, host, user_name, os, address, held_version, sent_version,"
      " group_name, policy_file, first_seen, last_seen, policy_requests FROM machines"
      " ORDER BY computer_code",
      {});
  std::vector<MachineRow> rows;
  int rc;
  while ((rc = sqlite3_step(select.get())) == SQLITE_ROW) {
    sqlite3_stmt* s = select.get();
    MachineRow m;
    std::string* texts[] = {&m.computerCode, &m.host,        &m.userName,    &m.os,
                            &m.address,      &m.heldVersion, &m.sentVersion, &m.group,
                            &m.policyFile,   &m.firstSeen,   &m.lastSeen};
    for (int i = 0; i < 11; ++i) *texts[i] = Column(s, i);
    m.policyRequests = sqlite3_column_int64(s, 11);
    rows.push_back(std::move(m));
  }
  if (rc != SQLITE_DONE) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  return rows;
}

std::string ReportDatabase::HostOf(const std::string& code) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (version_ < 1) return std::string();
  Statement s = Prepare("SELECT host FROM machines WHERE computer_code = ?", {code});
  return sqlite3_step(s.get()) == SQLITE_ROW ? Column(s.get(), 0) : std::string();
}

}  // namespace obxserver
