#pragma once
// The host's data objects: reference-counted property bags used to carry SOAP
// requests and answers. Only the operations the component uses are declared.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "orsa/IOrsaObject.h"

namespace orsa {
namespace sdo {

class IDataObject;
class IDataObjectList;

// Counted pointer to a data object: copying calls addRef, destroying a
// non-empty pointer calls release. Dereferencing an empty one throws
// std::runtime_error "NullPointer".
class DataObjectPtr {
 public:
  DataObjectPtr() = default;
  // Takes over one reference the caller already holds (a new object's first).
  explicit DataObjectPtr(IDataObject* object) : object_(object) {}
  DataObjectPtr(const DataObjectPtr& other);
  DataObjectPtr& operator=(const DataObjectPtr& other);
  ~DataObjectPtr();

  IDataObject* operator->() const { return &operator*(); }
  IDataObject& operator*() const {
    if (object_ == nullptr) throw std::runtime_error("NullPointer");
    return *object_;
  }
  IDataObject* get() const { return object_; }
  explicit operator bool() const { return object_ != nullptr; }

 private:
  IDataObject* object_ = nullptr;
};

class IDataObjectList {
 public:
  // 0-based; an index not below size() throws std::out_of_range.
  virtual DataObjectPtr get(uint32_t index) = 0;
  virtual uint32_t size() = 0;
  virtual void append(DataObjectPtr object) = 0;

 protected:
  virtual ~IDataObjectList() = default;
};

class IDataObject {
 public:
  virtual void addRef() = 0;
  virtual void release() = 0;  // destroys the object with its last reference
  virtual const std::string& getNamespace() const = 0;
  virtual const std::string& getType() const = 0;
  // "" for a property never set.
  virtual std::string getCString(const std::string& path) = 0;
  virtual void setCString(const std::string& path, const std::string& value) = 0;
  // The list of a many-valued property, created empty on first use; it lives
  // as long as this object.
  virtual IDataObjectList& getList(const std::string& path) = 0;

 protected:
  virtual ~IDataObject() = default;
};

inline DataObjectPtr::DataObjectPtr(const DataObjectPtr& other) : object_(other.object_) {
  if (object_) object_->addRef();
}
inline DataObjectPtr& DataObjectPtr::operator=(const DataObjectPtr& other) {
  if (other.object_) other.object_->addRef();
  if (object_) object_->release();
  object_ = other.object_;
  return *this;
}
inline DataObjectPtr::~DataObjectPtr() {
  if (object_) object_->release();
}

class ISdoHelper : public IOrsaObject {
 public:
  static constexpr const char* kTypeName = "orsa::sdo::ISdoHelper";
  virtual DataObjectPtr createDataObject(const std::string& namespaceUri,
                                         const std::string& typeName) = 0;
};

}  // namespace sdo
}  // namespace orsa
