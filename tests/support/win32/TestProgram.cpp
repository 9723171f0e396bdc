#include "tests/support/TestProgram.h"

namespace obxtest {

namespace {

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string TestProgram::Name(const std::string& base) { return base + ".cmd"; }

// Started through CreateProcess, a batch file runs in cmd.exe, and its reg.exe
// in the same 32-bit view as the agent. The registry the agent reads is the
// machine's, or, for a state root named in ORSA_ROOT, the root's own below
// HKEY_CURRENT_USER, named in the root's registry.id (platform/win32/
// Registry.cpp); the program finds it the same way, as orsa-reg does on Linux.
std::string TestProgram::Header() {
  return "@echo off\r\n"
         "set OBXKEY=HKLM\r\n"
         "if not defined ORSA_ROOT goto keyed\r\n"
         "if defined ORSA_MACHINE_REGISTRY goto keyed\r\n"
         "set /p OBXID=<\"%ORSA_ROOT%\\registry.id\"\r\n"
         "set OBXKEY=HKCU\\Software\\orsa\\roots\\%OBXID%\\HKLM\r\n"
         ":keyed\r\n";
}

TestProgram& TestProgram::RecordArguments(const std::string& file) {
  // The redirection first: no blank is left at the end of the line; "echo."
  // writes an empty line, not "ECHO is off.", when there is no argument.
  text_ += ">>" + Quoted(file) + " echo.%*\r\n";
  return *this;
}

TestProgram& TestProgram::SetValue(const std::string& subkey, const std::string& name,
                                   const std::string& value) {
  text_ += "reg add " + Quoted("%OBXKEY%\\" + subkey) + " /v " + Quoted(name) + " /d " +
           Quoted(value) + " /f >nul\r\n";
  return *this;
}

TestProgram& TestProgram::Touch(const std::string& file) {
  text_ += "type nul >" + Quoted(file) + "\r\n";
  return *this;
}

TestProgram& TestProgram::WaitFor(const std::string& file) {
  // cmd has no sleep; two pings of the loopback are one second apart.
  const std::string label = "wait" + std::to_string(++labels_);
  text_ += ":" + label + "\r\nif exist " + Quoted(file) + " goto " + label +
           "done\r\nping -n 2 127.0.0.1 >nul\r\ngoto " + label + "\r\n:" + label + "done\r\n";
  return *this;
}

TestProgram& TestProgram::Exit(int code) {
  text_ += "exit /b " + std::to_string(code) + "\r\n";
  return *this;
}

}  // namespace obxtest
