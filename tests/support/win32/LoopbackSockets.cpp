#include "tests/support/LoopbackSockets.h"

#include <winsock2.h>

#include <stdexcept>

namespace obxtest {

// The wake-up is a UDP socket on 127.0.0.1 that sends one datagram to
// itself: nobody reads it, so the socket stays readable and every later wait
// ends too. select() watches it beside the socket waited for.
struct LoopbackSockets::Impl {
  bool started = false;
  SOCKET listen = INVALID_SOCKET;
  SOCKET wake = INVALID_SOCKET;
  sockaddr_in wakeAddress{};
  int port = 0;

  // Waits for `s` to become readable; false when woken or when select fails.
  bool WaitReadable(SOCKET s) {
    for (;;) {
      fd_set readable;
      FD_ZERO(&readable);
      FD_SET(s, &readable);
      FD_SET(wake, &readable);
      if (::select(0, &readable, nullptr, nullptr, nullptr) == SOCKET_ERROR) return false;
      if (FD_ISSET(wake, &readable)) return false;
      if (FD_ISSET(s, &readable)) return true;
    }
  }

  // A socket on 127.0.0.1, port 0, and the address the system gave it.
  SOCKET Bound(int type, int protocol, sockaddr_in& address) {
    SOCKET s = ::socket(AF_INET, type, protocol);
    if (s == INVALID_SOCKET) return s;
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    int length = sizeof(address);
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::closesocket(s);
      return INVALID_SOCKET;
    }
    return s;
  }

  void Release() {
    if (listen != INVALID_SOCKET) ::closesocket(listen);
    if (wake != INVALID_SOCKET) ::closesocket(wake);
    listen = wake = INVALID_SOCKET;
    if (started) ::WSACleanup();
    started = false;
  }
};

LoopbackSockets::LoopbackSockets() : impl_(std::make_unique<Impl>()) {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) throw std::runtime_error("WSAStartup failed");
  impl_->started = true;
  sockaddr_in address{};
  impl_->listen = impl_->Bound(SOCK_STREAM, IPPROTO_TCP, address);
  impl_->wake = impl_->Bound(SOCK_DGRAM, IPPROTO_UDP, impl_->wakeAddress);
  if (impl_->listen == INVALID_SOCKET || impl_->wake == INVALID_SOCKET ||
      ::listen(impl_->listen, 8) != 0) {
    impl_->Release();
    throw std::runtime_error("cannot listen on 127.0.0.1");
  }
  impl_->port = ntohs(address.sin_port);
}

LoopbackSockets::~LoopbackSockets() { impl_->Release(); }

int LoopbackSockets::Port() const { return impl_->port; }

bool LoopbackSockets::WaitForConnection() { return impl_->WaitReadable(impl_->listen); }

LoopbackSockets::Connection LoopbackSockets::Accept() {
  const SOCKET s = ::accept(impl_->listen, nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoConnection : static_cast<Connection>(s);
}

bool LoopbackSockets::WaitReadable(Connection c) {
  return impl_->WaitReadable(static_cast<SOCKET>(c));
}

long LoopbackSockets::Receive(Connection c, char* buffer, size_t size) {
  return ::recv(static_cast<SOCKET>(c), buffer, static_cast<int>(size), 0);
}

long LoopbackSockets::Send(Connection c, const char* data, size_t size) {
  return ::send(static_cast<SOCKET>(c), data, static_cast<int>(size), 0);
}

void LoopbackSockets::ShutdownSend(Connection c) { ::shutdown(static_cast<SOCKET>(c), SD_SEND); }

void LoopbackSockets::Close(Connection c) { ::closesocket(static_cast<SOCKET>(c)); }

void LoopbackSockets::Wake() {
  const char c = 'q';
  ::sendto(impl_->wake, &c, 1, 0, reinterpret_cast<const sockaddr*>(&impl_->wakeAddress),
           sizeof(impl_->wakeAddress));
}

}  // namespace obxtest
