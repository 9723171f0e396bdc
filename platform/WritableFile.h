#pragma once
// A file written piece by piece and kept between attempts, as a download that
// resumes where it stopped. Results are kErrorSuccess or a Windows error code
// (platform/WinError.h); paths may be Windows-style (see NativePath). Never
// throws; one thread at a time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Export.h"
#include "platform/WinError.h"

namespace platform {

class PLATFORM_EXPORT WritableFile {
 public:
  WritableFile() = default;
  ~WritableFile();
  WritableFile(const WritableFile&) = delete;
  WritableFile& operator=(const WritableFile&) = delete;

  // Opens the regular file at `path` for writing, creating it when missing and
  // keeping what it holds. Anything but a regular file is refused
  // (kErrorAccessDenied), and so is a symbolic link where the system has them.
  long Open(const std::string& path);
  // The size when it was opened.
  uint64_t Size() const { return size_; }
  // Cuts the file to `size` bytes; the next Write goes there.
  long Truncate(uint64_t size);
  // Writes all of `data` at the write position.
  long Write(const void* data, size_t size);
  // Brings the file's content to the disk.
  long Flush();
  // kErrorSuccess when the file was closed cleanly (or was not open).
  long Close();

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
  uint64_t unflushed_ = 0;  // bytes written since the disk was last asked to start
};

// Makes a rename into the folder of `path` last, where the system needs the
// folder itself flushed for that. Best effort.
PLATFORM_EXPORT void FlushFolderOf(const std::string& path);

}  // namespace platform
