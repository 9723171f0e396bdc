#pragma once
// The files of the update folder by content: which file has a given MD5.
//
// Only regular files directly in the folder are offered: no symbolic link, no
// subfolder, no temporary file (a name starting with "." or ending in
// ".part"). Digests are kept per file and computed again when the file's
// stamp (platform/File.h: identity, size, change time) differs; a file is
// offered only when the file opened has the stamp the folder listed (so a
// link put in its place is refused) and its content is digested again on the
// open file before it is offered, so a file changed since its digest was
// taken is never served for the old MD5.
//
// Threads: Open may be called from several threads; they take turns.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "platform/File.h"

namespace orsap2p {

class FileIndex {
 public:
  explicit FileIndex(std::string folder) : folder_(std::move(folder)) {}

  // Opens in `file` a file whose content has MD5 `md5` (lowercase
  // hexadecimal) and sets `size`; false when the folder holds none.
  bool Open(const std::string& md5, platform::ReadOnlyFile& file, uint64_t& size);

  const std::string& Folder() const { return folder_; }

 private:
  struct Entry {
    platform::FileStamp stamp;
    std::string md5;  // "" until digested
  };
  // Brings entries_ in line with the folder; false when it cannot be read.
  bool Rescan();
  // Opens `name` and digests it; false when it is no longer the file of `entry`.
  bool OpenAndDigest(const std::string& name, Entry& entry, platform::ReadOnlyFile& file,
                     std::string& md5);

  std::string folder_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace orsap2p
