#pragma once
// A tiny HTTP/1.1 server for tests: listens on 127.0.0.1 port 0, reads each
// request whole (head and Content-Length body), records it and answers with
// the raw bytes a handler returns. An empty answer holds the connection open
// without a reply until the server is destroyed, like a hung server; with
// HoldAfterAnswer(true) every connection is held after its answer, so an
// answer shorter than its Content-Length stalls mid-body. The sockets are
// the system's business (LoopbackSockets); the HTTP is here.
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

#include "tests/support/LoopbackSockets.h"

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
    thread_ = std::thread([this] { Run(); });
  }

  ~LoopbackHttpServer() {
    sockets_.Wake();
    thread_.join();
  }

  int Port() const { return sockets_.Port(); }
  void HoldAfterAnswer(bool hold) { holdAfterAnswer_ = hold; }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
  }
  std::vector<HttpRequest> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  using Connection = LoopbackSockets::Connection;

  void Run() {
    std::vector<Connection> held;
    while (sockets_.WaitForConnection()) {
      const Connection fd = sockets_.Accept();
      if (fd == LoopbackSockets::kNoConnection) continue;
      HttpRequest request;
      if (!ReadRequest(fd, request)) {
        sockets_.Close(fd);
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
        const long n = sockets_.Send(fd, answer.data() + sent, answer.size() - sent);
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
      }
      if (holdAfterAnswer_) {
        held.push_back(fd);
        continue;
      }
      sockets_.ShutdownSend(fd);
      sockets_.Close(fd);
    }
    for (Connection fd : held) sockets_.Close(fd);
  }

  bool ReadRequest(Connection fd, HttpRequest& request) {
    std::string data;
    size_t headEnd = std::string::npos;
    size_t bodyLength = 0;
    char buffer[4096];
    for (;;) {
      if (headEnd != std::string::npos && data.size() >= headEnd + 4 + bodyLength) break;
      if (!sockets_.WaitReadable(fd)) return false;
      const long n = sockets_.Receive(fd, buffer, sizeof(buffer));
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
  LoopbackSockets sockets_;
  std::atomic<bool> holdAfterAnswer_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<HttpRequest> requests_;
};

}  // namespace obxtest
