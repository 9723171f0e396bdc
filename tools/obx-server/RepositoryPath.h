#pragma once
// Mapping of download requests onto the repository folder.
#include <string>

namespace obxserver {

enum class RepositoryLookup { kFound, kNotFound, kRefused };

// `relative` is the decoded URL path after the repository prefix. Refused:
// an empty path, a segment that is empty, "." or "..", a backslash or NUL,
// and any path whose real location (symbolic links resolved) is not inside
// the folder. Found: an existing regular file inside the folder; `file` then
// holds its real path.
RepositoryLookup ResolveRepositoryPath(const std::string& folder, const std::string& relative,
                                       std::string& file);

}  // namespace obxserver
