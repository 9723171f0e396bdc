#pragma once
// A task program for the tests, in the form the system starts it: a shell
// script on Linux, a .cmd batch file on Windows. It is built from a few steps,
// run in the order given, which answer the agent the way a real boot or patch
// program does: through the registry (orsa-reg on Linux, reg.exe on Windows)
// and through its exit code. The system's part lives in posix/ and win32/
// beside this file; CMake builds one of them.
//
//   obxtest::TestProgram p;
//   p.RecordArguments(ran).SetValue(key, "bootCheckResult", "true").Exit(0);
//   const std::string md5 = p.WriteTo(folder + "/" + obxtest::TestProgram::Name("boot"));
//
// Paths are native; values and paths hold no quote and none of the shell's or
// cmd's special characters.
#include <string>
#include <vector>

#include "foundation/Digest.h"
#include "tests/support/TempStateRoot.h"

namespace obxtest {

class TestProgram {
 public:
  // `base` with the extension of the system's programs (".sh", ".cmd").
  static std::string Name(const std::string& base);

  // Appends one line to `file`: the program's arguments, separated by blanks.
  TestProgram& RecordArguments(const std::string& file);
  // Stores `value` as the REG_SZ `name` of HKEY_LOCAL_MACHINE\`subkey`.
  TestProgram& SetValue(const std::string& subkey, const std::string& name,
                        const std::string& value);
  // Creates `file` (empty).
  TestProgram& Touch(const std::string& file);
  // Waits until `file` exists, looking again every second at most.
  TestProgram& WaitFor(const std::string& file);
  // Ends the program with `code`.
  TestProgram& Exit(int code);

  // Writes the program to `path` as a download arrives (no execute
  // permission); its MD5.
  std::string WriteTo(const std::string& path) const {
    const std::string text = Header() + text_;
    WriteFile(path, text);
    std::string md5;
    obx::GetMd5Hex(text.data(), text.size(), md5);
    return md5;
  }

 private:
  static std::string Header();
  std::string text_;
  int labels_ = 0;  // the waits' jump labels in a batch file
};

// The argument lines a program recorded in `file`, without their ends.
inline std::vector<std::string> RecordedArguments(const std::string& file) {
  return ReadLines(file);
}

}  // namespace obxtest
