#include "tools/obx-server/ReportDatabase.h"

#include <cstring>
#include <ctime>
#include <memory>
#include <stdexcept>

namespace obxserver {

namespace {

std::string UtcNow() {
  std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

std::string Column(sqlite3_stmt* s, int i) {
  const unsigned char* text = sqlite3_column_text(s, i);
  return text ? std::string(reinterpret_cast<const char*>(text),
                            static_cast<size_t>(sqlite3_column_bytes(s, i)))
              : std::string();
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
      Exec(
          "CREATE TABLE IF NOT EXISTS reports ("
          " seq INTEGER PRIMARY KEY AUTOINCREMENT,"
          " received TEXT NOT NULL,"
          " operation TEXT NOT NULL,"
          " type TEXT NOT NULL,"
          " record_id TEXT NOT NULL,"
          " record TEXT NOT NULL)");
    }
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

void ReportDatabase::Add(const std::string& operation, const std::vector<ReportRecord>& records) {
  if (readOnly_) throw std::runtime_error("report database opened read-only");
  Pending me{&operation, &records, nullptr, false};
  std::unique_lock<std::mutex> lock(queueMutex_);
  queue_.push_back(&me);
  while (!me.done) {
    if (committing_) {
      queueDone_.wait(lock);
      continue;
    }
    // This upload's thread writes everything that has queued up meanwhile.
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
      Insert(time, *upload);
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

void ReportDatabase::Insert(const std::string& time, const Pending& upload) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "INSERT INTO reports (received, operation, type, record_id, record)"
                         " VALUES (?, ?, ?, ?, ?)",
                         -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  Statement insert(raw);
  const std::string& operation = *upload.operation;
  for (const ReportRecord& r : *upload.records) {
    sqlite3_reset(insert.get());
    sqlite3_bind_text(insert.get(), 1, time.data(), static_cast<int>(time.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 2, operation.data(), static_cast<int>(operation.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 3, r.type.data(), static_cast<int>(r.type.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 4, r.id.data(), static_cast<int>(r.id.size()),
                      SQLITE_TRANSIENT);
    sqlite3_bind_text(insert.get(), 5, r.text.data(), static_cast<int>(r.text.size()),
                      SQLITE_TRANSIENT);
    if (sqlite3_step(insert.get()) != SQLITE_DONE) {
      throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
    }
  }
}

std::vector<ReportRow> ReportDatabase::All() {
  std::lock_guard<std::mutex> lock(mutex_);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_,
                         "SELECT seq, received, operation, type, record_id, record FROM reports"
                         " ORDER BY seq",
                         -1, &raw, nullptr) != SQLITE_OK) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  Statement select(raw);
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
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) {
    throw std::runtime_error(std::string("report database: ") + sqlite3_errmsg(db_));
  }
  return rows;
}

}  // namespace obxserver
