#pragma once
#include <boost/make_shared.hpp>
#include <cstdint>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>

#include "orsa/IClassMeta.h"
#include "orsa/IOrsaObjectCreator.h"

namespace orsa {

// Class metadata: the class name, the interface type names it supports and
// the creator of its objects (none for an abstract class). Must outlive every
// object created through it, because their release calls back into the creator.
class OrsaObjectMeta : public IClassMeta {
 public:
  // Takes ownership of `creator` (null for an abstract class).
  OrsaObjectMeta(std::string name, std::set<std::string> supers, IOrsaObjectCreator* creator)
      : name_(std::move(name)), supers_(std::move(supers)), creator_(creator) {}

  const char* getName() const override { return name_.c_str(); }

  bool supports(const char* typeName) const override {
    return typeName != nullptr && supers_.count(typeName) != 0;
  }

  IOrsaObjectPtr createObject(uintptr_t context) override {
    if (!creator_) throw std::runtime_error("Can not create abstract " + name_);
    return creator_->create(context);
  }

  StringArrayPtr getSupers() const override {
    StringArrayPtr result = boost::make_shared<StringArray>(static_cast<uint32_t>(supers_.size()));
    uint32_t i = 0;
    for (const std::string& super : supers_) (*result)[i++] = super;
    return result;
  }

  bool isAbstract() const override { return !creator_; }

 private:
  std::string name_;
  std::set<std::string> supers_;
  std::unique_ptr<IOrsaObjectCreator> creator_;
};

}  // namespace orsa
