#include "platform/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <mutex>
#include <set>

#include "platform/StateRoot.h"
#include "platform/detail/WriteCounter.h"
#include "platform/posix/PosixError.h"

namespace platform {

namespace {

long LastError() { return WindowsErrorFromErrno(errno); }

int Flush(int fd) {
  detail::CountFlush();
  return ::fsync(fd);
}

FileStamp StampOf(const struct stat& st) {
  FileStamp stamp;
  stamp.volume = static_cast<uint64_t>(st.st_dev);
  stamp.id = static_cast<uint64_t>(st.st_ino);
  stamp.size = static_cast<uint64_t>(st.st_size);
  stamp.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  return stamp;
}

bool IsDirectory(const std::string& nativePath) {
  struct stat st;
  return ::stat(nativePath.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the whole buffer, riding over short writes and signals.
bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// Temporary files of ReplaceFileAtomically: ".<name>.tmp" and six characters.
bool IsTemporaryName(const std::string& name) {
  const std::string::size_type mark = name.size() >= 10 ? name.size() - 10 : std::string::npos;
  return name.size() > 11 && name[0] == '.' && mark != std::string::npos &&
         name.compare(mark, 4, ".tmp") == 0;
}

// A writer holds its temporary file locked from the moment it has made it
// until it has renamed or removed it, and a killed writer's lock goes with
// it; so a temporary file nobody holds is a dead writer's. In the instant
// between making the file and locking it a sweeper may take it away: the
// writer finds its file unlinked once it holds the lock, and makes another.

// Removes the temporaries of a folder that no writer holds; true when it had
// to leave one that a writer holds.
bool RemoveStaleTemporaries(const std::string& folder) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  bool leftOne = false;
  while (dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (!IsTemporaryName(name)) continue;
    const std::string path = folder + "/" + name;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat held;
    struct stat named;
    if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode)) {
      if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        leftOne = true;
      } else if (::lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino &&
                 named.st_dev == held.st_dev) {
        // Still under that name: its writer did not rename it before it let go.
        ::unlink(path.c_str());
      }
    }
    ::close(fd);
  }
  ::closedir(dir);
  return leftOne;
}

// Stale temporaries can only come from other processes (this one removes its
// own on every failure), so a folder is swept at the first write into it, and
// again at later writes only while the last sweep had to leave one to its
// writer: should that writer die, its file goes at a later write of this
// process, not only at the next start.
void SweepWhenDue(const std::string& folder) {
  static std::mutex* mutex = new std::mutex;
  static std::set<std::string>* clean = new std::set<std::string>;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    if (!clean->insert(folder).second) return;
  }
  if (RemoveStaleTemporaries(folder)) {
    std::lock_guard<std::mutex> lock(*mutex);
    clean->erase(folder);
  }
}

void SyncFolder(const std::string& folder) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  Flush(fd);
  ::close(fd);
}

}  // namespace

long GetFileInfo(const std::string& path, FileInfo* info) {
  struct stat st;
  if (::stat(NativePath(path).c_str(), &st) != 0) return LastError();
  if (info != nullptr) {
    info->directory = S_ISDIR(st.st_mode);
    info->size = info->directory ? 0 : static_cast<uint64_t>(st.st_size);
  }
  return kErrorSuccess;
}

bool PathExists(const std::string& path) { return GetFileInfo(path, nullptr) == kErrorSuccess; }

ReadOnlyFile::~ReadOnlyFile() { Close(); }

long ReadOnlyFile::Open(const std::string& path) {
  Close();
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer
  // that may never come; it changes nothing for the reads of a regular file.
  int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return LastError();
  struct stat st;
  long error = kErrorSuccess;
  if (::fstat(fd, &st) != 0) {
    error = LastError();
  } else if (!S_ISREG(st.st_mode)) {
    // A folder, FIFO or device opens on Linux but not as a file on Windows.
    error = kErrorAccessDenied;
  } else if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
    // The nearest match of "others may read, not write": a writer that takes
    // the exclusive lock waits for us, one that holds it refuses us.
    error = errno == EWOULDBLOCK ? kErrorSharingViolation : LastError();
  }
  if (error != kErrorSuccess) {
    ::close(fd);
    return error;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return kErrorSuccess;
}

long ReadOnlyFile::Read(void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (handle_ < 0) return kErrorInvalidHandle;
  for (;;) {
    ssize_t n = ::read(static_cast<int>(handle_), buffer, capacity);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return kErrorSuccess;
    }
    if (errno != EINTR) return LastError();
  }
}

long ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (handle_ < 0) return kErrorInvalidHandle;
  for (;;) {
    const ssize_t n =
        ::pread(static_cast<int>(handle_), buffer, capacity, static_cast<off_t>(offset));
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return kErrorSuccess;
    }
    if (errno != EINTR) return LastError();
  }
}

long ReadOnlyFile::Stamp(FileStamp* stamp) const {
  struct stat st;
  if (handle_ < 0) return kErrorInvalidHandle;
  if (::fstat(static_cast<int>(handle_), &st) != 0) return LastError();
  *stamp = StampOf(st);
  return kErrorSuccess;
}

void ReadOnlyFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // also drops the lock
  handle_ = -1;
  size_ = 0;
}

long ListFolderFiles(const std::string& folder, std::vector<FolderFile>* files) {
  files->clear();
  try {
    const int dirFd = ::open(NativePath(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0) return LastError();
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
      const long error = LastError();
      ::close(dirFd);
      return error;
    }
    while (dirent* e = ::readdir(dir)) {
      struct stat st;
      if (::fstatat(dirFd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
        continue;
      files->push_back(FolderFile{e->d_name, StampOf(st)});
    }
    ::closedir(dir);
    return kErrorSuccess;
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
}

long RenameFile(const std::string& from, const std::string& to) {
  if (std::rename(NativePath(from).c_str(), NativePath(to).c_str()) != 0) return LastError();
  return kErrorSuccess;
}

long RemoveFile(const std::string& path) {
  if (::unlink(NativePath(path).c_str()) != 0) return LastError();
  return kErrorSuccess;
}

bool CreateDirectories(const std::string& path, long* error) {
  long ignored = 0;
  long& result = error ? *error : ignored;
  const std::string nativePath = NativePath(path);
  result = kErrorInvalidParameter;
  if (nativePath.empty()) return false;
  result = kErrorSuccess;
  if (IsDirectory(nativePath)) return true;
  size_t pos = 0;
  while (pos <= nativePath.size()) {
    size_t next = nativePath.find('/', pos);
    if (next == std::string::npos) next = nativePath.size();
    const std::string partial = nativePath.substr(0, next);
    // Another process may create the same folder at the same moment: EEXIST is success.
    if (!partial.empty() && !IsDirectory(partial) && ::mkdir(partial.c_str(), 0755) != 0 &&
        errno != EEXIST) {
      result = LastError();
      return false;
    }
    pos = next + 1;
  }
  if (IsDirectory(nativePath)) return true;
  result = kErrorAlreadyExists;
  return false;
}

bool ReplaceFileAtomically(const std::string& path, const std::string& data, long* error) {
  long ignored = 0;
  long& result = error ? *error : ignored;
  const std::string nativePath = NativePath(path);
  if (nativePath.empty() || nativePath.back() == '/') {
    result = kErrorInvalidParameter;
    return false;
  }
  const size_t slash = nativePath.rfind('/');
  std::string folder = slash == std::string::npos ? "." : nativePath.substr(0, slash);
  if (folder.empty()) folder = "/";
  const std::string name = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);

  SweepWhenDue(folder);
  // The temporary file lives in the target's folder so that rename stays on one file system.
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0; ++attempt) {
    temp = folder + "/." + name + ".tmpXXXXXX";
    fd = ::mkostemp(&temp[0], O_CLOEXEC);
    if (fd < 0) {
      result = LastError();
      return false;
    }
    // Held until the file is renamed or removed: tells a sweeping process it
    // is in use. Waits while a sweeper holds it; that sweeper has removed it.
    // (A file system without locks leaves the file unlocked, as it must.)
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    struct stat made;
    if (::fstat(fd, &made) == 0 && made.st_nlink == 0) {
      result = kErrorFileNotFound;
      ::close(fd);
      fd = -1;
      if (attempt == 2) return false;
    }
  }

  // Keep the mode of the file being replaced; a new file gets the usual 0644
  // rather than mkstemp's 0600, since other processes of the agent read it.
  struct stat st;
  mode_t mode = ::stat(nativePath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, data) && Flush(fd) == 0;
  if (!ok) result = LastError();
  // Renamed while still locked, so that no sweeper takes it for a dead writer's.
  if (ok && ::rename(temp.c_str(), nativePath.c_str()) != 0) {
    result = LastError();
    ok = false;
  }
  if (!ok) ::unlink(temp.c_str());
  ::close(fd);
  if (!ok) return false;
  // The rename itself reaches the disk only with the folder's metadata.
  SyncFolder(folder);
  detail::CountReplaced();
  result = kErrorSuccess;
  return true;
}

}  // namespace platform
