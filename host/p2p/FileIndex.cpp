#include "host/p2p/FileIndex.h"

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

// The stamp the open file has now equals the one the folder listed.
bool StillTheSame(const platform::ReadOnlyFile& file, const platform::FileStamp& listed) {
  platform::FileStamp now;
  return file.Stamp(&now) == platform::kErrorSuccess && now == listed;
}

}  // namespace

bool FileIndex::Rescan() {
  std::vector<platform::FolderFile> files;
  if (platform::ListFolderFiles(folder_, &files) != platform::kErrorSuccess) return false;
  std::map<std::string, Entry> now;
  for (const platform::FolderFile& file : files) {
    if (!Offered(file.name) || file.stamp.size > kMaxFileSize) continue;
    Entry entry;
    entry.stamp = file.stamp;
    auto old = entries_.find(file.name);
    if (old != entries_.end() && old->second.stamp == file.stamp) entry.md5 = old->second.md5;
    now.emplace(file.name, entry);
  }
  entries_.swap(now);
  return true;
}

bool FileIndex::OpenAndDigest(const std::string& name, Entry& entry, platform::ReadOnlyFile& file,
                              std::string& md5) {
  if (file.Open(folder_ + "/" + name) != platform::kErrorSuccess ||
      !StillTheSame(file, entry.stamp)) {
    file.Close();
    entry.md5.clear();
    return false;
  }
  md5 = Md5OfFile(file);
  // Changed while it was read: the digest belongs to no single content.
  if (md5.empty() || !StillTheSame(file, entry.stamp)) {
    file.Close();
    entry.md5.clear();
    return false;
  }
  entry.md5 = md5;
  return true;
}

bool FileIndex::Open(const std::string& md5, platform::ReadOnlyFile& file, uint64_t& size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!Rescan()) return false;
  // Files known to have the digest first, then those not digested yet.
  for (int pass = 0; pass < 2; ++pass) {
    for (auto& item : entries_) {
      Entry& entry = item.second;
      if (pass == 0 ? entry.md5 != md5 : !entry.md5.empty()) continue;
      std::string actual;
      if (!OpenAndDigest(item.first, entry, file, actual)) continue;
      if (actual == md5) {
        size = entry.stamp.size;
        return true;
      }
      file.Close();
    }
  }
  return false;
}

}  // namespace orsap2p
