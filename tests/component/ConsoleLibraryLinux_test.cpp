// libobxconsole.so as the Linux loader sees it: one exported symbol, and
// code that stays mapped after the host closes the library.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string LibraryPath() { return OBX_CONSOLE_LIBRARY; }

std::vector<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::vector<std::string> names;
  std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[1024];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.push_back(name);
  }
  pclose(pipe);
  return names;
}

TEST(ConsoleLibrary, ExportsOnlyItsEntryPoint) {
  EXPECT_EQ(std::vector<std::string>{"OrsaExportClass"}, DefinedDynamicSymbols(LibraryPath()));
}

TEST(ConsoleLibrary, StaysLoadedAfterTheHostClosesIt) {
  // A worker abandoned by stop may still run the library's code, so closing
  // the library must not unmap it.
  void* handle = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, handle) << dlerror();
  dlclose(handle);
  void* again = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  EXPECT_NE(nullptr, again);
  if (again) dlclose(again);
}

}  // namespace
