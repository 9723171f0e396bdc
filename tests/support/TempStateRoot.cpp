#include "tests/support/TempStateRoot.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/Environment.h"

#ifndef OBX_BIN_DIR
#error "OBX_BIN_DIR must name the folder of the built executables"
#endif

namespace obxtest {
TempStateRoot::TempStateRoot() {
  // A folder of its own, made by this object alone: create_directory fails
  // for a name that is taken.
  const std::filesystem::path temp = std::filesystem::temp_directory_path();
  std::random_device seed;
  std::mt19937 random(seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const std::filesystem::path candidate = temp / ("obx-test-" + std::to_string(random()));
    std::error_code ec;
    if (std::filesystem::create_directory(candidate, ec)) path_ = candidate.generic_string();
  }
  if (path_.empty()) throw std::runtime_error("no temporary state root could be made");
  if (const char* prev = std::getenv("ORSA_ROOT")) {
    previous_ = prev;
    hadPrevious_ = true;
  }
  platform::SetEnvironmentValue("ORSA_ROOT", path_.c_str());
}

TempStateRoot::~TempStateRoot() {
  platform::SetEnvironmentValue("ORSA_ROOT", hadPrevious_ ? previous_.c_str() : nullptr);
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::istringstream in(ReadFile(path));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void WriteFile(const std::string& path, const std::string& data) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::string BinDir() { return OBX_BIN_DIR; }

}  // namespace obxtest
