#pragma once
// A fresh folder for one Windows test, named as the state root (ORSA_ROOT)
// for the life of the object and removed afterwards.
#include <windows.h>

#include <atomic>
#include <filesystem>
#include <string>

namespace obxtest {

class ScratchRoot {
 public:
  ScratchRoot() {
    static std::atomic<int> counter{0};
    path_ =
        (std::filesystem::temp_directory_path() /
         ("obx-w32-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++)))
            .string();
    std::filesystem::create_directories(path_);
    char previous[4096];
    const DWORD length = ::GetEnvironmentVariableA("ORSA_ROOT", previous, sizeof previous);
    hadPrevious_ = length > 0 && length < sizeof previous;
    if (hadPrevious_) previous_ = previous;
    ::SetEnvironmentVariableA("ORSA_ROOT", path_.c_str());
  }
  ~ScratchRoot() {
    ::SetEnvironmentVariableA("ORSA_ROOT", hadPrevious_ ? previous_.c_str() : nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchRoot(const ScratchRoot&) = delete;
  ScratchRoot& operator=(const ScratchRoot&) = delete;

  const std::string& Path() const { return path_; }
  std::string Sub(const std::string& relative) const { return path_ + "\\" + relative; }

 private:
  std::string path_;
  std::string previous_;
  bool hadPrevious_ = false;
};

}  // namespace obxtest
