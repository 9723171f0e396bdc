// obx-testhost: the smallest host of a console component. It loads the
// component library, creates its console object through the export, starts
// it, waits until the log shows that the first cycle is over, and stops it.
// Used to run the Windows DLL for one cycle under Wine.
//   obx-testhost --component LIB --log FILE [--wait SECONDS]
// Exit status: 0 the cycle ended and the console stopped, 1 the cycle did not
// end within the wait, 2 usage error or a component that cannot be loaded.
#include <boost/make_shared.hpp>
#include <chrono>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "host/ComponentHost.h"
#include "host/Runtime.h"
#include "host/services/HostServices.h"
#include "host/services/LogManager.h"

namespace {

// The text the worker logs when a cycle is over and it starts to wait.
const char kCycleOver[] = "Wait for next schedule";

int Usage(const std::string& problem) {
  std::cerr << "obx-testhost: " << problem << "\n"
            << "usage: obx-testhost --component LIB --log FILE [--wait SECONDS]\n";
  return 2;
}

// Waits (polling the log file) until the cycle is over or `seconds` passed.
bool WaitForCycle(const std::string& log, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    // A plain stream: the log's writer keeps the file open for writing, which
    // a reader that refuses writers beside it (ReadFileToString) cannot share.
    std::ifstream in(log, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (text.str().find(kCycleOver) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }
  return false;
}

int Run(const std::string& library, const std::string& log, int seconds) {
  orsahost::LogOptions logOptions;
  logOptions.file = log;
  auto logs = boost::make_shared<orsahost::LogManager>(logOptions);
  orsahost::Runtime runtime(logs);
  orsahost::RegisterHostServices(runtime.context(), logs);
  orsahost::ComponentHost component(runtime);
  try {
    component.load(library);
  } catch (const orsahost::ComponentError& e) {
    std::cerr << "obx-testhost: " << e.what() << std::endl;
    return 2;
  }
  std::cout << "obx-testhost: loaded " << library << ", console " << component.consoleClass()
            << std::endl;
  if (!component.start()) {
    std::cerr << "obx-testhost: the console did not start" << std::endl;
    component.unload();
    return 1;
  }
  const bool cycled = WaitForCycle(log, seconds);
  std::cout << (cycled ? "obx-testhost: the first cycle is over\n"
                       : "obx-testhost: no cycle ended within the wait\n");
  const auto before = std::chrono::steady_clock::now();
  component.unload();
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - before);
  std::cout << "obx-testhost: console stopped in " << took.count() << " ms" << std::endl;
  runtime.shutdown();
  return cycled ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string library, log;
  int seconds = 120;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) return Usage(arg + " needs a value");
    const std::string value = argv[++i];
    if (arg == "--component") {
      library = value;
    } else if (arg == "--log") {
      log = value;
    } else if (arg == "--wait") {
      seconds = std::atoi(value.c_str());
      if (seconds <= 0) return Usage("--wait needs a number of seconds above 0");
    } else {
      return Usage("unknown option " + arg);
    }
  }
  if (library.empty() || log.empty()) return Usage("--component and --log are required");
  try {
    return Run(library, log, seconds);
  } catch (const std::exception& e) {
    std::cerr << "obx-testhost: " << e.what() << std::endl;
    return 1;
  }
}
