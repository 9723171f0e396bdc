#include "host/p2p/PeerProtocol.h"

#include <algorithm>

namespace orsap2p {

const char kRequestPrefix[] = "ORSAP2P/1 GET ";
const char kAnswerOkPrefix[] = "ORSAP2P/1 OK ";
const char kAnswerNotFound[] = "ORSAP2P/1 NOTFOUND\n";
const char kAnswerBad[] = "ORSAP2P/1 BAD\n";
const char kAnswerBusy[] = "ORSAP2P/1 BUSY\n";

namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
  auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

}  // namespace

Wait ReadLine(platform::Socket& socket, int ms, platform::WaitHandle stop, std::string& line,
              std::string& rest) {
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::string data;
  char buffer[256];
  for (;;) {
    const size_t end = data.find('\n');
    if (end != std::string::npos) {
      if (end > kMaxLine) return Wait::kFailed;
      line = data.substr(0, end);
      rest = data.substr(end + 1);
      return Wait::kReady;
    }
    if (data.size() > kMaxLine) return Wait::kFailed;
    const Wait w = socket.WaitReadable(MsLeft(deadline), stop);
    if (w != Wait::kReady) return w;
    const long n = socket.Receive(buffer, sizeof buffer);
    if (n == platform::Socket::kWouldBlock) continue;
    if (n <= 0) return Wait::kFailed;
    data.append(buffer, static_cast<size_t>(n));
  }
}

Wait SendAll(platform::Socket& socket, const char* data, size_t length, int ms,
             platform::WaitHandle stop) {
  size_t sent = 0;
  while (sent < length) {
    const long n = socket.Send(data + sent, length - sent);
    if (n > 0) {
      sent += static_cast<size_t>(n);
      continue;
    }
    if (n != platform::Socket::kWouldBlock) return Wait::kFailed;
    const Wait w = socket.WaitWritable(ms, stop);
    if (w != Wait::kReady) return w;
  }
  return Wait::kReady;
}

Pace::Pace(int windowMs, uint64_t minBytes)
    : start_(Clock::now()), windowMs_(windowMs), minBytes_(minBytes) {}

bool Pace::Stalled() {
  if (MsLeft(start_ + std::chrono::milliseconds(windowMs_)) > 0) return false;
  if (bytes_ < minBytes_) return true;
  start_ = Clock::now();
  bytes_ = 0;
  return false;
}

int Pace::Remaining() const {
  return std::max(1, MsLeft(start_ + std::chrono::milliseconds(windowMs_)));
}

}  // namespace orsap2p
