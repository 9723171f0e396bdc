#pragma once
// A tiny HTTP/1.1 server for tests: listens on 127.0.0.1 port 0, reads each
// request whole (head and Content-Length body), records it and answers with
// the raw bytes a handler returns. An empty answer holds the connection open
// without a reply until the server is destroyed, like a hung server; with
// HoldAfterAnswer(true) every connection is held after its answer, so an
// answer shorter than its Content-Length stalls mid-body; with
// SendSlowlyAfter(n, gap) an answer's bytes after the first n go one at a
// time, `gap` apart, like a server that trickles. The sockets are
// the platform's (platform/Socket.h); the HTTP is here.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Socket.h"
#include "platform/StopToken.h"

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

  // Throws std::runtime_error when it cannot listen.
  explicit LoopbackHttpServer(Handler handler) : handler_(std::move(handler)) {
    std::string error;
    listener_ = platform::Socket::Listen("127.0.0.1", 0, 8, &error);
    if (!listener_.Valid()) throw std::runtime_error("cannot listen on 127.0.0.1: " + error);
    port_ = listener_.LocalPort();
    thread_ = std::thread([this] { Run(); });
  }

  ~LoopbackHttpServer() {
    stop_.RequestStop();
    thread_.join();
  }

  int Port() const { return port_; }
  void HoldAfterAnswer(bool hold) { holdAfterAnswer_ = hold; }
  void SendSlowlyAfter(size_t bytes, std::chrono::milliseconds gap) {
    slowAfter_ = bytes;
    slowGap_ = gap;
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
  }
  std::vector<HttpRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  using Socket = platform::Socket;

  // Every wait ends once the server is being destroyed.
  platform::SocketWait WaitReadable(const Socket& s) const {
    return s.WaitReadable(platform::kSocketWaitForever, stop_.Token().WaitEvent());
  }

  void Run() {
    std::vector<Socket> held;
    while (WaitReadable(listener_) == platform::SocketWait::kReady) {
      Socket fd = listener_.Accept();
      if (!fd.Valid()) continue;
      HttpRequest request;
      if (!ReadRequest(fd, request)) continue;
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
        held.push_back(std::move(fd));  // never answered; closed when the server stops
        continue;
      }
      size_t sent = 0;
      while (sent < answer.size()) {
        const bool slow = sent >= slowAfter_;
        // The gap ends early when the client goes (or the server stops).
        if (slow && fd.WaitReadable(slowGap_.load().count(), stop_.Token().WaitEvent()) !=
                        platform::SocketWait::kTimedOut)
          break;
        const size_t chunk = slow ? 1 : std::min(answer.size(), slowAfter_.load()) - sent;
        const long n = fd.Send(answer.data() + sent, chunk);
        if (n > 0) {
          sent += static_cast<size_t>(n);
        } else if (n != Socket::kWouldBlock ||
                   fd.WaitWritable(platform::kSocketWaitForever, stop_.Token().WaitEvent()) !=
                       platform::SocketWait::kReady) {
          break;
        }
      }
      if (holdAfterAnswer_) {
        held.push_back(std::move(fd));
        continue;
      }
      fd.ShutdownSend();
    }
  }

  bool ReadRequest(Socket& fd, HttpRequest& request) {
    std::string data;
    size_t headEnd = std::string::npos;
    size_t bodyLength = 0;
    char buffer[4096];
    for (;;) {
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + bodyLength) break;
      if (WaitReadable(fd) != platform::SocketWait::kReady) return false;
      const long n = fd.Receive(buffer, sizeof(buffer));
      if (n == Socket::kWouldBlock) continue;
      if (n <= 0) return false;
      data.append(buffer, static_cast<size_t>(n));
      if (headEnd == std::string::npos && (headEnd = data.find("\r\n\r\n")) != std::string::npos) {
        ParseHead(data.substr(0, headEnd), request);
        // A length that is no number ends the connection instead of the thread.
        try {
          for (const std::string& v : request.Values("Content-Length")) bodyLength = std::stoul(v);
        } catch (const std::exception&) {
          return false;
        }
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
  Socket listener_;
  int port_ = 0;
  platform::StopSource stop_;
  std::atomic<bool> holdAfterAnswer_{false};
  std::atomic<size_t> slowAfter_{SIZE_MAX};
  std::atomic<std::chrono::milliseconds> slowGap_{std::chrono::milliseconds(0)};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
};

}  // namespace obxtest
