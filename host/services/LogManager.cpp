#include "host/services/LogManager.h"

#include <Poco/ConsoleChannel.h>
#include <Poco/Exception.h>
#include <Poco/FileChannel.h>
#include <Poco/FormattingChannel.h>
#include <Poco/Message.h>
#include <Poco/SplitterChannel.h>

#include <algorithm>
#include <boost/make_shared.hpp>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "host/services/LogLineFormatter.h"
#include "text/Hex.h"

namespace orsahost {
namespace {

class Logger : public orsa::ILogger {
 public:
  Logger(boost::shared_ptr<LogManager> manager, std::string channel)
      : manager_(std::move(manager)), channel_(std::move(channel)) {}
  void error(const std::string& m, const char* f, int l) override {
    manager_->write(orsa::kLogError, channel_, m, f, l);
  }
  void warning(const std::string& m, const char* f, int l) override {
    manager_->write(orsa::kLogWarning, channel_, m, f, l);
  }
  void information(const std::string& m, const char* f, int l) override {
    manager_->write(orsa::kLogInformation, channel_, m, f, l);
  }
  bool is(int level) const override { return manager_->is(level); }

 private:
  boost::shared_ptr<LogManager> manager_;
  std::string channel_;
};

}  // namespace

std::string OneLine(const std::string& message) {
  auto plain = [](unsigned char c) { return c == '\t' || (c >= 0x20 && c != 0x7f); };
  if (std::all_of(message.begin(), message.end(), plain)) return message;
  std::string out;
  out.reserve(message.size() + 8);
  for (char c : message) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (!plain(u)) {
      out += "\\x" + textutil::HexText(&u, 1);
    } else {
      out += c;
    }
  }
  return out;
}

std::string CutText(const std::string& text, std::size_t keep) {
  if (text.size() <= keep) return text;
  // Back off over UTF-8 continuation bytes so no character is split.
  std::size_t end = keep;
  for (int back = 0; back < 3 && end > 0 && (static_cast<unsigned char>(text[end]) & 0xc0) == 0x80;
       ++back) {
    --end;
  }
  if ((static_cast<unsigned char>(text[end]) & 0xc0) == 0x80) end = keep;  // not UTF-8 after all
  return text.substr(0, end) + "...(" + std::to_string(text.size() - end) + " bytes cut)";
}

LogManager::LogManager(const LogOptions& options) : level_(options.level) {
  Poco::AutoPtr<Poco::SplitterChannel> splitter(new Poco::SplitterChannel);
  if (!options.file.empty()) {
    std::error_code ec;
    std::filesystem::path parent = std::filesystem::path(options.file).parent_path();
    if (!parent.empty() && !std::filesystem::create_directories(parent, ec) && ec)
      throw std::runtime_error("cannot open log file " + options.file + ": cannot create folder " +
                               parent.string() + ": " + ec.message());
    Poco::AutoPtr<Poco::FileChannel> file(new Poco::FileChannel(options.file));
    file->setProperty(Poco::FileChannel::PROP_ROTATION, options.rotateSize);
    file->setProperty(Poco::FileChannel::PROP_ARCHIVE, "number");
    file->setProperty(Poco::FileChannel::PROP_PURGECOUNT, std::to_string(options.keepFiles));
    // Every line reaches the file at once: an operator (and a test) reading the
    // log of a running host sees what happened so far.
    file->setProperty(Poco::FileChannel::PROP_FLUSH, "true");
    try {
      // Open now so that a log file that cannot be written is reported at
      // start-up, not silently lost with the first message.
      file->open();
    } catch (const Poco::Exception& e) {
      // The system's reason, when the file cannot be opened for appending,
      // says more than the logging library's exception class.
      std::string reason = e.displayText();
      if (std::FILE* probe = std::fopen(options.file.c_str(), "a"))
        std::fclose(probe);
      else
        reason = std::strerror(errno);
      throw std::runtime_error("cannot open log file " + options.file + ": " + reason);
    }
    splitter->addChannel(file);
  }
  if (options.terminal) splitter->addChannel(new Poco::ConsoleChannel(std::cerr));

  Poco::AutoPtr<LogLineFormatter> formatter(new LogLineFormatter);
  channel_ = new Poco::FormattingChannel(formatter, splitter);
  channel_->open();
}

LogManager::~LogManager() {
  try {
    channel_->close();
  } catch (...) {
    // Closing a file at shutdown has no one left to tell.
  }
}

orsa::ILoggerPtr LogManager::getLogger(const std::string& channel) {
  return boost::make_shared<Logger>(shared_from_this(), channel);
}

void LogManager::write(int level, const std::string& channel, const std::string& message,
                       const char* source, int line) {
  if (!is(level)) return;
  auto priority = static_cast<Poco::Message::Priority>(
      std::clamp(level, static_cast<int>(Poco::Message::PRIO_FATAL),
                 static_cast<int>(Poco::Message::PRIO_TRACE)));
  // Poco keeps the file name as a pointer; the message lives only for this call.
  Poco::Message m(channel, OneLine(CutText(message, kMaxLogMessageBytes)), priority,
                  source ? source : "", line);
  std::lock_guard<std::mutex> lock(mutex_);
  try {
    channel_->log(m);
  } catch (...) {
    // A full disk must not take the caller (possibly the component's worker)
    // down; the line is lost.
  }
}

std::string LogManager::DefaultFile(const std::string& stateRoot) {
  return stateRoot + "/logs/orsa-host.log";
}

bool LogManager::ParseLevel(const std::string& text, int* level) {
  static const char* const kNames[] = {"fatal",  "critical",    "error", "warning",
                                       "notice", "information", "debug", "trace"};
  for (int i = 0; i < 8; ++i) {
    if (text == kNames[i]) {
      *level = i + 1;
      return true;
    }
  }
  if (text.size() == 1 && text[0] >= '1' && text[0] <= '8') {
    *level = text[0] - '0';
    return true;
  }
  return false;
}

}  // namespace orsahost
