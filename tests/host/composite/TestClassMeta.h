#pragma once
// Class metadata for the test libraries: a concrete class T made with new and
// released through the metadata, as real component metadata does. Destroying
// the metadata while an object it made is alive aborts the process, so a host
// that unloads in the wrong order fails its test loudly.
#include <boost/make_shared.hpp>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "orsa/IClassMeta.h"

namespace obxtest {

template <class T>
class TestClassMeta : public orsa::IClassMeta {
 public:
  TestClassMeta(std::string name, std::vector<std::string> supers)
      : name_(std::move(name)), supers_(std::move(supers)) {}
  ~TestClassMeta() override {
    if (live_ != 0) {
      std::fprintf(stderr, "metadata of %s destroyed before its %d object(s)\n", name_.c_str(),
                   live_);
      std::abort();
    }
  }
  const char* getName() const override { return name_.c_str(); }
  bool supports(const char* typeName) const override {
    if (typeName == nullptr) return false;
    for (const std::string& s : supers_)
      if (s == typeName) return true;
    return false;
  }
  orsa::IOrsaObjectPtr createObject(uintptr_t) override {
    ++live_;
    TestClassMeta* self = this;
    return orsa::IOrsaObjectPtr(new T, [self](T* object) {
      delete object;
      --self->live_;
    });
  }
  orsa::StringArrayPtr getSupers() const override {
    auto array = boost::make_shared<orsa::StringArray>(static_cast<uint32_t>(supers_.size()));
    for (size_t i = 0; i < supers_.size(); ++i) (*array)[static_cast<uint32_t>(i)] = supers_[i];
    return array;
  }
  bool isAbstract() const override { return false; }

 private:
  std::string name_;
  std::vector<std::string> supers_;
  int live_ = 0;
};

}  // namespace obxtest

#define OBX_TEST_EXPORT extern "C" __attribute__((visibility("default")))
