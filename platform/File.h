#pragma once
// The file operations of the system, with Windows-style results: each call
// answers kErrorSuccess or a Windows error code (platform/WinError.h), so a
// caller can log why it failed, whatever the system underneath. Paths may be
// Windows-style ("C:\x", "\" separators); see NativePath. Every function is
// thread-safe and never throws.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Export.h"
#include "platform/WinError.h"

namespace platform {

struct FileInfo {
  bool directory = false;
  uint64_t size = 0;  // bytes; 0 for a folder
};

// What the path names: kErrorFileNotFound or kErrorPathNotFound when nothing.
PLATFORM_EXPORT long GetFileInfo(const std::string& path, FileInfo* info);

// True when the path names a file or a folder.
PLATFORM_EXPORT bool PathExists(const std::string& path);

// A regular file open for reading while others may read it but not write it:
// a writer that asks for exclusive use waits until Close, and a file that a
// writer holds exclusively is refused (kErrorSharingViolation). Folders,
// devices and FIFOs are refused too (kErrorAccessDenied), never waited on.
// One thread at a time.
class PLATFORM_EXPORT ReadOnlyFile {
 public:
  ReadOnlyFile() = default;
  ~ReadOnlyFile();
  ReadOnlyFile(const ReadOnlyFile&) = delete;
  ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

  long Open(const std::string& path);
  // The size when it was opened.
  uint64_t Size() const { return size_; }
  // Reads up to `capacity` bytes; `*got` is 0 at the end of the file.
  long Read(void* buffer, size_t capacity, size_t* got);
  void Close();

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
};

// Replaces `*out` with the whole content of a file opened as ReadOnlyFile
// does; kErrorNotEnoughMemory (and `*out` empty) when it holds more than
// `maxSize` bytes.
PLATFORM_EXPORT long ReadFileToString(const std::string& path, std::string* out,
                                      uint64_t maxSize = UINT64_MAX);

// Renames `from` to `to` in one step, replacing a file at `to`.
PLATFORM_EXPORT long RenameFile(const std::string& from, const std::string& to);

// Removes a file (not a folder).
PLATFORM_EXPORT long RemoveFile(const std::string& path);

// The characters that end a folder in a native path.
#if defined(_WIN32)
constexpr char kPathSeparators[] = "\\/";
#else
constexpr char kPathSeparators[] = "/";
#endif

// Creates the folder and all its parents; true when it exists after.
PLATFORM_EXPORT bool CreateDirectories(const std::string& path);

// Writes `data` to a temporary file beside `path`, flushes it to disk and
// renames it over the target, so a reader sees the old or the new file whole
// whatever happens to this process. On Linux the target keeps its permissions
// and a new file may be read by everyone; on Windows the file takes the
// permissions its folder hands down, and a rename that meets the target open
// elsewhere (a reader, a virus scanner) is retried for about a second. The
// first write into a folder also removes the temporary files that killed
// writers left there: only files of this function's own naming that no writer
// holds (on Windows, where a writer closes its file before the rename, also
// older than a few seconds). Later writes look again while one had to be left
// to its writer. False (target unchanged, `*error` set when given) on any
// failure.
PLATFORM_EXPORT bool ReplaceFileAtomically(const std::string& path, const std::string& data,
                                           long* error = nullptr);

// What the process has written durably so far: files replaced by
// ReplaceFileAtomically and flushes to disk on their behalf. For measuring
// the cost of a piece of work (read before and after it).
struct FileWriteCounts {
  uint64_t replaced = 0;
  uint64_t flushes = 0;
};
PLATFORM_EXPORT FileWriteCounts GetFileWriteCounts();

}  // namespace platform
