#pragma once
// The log line: "YYYY-MM-DD HH:MM:SS.mmm Priority [channel] file:line text"
// in local time, as the pattern "%L%Y-%m-%d %H:%M:%S.%i %p [%s] %U:%u %t"
// prints it. The pattern formatter asks the system for the time zone on
// every line, which rereads the zone's settings each time and costs more than
// the rest of the line; this formatter asks once per minute of the clock (an
// offset changes only on a minute's boundary), so a change of the zone or of
// summer time shows from the next minute on.
#include <Poco/Formatter.h>
#include <Poco/Message.h>
#include <Poco/Timestamp.h>

#include <cstdint>
#include <string>

namespace orsahost {

class LogLineFormatter : public Poco::Formatter {
 public:
  void format(const Poco::Message& message, std::string& text) override;

 private:
  // The offset of local time from UTC, taken for the minute that starts at
  // minute_; guarded by the caller's lock (the log manager writes one line at
  // a time).
  Poco::Timestamp::TimeVal minute_ = -1;
  int64_t offset_ = 0;
};

}  // namespace orsahost
