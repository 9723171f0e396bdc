// A console component for the host's tests. It logs through the runtime it
// was given (channel "TestConsole"), runs one thread between start and stop,
// and takes its behaviour from the environment:
//   OBX_TEST_CONSOLE_MODE=fail   start returns false
//   OBX_TEST_CONSOLE_MODE=throw  start throws std::runtime_error
//   OBX_TEST_CONSOLE_MODE=abandon stop gives up a worker that never ends
//                                (it waits on a condition of the library's
//                                static data), as a stop that timed out does
//   OBX_TEST_CONSOLE_COMPOSITE   a composite to load and activate in start
//                                (with OBX_TEST_CONSOLE_PASSPHRASE); the
//                                outcome and the peer-to-peer lookup are logged
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "orsa/IConsoleExt.h"
#include "orsa/INet.h"
#include "tests/host/composite/TestClassMeta.h"

namespace {

orsa::IRuntime* g_runtime = nullptr;

void Log(const std::string& message) {
  if (g_runtime == nullptr) return;
  orsa::ILogManagerPtr logs = g_runtime->getLogManager();
  orsa::ILoggerPtr logger = logs ? logs->getLogger("TestConsole") : orsa::ILoggerPtr();
  if (logger && logger->is(orsa::kLogInformation))
    logger->information(message, "TestConsole", __LINE__);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

class TestConsole : public orsa::IConsoleExt, public orsa::IOrsaObject {
 public:
  void initialize() override {}

  bool start() override {
    std::string mode = Env("OBX_TEST_CONSOLE_MODE");
    if (mode == "fail") return false;
    if (mode == "throw") throw std::runtime_error("start refused by test");
    if (worker_.joinable()) return false;
    Log("start root=" + Env("ORSA_ROOT"));
    std::string composite = Env("OBX_TEST_CONSOLE_COMPOSITE");
    if (!composite.empty()) LoadComposite(composite);
    quit_ = false;
    if (mode == "abandon") {
      worker_ = std::thread([] {
        static std::mutex never;
        static std::condition_variable nobody;
        std::unique_lock<std::mutex> lock(never);
        for (;;) nobody.wait(lock);
      });
    } else {
      worker_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return quit_; });
      });
    }
    Log("worker running");
    return true;
  }

  bool stop() override {
    if (!worker_.joinable()) return true;
    if (Env("OBX_TEST_CONSOLE_MODE") == "abandon") {
      worker_.detach();
      Log("worker abandoned");
      return true;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
    Log("stop");
    return true;
  }

  ~TestConsole() override {
    stop();
    Log("released");
  }

 private:
  void LoadComposite(const std::string& path) {
    try {
      g_runtime->loadComposite(path, Env("OBX_TEST_CONSOLE_PASSPHRASE"));
      bool activated = g_runtime->activateComposites();
      orsa::OrsaObjectArrayPtr found =
          g_runtime->getRuntimeContext()->getObjects(orsa::net::IP2pDownload::kTypeName, "", 3);
      Log(std::string("composite activated=") + (activated ? "true" : "false") +
          " p2p services=" + std::to_string(found ? found->size() : 0));
    } catch (const std::exception& e) {
      Log(std::string("composite failed: ") + e.what());
    }
  }

  std::thread worker_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool quit_ = false;
};

}  // namespace

OBX_TEST_EXPORT void OrsaExportClass(orsa::ClassMetaArray** classes, orsa::IRuntime* runtime) {
  g_runtime = runtime;
  *classes = new orsa::ClassMetaArray(1);
  (**classes)[0] = boost::make_shared<obxtest::TestClassMeta<TestConsole>>(
      "obxtest::TestConsole", std::vector<std::string>{orsa::IConsoleExt::kTypeName});
}
