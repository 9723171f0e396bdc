#include "host/p2p/FileIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "host/p2p/Md5.h"
#include "host/p2p/PeerProtocol.h"

namespace orsap2p {
namespace {

bool Offered(const std::string& name) {
  const std::string part = ".part";
  return !name.empty() && name[0] != '.' &&
         !(name.size() >= part.size() &&
           name.compare(name.size() - part.size(), part.size(), part) == 0);
}

int64_t ChangedNs(const struct stat& st) {
  return static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

bool SameFile(const struct stat& st, dev_t dev, ino_t ino, off_t size, int64_t changedNs) {
  return st.st_dev == dev && st.st_ino == ino && st.st_size == size && ChangedNs(st) == changedNs;
}

}  // namespace

bool FileIndex::Rescan(int dirFd) {
  const int listFd = ::dup(dirFd);
  if (listFd < 0) return false;
  DIR* dir = ::fdopendir(listFd);
  if (dir == nullptr) {
    ::close(listFd);
    return false;
  }
  std::map<std::string, Entry> now;
  while (dirent* e = ::readdir(dir)) {
    const std::string name = e->d_name;
    if (!Offered(name)) continue;
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) > kMaxFileSize)
      continue;
    Entry entry;
    entry.dev = st.st_dev;
    entry.ino = st.st_ino;
    entry.size = st.st_size;
    entry.changedNs = ChangedNs(st);
    auto old = entries_.find(name);
    if (old != entries_.end() &&
        SameFile(st, old->second.dev, old->second.ino, old->second.size, old->second.changedNs))
      entry.md5 = old->second.md5;
    now.emplace(name, entry);
  }
  ::closedir(dir);
  entries_.swap(now);
  return true;
}

int FileIndex::OpenAndDigest(int dirFd, const std::string& name, Entry& entry, std::string& md5) {
  const int fd =
      ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
      !SameFile(st, entry.dev, entry.ino, entry.size, entry.changedNs)) {
    ::close(fd);
    entry.md5.clear();
    return -1;
  }
  md5 = Md5OfDescriptor(fd);
  // Changed while it was read: the digest belongs to no single content.
  struct stat after {};
  if (md5.empty() || ::fstat(fd, &after) != 0 ||
      !SameFile(after, entry.dev, entry.ino, entry.size, entry.changedNs)) {
    ::close(fd);
    entry.md5.clear();
    return -1;
  }
  entry.md5 = md5;
  return fd;
}

int FileIndex::Open(const std::string& md5, uint64_t& size) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int dirFd = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return -1;
  int found = -1;
  if (Rescan(dirFd)) {
    // Files known to have the digest first, then those not digested yet.
    for (int pass = 0; pass < 2 && found < 0; ++pass) {
      for (auto& item : entries_) {
        Entry& entry = item.second;
        if (pass == 0 ? entry.md5 != md5 : !entry.md5.empty()) continue;
        std::string actual;
        const int fd = OpenAndDigest(dirFd, item.first, entry, actual);
        if (fd < 0) continue;
        if (actual == md5) {
          found = fd;
          size = static_cast<uint64_t>(entry.size);
          break;
        }
        ::close(fd);
      }
    }
  }
  ::close(dirFd);
  return found;
}

}  // namespace orsap2p
