#include "host/services/LogLineFormatter.h"

#include <Poco/Message.h>
#include <Poco/PatternFormatter.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>

namespace {

// The line is the one the pattern formatter prints, in every time zone (with
// summer time in force and not) and for every level, with and without a
// source. The zones are set through TZ, which only the Linux C library reads.
TEST(LogLineFormatter, PrintsWhatThePatternPrints) {
  const char* const old = getenv("TZ");
  const std::string saved = old != nullptr ? old : "";
  for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "IST-5:30",
                           "NZST-12NZDT,M1.1.0,M12.31.0", "PST8PDT,M3.2.0,M11.1.0"}) {
    setenv("TZ", zone, 1);
    tzset();
    orsahost::LogLineFormatter ours;
    Poco::PatternFormatter pattern("%L%Y-%m-%d %H:%M:%S.%i %p [%s] %U:%u %t");
    for (int priority = 1; priority <= 8; ++priority) {
      for (const char* file : {static_cast<const char*>(nullptr), "TaskManager"}) {
        const Poco::Message message("OBXConsole", "taskID ****7 ******",
                                    static_cast<Poco::Message::Priority>(priority), file, 42);
        std::string expected;
        std::string actual;
        pattern.format(message, expected);
        ours.format(message, actual);
        EXPECT_EQ(actual, expected) << zone;
      }
    }
  }
  if (old != nullptr) {
    setenv("TZ", saved.c_str(), 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace
