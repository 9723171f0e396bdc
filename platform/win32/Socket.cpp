#include "platform/Socket.h"

#include "platform/detail/Deadline.h"

// clang-format off: winsock2.h must come before windows.h
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <chrono>

#include "platform/WinError.h"
#include "platform/win32/Windows.h"

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using detail::MsLeft;

// The longest single wait on the socket's event: the state is looked at with
// select() again after it, so a network event the event object missed costs
// at most this long, never the whole time-out.
constexpr int kSliceMs = 500;

// Winsock is started once for the process, at the first socket, and stays.
bool Started() {
  static const bool started = [] {
    WSADATA data;
    return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  return started;
}

std::string LastSocketError() { return ErrorText(static_cast<long>(::WSAGetLastError())); }

SOCKET NewSocket(int family) {
  if (!Started()) return INVALID_SOCKET;
  SOCKET s = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return s;
  u_long on = 1;
  if (::ioctlsocket(s, FIONBIO, &on) != 0) {
    ::closesocket(s);
    return INVALID_SOCKET;
  }
  // A program the agent starts must not hold the socket (best effort: a
  // layered provider may refuse it).
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return s;
}

enum class Await { kRead, kWrite, kConnect };

// select() with no time-out tells the state; an event object that the
// socket's network events set, waited on beside `stop`, says when to look
// again. A failed connect shows in the exception set, which is watched only
// then: out-of-band data shows there too and would end every wait at once.
SocketWait Wait(SOCKET s, Await what, int ms, HANDLE stop) {
  const bool write = what != Await::kRead;
  const bool forever = ms < 0;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : ms);
  WSAEVENT event = ::WSACreateEvent();
  if (event == WSA_INVALID_EVENT) return SocketWait::kFailed;
  const long mask = write ? (FD_WRITE | FD_CONNECT | FD_CLOSE) : (FD_READ | FD_ACCEPT | FD_CLOSE);
  SocketWait result = SocketWait::kFailed;
  if (::WSAEventSelect(s, event, mask) == 0) {
    for (;;) {
      if (stop != nullptr && ::WaitForSingleObject(stop, 0) == WAIT_OBJECT_0) {
        result = SocketWait::kStopped;
        break;
      }
      ::WSAResetEvent(event);
      fd_set ready;
      fd_set failed;
      FD_ZERO(&ready);
      FD_ZERO(&failed);
      FD_SET(s, &ready);
      FD_SET(s, &failed);
      timeval now{0, 0};
      const int n = ::select(0, write ? nullptr : &ready, write ? &ready : nullptr,
                             what == Await::kConnect ? &failed : nullptr, &now);
      if (n == SOCKET_ERROR) break;
      if (n > 0) {
        result = SocketWait::kReady;
        break;
      }
      const int left = forever ? kSliceMs : std::min(MsLeft(deadline), kSliceMs);
      if (!forever && left == 0) {
        result = SocketWait::kTimedOut;
        break;
      }
      HANDLE handles[2] = {event, stop};
      ::WaitForMultipleObjects(stop != nullptr ? 2 : 1, handles, FALSE, static_cast<DWORD>(left));
    }
  }
  // Back to a plain non-blocking socket (WSAEventSelect made it one too).
  ::WSAEventSelect(s, nullptr, 0);
  ::WSACloseEvent(event);
  return result;
}

// The addresses of `host`:`port`; `numeric` refuses names.
addrinfo* Resolve(const std::string& host, int port, bool numeric, std::string* error) {
  if (!Started()) {
    if (error) *error = "the network is not available";
    return nullptr;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = numeric ? AI_NUMERICHOST | AI_PASSIVE : 0;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (rc != 0) {
    if (error) *error = numeric ? "not an IP address: " + host : ErrorText(rc);
    return nullptr;
  }
  return found;
}

}  // namespace

void Socket::Close() {
  if (handle_ != kNone) ::closesocket(static_cast<SOCKET>(handle_));
  handle_ = kNone;
}

Socket Socket::Listen(const std::string& address, int port, int backlog, std::string* error) {
  addrinfo* found = Resolve(address, port, true, error);
  if (found == nullptr) return Socket();
  // No SO_REUSEADDR: on Windows it would let this socket take a port that
  // another program listens on. SO_EXCLUSIVEADDRUSE keeps others from doing
  // that to this one (best effort: an old system may refuse it).
  Socket s(static_cast<std::intptr_t>(NewSocket(found->ai_family)));
  if (s.Valid()) {
    BOOL exclusive = TRUE;
    ::setsockopt(static_cast<SOCKET>(s.handle_), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  }
  if (!s.Valid() ||
      ::bind(static_cast<SOCKET>(s.handle_), found->ai_addr, static_cast<int>(found->ai_addrlen)) !=
          0 ||
      ::listen(static_cast<SOCKET>(s.handle_), backlog) != 0) {
    if (error) *error = LastSocketError();
    s.Close();
  }
  ::freeaddrinfo(found);
  return s;
}

int Socket::LocalPort() const {
  sockaddr_storage address{};
  int length = sizeof address;
  if (handle_ == kNone || ::getsockname(static_cast<SOCKET>(handle_),
                                        reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return 0;
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

Socket Socket::Accept(bool* shortage) {
  if (shortage) *shortage = false;
  const SOCKET s = ::accept(static_cast<SOCKET>(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    const int error = ::WSAGetLastError();
    if (shortage) *shortage = error == WSAEMFILE || error == WSAENOBUFS;
    return Socket();
  }
  Socket accepted(static_cast<std::intptr_t>(s));
  u_long on = 1;
  if (::ioctlsocket(s, FIONBIO, &on) != 0) return Socket();
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return accepted;
}

Socket Socket::Connect(const std::string& host, int port, int ms, WaitHandle stop, SocketWait* why,
                       std::string* error) {
  *why = SocketWait::kFailed;
  addrinfo* found = Resolve(host, port, false, error);
  if (found == nullptr) return Socket();
  Socket connected;
  if (error) *error = "no address";
  for (addrinfo* a = found; a != nullptr && !connected.Valid(); a = a->ai_next) {
    Socket s(static_cast<std::intptr_t>(NewSocket(a->ai_family)));
    if (!s.Valid()) {
      if (error) *error = LastSocketError();
      continue;
    }
    const SOCKET raw = static_cast<SOCKET>(s.handle_);
    if (::connect(raw, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
      connected = std::move(s);
      break;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
      if (error) *error = LastSocketError();
      continue;
    }
    *why = Wait(raw, Await::kConnect, ms, stop);
    int soError = 0;
    int len = sizeof soError;
    if (*why == SocketWait::kReady &&
        ::getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) == 0 &&
        soError == 0) {
      connected = std::move(s);
      break;
    }
    if (error)
      *error = *why == SocketWait::kTimedOut ? "connect timed out"
               : soError != 0                ? ErrorText(soError)
                                             : LastSocketError();
    if (*why == SocketWait::kStopped) break;
    *why = SocketWait::kFailed;
  }
  ::freeaddrinfo(found);
  if (connected.Valid()) *why = SocketWait::kReady;
  return connected;
}

SocketWait Socket::WaitReadable(int ms, WaitHandle stop) const {
  return Wait(static_cast<SOCKET>(handle_), Await::kRead, ms, stop);
}

SocketWait Socket::WaitWritable(int ms, WaitHandle stop) const {
  return Wait(static_cast<SOCKET>(handle_), Await::kWrite, ms, stop);
}

long Socket::Send(const char* data, size_t size) {
  const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
  const int n = ::send(static_cast<SOCKET>(handle_), data, chunk, 0);
  if (n != SOCKET_ERROR) return n > 0 || size == 0 ? n : kFailed;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

long Socket::Receive(char* buffer, size_t size) {
  const int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
  const int n = ::recv(static_cast<SOCKET>(handle_), buffer, chunk, 0);
  if (n != SOCKET_ERROR) return n;
  return ::WSAGetLastError() == WSAEWOULDBLOCK ? kWouldBlock : kFailed;
}

void Socket::ShutdownSend() {
  if (handle_ != kNone) ::shutdown(static_cast<SOCKET>(handle_), SD_SEND);
}

bool IsIpAddress(const std::string& text) {
  addrinfo* found = Resolve(text, 0, true, nullptr);
  if (found) ::freeaddrinfo(found);
  return found != nullptr;
}

}  // namespace platform
