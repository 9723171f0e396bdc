#include "host/services/DataObject.h"

#include <stdexcept>
#include <utility>

namespace orsahost {

namespace {
std::atomic<long> g_live{0};
}

orsa::sdo::DataObjectPtr DataObjectList::get(uint32_t index) {
  if (index >= items_.size()) throw std::out_of_range("DataObjectList: index out of range");
  return items_[index];
}

uint32_t DataObjectList::size() { return static_cast<uint32_t>(items_.size()); }

void DataObjectList::append(orsa::sdo::DataObjectPtr object) {
  items_.push_back(std::move(object));
}

DataObject::DataObject(std::string namespaceUri, std::string typeName)
    : namespace_(std::move(namespaceUri)), type_(std::move(typeName)) {
  g_live.fetch_add(1, std::memory_order_relaxed);
}

DataObject::~DataObject() { g_live.fetch_sub(1, std::memory_order_relaxed); }

void DataObject::addRef() { refs_.fetch_add(1, std::memory_order_relaxed); }

void DataObject::release() {
  // acq_rel: every write made through other references must be visible to the
  // thread that runs the destructor.
  if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

std::string DataObject::getCString(const std::string& path) {
  auto it = strings_.find(path);
  return it == strings_.end() ? std::string() : it->second;
}

void DataObject::setCString(const std::string& path, const std::string& value) {
  strings_[path] = value;
}

orsa::sdo::IDataObjectList& DataObject::getList(const std::string& path) {
  std::unique_ptr<DataObjectList>& slot = lists_[path];
  if (!slot) slot = std::make_unique<DataObjectList>();
  return *slot;
}

long DataObject::LiveCountForTest() { return g_live.load(std::memory_order_relaxed); }

}  // namespace orsahost
