#include "platform/File.h"

#include <atomic>
#include <mutex>
#include <set>

#include "platform/StateRoot.h"
#include "platform/detail/WriteCounter.h"
#include "platform/win32/Windows.h"

namespace platform {

namespace {

using win32::LastError;

std::atomic<uint32_t> g_tempCounter{0};

// A rename over a file that another process has open (a reader, a virus
// scanner, the indexer) fails for a moment with a sharing violation, or with
// "access denied" while the old file is still being deleted: retried for
// about a second before it counts.
constexpr int kRenameAttempts = 20;
constexpr DWORD kRenamePauseMs = 50;

bool Transient(long error) {
  return error == kErrorSharingViolation || error == kErrorAccessDenied ||
         error == kErrorLockViolation;
}

long MoveReplacing(const std::string& from, const std::string& to, DWORD extraFlags) {
  long error = kErrorSuccess;
  for (int attempt = 0; attempt < kRenameAttempts; ++attempt) {
    if (attempt > 0) ::Sleep(kRenamePauseMs);
    if (::MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | extraFlags))
      return kErrorSuccess;
    error = LastError();
    if (!Transient(error)) break;
  }
  return error;
}

bool IsDirectory(const std::string& nativePath) {
  DWORD attributes = ::GetFileAttributesA(nativePath.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Temporary files of ReplaceFileAtomically: ".<name>.tmp" and six characters.
bool IsTemporaryName(const std::string& name) {
  const std::string::size_type mark = name.size() >= 10 ? name.size() - 10 : std::string::npos;
  return name.size() > 11 && name[0] == '.' && mark != std::string::npos &&
         name.compare(mark, 4, ".tmp") == 0;
}

// A writer holds its temporary file open, shared with nobody, from creation
// to rename; a killed writer's handle is closed by the system. A file made a
// moment ago may belong to a writer that is about to use it, so it counts as
// in use too.
constexpr uint64_t kTemporaryGrace100ns = 10ULL * 10000000ULL;

uint64_t FileTimeValue(const FILETIME& t) {
  return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
}

FileStamp StampOf(const FILETIME& created, const FILETIME& written, DWORD sizeHigh, DWORD sizeLow) {
  FileStamp stamp;
  stamp.id = FileTimeValue(created);
  stamp.size = (static_cast<uint64_t>(sizeHigh) << 32) | sizeLow;
  stamp.changed = static_cast<int64_t>(FileTimeValue(written));
  return stamp;
}

void RemoveStaleTemporaries(const std::string& folder) {
  WIN32_FIND_DATAA entry;
  HANDLE search = ::FindFirstFileA((folder + "\\.*.tmp*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return;
  FILETIME nowTime;
  ::GetSystemTimeAsFileTime(&nowTime);
  const uint64_t now = FileTimeValue(nowTime);
  do {
    const std::string name = entry.cFileName;
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || !IsTemporaryName(name))
      continue;
    if (now - FileTimeValue(entry.ftLastWriteTime) < kTemporaryGrace100ns) continue;
    // Opening fails while its writer still holds it; deletion on close then
    // removes exactly the file that was opened.
    HANDLE file = ::CreateFileA(
        (folder + "\\" + name).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  } while (::FindNextFileA(search, &entry));
  ::FindClose(search);
}

// Stale temporaries can only come from an earlier process (this one removes
// its own on every failure), so each folder is swept once per process.
void SweepOnce(const std::string& folder) {
  static std::mutex* mutex = new std::mutex;
  static std::set<std::string>* swept = new std::set<std::string>;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    if (!swept->insert(folder).second) return;
  }
  RemoveStaleTemporaries(folder);
}

// Six characters that make the name unique among this process's writers and
// unlikely to meet another process's: creation refuses an existing name anyway.
std::string TemporarySuffix() {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  uint32_t value = g_tempCounter.fetch_add(1) * 2654435761u ^ ::GetCurrentProcessId() * 40503u ^
                   ::GetTickCount();
  std::string suffix;
  for (int i = 0; i < 6; ++i) {
    suffix += kDigits[value % 36];
    value /= 36;
  }
  return suffix;
}

bool WriteAll(HANDLE file, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    const size_t left = data.size() - done;
    const DWORD chunk = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr)) return false;
    done += written;
  }
  return true;
}

}  // namespace

long GetFileInfo(const std::string& path, FileInfo* info) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(NativePath(path).c_str(), GetFileExInfoStandard, &data))
    return LastError();
  if (info != nullptr) {
    info->directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info->size =
        info->directory ? 0 : (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  }
  return kErrorSuccess;
}

bool PathExists(const std::string& path) { return GetFileInfo(path, nullptr) == kErrorSuccess; }

ReadOnlyFile::~ReadOnlyFile() { Close(); }

long ReadOnlyFile::Open(const std::string& path) {
  Close();
  // Shared for reading only: a writer is refused while we read, and a file a
  // writer holds refuses us with a sharing violation. A folder does not open
  // without backup semantics (access denied).
  HANDLE file =
      ::CreateFileA(NativePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  long error = kErrorSuccess;
  LARGE_INTEGER size;
  if (::GetFileType(file) != FILE_TYPE_DISK) {
    error = kErrorAccessDenied;  // a device or a pipe is not a file to read whole
  } else if (!::GetFileSizeEx(file, &size)) {
    error = LastError();
  }
  if (error != kErrorSuccess) {
    ::CloseHandle(file);
    return error;
  }
  handle_ = reinterpret_cast<intptr_t>(file);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return kErrorSuccess;
}

long ReadOnlyFile::Read(void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (handle_ == -1) return kErrorInvalidHandle;
  const DWORD chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  DWORD n = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &n, nullptr)) {
    const long error = LastError();
    return error == ERROR_HANDLE_EOF ? kErrorSuccess : error;
  }
  *got = n;
  return kErrorSuccess;
}

long ReadOnlyFile::ReadAt(uint64_t offset, void* buffer, size_t capacity, size_t* got) {
  *got = 0;
  if (handle_ == -1) return kErrorInvalidHandle;
  const DWORD chunk = capacity > 0x40000000 ? 0x40000000 : static_cast<DWORD>(capacity);
  // On a handle opened for plain reads, the offset of an OVERLAPPED is where
  // the read starts and the call still completes before it returns.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &n, &at)) {
    const long error = LastError();
    return error == ERROR_HANDLE_EOF ? kErrorSuccess : error;
  }
  *got = n;
  return kErrorSuccess;
}

long ReadOnlyFile::Stamp(FileStamp* stamp) const {
  if (handle_ == -1) return kErrorInvalidHandle;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info)) return LastError();
  *stamp =
      StampOf(info.ftCreationTime, info.ftLastWriteTime, info.nFileSizeHigh, info.nFileSizeLow);
  return kErrorSuccess;
}

void ReadOnlyFile::Close() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
  size_ = 0;
}

long ListFolderFiles(const std::string& folder, std::vector<FolderFile>* files) {
  files->clear();
  WIN32_FIND_DATAA entry;
  HANDLE search = INVALID_HANDLE_VALUE;
  try {
    search = ::FindFirstFileA((NativePath(folder) + "\\*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
      const long error = LastError();
      return error == ERROR_FILE_NOT_FOUND ? kErrorSuccess : error;
    }
    do {
      const DWORD notPlain =
          FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
      if ((entry.dwFileAttributes & notPlain) != 0) continue;
      files->push_back(
          FolderFile{entry.cFileName, StampOf(entry.ftCreationTime, entry.ftLastWriteTime,
                                              entry.nFileSizeHigh, entry.nFileSizeLow)});
    } while (::FindNextFileA(search, &entry));
    ::FindClose(search);
    return kErrorSuccess;
  } catch (...) {
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    files->clear();
    return kErrorNotEnoughMemory;
  }
}

long RenameFile(const std::string& from, const std::string& to) {
  try {
    return MoveReplacing(NativePath(from), NativePath(to), 0);
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
}

long RemoveFile(const std::string& path) {
  try {
    return ::DeleteFileA(NativePath(path).c_str()) ? kErrorSuccess : LastError();
  } catch (...) {
    return kErrorNotEnoughMemory;
  }
}

bool CreateDirectories(const std::string& path, long* error) {
  long ignored = 0;
  long& result = error ? *error : ignored;
  try {
    const std::string nativePath = NativePath(path);
    result = kErrorInvalidParameter;
    if (nativePath.empty()) return false;
    result = kErrorSuccess;
    if (IsDirectory(nativePath)) return true;
    // The parts that cannot be made: a drive ("C:"), or "\\server\share".
    size_t start = 0;
    if (nativePath.size() >= 2 && nativePath[1] == ':') {
      start = 2;
    } else if (nativePath.compare(0, 2, "\\\\") == 0) {
      size_t server = nativePath.find('\\', 2);
      start = server == std::string::npos ? nativePath.size() : nativePath.find('\\', server + 1);
      if (start == std::string::npos) start = nativePath.size();
    }
    size_t pos = start;
    while (pos <= nativePath.size()) {
      size_t next = nativePath.find('\\', pos + 1);
      if (next == std::string::npos) next = nativePath.size();
      const std::string partial = nativePath.substr(0, next);
      // Another process may create the same folder at the same moment.
      if (partial.size() > start && !IsDirectory(partial) &&
          !::CreateDirectoryA(partial.c_str(), nullptr) &&
          ::GetLastError() != ERROR_ALREADY_EXISTS) {
        result = LastError();
        return false;
      }
      pos = next;
      if (next == nativePath.size()) break;
    }
    if (IsDirectory(nativePath)) return true;
    result = kErrorAlreadyExists;
    return false;
  } catch (...) {
    result = kErrorNotEnoughMemory;
    return false;
  }
}

bool ReplaceFileAtomically(const std::string& path, const std::string& data, long* error) {
  long ignored = 0;
  long& result = error ? *error : ignored;
  try {
    const std::string nativePath = NativePath(path);
    if (nativePath.empty() || nativePath.back() == '\\' || nativePath.back() == ':') {
      result = kErrorInvalidParameter;
      return false;
    }
    const size_t slash = nativePath.rfind('\\');
    std::string folder = slash == std::string::npos ? "." : nativePath.substr(0, slash);
    if (folder.empty() || (folder.size() == 2 && folder[1] == ':')) folder += "\\";
    const std::string name = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);
    const std::string prefix = folder.back() == '\\' ? folder : folder + "\\";

    SweepOnce(folder);
    // The temporary file lives in the target's folder so that the rename
    // stays on one volume, and is shared with nobody until it is renamed: a
    // sweeping process cannot open it.
    std::string temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 16 && file == INVALID_HANDLE_VALUE; ++attempt) {
      temp = prefix + "." + name + ".tmp" + TemporarySuffix();
      file = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    if (file == INVALID_HANDLE_VALUE) {
      result = LastError();
      return false;
    }
    bool ok = WriteAll(file, data);
    if (ok) {
      detail::CountFlush();
      ok = ::FlushFileBuffers(file) != 0;
    }
    if (!ok) result = LastError();
    ::CloseHandle(file);
    if (ok) {
      // Write-through: the call returns once the rename is on disk, a flush
      // of the folder as far as the counts go.
      result = MoveReplacing(temp, nativePath, MOVEFILE_WRITE_THROUGH);
      ok = result == kErrorSuccess;
      if (ok) detail::CountFlush();
    }
    if (!ok) {
      ::DeleteFileA(temp.c_str());
      return false;
    }
    detail::CountReplaced();
    result = kErrorSuccess;
    return true;
  } catch (...) {
    result = kErrorNotEnoughMemory;
    return false;
  }
}

}  // namespace platform
