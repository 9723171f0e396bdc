#pragma once
// The host's object registry: objects registered under a name and the
// interface type names they serve, found again by type name (in registration
// order) or by name.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "orsa/IRuntime.h"

namespace orsahost {

// Thread-safe: every operation may be called from any thread at any time.
// The registry holds a shared reference to each object until it is removed.
class RuntimeContext : public orsa::IRuntimeContext {
 public:
  // Who registered an object; lets the host drop a composite's objects before
  // it unloads the library that holds their code.
  typedef uint64_t Owner;
  static constexpr Owner kHostOwner = 0;

  RuntimeContext() = default;
  RuntimeContext(const RuntimeContext&) = delete;
  RuntimeContext& operator=(const RuntimeContext&) = delete;

  // Registers `object` under `name` for each of `typeNames` (duplicates in the
  // list count once). False, and nothing registered, when the object is empty,
  // the name is empty or already taken.
  bool registerObject(const std::string& name, const std::vector<std::string>& typeNames,
                      const orsa::IOrsaObjectPtr& object, Owner owner = kHostOwner);
  // Removes the object registered under `name`; false when there is none.
  bool unregisterObject(const std::string& name);
  // Removes every object registered by `owner`, newest first, and returns them
  // so the caller decides when the last references go.
  std::vector<orsa::IOrsaObjectPtr> removeObjectsOf(Owner owner);
  // Removes everything, newest first, releasing the registry's references.
  void clear();

  // The names registered, in registration order.
  std::vector<std::string> names() const;

  // orsa::IRuntimeContext. `flags` is accepted as the component passes it and
  // does not change the answer.
  // The object registered under exactly `name`, or an empty pointer.
  orsa::IOrsaObjectPtr getObject(const std::string& name, int flags) override;
  // Objects serving `typeName` whose names match `namePattern`, in
  // registration order; never an empty pointer (an empty array when none).
  orsa::OrsaObjectArrayPtr getObjects(const std::string& typeName, const std::string& namePattern,
                                      int flags) override;

 private:
  struct Entry {
    std::string name;
    std::vector<std::string> typeNames;
    orsa::IOrsaObjectPtr object;
    Owner owner;
  };
  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
};

// True when `name` matches `pattern`: "*" stands for any run of characters
// (also none), every other character for itself (case-sensitive). An empty
// pattern matches every name.
bool MatchesNamePattern(const std::string& pattern, const std::string& name);

}  // namespace orsahost
