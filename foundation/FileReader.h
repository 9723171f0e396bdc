#pragma once
// Loading a whole file into memory, for its digest.
#include <string>
#include <vector>

namespace obx {

// Largest file ReadWholeFile accepts, in bytes.
constexpr unsigned long long kMaxWholeFileSize = 100000000ULL;
// Size of each read.
constexpr size_t kWholeFileChunk = 307200;

// Replaces `out` with the content of the file at `path` (a Windows-style path
// is accepted). The file is open as platform::ReadOnlyFile opens it: others
// may read it meanwhile but not write it, and a file a writer holds is refused
// as if it could not be opened.
// Throws CRootException:
//   "Could not open file: <path>"  missing, unreadable, locked, not a regular
//       file (a FIFO is refused at once, never waited on)
//   "File size is not within the expected range: size = <n>"  empty or above
//       kMaxWholeFileSize (n is the low 32 bits of the size, printed signed)
//   "Read file error"  the file ended before its size was read (it shrank)
//   "Read file error: <path>"  any other failure while reading
// On a throw `out` holds nothing useful.
void ReadWholeFile(const std::string& path, std::vector<unsigned char>& out);

}  // namespace obx
