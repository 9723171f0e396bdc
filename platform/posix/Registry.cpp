#include "platform/Registry.h"

#include <climits>
#include <cstring>
#include <exception>
#include <new>

#include "platform/StateRoot.h"
#include "platform/detail/KeyPath.h"
#include "platform/detail/RegistryGuard.h"
#include "platform/posix/RegistryDatabase.h"

namespace platform {

namespace {

constexpr uint32_t kHandleMagic = 0x52454731;  // catches a closed or foreign handle
constexpr uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr size_t kMaxKeyNameLength = 255;  // a longer key name is refused, as on Windows

}  // namespace

struct RegKeyImpl {
  uint32_t magic = kHandleMagic;
  std::string stateRoot;  // the root in force when the key was opened
  RegRoot hive = RegRoot::kLocalMachine;
  int64_t id = 0;
  std::string path;  // stored names joined by "\"
  uint32_t access = 0;
};

namespace {

using detail::SplitKeyPath;

int64_t HiveId(RegRoot root) {
  return root == RegRoot::kLocalMachine ? RegistryDatabase::kLocalMachineId
                                        : RegistryDatabase::kCurrentUserId;
}

bool ValidHandle(RegKey key) { return key != nullptr && key->magic == kHandleMagic; }

// Walks `names` down from the key `start`, whose stored path is `startPath`:
// one indexed lookup of (parent, name) per level. With `create`, missing keys
// are added (the caller holds a write transaction). Fills `id` and the
// stored-case `path`.
long ResolveFrom(RegistryDatabase& db, int64_t start, const std::string& startPath,
                 const std::vector<std::string>& names, bool create, int64_t* id,
                 std::string* path) {
  RegistryStatement find(db.db(), "SELECT id, name FROM keys WHERE parent = ?1 AND name = ?2");
  RegistryStatement insert(db.db(), "INSERT INTO keys(parent, name) VALUES(?1, ?2)");
  if (!find.ok() || !insert.ok()) return kErrorRegistryIo;
  int64_t current = start;
  std::string stored = startPath;
  for (const std::string& name : names) {
    find.Reset();
    find.BindInt(1, current);
    find.BindText(2, name);
    int rc = find.Step();
    if (!stored.empty()) stored += '\\';
    if (rc == SQLITE_ROW) {
      current = find.Int(0);
      stored += find.Text(1);
    } else if (rc != SQLITE_DONE) {
      return kErrorRegistryIo;
    } else if (!create) {
      return kErrorFileNotFound;
    } else if (name.size() > kMaxKeyNameLength) {
      return kErrorInvalidParameter;
    } else {
      insert.Reset();
      insert.BindInt(1, current);
      insert.BindText(2, name);
      if (insert.Step() != SQLITE_DONE) return kErrorRegistryIo;
      current = sqlite3_last_insert_rowid(db.db());
      stored += name;
    }
  }
  *id = current;
  *path = stored;
  return kErrorSuccess;
}

long ResolveKey(RegistryDatabase& db, RegRoot root, const std::string& subkey, bool create,
                int64_t* id, std::string* path) {
  return ResolveFrom(db, HiveId(root), std::string(), SplitKeyPath(subkey), create, id, path);
}

long KeyExists(RegistryDatabase& db, int64_t id) {
  RegistryStatement exists(db.db(), "SELECT 1 FROM keys WHERE id = ?1");
  if (!exists.ok()) return kErrorRegistryIo;
  exists.BindInt(1, id);
  int rc = exists.Step();
  if (rc == SQLITE_ROW) return kErrorSuccess;
  return rc == SQLITE_DONE ? kErrorKeyDeleted : kErrorRegistryIo;
}

long SetValueIn(RegistryDatabase& db, int64_t id, const std::string& name, uint32_t type,
                const unsigned char* data, size_t size) {
  // SQLite takes a blob's size as an int; a larger one would be undefined behaviour there.
  if (size > static_cast<size_t>(INT_MAX)) return kErrorInvalidParameter;
  RegistryStatement upsert(db.db(),
                           "INSERT INTO vals(key, name, type, data) VALUES(?1, ?2, ?3, ?4) "
                           "ON CONFLICT(key, name) DO UPDATE SET type = ?3, data = ?4");
  if (!upsert.ok()) return kErrorRegistryIo;
  upsert.BindInt(1, id);
  upsert.BindText(2, name);
  upsert.BindInt(3, type);
  upsert.BindBlob(4, data, size);
  return upsert.Step() == SQLITE_DONE ? kErrorSuccess : kErrorRegistryIo;
}

long DeleteValueIn(RegistryDatabase& db, int64_t id, const std::string& name) {
  RegistryStatement remove(db.db(), "DELETE FROM vals WHERE key = ?1 AND name = ?2");
  if (!remove.ok()) return kErrorRegistryIo;
  remove.BindInt(1, id);
  remove.BindText(2, name);
  if (remove.Step() != SQLITE_DONE) return kErrorRegistryIo;
  return sqlite3_changes(db.db()) > 0 ? kErrorSuccess : kErrorFileNotFound;
}

long DeleteTreeIn(RegistryDatabase& db, RegRoot root, const std::string& subkey) {
  int64_t id = 0;
  std::string path;
  long rc = ResolveKey(db, root, subkey, false, &id, &path);
  if (rc != kErrorSuccess) return rc;
  // Values first: the key rows are what the subtree walk follows.
  RegistryStatement dropValues(db.db(),
                               "DELETE FROM vals WHERE key IN (WITH RECURSIVE tree(id) AS "
                               "(SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON "
                               "keys.parent = tree.id) SELECT id FROM tree)");
  RegistryStatement dropKeys(db.db(),
                             "DELETE FROM keys WHERE id IN (WITH RECURSIVE tree(id) AS "
                             "(SELECT ?1 UNION ALL SELECT keys.id FROM keys JOIN tree ON "
                             "keys.parent = tree.id) SELECT id FROM tree) AND id <> ?2");
  if (!dropValues.ok() || !dropKeys.ok()) return kErrorRegistryIo;
  dropValues.BindInt(1, id);
  dropKeys.BindInt(1, id);
  // A hive itself stays; deleting it empties it.
  dropKeys.BindInt(2, SplitKeyPath(subkey).empty() ? id : -1);
  if (dropValues.Step() != SQLITE_DONE || dropKeys.Step() != SQLITE_DONE) return kErrorRegistryIo;
  return kErrorSuccess;
}

long OpenOrCreate(RegRoot root, const std::string& subkey, uint32_t access, RegKey* key,
                  bool create) {
  if (key == nullptr) return kErrorInvalidParameter;
  *key = nullptr;
  if (create && RegKeyDepth(subkey) > kMaxKeyDepth) return kErrorInvalidParameter;
  std::string stateRoot = StateRoot();
  int64_t id = HiveId(root);
  std::string path;
  std::vector<std::string> names = SplitKeyPath(subkey);
  // The hives always exist, even before the registry file does.
  if (!names.empty()) {
    RegistryDatabase db(stateRoot, create);
    if (db.status() != kErrorSuccess) return db.status();
    if (!(create ? db.BeginWrite() : db.BeginRead())) return kErrorRegistryIo;
    long rc = ResolveKey(db, root, subkey, create, &id, &path);
    if (rc != kErrorSuccess) return rc;
    if (!db.Commit()) return kErrorRegistryIo;
  }
  RegKeyImpl* impl = new RegKeyImpl;
  impl->stateRoot = stateRoot;
  impl->hive = root;
  impl->id = id;
  impl->path = path;
  impl->access = access;
  *key = impl;
  return kErrorSuccess;
}

}  // namespace

using detail::Guarded;

long OpenRegKey(RegRoot root, const std::string& subkey, uint32_t access, RegKey* key) {
  return Guarded([&] { return OpenOrCreate(root, subkey, access, key, false); });
}

long OpenRegKey(RegKey parent, const std::string& subkey, uint32_t access, RegKey* key) {
  return Guarded([&]() -> long {
    if (key == nullptr) return kErrorInvalidParameter;
    *key = nullptr;
    if (!ValidHandle(parent)) return kErrorInvalidHandle;
    int64_t id = parent->id;
    std::string path = parent->path;
    std::vector<std::string> names = SplitKeyPath(subkey);
    if (!names.empty()) {
      RegistryDatabase db(parent->stateRoot, false);
      if (db.status() != kErrorSuccess) return db.status();
      if (!db.BeginRead()) return kErrorRegistryIo;
      long rc = ResolveFrom(db, parent->id, parent->path, names, false, &id, &path);
      // A missing child of a key that is itself gone says so, as Windows does.
      if (rc == kErrorFileNotFound && KeyExists(db, parent->id) == kErrorKeyDeleted)
        rc = kErrorKeyDeleted;
      if (rc != kErrorSuccess) return rc;
      if (!db.Commit()) return kErrorRegistryIo;
    }
    RegKeyImpl* impl = new RegKeyImpl;
    impl->stateRoot = parent->stateRoot;
    impl->hive = parent->hive;
    impl->id = id;
    impl->path = path;
    impl->access = access;
    *key = impl;
    return kErrorSuccess;
  });
}

long CreateRegKey(RegRoot root, const std::string& subkey, uint32_t access, RegKey* key) {
  return Guarded([&] { return OpenOrCreate(root, subkey, access, key, true); });
}

long QueryRegValue(RegKey key, const std::string& name, uint32_t* type, unsigned char* data,
                   uint32_t* size) {
  return Guarded([&]() -> long {
    if (!ValidHandle(key)) return kErrorInvalidHandle;
    if ((key->access & kKeyQueryValue) == 0) return kErrorAccessDenied;
    if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
    RegistryDatabase db(key->stateRoot, false);
    if (db.status() != kErrorSuccess) return db.status();
    RegistryStatement query(db.db(), "SELECT type, data FROM vals WHERE key = ?1 AND name = ?2");
    if (!query.ok()) return kErrorRegistryIo;
    query.BindInt(1, key->id);
    query.BindText(2, name);
    int rc = query.Step();
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return kErrorRegistryIo;
    uint32_t storedType = static_cast<uint32_t>(query.Int(0));
    std::vector<unsigned char> bytes = query.Blob(1);
    if (type != nullptr) *type = storedType;
    if (size == nullptr) return kErrorSuccess;
    uint32_t needed = static_cast<uint32_t>(bytes.size());
    if (data == nullptr) {
      *size = needed;
      return kErrorSuccess;
    }
    if (*size < needed) {
      *size = needed;
      return kErrorMoreData;
    }
    if (needed != 0) std::memcpy(data, bytes.data(), needed);
    *size = needed;
    return kErrorSuccess;
  });
}

long SetRegValue(RegKey key, const std::string& name, uint32_t type, const unsigned char* data,
                 uint32_t size) {
  return Guarded([&]() -> long {
    if (!ValidHandle(key)) return kErrorInvalidHandle;
    if ((key->access & kKeySetValue) == 0) return kErrorAccessDenied;
    if (data == nullptr && size != 0) return kErrorInvalidParameter;
    RegistryDatabase db(key->stateRoot, true);
    if (db.status() != kErrorSuccess) return db.status();
    if (!db.BeginWrite()) return kErrorRegistryIo;
    // Another process may have deleted the key since it was opened.
    long exists = KeyExists(db, key->id);
    if (exists != kErrorSuccess) return exists;
    long rc = SetValueIn(db, key->id, name, type, data, size);
    if (rc != kErrorSuccess) return rc;
    // synchronous=FULL: the commit returns once the change is on disk.
    return db.Commit() ? kErrorSuccess : kErrorRegistryIo;
  });
}

long DeleteRegValue(RegKey key, const std::string& name) {
  return Guarded([&]() -> long {
    if (!ValidHandle(key)) return kErrorInvalidHandle;
    if ((key->access & kKeySetValue) == 0) return kErrorAccessDenied;
    RegistryDatabase db(key->stateRoot, false);
    if (db.status() != kErrorSuccess) return db.status();
    if (!db.BeginWrite()) return kErrorRegistryIo;
    long rc = DeleteValueIn(db, key->id, name);
    if (rc != kErrorSuccess) return rc;
    return db.Commit() ? kErrorSuccess : kErrorRegistryIo;
  });
}

long DeleteRegTree(RegRoot root, const std::string& subkey) {
  return Guarded([&]() -> long {
    RegistryDatabase db(StateRoot(), false);
    if (db.status() != kErrorSuccess) return db.status();
    if (!db.BeginWrite()) return kErrorRegistryIo;
    long rc = DeleteTreeIn(db, root, subkey);
    if (rc != kErrorSuccess) return rc;
    return db.Commit() ? kErrorSuccess : kErrorRegistryIo;
  });
}

long FlushRegKey(RegKey key) {
  // Every write commits with synchronous=FULL, so its data is already on disk.
  return ValidHandle(key) ? kErrorSuccess : kErrorInvalidHandle;
}

long CloseRegKey(RegKey key) {
  if (!ValidHandle(key)) return kErrorInvalidHandle;
  key->magic = 0;
  delete key;
  return kErrorSuccess;
}

long RegEnumValues(RegKey key, std::vector<RegValue>* values) {
  return Guarded([&]() -> long {
    if (!ValidHandle(key)) return kErrorInvalidHandle;
    if (values == nullptr) return kErrorInvalidParameter;
    if ((key->access & kKeyQueryValue) == 0) return kErrorAccessDenied;
    values->clear();
    RegistryDatabase db(key->stateRoot, false);
    if (db.status() == kErrorFileNotFound) return kErrorSuccess;  // a hive with nothing in it
    if (db.status() != kErrorSuccess) return db.status();
    RegistryStatement query(
        db.db(), "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY name COLLATE NOCASE");
    if (!query.ok()) return kErrorRegistryIo;
    query.BindInt(1, key->id);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) {
      RegValue value;
      value.name = query.Text(0);
      value.type = static_cast<uint32_t>(query.Int(1));
      value.data = query.Blob(2);
      values->push_back(std::move(value));
    }
    return rc == SQLITE_DONE ? kErrorSuccess : kErrorRegistryIo;
  });
}

long RegEnumSubKeys(RegKey key, std::vector<std::string>* names) {
  return Guarded([&]() -> long {
    if (!ValidHandle(key)) return kErrorInvalidHandle;
    if (names == nullptr) return kErrorInvalidParameter;
    if ((key->access & kKeyEnumerateSubKeys) == 0) return kErrorAccessDenied;
    names->clear();
    RegistryDatabase db(key->stateRoot, false);
    if (db.status() == kErrorFileNotFound) return kErrorSuccess;
    if (db.status() != kErrorSuccess) return db.status();
    RegistryStatement query(db.db(),
                            "SELECT name FROM keys WHERE parent = ?1 ORDER BY name COLLATE NOCASE");
    if (!query.ok()) return kErrorRegistryIo;
    query.BindInt(1, key->id);
    int rc;
    while ((rc = query.Step()) == SQLITE_ROW) names->push_back(query.Text(0));
    return rc == SQLITE_DONE ? kErrorSuccess : kErrorRegistryIo;
  });
}

std::string RegKeyPath(RegKey key) { return ValidHandle(key) ? key->path : std::string(); }

long RegApplyChanges(const std::vector<RegChange>& changes) {
  return Guarded([&]() -> long {
    // Checked before anything is touched: a refused batch leaves no trace.
    for (const RegChange& change : changes) {
      bool creates = change.kind == RegChange::kCreateKey || change.kind == RegChange::kSetValue;
      if (creates && RegKeyDepth(change.subkey) > kMaxKeyDepth) return kErrorInvalidParameter;
    }
    RegistryDatabase db(StateRoot(), true);
    if (db.status() != kErrorSuccess) return db.status();
    if (!db.BeginWrite()) return kErrorRegistryIo;
    // A .reg file names one key and then sets its values one by one: the key
    // found last is reused until another key or a deletion comes.
    bool haveLast = false;
    RegRoot lastRoot = RegRoot::kLocalMachine;
    std::string lastSubkey;
    int64_t lastId = 0;
    auto resolve = [&](const RegChange& change, bool create, int64_t* id) -> long {
      if (haveLast && change.root == lastRoot && change.subkey == lastSubkey) {
        *id = lastId;
        return kErrorSuccess;
      }
      std::string path;
      long rc = ResolveKey(db, change.root, change.subkey, create, id, &path);
      haveLast = rc == kErrorSuccess;
      lastRoot = change.root;
      lastSubkey = change.subkey;
      lastId = *id;
      return rc;
    };
    for (const RegChange& change : changes) {
      long rc = kErrorSuccess;
      int64_t id = 0;
      switch (change.kind) {
        case RegChange::kCreateKey:
          rc = resolve(change, true, &id);
          break;
        case RegChange::kDeleteTree:
          haveLast = false;
          rc = DeleteTreeIn(db, change.root, change.subkey);
          break;
        case RegChange::kSetValue:
          rc = resolve(change, true, &id);
          if (rc == kErrorSuccess)
            rc = SetValueIn(db, id, change.name, change.type, change.data.data(),
                            change.data.size());
          break;
        case RegChange::kDeleteValue:
          rc = resolve(change, false, &id);
          if (rc == kErrorSuccess) rc = DeleteValueIn(db, id, change.name);
          break;
        default:
          rc = kErrorInvalidParameter;
          break;
      }
      // Removing what is already gone is what the caller wanted.
      if (rc == kErrorFileNotFound &&
          (change.kind == RegChange::kDeleteTree || change.kind == RegChange::kDeleteValue))
        rc = kErrorSuccess;
      if (rc != kErrorSuccess) return rc;  // the destructor rolls everything back
    }
    return db.Commit() ? kErrorSuccess : kErrorRegistryIo;
  });
}

}  // namespace platform
