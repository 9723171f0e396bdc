#include "platform/posix/RegistryDatabase.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <map>
#include <thread>

#include "platform/File.h"
#include "platform/Registry.h"
#include "platform/StateRoot.h"
#include "platform/posix/PosixError.h"

namespace platform {

namespace {

// Long enough for several processes writing at once; each transaction is tiny.
constexpr int kBusyTimeoutMs = 30000;
// Setting WAL mode on a brand-new file can report SQLITE_BUSY without waiting
// on the busy handler while another process creates the same file; retry.
constexpr int kSetupAttempts = 200;

const char* const kSchema =
    "CREATE TABLE IF NOT EXISTS keys("
    " id INTEGER PRIMARY KEY AUTOINCREMENT,"
    " parent INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " UNIQUE(parent, name));"
    "CREATE TABLE IF NOT EXISTS vals("
    " key INTEGER NOT NULL,"
    " name TEXT NOT NULL COLLATE NOCASE,"
    " type INTEGER NOT NULL,"
    " data BLOB NOT NULL,"
    " PRIMARY KEY(key, name)) WITHOUT ROWID;"
    "INSERT OR IGNORE INTO keys(id, parent, name) VALUES"
    " (1, 0, 'HKEY_LOCAL_MACHINE'), (2, 0, 'HKEY_CURRENT_USER');";

struct CachedConnection {
  sqlite3* db = nullptr;
  dev_t dev = 0;
  ino_t ino = 0;
};

// Leaked on purpose: registry calls may come from static destructors of other
// libraries, after this file's statics would have been destroyed.
std::mutex& RegistryMutex() {
  static std::mutex* mutex = new std::mutex;
  return *mutex;
}

std::map<std::string, CachedConnection>& Cache() {
  static auto* cache = new std::map<std::string, CachedConnection>;
  return *cache;
}

// Statements prepared once per connection and SQL text, kept between calls:
// a registry call then prepares nothing the process has prepared before. A
// statement is here only while no RegistryStatement uses it; like the
// connections, this is used under the registry lock alone.
using StatementKey = std::pair<sqlite3*, std::string>;
std::map<StatementKey, sqlite3_stmt*>& IdleStatements() {
  static auto* idle = new std::map<StatementKey, sqlite3_stmt*>;
  return *idle;
}

void FinalizeIdleStatements(sqlite3* db) {
  auto& idle = IdleStatements();
  for (auto it = idle.lower_bound({db, std::string()});
       it != idle.end() && it->first.first == db;) {
    sqlite3_finalize(it->second);
    it = idle.erase(it);
  }
}

bool Exec(sqlite3* db, const char* sql) {
  return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Configure(sqlite3* db) {
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  for (int attempt = 0; attempt < kSetupAttempts; ++attempt) {
    bool ok = Exec(db, "PRAGMA journal_mode=WAL;") && Exec(db, "PRAGMA synchronous=FULL;");
    if (ok && Exec(db, "BEGIN IMMEDIATE;")) {
      if (Exec(db, kSchema) && Exec(db, "COMMIT;")) return true;
      Exec(db, "ROLLBACK;");
    }
    int code = sqlite3_errcode(db);
    if (code != SQLITE_BUSY && code != SQLITE_LOCKED) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Drops cached connections whose file is gone or was replaced by another.
void Sweep() {
  auto& cache = Cache();
  for (auto it = cache.begin(); it != cache.end();) {
    struct stat st;
    if (stat(it->first.c_str(), &st) != 0 || st.st_dev != it->second.dev ||
        st.st_ino != it->second.ino) {
      FinalizeIdleStatements(it->second.db);
      sqlite3_close_v2(it->second.db);
      it = cache.erase(it);
    } else {
      ++it;
    }
  }
}

}  // namespace

RegistryStatement::RegistryStatement(sqlite3* db, const char* sql) : db_(db), sql_(sql) {
  auto& idle = IdleStatements();
  const auto found = idle.find({db, sql_});
  if (found != idle.end()) {
    stmt_ = found->second;
    idle.erase(found);
    return;
  }
  if (sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr) != SQLITE_OK) {
    sqlite3_finalize(stmt_);
    stmt_ = nullptr;
  }
}

RegistryStatement::~RegistryStatement() {
  if (stmt_ == nullptr) return;
  // Reset releases what the statement holds of the database (its read
  // snapshot); an idle copy of the same text already kept makes this one go.
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
  try {
    if (IdleStatements().emplace(StatementKey{db_, sql_}, stmt_).second) return;
  } catch (...) {  // no memory to keep it: finalised below
  }
  sqlite3_finalize(stmt_);
}

void RegistryStatement::BindInt(int index, int64_t value) {
  sqlite3_bind_int64(stmt_, index, value);
}

void RegistryStatement::BindText(int index, const std::string& text) {
  sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
}

void RegistryStatement::BindBlob(int index, const unsigned char* data, size_t size) {
  // A null pointer would bind SQL NULL; an empty value is an empty blob.
  static const unsigned char kEmpty = 0;
  sqlite3_bind_blob(stmt_, index, size ? data : &kEmpty, static_cast<int>(size), SQLITE_TRANSIENT);
}

int RegistryStatement::Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }

void RegistryStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

int64_t RegistryStatement::Int(int column) { return sqlite3_column_int64(stmt_, column); }

std::string RegistryStatement::Text(int column) {
  const unsigned char* text = sqlite3_column_text(stmt_, column);
  int size = sqlite3_column_bytes(stmt_, column);
  return text ? std::string(reinterpret_cast<const char*>(text), static_cast<size_t>(size))
              : std::string();
}

std::vector<unsigned char> RegistryStatement::Blob(int column) {
  const unsigned char* data = static_cast<const unsigned char*>(sqlite3_column_blob(stmt_, column));
  int size = sqlite3_column_bytes(stmt_, column);
  return data ? std::vector<unsigned char>(data, data + size) : std::vector<unsigned char>();
}

RegistryDatabase::RegistryDatabase(const std::string& stateRoot, bool create)
    : lock_(RegistryMutex()) {
  Sweep();
  std::string path = stateRoot + "/registry.db";
  auto& cache = Cache();
  auto found = cache.find(path);
  if (found != cache.end()) {
    db_ = found->second.db;
    status_ = kErrorSuccess;
    return;
  }
  struct stat st;
  if (!create && stat(path.c_str(), &st) != 0) {
    status_ = kErrorFileNotFound;
    return;
  }
  errno = 0;
  if (create && !CreateDirectories(stateRoot)) {
    status_ = errno != 0 ? WindowsErrorFromErrno(errno) : kErrorRegistryIo;
    return;
  }
  sqlite3* db = nullptr;
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  if (sqlite3_open_v2(path.c_str(), &db, flags, nullptr) != SQLITE_OK || !Configure(db) ||
      stat(path.c_str(), &st) != 0) {
    // The system's reason (permission, read-only file system, full disk)
    // tells the operator more than a registry failure.
    int error = db != nullptr ? sqlite3_system_errno(db) : 0;
    sqlite3_close_v2(db);
    status_ = error != 0 ? WindowsErrorFromErrno(error) : kErrorRegistryIo;
    return;
  }
  cache[path] = CachedConnection{db, st.st_dev, st.st_ino};
  db_ = db;
  status_ = kErrorSuccess;
}

RegistryDatabase::~RegistryDatabase() {
  if (inTransaction_) Rollback();
}

bool RegistryDatabase::BeginWrite() {
  inTransaction_ = db_ != nullptr && Exec(db_, "BEGIN IMMEDIATE;");
  return inTransaction_;
}

bool RegistryDatabase::BeginRead() {
  inTransaction_ = db_ != nullptr && Exec(db_, "BEGIN;");
  return inTransaction_;
}

bool RegistryDatabase::Commit() {
  if (!inTransaction_) return false;
  if (Exec(db_, "COMMIT;")) {
    inTransaction_ = false;
    return true;
  }
  Rollback();
  return false;
}

void RegistryDatabase::Rollback() {
  if (inTransaction_) Exec(db_, "ROLLBACK;");
  inTransaction_ = false;
}

}  // namespace platform
