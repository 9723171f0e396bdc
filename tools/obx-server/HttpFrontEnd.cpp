#include "tools/obx-server/HttpFrontEnd.h"

#include <Poco/Exception.h>
#include <Poco/String.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unordered_map>
#include <vector>

namespace obxserver {

using Clock = std::chrono::steady_clock;
using Poco::Net::HTTPResponse;

namespace {

constexpr size_t kChunk = 64 * 1024;
// After a refusal the server stops sending and, for at most this long, reads
// and drops what the client still sends: closing on unread data would reset
// the connection and could destroy the answer before the client read it.
constexpr auto kLinger = std::chrono::seconds(2);
// How often deadlines are checked; they are whole seconds or more in practice.
constexpr int kSweepMs = 100;
constexpr uint64_t kListenerId = 0;
constexpr uint64_t kWakeId = 1;

enum class Phase { kWaiting, kReading, kWorking, kWriting, kLingering, kClosed };

struct Connection {
  uint64_t id = 0;
  int fd = -1;
  Poco::Net::SocketAddress client;
  Poco::Net::SocketAddress server;
  Phase phase = Phase::kWaiting;
  Clock::time_point deadline;
  uint32_t events = 0;  // what epoll watches for
  unsigned served = 0;  // replies started on this connection

  std::string in;                        // received, not yet part of a request
  std::unique_ptr<HttpRequest> request;  // head read, body being read
  size_t bodyWanted = 0;
  size_t held = 0;  // bytes counted against the buffered-bytes bound
  bool http11 = true;
  bool clientKeepAlive = false;
  bool headMethod = false;  // HEAD: an answer without its body
  std::string line = "-";   // method and target, for notices

  std::string out;
  size_t outDone = 0;
  std::shared_ptr<std::istream> stream;
  uint64_t streamLeft = 0;
  // A paced stream: bytes sent since `paceStart`; paused until `resumeAt`.
  uint64_t pace = 0;
  uint64_t paceSent = 0;
  Clock::time_point paceStart;
  Clock::time_point resumeAt;
  bool paused = false;
  bool closeAfterReply = false;
};

struct Job {
  uint64_t id;
  std::unique_ptr<HttpRequest> request;
};

struct Done {
  uint64_t id;
  HttpReply reply;
};

// Index just past the empty line that ends the head ("\r\n\r\n" or a bare
// "\n\n"), or npos.
size_t HeadEnd(const std::string& data) {
  for (size_t i = data.find('\n'); i != std::string::npos; i = data.find('\n', i + 1)) {
    if (i + 1 < data.size() && data[i + 1] == '\n') return i + 2;
    if (i + 2 < data.size() && data[i + 1] == '\r' && data[i + 2] == '\n') return i + 3;
  }
  return std::string::npos;
}

// The body length of a request head: 0 without Content-Length; false when
// the field is repeated or not a plain decimal number.
bool BodyLength(const Poco::Net::HTTPRequest& head, uint64_t& length) {
  length = 0;
  int seen = 0;
  for (const auto& field : head) {
    if (Poco::icompare(field.first, Poco::Net::HTTPMessage::CONTENT_LENGTH) != 0) continue;
    const std::string& v = field.second;
    if (++seen > 1 || v.empty() || v.size() > 18) return false;
    for (char c : v) {
      if (c < '0' || c > '9') return false;
      length = length * 10 + static_cast<uint64_t>(c - '0');
    }
  }
  return true;
}

}  // namespace

class HttpFrontEnd::Impl {
 public:
  Impl(Poco::Net::ServerSocket socket, const FrontEndLimits& limits, Handler handler, Notice notice)
      : socket_(std::move(socket)),
        limits_(limits),
        handler_(std::move(handler)),
        notice_(std::move(notice)) {}

  ~Impl() { Stop(); }

  void Start() {
    epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
    wake_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (epoll_ < 0 || wake_ < 0) throw std::runtime_error("cannot set up the connection watch");
    socket_.setBlocking(false);
    Add(socket_.impl()->sockfd(), EPOLLIN, kListenerId);
    Add(wake_, EPOLLIN, kWakeId);
    for (unsigned i = 0; i < std::max(1u, limits_.workers); ++i) {
      workers_.emplace_back([this] { WorkerLoop(); });
    }
    io_ = std::thread([this] { IoLoop(); });
  }

  void Stop() {
    if (stopping_.exchange(true)) return;
    Wake();
    if (io_.joinable()) io_.join();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.clear();
    }
    jobReady_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    for (auto& entry : connections_) ::close(entry.second.fd);
    connections_.clear();
    socket_.close();
    if (wake_ >= 0) ::close(wake_);
    if (epoll_ >= 0) ::close(epoll_);
    wake_ = epoll_ = -1;
  }

 private:
  // ---- the connection thread ----

  void IoLoop() {
    std::vector<epoll_event> events(256);
    auto nextSweep = Clock::now();
    while (!stopping_) {
      const int n = ::epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), kSweepMs);
      for (int i = 0; i < n && !stopping_; ++i) {
        const epoll_event& e = events[static_cast<size_t>(i)];
        if (e.data.u64 == kListenerId) {
          try {
            Accept();
          } catch (const std::exception&) {
            // Out of memory for a new connection: it is dropped by the sweep.
          }
        } else if (e.data.u64 == kWakeId) {
          TakeDone();
        } else {
          Guarded(e.data.u64, [&](Connection& c) { OnEvent(c, e.events); });
        }
      }
      const auto now = Clock::now();
      if (now >= nextSweep) {
        Sweep(now);
        nextSweep = now + std::chrono::milliseconds(kSweepMs);
      }
      Reap();
    }
  }

  // Runs `step` on a connection that is still open. Whatever it throws (out
  // of memory, a failed system call) ends that connection; the others go on.
  template <typename Step>
  void Guarded(uint64_t id, Step step) {
    auto it = connections_.find(id);
    if (it == connections_.end() || it->second.phase == Phase::kClosed) return;
    try {
      step(it->second);
    } catch (const std::exception&) {
      Close(it->second);
    }
  }

  void Accept() {
    const auto now = Clock::now();
    if (now < acceptPausedUntil_) return;
    for (;;) {
      sockaddr_storage peer{};
      socklen_t peerLength = sizeof(peer);
      const int fd = ::accept4(socket_.impl()->sockfd(), reinterpret_cast<sockaddr*>(&peer),
                               &peerLength, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        // Out of descriptors: the listener would report ready at once again,
        // so it rests until the next sweep.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          acceptPausedUntil_ = now + std::chrono::milliseconds(kSweepMs);
        }
        return;
      }
      Poco::Net::SocketAddress client(reinterpret_cast<sockaddr*>(&peer), peerLength);
      if (connections_.size() >= limits_.maxConnections) {
        static const char kBusy[] =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Type: text/plain; charset=utf-8\r\n"
            "Content-Length: 12\r\nConnection: close\r\n\r\nserver busy\n";
        (void)!::send(fd, kBusy, sizeof(kBusy) - 1, MSG_NOSIGNAL);
        ::close(fd);
        if (notice_) notice_(client, "-", HTTPResponse::HTTP_SERVICE_UNAVAILABLE);
        continue;
      }
      sockaddr_storage local{};
      socklen_t localLength = sizeof(local);
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength);
      const uint64_t id = nextId_++;
      Connection& c = connections_[id];
      c.id = id;
      c.fd = fd;
      c.client = client;
      c.server = Poco::Net::SocketAddress(reinterpret_cast<sockaddr*>(&local), localLength);
      c.deadline = now + limits_.idleTimeout;
      c.events = EPOLLIN;
      Add(fd, EPOLLIN, id);
    }
  }

  void OnEvent(Connection& c, uint32_t events) {
    if (events & (EPOLLERR | EPOLLHUP)) {
      // Both directions are gone: nothing can be read or answered.
      Close(c);
      return;
    }
    if ((events & EPOLLOUT) && c.phase == Phase::kWriting) Write(c);
    if ((events & EPOLLIN) && c.phase != Phase::kClosed) Read(c);
  }

  void Read(Connection& c) {
    char buffer[kChunk];
    while (c.phase == Phase::kWaiting || c.phase == Phase::kReading ||
           c.phase == Phase::kLingering) {
      if (c.phase != Phase::kLingering && buffered_ >= limits_.maxBufferedBytes) {
        Refuse(c, HTTPResponse::HTTP_SERVICE_UNAVAILABLE, "server busy");
        return;
      }
      const ssize_t n = ::recv(c.fd, buffer, sizeof(buffer), 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (n <= 0) {
        // The client closed (or failed); a request it left unfinished cannot
        // be answered.
        Close(c);
        return;
      }
      if (c.phase == Phase::kLingering) continue;
      c.in.append(buffer, static_cast<size_t>(n));
      c.held += static_cast<size_t>(n);
      buffered_ += static_cast<size_t>(n);
      Parse(c);
    }
  }

  // Moves the connection on with what `in` holds: the first byte starts the
  // request's clock, a complete head is checked, body bytes are collected,
  // and a complete request goes to the workers.
  void Parse(Connection& c) {
    if (c.phase == Phase::kWaiting) {
      // Line breaks between requests are tolerated, as some clients send them.
      const size_t start = c.in.find_first_not_of("\r\n");
      c.in.erase(0, start == std::string::npos ? c.in.size() : start);
      if (c.in.empty()) return;
      c.phase = Phase::kReading;
      c.deadline = Clock::now() + limits_.requestTimeout;
    }
    if (c.phase != Phase::kReading) return;
    if (!c.request && !ReadHead(c)) return;
    const size_t take = std::min(c.bodyWanted - c.request->body.size(), c.in.size());
    c.request->body.append(c.in, 0, take);
    c.in.erase(0, take);
    if (c.request->body.size() < c.bodyWanted) return;
    c.phase = Phase::kWorking;
    Watch(c, 0);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      jobs_.push_back(Job{c.id, std::move(c.request)});
    }
    jobReady_.notify_one();
  }

  // True when the head is complete and acceptable; the connection then holds
  // the request and its body length. Otherwise the request is refused or
  // more bytes are needed.
  bool ReadHead(Connection& c) {
    const size_t end = HeadEnd(c.in);
    if (end == std::string::npos || end > limits_.maxHeaderBytes) {
      if (c.in.size() > limits_.maxHeaderBytes) {
        Refuse(c, HTTPResponse::HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "request head too large");
      }
      return false;
    }
    auto request = std::make_unique<HttpRequest>();
    try {
      std::istringstream head(c.in.substr(0, end));
      request->head.read(head);
    } catch (const Poco::Exception&) {
      Refuse(c, HTTPResponse::HTTP_BAD_REQUEST, "bad request");
      return false;
    }
    c.in.erase(0, end);
    const std::string& version = request->head.getVersion();
    c.line = request->head.getMethod() + " " + request->head.getURI();
    c.http11 = version == Poco::Net::HTTPMessage::HTTP_1_1;
    c.clientKeepAlive = request->head.getKeepAlive();
    c.headMethod = request->head.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD;
    if (!c.http11 && version != Poco::Net::HTTPMessage::HTTP_1_0) {
      c.http11 = true;
      Refuse(c, HTTPResponse::HTTP_VERSION_NOT_SUPPORTED, "HTTP/1.0 or HTTP/1.1 only");
      return false;
    }
    uint64_t length = 0;
    if (request->head.has(Poco::Net::HTTPMessage::TRANSFER_ENCODING)) {
      Refuse(c, HTTPResponse::HTTP_LENGTH_REQUIRED, "a body needs a Content-Length");
      return false;
    }
    if (!BodyLength(request->head, length)) {
      Refuse(c, HTTPResponse::HTTP_BAD_REQUEST, "bad Content-Length");
      return false;
    }
    if (length > limits_.maxBodyBytes) {
      Refuse(c, HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE, "request too large");
      return false;
    }
    c.bodyWanted = static_cast<size_t>(length);
    request->body.reserve(c.bodyWanted);
    request->client = c.client;
    request->server = c.server;
    if (c.http11 && c.bodyWanted > c.in.size() && request->head.has("Expect") &&
        Poco::icompare(request->head.get("Expect"), "100-continue") == 0) {
      static const char kContinue[] = "HTTP/1.1 100 Continue\r\n\r\n";
      (void)!::send(c.fd, kContinue, sizeof(kContinue) - 1, MSG_NOSIGNAL);
    }
    c.request = std::move(request);
    return true;
  }

  void Refuse(Connection& c, HTTPResponse::HTTPStatus status, const std::string& text) {
    c.request.reset();
    c.clientKeepAlive = false;
    if (notice_) notice_(c.client, c.line, status);
    StartReply(c, TextReply(status, text));
  }

  void StartReply(Connection& c, HttpReply reply) {
    const bool keep = c.clientKeepAlive && reply.head.getStatus() < 400 && !stopping_ &&
                      c.served + 1 < limits_.maxRequestsPerConnection;
    ++c.served;
    reply.head.setVersion(c.http11 ? Poco::Net::HTTPMessage::HTTP_1_1
                                   : Poco::Net::HTTPMessage::HTTP_1_0);
    if (reply.stream) {
      reply.head.setContentLength64(static_cast<Poco::Int64>(reply.streamSize));
    } else if (!reply.headOnly) {
      reply.head.setContentLength64(static_cast<Poco::Int64>(reply.body.size()));
    }
    reply.headOnly = reply.headOnly || c.headMethod;
    reply.head.setKeepAlive(keep);
    if (keep) {
      reply.head.set("Keep-Alive",
                     "timeout=" + std::to_string(limits_.idleTimeout.count() / 1000) +
                         ", max=" + std::to_string(limits_.maxRequestsPerConnection - c.served));
    }
    std::ostringstream head;
    reply.head.write(head);
    c.out = head.str();
    if (!reply.headOnly) {
      if (reply.stream) {
        c.stream = std::move(reply.stream);
        c.streamLeft = reply.streamSize;
        c.pace = reply.bytesPerSecond;
        c.paceSent = 0;
        c.paceStart = Clock::now();
      } else {
        c.out += reply.body;
      }
    }
    c.outDone = 0;
    c.closeAfterReply = !keep;
    c.phase = Phase::kWriting;
    c.deadline = Clock::now() + limits_.requestTimeout;
    Write(c);
  }

  void Write(Connection& c) {
    for (;;) {
      if (c.outDone == c.out.size()) {
        c.out.clear();
        c.outDone = 0;
        if (c.stream && c.streamLeft > 0) {
          uint64_t piece = std::min<uint64_t>(kChunk, c.streamLeft);
          if (c.pace > 0) {
            // Tenths of a second's worth, each sent no earlier than its time.
            piece = std::min<uint64_t>(piece, std::max<uint64_t>(1, c.pace / 10));
            const auto due = c.paceStart + std::chrono::microseconds(c.paceSent * 1000000 / c.pace);
            if (due > Clock::now()) {
              c.paused = true;
              c.resumeAt = due;
              c.deadline = due + limits_.requestTimeout;
              Watch(c, 0);
              return;
            }
            c.paceSent += piece;
          }
          c.out.resize(static_cast<size_t>(piece));
          c.stream->read(&c.out[0], static_cast<std::streamsize>(c.out.size()));
          const size_t got = static_cast<size_t>(c.stream->gcount());
          if (got == 0) {
            // The file shrank under us: the client must not take the
            // truncated body for the whole one.
            Close(c);
            return;
          }
          c.out.resize(got);
          c.streamLeft -= got;
          continue;
        }
        FinishReply(c);
        return;
      }
      const ssize_t n =
          ::send(c.fd, c.out.data() + c.outDone, c.out.size() - c.outDone, MSG_NOSIGNAL);
      if (n > 0) {
        c.outDone += static_cast<size_t>(n);
        c.deadline = Clock::now() + limits_.requestTimeout;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        Watch(c, EPOLLOUT);
        return;
      }
      Close(c);
      return;
    }
  }

  void FinishReply(Connection& c) {
    c.stream.reset();
    std::string().swap(c.out);
    // The request's bytes are gone; what stays is the start of the next one.
    buffered_ -= c.held - c.in.size();
    c.held = c.in.size();
    c.line = "-";
    c.headMethod = false;
    if (c.closeAfterReply) {
      ::shutdown(c.fd, SHUT_WR);
      c.phase = Phase::kLingering;
      c.deadline = Clock::now() + kLinger;
      Watch(c, EPOLLIN);
      return;
    }
    if (c.in.capacity() > kChunk) std::string(c.in).swap(c.in);
    c.phase = Phase::kWaiting;
    c.deadline = Clock::now() + limits_.idleTimeout;
    Watch(c, EPOLLIN);
    Parse(c);  // a request the client sent ahead
  }

  void Sweep(Clock::time_point now) {
    for (auto& entry : connections_) {
      Connection& c = entry.second;
      if (c.paused && c.phase == Phase::kWriting && now >= c.resumeAt) {
        c.paused = false;
        Guarded(c.id, [this](Connection& paced) { Write(paced); });
        continue;
      }
      if (c.phase == Phase::kWorking || c.phase == Phase::kClosed || now < c.deadline) continue;
      Guarded(c.id, [this](Connection& late) {
        if (late.phase == Phase::kReading) {
          Refuse(late, HTTPResponse::HTTP_REQUEST_TIMEOUT, "request timeout");
        } else {
          Close(late);  // idle, not reading the answer, or done lingering
        }
      });
    }
  }

  void TakeDone() {
    uint64_t count = 0;
    (void)!::read(wake_, &count, sizeof(count));
    std::vector<Done> done;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done.swap(done_);
    }
    for (Done& d : done) {
      Guarded(d.id, [&](Connection& c) {
        if (c.phase == Phase::kWorking) StartReply(c, std::move(d.reply));
      });
    }
  }

  void Close(Connection& c) {
    if (c.phase == Phase::kClosed) return;
    ::close(c.fd);  // also leaves the epoll set
    buffered_ -= c.held;
    c.held = 0;
    c.request.reset();
    c.stream.reset();
    c.phase = Phase::kClosed;
    closed_.push_back(c.id);
  }

  // Closed connections leave the table only here, after every event of the
  // round, so no handler holds a reference to an erased one.
  void Reap() {
    for (uint64_t id : closed_) connections_.erase(id);
    closed_.clear();
  }

  void Add(int fd, uint32_t events, uint64_t id) {
    epoll_event e{};
    e.events = events;
    e.data.u64 = id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &e) != 0) {
      throw std::runtime_error("cannot watch a connection");
    }
  }

  void Watch(Connection& c, uint32_t events) {
    if (c.events == events) return;
    epoll_event e{};
    e.events = events;
    e.data.u64 = c.id;
    if (::epoll_ctl(epoll_, EPOLL_CTL_MOD, c.fd, &e) != 0) {
      throw std::runtime_error("cannot watch a connection");
    }
    c.events = events;
  }

  void Wake() {
    const uint64_t one = 1;
    if (wake_ >= 0) (void)!::write(wake_, &one, sizeof(one));
  }

  // ---- the workers ----

  void WorkerLoop() {
    for (;;) {
      Job job;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        jobReady_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      Done done{job.id, HttpReply()};
      try {
        done.reply = handler_(*job.request);
      } catch (...) {
        done.reply = TextReply(HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, "internal error");
      }
      job.request.reset();
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_.push_back(std::move(done));
      }
      Wake();
    }
  }

  Poco::Net::ServerSocket socket_;
  const FrontEndLimits limits_;
  const Handler handler_;
  const Notice notice_;
  std::atomic<bool> stopping_{false};
  int epoll_ = -1;
  int wake_ = -1;
  std::thread io_;
  std::vector<std::thread> workers_;

  // Connection thread only.
  std::unordered_map<uint64_t, Connection> connections_;
  std::vector<uint64_t> closed_;
  uint64_t nextId_ = 2;
  size_t buffered_ = 0;
  Clock::time_point acceptPausedUntil_;

  std::mutex mutex_;  // guards jobs_ and done_
  std::condition_variable jobReady_;
  std::deque<Job> jobs_;
  std::vector<Done> done_;
};

HttpFrontEnd::HttpFrontEnd(Poco::Net::ServerSocket socket, const FrontEndLimits& limits,
                           Handler handler, Notice notice)
    : impl_(std::make_unique<Impl>(std::move(socket), limits, std::move(handler),
                                   std::move(notice))) {}

HttpFrontEnd::~HttpFrontEnd() = default;

void HttpFrontEnd::Start() { impl_->Start(); }

void HttpFrontEnd::Stop() { impl_->Stop(); }

}  // namespace obxserver
