#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace obxtest {

pid_t StartChild(const std::string& program, const std::vector<std::string>& args,
                 const std::string& outFile, const std::string& errFile) {
  // Everything the child needs is built before fork: a test process has
  // threads, so the child may only make async-signal-safe calls.
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = fork();
  if (pid != 0) return pid;
  int out = open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0 || err < 0) _exit(127);
  dup2(out, 1);
  dup2(err, 2);
  execv(program.c_str(), argv.data());
  _exit(127);
}

int WaitChild(pid_t pid) {
  int status = 0;
  pid_t got;
  do {
    got = waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ChildOutcome RunChild(const TempStateRoot& root, const std::string& program,
                      const std::vector<std::string>& args) {
  ChildOutcome outcome;
  std::string outFile = root.Sub("child.out");
  std::string errFile = root.Sub("child.err");
  pid_t pid = StartChild(program, args, outFile, errFile);
  if (pid < 0) return outcome;
  outcome.exitCode = WaitChild(pid);
  outcome.out = ReadFile(outFile);
  outcome.err = ReadFile(errFile);
  return outcome;
}

}  // namespace obxtest
