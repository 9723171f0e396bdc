#pragma once
// The host's log manager: loggers by channel, all writing through one Poco
// channel pipeline to a rotating file and, when asked, to the terminal.
#include <Poco/AutoPtr.h>
#include <Poco/Channel.h>

#include <atomic>
#include <boost/enable_shared_from_this.hpp>
#include <cstddef>
#include <mutex>
#include <string>

#include "orsa/ILogger.h"

namespace orsahost {

// Texts that come from outside the process (a server's fault string, an
// element name in its answer) are cut to this many bytes where they enter an
// exception text, since such texts end up in log lines.
inline constexpr std::size_t kMaxOutsideTextBytes = 1024;
// The most bytes of one message a log line carries; a backstop for any path
// that did not cut what it logs.
inline constexpr std::size_t kMaxLogMessageBytes = 16384;

// `text` itself when it has at most `keep` bytes. Otherwise its first `keep`
// bytes (fewer where that would split a UTF-8 character) followed by
// "...(N bytes cut)", N being the number of bytes left out.
std::string CutText(const std::string& text, std::size_t keep = kMaxOutsideTextBytes);

struct LogOptions {
  // The log file; its folder is created. Empty: no file output.
  std::string file;
  // Also write every line to the standard error stream.
  bool terminal = false;
  // Highest level written (3 error, 4 warning, 6 information, up to 8).
  int level = orsa::kLogInformation;
  // The file is renamed to <file>.0 (older ones shift up) when it reaches this
  // size; at most `keepFiles` old files are kept.
  std::string rotateSize = "10 M";
  int keepFiles = 5;
};

// `message` as one line: a line break is written as the two characters \n
// (or \r) and any other control character but the tab as \xHH, so a text
// taken from outside (a server's answer, a client's request) can neither
// pass for entries of its own nor steer the terminal it is shown on.
std::string OneLine(const std::string& message);

// One line per message:
//   2026-12-07 20:14:03.512 Information [channel] source:line message
// (local time; levels spelled Error, Warning, Information, ...). A line break
// inside a message is written as the two characters \n (or \r), other control
// characters as \xHH (see OneLine), so one entry is always one line, and a
// message longer than kMaxLogMessageBytes is cut with CutText, so no line
// grows without bound. Levels are Poco's priorities: 3 error, 4 warning,
// 6 information, so `is(level)` is true for every level up to the configured one.
//
// Must be owned by a boost::shared_ptr (its loggers share it, so they may
// outlive the owner's reference). Thread-safe.
// Construction throws std::runtime_error when the log file cannot be opened.
class LogManager : public orsa::ILogManager, public boost::enable_shared_from_this<LogManager> {
 public:
  explicit LogManager(const LogOptions& options);
  ~LogManager() override;
  LogManager(const LogManager&) = delete;
  LogManager& operator=(const LogManager&) = delete;

  // A logger for `channel`; never empty.
  orsa::ILoggerPtr getLogger(const std::string& channel) override;

  int level() const { return level_.load(); }
  void setLevel(int level) { level_.store(level); }
  bool is(int level) const { return level <= level_.load(); }

  // Writes one line when `level` passes the configured level.
  void write(int level, const std::string& channel, const std::string& message, const char* source,
             int line);

  // The default log file under the state root: <root>/logs/orsa-host.log.
  static std::string DefaultFile(const std::string& stateRoot);
  // Parses a level given by number (1..8) or Poco name ("error", "warning",
  // "information", "debug", ...); false when the text is neither.
  static bool ParseLevel(const std::string& text, int* level);

 private:
  std::atomic<int> level_;
  std::mutex mutex_;  // keeps lines whole and in order across threads
  Poco::AutoPtr<Poco::Channel> channel_;
};

}  // namespace orsahost
