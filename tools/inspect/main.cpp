// obx-inspect: what one state root holds, read without changing anything.
//
//   obx-inspect [--root DIR] [--json]
//
// Exit status: 0 the root was read (files that are missing, do not open or do
// not parse are reported in the output); 1 the root or its registry could not
// be read (one line on standard error says why); 2 usage error.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include "platform/Environment.h"
#include "platform/StateRoot.h"
#include "tools/inspect/SnapshotPrinter.h"
#include "tools/inspect/StateReader.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: obx-inspect [--root DIR] [--json]\n"
    "Shows what one state root holds: the agent's settings (install and update\n"
    "folders, management and download servers, schedule, try limit), the tasks of\n"
    "the policy and the task list side by side with their registry values, the\n"
    "pending records of the report file and the last cycles from the host's log.\n"
    "  --root DIR  the state root; default ORSA_ROOT, else the standard one\n"
    "  --json      one JSON object instead of the table\n"
    "  --version   the version\n"
    "Exit status: 0 the root was read, 1 it could not be read, 2 usage error.\n";

int Usage(const std::string& problem) {
  std::cerr << "obx-inspect: " << problem << "\n" << kUsage;
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false;
  std::string root;
  bool hasRoot = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (a == "--version") {
      std::cout << "obx-inspect " << OBX_VERSION << "\n";
      return 0;
    }
    if (a == "--json") {
      json = true;
    } else if (a == "--root") {
      if (i + 1 >= argc) return Usage("--root needs a folder");
      root = argv[++i];
      hasRoot = true;
      if (root.empty()) return Usage("--root needs a folder");
    } else {
      return Usage("unknown argument " + a);
    }
  }
  // Everything below the platform (the registry, drive paths) finds the root
  // through ORSA_ROOT.
  if (hasRoot && !platform::SetEnvironmentValue("ORSA_ROOT", root.c_str())) {
    std::cerr << "obx-inspect: cannot use the root " << root << ": the system refused it\n";
    return kExitFailure;
  }
  try {
    obxinspect::StateSnapshot snap = obxinspect::ReadState();
    if (json) {
      obxinspect::PrintJson(snap, std::cout);
    } else {
      obxinspect::PrintTable(snap, std::cout);
    }
    std::cout.flush();
    if (!std::cout) {
      std::cerr << "obx-inspect: cannot write the output\n";
      return kExitFailure;
    }
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "obx-inspect: " << e.what() << "\n";
    return kExitFailure;
  }
}
