#include "host/services/LogLineFormatter.h"

#include <Poco/DateTime.h>
#include <Poco/Timezone.h>

#include <cstdio>

namespace orsahost {

namespace {

const char* const kPriorityNames[] = {"",       "Fatal",       "Critical", "Error", "Warning",
                                      "Notice", "Information", "Debug",    "Trace"};
constexpr Poco::Timestamp::TimeVal kMinute =
    Poco::Timestamp::TimeVal{60} * 1000000;  // microseconds

}  // namespace

void LogLineFormatter::format(const Poco::Message& message, std::string& text) {
  Poco::Timestamp time = message.getTime();
  const Poco::Timestamp::TimeVal minute = time.epochMicroseconds() / kMinute * kMinute;
  if (minute != minute_) {
    offset_ = static_cast<int64_t>(Poco::Timezone::utcOffset() + Poco::Timezone::dst()) *
              Poco::Timestamp::resolution();
    minute_ = minute;
  }
  time += offset_;
  const Poco::DateTime local(time);
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02d %02d:%02d:%02d.%03d ", local.year(),
                local.month(), local.day(), local.hour(), local.minute(), local.second(),
                local.millisecond());
  text += stamp;
  const int priority = static_cast<int>(message.getPriority());
  text += kPriorityNames[priority >= 1 && priority <= 8 ? priority : 0];
  text += " [";
  text += message.getSource();
  text += "] ";
  if (message.getSourceFile() != nullptr) text += message.getSourceFile();
  text += ':';
  text += std::to_string(message.getSourceLine());
  text += ' ';
  text += message.getText();
}

}  // namespace orsahost
