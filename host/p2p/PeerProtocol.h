#pragma once
// The wire form between peers, and the reads and writes both sides use.
//
// A peer asks for one file by its MD5 with one line:
//   "ORSAP2P/1 GET <32 lowercase hexadecimal digits>\n"
// and gets one line back, followed by the content for OK:
//   "ORSAP2P/1 OK <size in decimal>\n" <size bytes>
//   "ORSAP2P/1 NOTFOUND\n"   no file of the folder has that content
//   "ORSAP2P/1 BAD\n"        the request was not understood
//   "ORSAP2P/1 BUSY\n"       the server holds its most connections
// The server closes the connection after one answer.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Socket.h"

namespace orsap2p {

extern const char kRequestPrefix[];   // "ORSAP2P/1 GET "
extern const char kAnswerOkPrefix[];  // "ORSAP2P/1 OK "
extern const char kAnswerNotFound[];
extern const char kAnswerBad[];
extern const char kAnswerBusy[];
// The longest line either side accepts, line break excluded.
constexpr size_t kMaxLine = 64;
// Files above this are not offered or accepted (no patch comes near it).
constexpr uint64_t kMaxFileSize = uint64_t{1} << 40;

using Wait = platform::SocketWait;

// Reads one line of at most kMaxLine bytes within `ms` in all. `line` gets it
// without its "\n"; bytes read past it go to `rest`. kFailed also for a line
// too long or a connection closed before the line break. `stop` (or
// kNoWaitHandle) ends every wait.
Wait ReadLine(platform::Socket& socket, int ms, platform::WaitHandle stop, std::string& line,
              std::string& rest);

// Sends all of `data`; each wait for room is at most `ms`.
Wait SendAll(platform::Socket& socket, const char* data, size_t length, int ms,
             platform::WaitHandle stop);

// The transfer rule of both sides: in every window of `windowMs` at least
// `minBytes` must move, or the other side counts as stalled.
class Pace {
 public:
  Pace(int windowMs, uint64_t minBytes);
  void Add(uint64_t bytes) { bytes_ += bytes; }
  // True when a whole window passed with too few bytes; starts a new window
  // when one passed with enough.
  bool Stalled();
  // Milliseconds left in the current window (at least 1).
  int Remaining() const;

 private:
  std::chrono::steady_clock::time_point start_;
  int windowMs_;
  uint64_t minBytes_;
  uint64_t bytes_ = 0;
};

}  // namespace orsap2p
