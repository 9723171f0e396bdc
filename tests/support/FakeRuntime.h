#pragma once
// A runtime for tests: records every log line and hands out scripted services.
#include <atomic>
#include <boost/make_shared.hpp>
#include <boost/shared_ptr.hpp>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "orsa/IRuntime.h"

namespace obxtest {

struct LogLine {
  int level;
  std::string channel;
  std::string source;
  int line;
  std::string message;
};

class FakeRuntime : public orsa::IRuntime, public orsa::IRuntimeContext, public orsa::ILogManager {
 public:
  FakeRuntime();
  ~FakeRuntime() override;

  // Makes this runtime the component's library-wide one for the life of the
  // object (defined with the component's test support, ComponentRuntime.cpp).
  void Install();

  // Registers `object` for interface `typeName`; getService finds the first.
  void RegisterService(const std::string& typeName, const orsa::IOrsaObjectPtr& object,
                       const std::string& name = "");
  template <class T>
  void Register(const boost::shared_ptr<T>& service) {
    RegisterService(T::kTypeName, service);
  }
  // Registers the real security and compression services of the host.
  void RegisterSealServices();

  // Scripting.
  void SetContextMissing(bool missing) { contextMissing_ = missing; }
  void SetLogManagerMissing(bool missing) { logManagerMissing_ = missing; }
  void SetComposite(std::function<orsa::IOrsaObjectPtr(const std::string&, const std::string&)> f);

  // What happened.
  std::vector<LogLine> Lines() const;
  std::vector<std::string> Messages() const;  // message texts in order
  // Number of lines whose message equals `message` exactly.
  int Count(const std::string& message) const;
  bool Has(const std::string& message) const { return Count(message) > 0; }
  // True when some message starts with `prefix`.
  bool HasPrefix(const std::string& prefix) const;
  void ClearLines();
  std::vector<std::pair<std::string, std::string>> CompositeLoads() const;
  int ActivateCalls() const;

  // orsa::IRuntime
  orsa::IOrsaObjectPtr loadComposite(const std::string& path,
                                     const std::string& passphrase) override;
  orsa::ILogManagerPtr getLogManager() override;
  bool activateComposites() override;
  orsa::IRuntimeContext* getRuntimeContext() override;
  // orsa::IRuntimeContext
  orsa::IOrsaObjectPtr getObject(const std::string& name, int flags) override;
  orsa::OrsaObjectArrayPtr getObjects(const std::string& typeName, const std::string& namePattern,
                                      int flags) override;
  // orsa::ILogManager
  orsa::ILoggerPtr getLogger(const std::string& channel) override;

  void Record(LogLine line);

 private:
  struct Entry {
    std::string typeName;
    std::string name;
    orsa::IOrsaObjectPtr object;
  };
  mutable std::mutex mutex_;
  std::vector<LogLine> lines_;
  std::vector<Entry> services_;
  std::vector<std::pair<std::string, std::string>> compositeLoads_;
  std::function<orsa::IOrsaObjectPtr(const std::string&, const std::string&)> composite_;
  int activateCalls_ = 0;
  // Read by the component's threads while a test may flip them.
  std::atomic<bool> contextMissing_{false};
  std::atomic<bool> logManagerMissing_{false};
  std::function<void()> uninstall_;  // set by Install
};

}  // namespace obxtest
