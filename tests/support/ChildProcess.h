#pragma once
// Running a program of the project in a child process from a test, with its
// output captured through files.
#include <sys/types.h>

#include <string>
#include <vector>

#include "tests/support/TempStateRoot.h"

namespace obxtest {

struct ChildOutcome {
  int exitCode = -1;  // -1: not started, or ended by a signal
  std::string out;
  std::string err;
};

// Starts `program` with `args` and the inherited environment; standard output
// and error go to the files named. Returns the pid (reap it with WaitChild), or
// -1 when fork failed.
pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outFile, const std::string& errFile);
// Waits for the child to end: its exit code, or -1 when a signal ended it.
int WaitChild(pid_t pid);
// Runs `program` to its end, its output through files under `root`.
ChildOutcome RunChild(const TempStateRoot& root, const std::string& program,
                      const std::vector<std::string>& args);

}  // namespace obxtest
