#pragma once
// A program of the project run through the shell, as an operator would run
// it, with its exit status and both output streams kept.
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/TempStateRoot.h"

namespace obxtest {

// `text` in single quotes for the shell.
inline std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

struct CommandResult {
  int status = -1;  // the exit status; -1 when it ended by a signal
  std::string out;
  std::string err;
};

// Runs `command` (already quoted) with its output in files under `scratch`.
inline CommandResult RunCommand(const std::string& command, const std::string& scratch) {
  const std::string out = scratch + "/cmd.out", err = scratch + "/cmd.err";
  const int raw = std::system((command + " >" + Quote(out) + " 2>" + Quote(err)).c_str());
  CommandResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = ReadFile(out);
  r.err = ReadFile(err);
  return r;
}

}  // namespace obxtest
