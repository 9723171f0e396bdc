#pragma once
// TCP sockets whose waits end on a quit request: a listening socket, the
// connections it accepts, outgoing connections with a time-out, and
// non-blocking sends and receives with waits for room or data.
//
// Every socket is non-blocking and never inherited by a child process; a
// send to a peer that went away fails instead of raising a signal. Each wait
// also watches `stop` (platform/StopToken.h: a token's WaitEvent, or
// kNoWaitHandle) and ends with kStopped as soon as it is signalled.
// Addresses are IPv4 and IPv6 literals; Connect also takes host names.
//
// Threads: a Socket belongs to one thread at a time. Failures are results,
// never exceptions (short of memory).
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/Export.h"
#include "platform/StopToken.h"

namespace platform {

enum class SocketWait { kReady, kTimedOut, kStopped, kFailed };

// Wait length meaning "until ready or stopped".
constexpr int kSocketWaitForever = -1;

class PLATFORM_EXPORT Socket {
 public:
  // Results of Send and Receive besides a byte count.
  static constexpr long kWouldBlock = -1;  // no room or no data now: wait, then try again
  static constexpr long kFailed = -2;      // the connection is broken

  Socket() = default;
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // A socket listening on `address` (an IP literal), `port` (0: a free one).
  // Invalid with `*error` set when it cannot.
  static Socket Listen(const std::string& address, int port, int backlog, std::string* error);
  // A connection to `host` (a name or a literal) within `ms`, trying each of
  // its addresses. Invalid with `*why` (kTimedOut, kStopped or kFailed) and
  // `*error` set when none could be made.
  static Socket Connect(const std::string& host, int port, int ms, WaitHandle stop, SocketWait* why,
                        std::string* error);

  bool Valid() const { return handle_ != kNone; }
  void Close();

  // The port a listening socket is bound to; 0 when unknown.
  int LocalPort() const;
  // The next waiting connection of a listening socket, or an invalid socket
  // when none is waiting. `*shortage` (when given) tells a failure for want
  // of descriptors or memory, after which the caller should pause.
  Socket Accept(bool* shortage = nullptr);

  // Waits up to `ms` (or kSocketWaitForever) until a receive or an accept
  // would not block (also at the peer's end or on an error).
  SocketWait WaitReadable(int ms, WaitHandle stop) const;
  // Waits up to `ms` until a send would not block.
  SocketWait WaitWritable(int ms, WaitHandle stop) const;

  // Bytes sent (> 0), kWouldBlock or kFailed. Never blocks.
  long Send(const char* data, size_t size);
  // Bytes received (> 0), 0 at the peer's end, kWouldBlock or kFailed.
  long Receive(char* buffer, size_t size);
  // Ends what this side sends; the peer reads the end.
  void ShutdownSend();

 private:
  static constexpr std::intptr_t kNone = -1;
  explicit Socket(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_ = kNone;  // a descriptor on POSIX, a SOCKET on Windows
};

// True for an IPv4 or IPv6 address literal.
PLATFORM_EXPORT bool IsIpAddress(const std::string& text);

}  // namespace platform
