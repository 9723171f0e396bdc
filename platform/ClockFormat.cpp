#include <cstdio>

#include "platform/Clock.h"

namespace platform {

std::string FormatLocalTime(const LocalTime& t, const char* format) {
  char text[64];
  int n =
      std::snprintf(text, sizeof text, format, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return n < 0 ? std::string() : std::string(text);
}

}  // namespace platform
