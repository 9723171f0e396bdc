#pragma once
// A tiny HTTP/1.1 server for tests: listens on 127.0.0.1 port 0, reads each
// request whole (head and Content-Length body), records it and answers with
// the raw bytes a handler returns. An empty answer holds the connection open
// without a reply until the server is destroyed, like a hung server; with
// HoldAfterAnswer(true) every connection is held after its answer, so an
// answer shorter than its Content-Length stalls mid-body.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace obxtest {

struct HttpRequest {
  std::string requestLine;
  std::vector<std::pair<std::string, std::string>> headers;  // in order, names as sent
  std::string body;

  // Values of every header with this name (case-insensitive).
  std::vector<std::string> Values(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& h : headers) {
      if (h.first.size() == name.size() &&
          std::equal(h.first.begin(), h.first.end(), name.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) ==
                   std::tolower(static_cast<unsigned char>(b));
          })) {
        out.push_back(h.second);
      }
    }
    return out;
  }
};

inline std::string HttpResponse(int status, const std::string& reason, const std::string& body,
                                const std::string& contentType = "text/xml; charset=utf-8") {
  return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nContent-Type: " + contentType +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
         body;
}

class LoopbackHttpServer {
 public:
  using Handler = std::function<std::string(const HttpRequest&)>;

  explicit LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listen_ < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof(addr);
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        ::listen(listen_, 8) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        ::pipe(wake_) != 0) {
      ::close(listen_);
      throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }

  ~LoopbackHttpServer() {
    char c = 'q';
    (void)!::write(wake_[1], &c, 1);
    thread_.join();
    ::close(listen_);
    ::close(wake_[0]);
    ::close(wake_[1]);
  }

  int Port() const { return port_; }
  void HoldAfterAnswer(bool hold) { holdAfterAnswer_ = hold; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::vector<HttpRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  // Waits for `fd` to become readable; false when the server is stopping.
  bool WaitReadable(int fd) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
    for (;;) {
      if (::poll(fds, 2, -1) < 0) return false;
      if (fds[1].revents) return false;
      if (fds[0].revents) return true;
    }
  }

  void Run() {
    std::vector<int> held;
    while (WaitReadable(listen_)) {
      int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      HttpRequest request;
      if (!ReadRequest(fd, request)) {
        ::close(fd);
        continue;
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      std::string answer;
      try {
        answer = handler_(request);
      } catch (...) {
        answer = HttpResponse(599, "Test Handler Threw", "");
      }
      if (answer.empty()) {
        held.push_back(fd);  // never answered; closed when the server stops
        continue;
      }
      size_t sent = 0;
      while (sent < answer.size()) {
        ssize_t n = ::send(fd, answer.data() + sent, answer.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      if (holdAfterAnswer_) {
        held.push_back(fd);
        continue;
      }
      ::shutdown(fd, SHUT_WR);
      ::close(fd);
    }
    for (int fd : held) ::close(fd);
  }

  bool ReadRequest(int fd, HttpRequest& request) {
    std::string data;
    size_t headEnd = std::string::npos;
    size_t bodyLength = 0;
    char buffer[4096];
    for (;;) {
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + bodyLength) break;
      if (!WaitReadable(fd)) return false;
      ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
      if (n <= 0) return false;
      data.append(buffer, static_cast<size_t>(n));
      if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
        ParseHead(data.substr(0, headEnd), request);
        for (const std::string& v : request.Values("Content-Length")) bodyLength = std::stoul(v);
      }
    }
    request.body = data.substr(headEnd + 4, bodyLength);
    return true;
  }

  static void ParseHead(const std::string& head, HttpRequest& request) {
    size_t pos = head.find("\r\n");
    request.requestLine = head.substr(0, pos);
    while (pos != std::string::npos) {
      size_t next = head.find("\r\n", pos + 2);
      std::string line = head.substr(pos + 2, next == std::string::npos ? next : next - pos - 2);
      size_t colon = line.find(':');
      if (colon != std::string::npos) {
        size_t v = line.find_first_not_of(' ', colon + 1);
        request.headers.emplace_back(line.substr(0, colon),
                                     v == std::string::npos ? "" : line.substr(v));
      }
      pos = next;
    }
  }

  Handler handler_;
  int listen_ = -1;
  int wake_[2] = {-1, -1};
  int port_ = 0;
  std::atomic<bool> holdAfterAnswer_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
};

}  // namespace obxtest
