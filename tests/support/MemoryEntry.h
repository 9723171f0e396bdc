#pragma once
// A `patch` entry held in memory, for tests of the typed task model and the
// stages: no store, no sealed file. It remembers every write in order, so a
// test sees what a real store would have been asked to change.
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "records/TaskRecord.h"

namespace obxtest {

class MemoryEntry : public obx::EntryAttributes {
 public:
  MemoryEntry() = default;
  // Attributes as {"element", "attribute", "value"}.
  MemoryEntry(std::initializer_list<std::vector<std::string>> values) {
    for (const std::vector<std::string>& v : values) attributes[{v[0], v[1]}] = v[2];
  }
  std::string Get(const char* element, const char* attribute) const override {
    const auto found = attributes.find({element, attribute});
    return found == attributes.end() ? std::string() : found->second;
  }
  void Set(const char* element, const char* attribute, const std::string& value) override {
    attributes[{element, attribute}] = value;
    writes.push_back(std::string(element) + "/" + attribute + "=" + value);
  }

  std::map<std::pair<std::string, std::string>, std::string> attributes;
  std::vector<std::string> writes;
};

}  // namespace obxtest
