#pragma once
// Reading a file a user named on a tool's command line.
#include <string>

namespace obxtools {

// Reads all of `path` into `*content`. Empty when it was read, else the
// reason as a user reads it ("is a directory", or the system's text).
std::string ReadInputFile(const std::string& path, std::string* content);

}  // namespace obxtools
