#include "host/p2p/PeerClient.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "host/p2p/Md5.h"
#include "host/p2p/PeerProtocol.h"
#include "platform/File.h"
#include "platform/Socket.h"
#include "platform/WritableFile.h"

namespace orsap2p {
namespace {

constexpr uint64_t kMinBytesPerWindow = 4096;
constexpr int kMaxConnectMs = 10000;

std::atomic<unsigned> g_tempCounter{0};

// The temporary file: a name the file index never offers (a leading "."),
// removed unless kept.
class TempFile {
 public:
  explicit TempFile(const std::string& folder) {
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = folder + "/.orsap2p-" + std::to_string(ticks) + "-" +
            std::to_string(g_tempCounter.fetch_add(1)) + ".part";
    error_ = file_.Open(path_);
    if (error_ != platform::kErrorSuccess) {
      path_.clear();  // whatever is there is not ours to remove
      return;
    }
    // A file of the same name left by a process that died is overwritten.
    error_ = file_.Truncate(0);
    if (error_ != platform::kErrorSuccess) {
      file_.Close();
      platform::RemoveFile(path_);
      path_.clear();
    }
  }
  ~TempFile() {
    file_.Close();
    if (!path_.empty()) platform::RemoveFile(path_);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  // kErrorSuccess, or why it could not be made or written.
  long Error() const { return error_; }
  bool Write(const char* data, size_t length) {
    if (length > 0) error_ = file_.Write(data, length);
    return error_ == platform::kErrorSuccess;
  }
  // Flushes, closes and renames it to `target`; then it is no longer removed.
  bool Keep(const std::string& target) {
    error_ = file_.Flush();
    const long closed = file_.Close();
    if (error_ == platform::kErrorSuccess) error_ = closed;
    if (error_ == platform::kErrorSuccess) error_ = platform::RenameFile(path_, target);
    if (error_ != platform::kErrorSuccess) return false;
    path_.clear();
    platform::FlushFolderOf(target);
    return true;
  }

 private:
  std::string path_;
  platform::WritableFile file_;
  long error_ = platform::kErrorSuccess;
};

bool ParseSize(const std::string& text, uint64_t& size) {
  if (text.empty() || text.size() > 15 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  size = std::strtoull(text.c_str(), nullptr, 10);
  return size <= kMaxFileSize;
}

}  // namespace

Fetch FetchFromPeer(const Peer& peer, const std::string& md5, const std::string& folder,
                    const std::string& name, int timeoutSeconds, platform::WaitHandle stop,
                    std::string& detail) {
  const int timeoutMs = timeoutSeconds * 1000;
  Wait why = Wait::kFailed;
  platform::Socket socket = platform::Socket::Connect(
      peer.host, peer.port, std::min(timeoutMs, kMaxConnectMs), stop, &why, &detail);
  if (why == Wait::kStopped) return Fetch::kStopped;
  if (!socket.Valid()) return Fetch::kUnreachable;

  const std::string request = std::string(kRequestPrefix) + md5 + "\n";
  why = SendAll(socket, request.data(), request.size(), timeoutMs, stop);
  std::string line;
  std::string body;
  if (why == Wait::kReady) why = ReadLine(socket, timeoutMs, stop, line, body);
  if (why == Wait::kStopped) return Fetch::kStopped;
  if (why == Wait::kTimedOut) {
    detail = "no answer in time";
    return Fetch::kUnreachable;
  }
  if (why != Wait::kReady) {
    detail = "no valid answer";
    return Fetch::kBroken;
  }
  if (line + "\n" == kAnswerNotFound) {
    detail = "not held";
    return Fetch::kNotHeld;
  }
  if (line + "\n" == kAnswerBusy) {
    detail = "busy";
    return Fetch::kNotHeld;
  }
  const std::string ok = kAnswerOkPrefix;
  uint64_t size = 0;
  if (line.compare(0, ok.size(), ok) != 0 || !ParseSize(line.substr(ok.size()), size)) {
    detail = "unexpected answer \"" + line + "\"";
    return Fetch::kBroken;
  }

  TempFile temp(folder);
  if (temp.Error() != platform::kErrorSuccess) {
    detail = "cannot create a file in " + folder + ": " + platform::ErrorText(temp.Error());
    return Fetch::kLocalFailure;
  }
  Md5 digest;
  uint64_t received = 0;
  auto take = [&](const char* data, size_t length) {
    length = static_cast<size_t>(std::min<uint64_t>(length, size - received));
    digest.Update(data, length);
    received += length;
    return temp.Write(data, length);
  };
  if (!take(body.data(), body.size())) {
    detail = "cannot write in " + folder + ": " + platform::ErrorText(temp.Error());
    return Fetch::kLocalFailure;
  }
  Pace pace(timeoutMs, kMinBytesPerWindow);
  std::vector<char> chunk(256 * 1024);
  while (received < size) {
    const long n = socket.Receive(chunk.data(), chunk.size());
    if (n > 0) {
      pace.Add(static_cast<uint64_t>(n));
      if (!take(chunk.data(), static_cast<size_t>(n))) {
        detail = "cannot write in " + folder + ": " + platform::ErrorText(temp.Error());
        return Fetch::kLocalFailure;
      }
      continue;
    }
    if (n != platform::Socket::kWouldBlock) {
      detail = "connection ended after " + std::to_string(received) + " of " +
               std::to_string(size) + " bytes";
      return Fetch::kBroken;
    }
    if (pace.Stalled()) {
      detail =
          "stalled after " + std::to_string(received) + " of " + std::to_string(size) + " bytes";
      return Fetch::kBroken;
    }
    const Wait w = socket.WaitReadable(pace.Remaining(), stop);
    if (w == Wait::kStopped) return Fetch::kStopped;
    if (w == Wait::kFailed) {
      detail = "connection failed";
      return Fetch::kBroken;
    }
  }
  const std::string actual = digest.HexDigest();
  if (actual != md5) {
    detail = "content has md5 " + actual;
    return Fetch::kBadContent;
  }
  if (!temp.Keep(folder + "/" + name)) {
    detail = "cannot store " + folder + "/" + name + ": " + platform::ErrorText(temp.Error());
    return Fetch::kLocalFailure;
  }
  return Fetch::kStored;
}

}  // namespace orsap2p
