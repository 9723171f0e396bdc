#include "tests/support/TempStateRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifndef OBX_BIN_DIR
#error "OBX_BIN_DIR must name the folder of the built executables"
#endif

namespace obxtest {

TempStateRoot::TempStateRoot() {
  std::string base = std::filesystem::temp_directory_path().string() + "/obx-test-XXXXXX";
  if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = base;
  if (const char* prev = std::getenv("ORSA_ROOT")) {
    previous_ = prev;
    hadPrevious_ = true;
  }
  setenv("ORSA_ROOT", path_.c_str(), 1);
}

TempStateRoot::~TempStateRoot() {
  if (hadPrevious_)
    setenv("ORSA_ROOT", previous_.c_str(), 1);
  else
    unsetenv("ORSA_ROOT");
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::string BinDir() { return OBX_BIN_DIR; }

}  // namespace obxtest
