#include "tools/obx-server/RepositoryPath.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>

namespace obxserver {

namespace {

bool RealPath(const std::string& path, std::string& out) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return false;
  out = buffer;
  return true;
}

}  // namespace

RepositoryLookup ResolveRepositoryPath(const std::string& folder, const std::string& relative,
                                       std::string& file) {
  if (folder.empty() || relative.empty()) return RepositoryLookup::kRefused;
  size_t start = 0;
  for (;;) {
    size_t end = relative.find('/', start);
    const std::string segment =
        relative.substr(start, end == std::string::npos ? end : end - start);
    if (segment.empty() || segment == "." || segment == ".." ||
        segment.find('\\') != std::string::npos || segment.find('\0') != std::string::npos) {
      return RepositoryLookup::kRefused;
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  std::string root;
  if (!RealPath(folder, root)) return RepositoryLookup::kNotFound;
  std::string real;
  if (!RealPath(folder + "/" + relative, real)) return RepositoryLookup::kNotFound;
  // A symbolic link inside the folder must not lead out of it.
  const std::string inside = root == "/" ? root : root + "/";
  if (real.compare(0, inside.size(), inside) != 0) return RepositoryLookup::kRefused;
  struct stat st {};
  if (::stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return RepositoryLookup::kNotFound;
  file = real;
  return RepositoryLookup::kFound;
}

}  // namespace obxserver
