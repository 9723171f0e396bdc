#include "tests/support/TestProgram.h"

namespace obxtest {

namespace {

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

}  // namespace

std::string TestProgram::Name(const std::string& base) { return base + ".sh"; }

std::string TestProgram::Header() { return "#!/bin/sh\n"; }

TestProgram& TestProgram::RecordArguments(const std::string& file) {
  text_ += "echo \"$*\" >> " + Quoted(file) + "\n";
  return *this;
}

TestProgram& TestProgram::SetValue(const std::string& subkey, const std::string& name,
                                   const std::string& value) {
  // orsa-reg finds the registry through ORSA_ROOT, which the program inherits.
  text_ += Quoted(BinDir() + "/orsa-reg") + " add " + Quoted("HKLM\\" + subkey) + " /v " +
           Quoted(name) + " /d " + Quoted(value) + " /f >/dev/null\n";
  return *this;
}

TestProgram& TestProgram::Touch(const std::string& file) {
  text_ += ": > " + Quoted(file) + "\n";
  return *this;
}

TestProgram& TestProgram::WaitFor(const std::string& file) {
  text_ += "while [ ! -e " + Quoted(file) + " ]; do sleep 0.05; done\n";
  return *this;
}

TestProgram& TestProgram::Exit(int code) {
  text_ += "exit " + std::to_string(code) + "\n";
  return *this;
}

}  // namespace obxtest
