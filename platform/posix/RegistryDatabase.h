#pragma once
// The SQLite file behind the registry functions: "<state root>/registry.db".
//
// Layout: table `keys` holds the key tree (id, parent id, name compared with
// NOCASE, i.e. ASCII case folding); ids 1 and 2 are the hives HKLM and HKCU.
// Table `vals` holds (key id, name NOCASE, type, raw bytes). Ids are never
// reused (AUTOINCREMENT), so a handle to a deleted key never reaches a key
// created later under the same name.
//
// Connections are cached per database path and shared by all threads of the
// process; a process-wide mutex serialises their use, and SQLite's file locks
// (WAL, busy timeout) serialise processes. A cached connection whose file has
// been removed or replaced (a test removing its state root) is closed and
// reopened on the next use.
#include <sqlite3.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace platform {

// One prepared statement; kept for the next statement of the same text on the
// same connection when it is destroyed. Only under the registry lock.
class RegistryStatement {
 public:
  RegistryStatement(sqlite3* db, const char* sql);
  ~RegistryStatement();
  RegistryStatement(const RegistryStatement&) = delete;
  RegistryStatement& operator=(const RegistryStatement&) = delete;

  bool ok() const { return stmt_ != nullptr; }
  void BindInt(int index, int64_t value);
  void BindText(int index, const std::string& text);
  void BindBlob(int index, const unsigned char* data, size_t size);
  // SQLITE_ROW, SQLITE_DONE or an error code.
  int Step();
  void Reset();
  int64_t Int(int column);
  std::string Text(int column);
  std::vector<unsigned char> Blob(int column);

 private:
  sqlite3* db_;
  std::string sql_;
  sqlite3_stmt* stmt_ = nullptr;
};

// Exclusive use of the registry database of one state root for the life of the
// object (the process-wide registry lock is held meanwhile). Not copyable; one
// thread.
class RegistryDatabase {
 public:
  static constexpr int64_t kLocalMachineId = 1;
  static constexpr int64_t kCurrentUserId = 2;

  // With `create` the state root folder and the file are created when missing;
  // without it a missing file leaves db() null and status() kErrorFileNotFound.
  // Any other failure gives kErrorRegistryIo.
  RegistryDatabase(const std::string& stateRoot, bool create);
  ~RegistryDatabase();
  RegistryDatabase(const RegistryDatabase&) = delete;
  RegistryDatabase& operator=(const RegistryDatabase&) = delete;

  sqlite3* db() const { return db_; }
  long status() const { return status_; }

  // Write transaction: takes the database's write lock at once, so a
  // read-then-write sequence cannot deadlock against another process.
  bool BeginWrite();
  // Read transaction: one consistent snapshot for a multi-statement read.
  bool BeginRead();
  bool Commit();
  void Rollback();

 private:
  std::unique_lock<std::mutex> lock_;
  sqlite3* db_ = nullptr;
  long status_ = 0;
  bool inTransaction_ = false;
};

}  // namespace platform
