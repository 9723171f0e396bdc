#include "platform/StateRoot.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <string>

namespace platform {

namespace {

std::string EnvOrEmpty(const char* name) {
  const char* value = getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeDirectory() {
  std::string home = EnvOrEmpty("HOME");
  if (!home.empty()) return home;
  // Services started without a login environment still have an account.
  struct passwd* pw = getpwuid(geteuid());
  if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return "/tmp";
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Writes the whole buffer, riding over short writes and signals.
bool WriteAll(int fd, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool SyncFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

std::string StateRoot() {
  std::string root = EnvOrEmpty("ORSA_ROOT");
  if (!root.empty()) return root;
  if (geteuid() == 0) return "/var/lib/orsa";
  std::string state = EnvOrEmpty("XDG_STATE_HOME");
  // The base directory rules ignore a relative XDG value.
  if (state.empty() || state[0] != '/') state = HomeDirectory() + "/.local/state";
  return state + "/orsa";
}

std::string WindowsDirectory() { return StateRoot() + "/windows"; }

std::string NativePath(const std::string& path) {
  std::string rest = path;
  std::string prefix;
  if (rest.size() >= 2 && std::isalpha(static_cast<unsigned char>(rest[0])) && rest[1] == ':') {
    prefix = StateRoot() + "/drive_";
    prefix += static_cast<char>(std::tolower(static_cast<unsigned char>(rest[0])));
    rest = "/" + rest.substr(2);
  }
  std::string out = prefix;
  for (char c : rest) {
    if (c == '\\') c = '/';
    if (c == '/' && !out.empty() && out.back() == '/') continue;
    out += c;
  }
  // A bare drive path names the drive folder itself, without a trailing slash.
  if (!prefix.empty() && out.size() == prefix.size() + 1) out.pop_back();
  return out;
}

bool CreateDirectories(const std::string& nativePath) {
  if (nativePath.empty()) return false;
  if (IsDirectory(nativePath)) return true;
  std::string partial;
  size_t pos = 0;
  while (pos <= nativePath.size()) {
    size_t next = nativePath.find('/', pos);
    if (next == std::string::npos) next = nativePath.size();
    partial = nativePath.substr(0, next);
    // Another process may create the same folder at the same moment: EEXIST is success.
    if (!partial.empty() && !IsDirectory(partial) && mkdir(partial.c_str(), 0755) != 0 &&
        errno != EEXIST)
      return false;
    pos = next + 1;
  }
  return IsDirectory(nativePath);
}

bool ReplaceFileAtomically(const std::string& nativePath, const std::string& data) {
  if (nativePath.empty() || nativePath.back() == '/') return false;
  size_t slash = nativePath.rfind('/');
  std::string folder = slash == std::string::npos ? "." : nativePath.substr(0, slash);
  if (folder.empty()) folder = "/";
  std::string name = slash == std::string::npos ? nativePath : nativePath.substr(slash + 1);

  // The temporary file lives in the target's folder so that rename stays on one file system.
  std::string temp = folder + "/." + name + ".tmpXXXXXX";
  int fd = mkostemp(&temp[0], O_CLOEXEC);
  if (fd < 0) return false;

  // Keep the mode of the file being replaced; a new file gets the usual 0644
  // rather than mkstemp's 0600, since other processes of the agent read it.
  struct stat st;
  mode_t mode = stat(nativePath.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  bool ok = fchmod(fd, mode) == 0 && WriteAll(fd, data) && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  if (ok) ok = rename(temp.c_str(), nativePath.c_str()) == 0;
  if (!ok) {
    unlink(temp.c_str());
    return false;
  }
  // The rename itself reaches the disk only with the folder's metadata.
  SyncFolder(folder);
  return true;
}

}  // namespace platform
