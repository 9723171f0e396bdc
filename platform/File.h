#pragma once
// The file operations of the system, with Windows-style results: each call
// answers kErrorSuccess or a Windows error code (platform/WinError.h), so a
// caller can log why it failed, whatever the system underneath. Paths may be
// Windows-style ("C:\x", "\" separators); see NativePath. Every function is
// thread-safe and never throws.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

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

// What tells one version of a file from another without reading it: its
// identity (device and inode on POSIX; on Windows, where that costs an open,
// its creation time), its size and its last change. Two stamps that differ
// belong to different files or contents; equal ones very likely to the same.
struct FileStamp {
  uint64_t volume = 0;
  uint64_t id = 0;
  uint64_t size = 0;
  int64_t changed = 0;
  bool operator==(const FileStamp& o) const {
    return volume == o.volume && id == o.id && size == o.size && changed == o.changed;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};

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
  // Reads up to `capacity` bytes at `offset`; `*got` is 0 at the end. Where
  // the next Read starts afterwards is not defined.
  long ReadAt(uint64_t offset, void* buffer, size_t capacity, size_t* got);
  // The stamp of the open file as it is now.
  long Stamp(FileStamp* stamp) const;
  void Close();

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
};

// The regular files directly in `folder`, with their stamps: no folder, no
// symbolic link or other reparse point, no device. Replaces `*files`.
struct FolderFile {
  std::string name;
  FileStamp stamp;
};
PLATFORM_EXPORT long ListFolderFiles(const std::string& folder, std::vector<FolderFile>* files);

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
