#include "host/services/ZipHelper.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

namespace orsahost {
namespace {

// The first allocation when the caller gives no size hint, and the largest one
// a hint may ask for: a hint comes from the data's owner and is not trusted.
constexpr size_t kFirstChunk = 64 * 1024;
constexpr size_t kLargestHint = 16 * 1024 * 1024;

void CopyOut(const std::vector<unsigned char>& bytes, size_t size,
             orsa::Array<unsigned char>& out) {
  out.resize(0);
  out.resize(static_cast<uint32_t>(size));
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size), out.data());
}

std::string ZlibText(const char* what, int code, const z_stream& stream) {
  std::string text = std::string(what) + ": zlib error " + std::to_string(code);
  if (stream.msg != nullptr) text += std::string(" (") + stream.msg + ")";
  return text;
}

}  // namespace

void ZipHelper::compress(const unsigned char* data, uint32_t length,
                         orsa::Array<unsigned char>& out, int /*flags*/) {
  if (data == nullptr && length != 0) throw std::runtime_error("compress: null data");
  uLong bound = compressBound(length);
  if (bound > UINT32_MAX) throw std::runtime_error("compress: data too long");
  std::vector<unsigned char> buffer(bound);
  static const unsigned char kEmpty = 0;
  uLongf size = bound;
  int rc = compress2(buffer.data(), &size, data ? data : &kEmpty, length, Z_DEFAULT_COMPRESSION);
  if (rc != Z_OK) throw std::runtime_error("compress: zlib error " + std::to_string(rc));
  CopyOut(buffer, size, out);
}

void ZipHelper::uncompress(const unsigned char* data, uint32_t length, uint32_t expectedSize,
                           orsa::Array<unsigned char>& out, int /*flags*/) {
  if (data == nullptr || length == 0) throw std::runtime_error("uncompress: no data");

  z_stream stream{};
  int rc = inflateInit(&stream);
  if (rc != Z_OK) throw std::runtime_error(ZlibText("uncompress", rc, stream));
  struct End {
    z_stream* s;
    ~End() { inflateEnd(s); }
  } end{&stream};

  size_t first = expectedSize != 0 ? std::min<size_t>(expectedSize, kLargestHint) : kFirstChunk;
  first = std::max<size_t>(std::min<size_t>(first, maxOutput_), 1);
  std::vector<unsigned char> buffer(first);
  // zlib wants a non-const pointer but never writes through next_in.
  stream.next_in = const_cast<unsigned char*>(data);
  stream.avail_in = length;
  size_t produced = 0;
  for (;;) {
    if (produced == buffer.size()) {
      if (buffer.size() >= maxOutput_)
        throw std::runtime_error("uncompress: output above " + std::to_string(maxOutput_) +
                                 " bytes refused");
      buffer.resize(std::min<size_t>(buffer.size() * 2, maxOutput_));
    }
    stream.next_out = buffer.data() + produced;
    stream.avail_out = static_cast<uInt>(buffer.size() - produced);
    rc = inflate(&stream, Z_NO_FLUSH);
    produced = buffer.size() - stream.avail_out;
    if (rc == Z_STREAM_END) break;
    if (rc == Z_BUF_ERROR && stream.avail_in == 0 && stream.avail_out != 0)
      throw std::runtime_error("uncompress: truncated stream");
    if (rc != Z_OK && rc != Z_BUF_ERROR)
      throw std::runtime_error(ZlibText("uncompress", rc, stream));
  }
  if (stream.avail_in != 0)
    throw std::runtime_error("uncompress: data after the end of the stream");
  CopyOut(buffer, produced, out);
}

}  // namespace orsahost
