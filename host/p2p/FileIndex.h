#pragma once
// The files of the update folder by content: which file has a given MD5.
//
// Only regular files directly in the folder are offered: no symbolic link, no
// subfolder, no temporary file (a name starting with "." or ending in
// ".part"). Digests are kept per file and computed again when the file's
// identity, size or change time differs; a file is opened without following
// links and its content is digested again on the opened descriptor before it
// is offered, so a file changed since its digest was taken is never served
// for the old MD5.
//
// Threads: Open may be called from several threads; they take turns.
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace orsap2p {

class FileIndex {
 public:
  explicit FileIndex(std::string folder) : folder_(std::move(folder)) {}

  // A read-only descriptor of a file whose content has MD5 `md5` (lowercase
  // hexadecimal), its size in `size`; -1 when the folder holds none. The
  // caller closes it.
  int Open(const std::string& md5, uint64_t& size);

  const std::string& Folder() const { return folder_; }

 private:
  struct Entry {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    int64_t changedNs = 0;
    std::string md5;  // "" until digested
  };
  // Brings entries_ in line with the folder; false when it cannot be read.
  bool Rescan(int dirFd);
  // Opens `name` and digests it; -1 when it is no longer the file of `entry`.
  int OpenAndDigest(int dirFd, const std::string& name, Entry& entry, std::string& md5);

  std::string folder_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace orsap2p
