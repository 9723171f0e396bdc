#pragma once
// A fresh state root for one test: a temporary folder set as ORSA_ROOT for the
// life of the object and removed afterwards.
#include <string>
#include <vector>

namespace obxtest {

class TempStateRoot {
 public:
  TempStateRoot();
  ~TempStateRoot();
  TempStateRoot(const TempStateRoot&) = delete;
  TempStateRoot& operator=(const TempStateRoot&) = delete;

  const std::string& Path() const { return path_; }
  // A path below the root.
  std::string Sub(const std::string& relative) const { return path_ + "/" + relative; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

// Reads a whole file; "" when it cannot be read.
std::string ReadFile(const std::string& path);
// The lines of a text file, without their ends (LF, or CR LF as Windows
// programs write them).
std::vector<std::string> ReadLines(const std::string& path);
void WriteFile(const std::string& path, const std::string& data);
// The folder that holds the project's executables (orsa-reg, orsa-host, ...).
std::string BinDir();

}  // namespace obxtest
