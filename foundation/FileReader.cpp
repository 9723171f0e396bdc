#include "foundation/FileReader.h"

#include <cstdint>

#include "foundation/RootException.h"
#include "platform/File.h"

namespace obx {
namespace {

void ReadOpenFile(const std::string& path, std::vector<unsigned char>& out) {
  platform::ReadOnlyFile file;
  if (file.Open(path) != platform::kErrorSuccess)
    OBX_THROW_ROOT(0, "Could not open file: %s", path.c_str());

  const uint64_t size = file.Size();
  if (size == 0 || size >= (1ULL << 32) || size > kMaxWholeFileSize)
    OBX_THROW_ROOT(0, "File size is not within the expected range: size = %d",
                   static_cast<int>(static_cast<uint32_t>(size)));

  out.resize(static_cast<size_t>(size));
  size_t done = 0;
  while (done < size) {
    size_t want = static_cast<size_t>(size) - done;
    if (want > kWholeFileChunk) want = kWholeFileChunk;
    size_t got = 0;
    if (file.Read(out.data() + done, want, &got) != platform::kErrorSuccess)
      OBX_THROW_ROOT(0, "Read file error: %s", path.c_str());
    if (got == 0) throw CRootException(0, "Read file error", __FILE__, __LINE__);
    done += got;
  }
}

}  // namespace

void ReadWholeFile(const std::string& path, std::vector<unsigned char>& out) {
  try {
    ReadOpenFile(path, out);
  } catch (const CRootException&) {
    throw;
  } catch (...) {
    // Allocation of the buffer is the likely one here.
    OBX_THROW_ROOT(0, "Read file error: %s", path.c_str());
  }
}

}  // namespace obx
