#include "tests/support/FakeRuntime.h"

#include <boost/enable_shared_from_this.hpp>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"

namespace obxtest {
namespace {

class RecordingLogger : public orsa::ILogger {
 public:
  RecordingLogger(FakeRuntime* owner, std::string channel)
      : owner_(owner), channel_(std::move(channel)) {}
  void error(const std::string& m, const char* f, int l) override { Put(3, m, f, l); }
  void warning(const std::string& m, const char* f, int l) override { Put(4, m, f, l); }
  void information(const std::string& m, const char* f, int l) override { Put(6, m, f, l); }
  bool is(int) const override { return true; }

 private:
  void Put(int level, const std::string& m, const char* f, int l) {
    owner_->Record(LogLine{level, channel_, f ? f : "", l, m});
  }
  FakeRuntime* owner_;
  std::string channel_;
};

// The manager the runtime hands out must not own the runtime (it is the runtime).
struct NullDeleter {
  void operator()(void*) const {}
};

}  // namespace

FakeRuntime::FakeRuntime() = default;

FakeRuntime::~FakeRuntime() {
  if (uninstall_) uninstall_();
}

void FakeRuntime::RegisterService(const std::string& typeName, const orsa::IOrsaObjectPtr& object,
                                  const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  services_.push_back(Entry{typeName, name, object});
}

void FakeRuntime::RegisterSealServices() {
  Register<orsa::security::ISecurityHelper>(boost::make_shared<orsahost::SecurityHelper>());
  Register<orsa::zip::IZipHelper>(boost::make_shared<orsahost::ZipHelper>());
}

void FakeRuntime::SetComposite(
    std::function<orsa::IOrsaObjectPtr(const std::string&, const std::string&)> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  composite_ = std::move(f);
}

std::vector<LogLine> FakeRuntime::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> FakeRuntime::Messages() const {
  std::vector<std::string> out;
  for (const LogLine& l : Lines()) out.push_back(l.message);
  return out;
}

int FakeRuntime::Count(const std::string& message) const {
  int n = 0;
  for (const LogLine& l : Lines()) n += l.message == message;
  return n;
}

bool FakeRuntime::HasPrefix(const std::string& prefix) const {
  for (const LogLine& l : Lines())
    if (l.message.compare(0, prefix.size(), prefix) == 0) return true;
  return false;
}

void FakeRuntime::ClearLines() {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.clear();
}

std::vector<std::pair<std::string, std::string>> FakeRuntime::CompositeLoads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return compositeLoads_;
}

int FakeRuntime::ActivateCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return activateCalls_;
}

orsa::IOrsaObjectPtr FakeRuntime::loadComposite(const std::string& path,
                                                const std::string& passphrase) {
  std::function<orsa::IOrsaObjectPtr(const std::string&, const std::string&)> f;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    compositeLoads_.emplace_back(path, passphrase);
    f = composite_;
  }
  return f ? f(path, passphrase) : orsa::IOrsaObjectPtr();
}

orsa::ILogManagerPtr FakeRuntime::getLogManager() {
  if (logManagerMissing_) return orsa::ILogManagerPtr();
  return orsa::ILogManagerPtr(static_cast<orsa::ILogManager*>(this), NullDeleter());
}

bool FakeRuntime::activateComposites() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++activateCalls_;
  return true;
}

orsa::IRuntimeContext* FakeRuntime::getRuntimeContext() { return contextMissing_ ? nullptr : this; }

orsa::IOrsaObjectPtr FakeRuntime::getObject(const std::string& name, int) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const Entry& e : services_)
    if (e.name == name) return e.object;
  return orsa::IOrsaObjectPtr();
}

orsa::OrsaObjectArrayPtr FakeRuntime::getObjects(const std::string& typeName, const std::string&,
                                                 int) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<orsa::IOrsaObjectPtr> found;
  for (const Entry& e : services_)
    if (e.typeName == typeName) found.push_back(e.object);
  if (found.empty()) return orsa::OrsaObjectArrayPtr();
  auto array = boost::make_shared<orsa::OrsaObjectArray>(static_cast<uint32_t>(found.size()));
  for (size_t i = 0; i < found.size(); ++i) (*array)[static_cast<uint32_t>(i)] = found[i];
  return array;
}

orsa::ILoggerPtr FakeRuntime::getLogger(const std::string& channel) {
  return boost::make_shared<RecordingLogger>(this, channel);
}

void FakeRuntime::Record(LogLine line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(line));
}

}  // namespace obxtest
