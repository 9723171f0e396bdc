#pragma once
// The host's data object: a reference-counted bag of string properties and
// list properties, created by SdoHelper and carried through the SOAP invoker.
#include <atomic>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "orsa/ISdo.h"

namespace orsahost {

// A list property: an ordered sequence of counted pointers. It holds one
// reference to every object appended to it and lives as long as its owner.
class DataObjectList : public orsa::sdo::IDataObjectList {
 public:
  DataObjectList() = default;
  ~DataObjectList() override = default;
  DataObjectList(const DataObjectList&) = delete;
  DataObjectList& operator=(const DataObjectList&) = delete;

  // Throws std::out_of_range for an index not below size().
  orsa::sdo::DataObjectPtr get(uint32_t index) override;
  uint32_t size() override;
  // An empty pointer is stored as given; reading it back yields an empty pointer.
  void append(orsa::sdo::DataObjectPtr object) override;

 private:
  std::vector<orsa::sdo::DataObjectPtr> items_;
};

// Property paths are plain property names ("key", "map"); a string property
// and a list property may share a name without affecting each other.
//
// Threads: the reference count is atomic, so pointers to one object may be
// copied and dropped on several threads; reading and changing properties is
// not synchronised and must be done by one thread at a time.
//
// Ownership: created with one reference (taken over by the DataObjectPtr the
// helper returns); the last release deletes it together with its lists, which
// drop their references to the objects they hold. An object appended (directly
// or indirectly) to its own list is never freed.
class DataObject : public orsa::sdo::IDataObject {
 public:
  DataObject(std::string namespaceUri, std::string typeName);
  DataObject(const DataObject&) = delete;
  DataObject& operator=(const DataObject&) = delete;

  void addRef() override;
  void release() override;
  const std::string& getNamespace() const override { return namespace_; }
  const std::string& getType() const override { return type_; }
  std::string getCString(const std::string& path) override;
  void setCString(const std::string& path, const std::string& value) override;
  orsa::sdo::IDataObjectList& getList(const std::string& path) override;

  // Number of live DataObject instances in this process; lets tests prove
  // that a message tree is freed with its last pointer.
  static long LiveCountForTest();

 protected:
  ~DataObject() override;

 private:
  std::atomic<long> refs_{1};
  std::string namespace_;
  std::string type_;
  std::map<std::string, std::string> strings_;
  std::map<std::string, std::unique_ptr<DataObjectList>> lists_;
};

}  // namespace orsahost
