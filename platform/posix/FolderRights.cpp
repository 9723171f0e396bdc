#include "platform/FolderRights.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/File.h"
#include "platform/StateRoot.h"

namespace platform {

bool ProtectFolder(const std::string& path, std::string* error) {
  const std::string native = NativePath(path);
  if (native.find_first_not_of('/') == std::string::npos && !native.empty()) {
    *error = "/ is a folder of the system, whose rights stay as they are";
    return false;
  }
  if (native.empty() || !CreateDirectories(native)) {
    *error = "cannot create folder " + native + ": " + strerror(errno);
    return false;
  }
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) {
    *error = "cannot read the rights of " + native + ": " + strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = native + " is no folder";
    return false;
  }
  if (st.st_uid != ::geteuid() &&
      ::chown(native.c_str(), ::geteuid(), static_cast<gid_t>(-1)) != 0) {
    *error = native + " belongs to user " + std::to_string(st.st_uid) +
             " and cannot be taken over: " + strerror(errno);
    return false;
  }
  const mode_t mode = st.st_mode & 07777 & ~static_cast<mode_t>(S_IWGRP | S_IWOTH);
  if (mode != (st.st_mode & 07777) && ::chmod(native.c_str(), mode) != 0) {
    *error = "cannot take write permission on " + native + " from others: " + strerror(errno);
    return false;
  }
  return true;
}

const char* ProtectedFolderSddl() { return ""; }

}  // namespace platform
