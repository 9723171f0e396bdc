// Reading a whole file, the same on every system, over ReadOnlyFile.
#include <new>
#include <string>

#include "platform/File.h"
#include "platform/WinError.h"

namespace platform {

long ReadFileToString(const std::string& path, std::string* out, uint64_t maxSize) {
  out->clear();
  ReadOnlyFile file;
  long error = file.Open(path);
  if (error != kErrorSuccess) return error;
  if (file.Size() > maxSize) return kErrorNotEnoughMemory;
  try {
    out->reserve(static_cast<size_t>(file.Size()));
    char chunk[65536];
    for (;;) {
      size_t got = 0;
      error = file.Read(chunk, sizeof chunk, &got);
      if (error != kErrorSuccess) break;
      if (got == 0) return kErrorSuccess;
      // The file may have grown since it was opened.
      if (out->size() + got > maxSize) {
        error = kErrorNotEnoughMemory;
        break;
      }
      out->append(chunk, got);
    }
  } catch (const std::bad_alloc&) {
    error = kErrorNotEnoughMemory;
  }
  out->clear();
  return error;
}

}  // namespace platform
