#pragma once
// A file that cannot be written: while the guard lives, no file of this
// process may grow past `bytes`, so a write beyond it fails (EFBIG) as a full
// disk would, after the file opened fine.
#include <signal.h>
#include <sys/resource.h>

namespace obxtest {

class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &previous_);
    oldHandler_ = signal(SIGXFSZ, SIG_IGN);  // the write fails instead of killing us
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &previous_);
    signal(SIGXFSZ, oldHandler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*oldHandler_)(int) = SIG_DFL;
};

}  // namespace obxtest
