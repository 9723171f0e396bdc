#pragma once
// The sockets of a loopback test server, the same calls on every system: a
// TCP socket listening on 127.0.0.1 on a port the system picks, the
// connections it accepts, and a wake-up that ends every wait at once so the
// server's thread can be stopped. The system's part lives in posix/ and
// win32/ beside this file; CMake builds one of them.
#include <cstddef>
#include <cstdint>
#include <memory>

namespace obxtest {

class LoopbackSockets {
 public:
  // A connected socket: a file descriptor on POSIX, a SOCKET on Windows.
  using Connection = std::intptr_t;
  static constexpr Connection kNoConnection = -1;

  // Listens on 127.0.0.1 port 0; throws std::runtime_error when it cannot.
  LoopbackSockets();
  // Closes the listening socket and the wake-up, not the connections.
  ~LoopbackSockets();
  LoopbackSockets(const LoopbackSockets&) = delete;
  LoopbackSockets& operator=(const LoopbackSockets&) = delete;

  int Port() const;

  // Waits until a connection is waiting to be accepted; false once Wake() was
  // called or the wait failed.
  bool WaitForConnection();
  // The next waiting connection, or kNoConnection.
  Connection Accept();
  // Waits until `c` has bytes (or its end) to read; false once Wake() was
  // called or the wait failed.
  bool WaitReadable(Connection c);
  // Bytes read into `buffer`: 0 at the peer's end, negative on an error.
  long Receive(Connection c, char* buffer, size_t size);
  // Bytes sent, negative on an error; a peer that went away raises no signal.
  long Send(Connection c, const char* data, size_t size);
  // Ends what this side sends, so the peer reads the end of the answer.
  void ShutdownSend(Connection c);
  void Close(Connection c);

  // Ends the current wait and every later one; safe from any thread.
  void Wake();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace obxtest
