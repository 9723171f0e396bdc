#pragma once
#include <boost/shared_ptr.hpp>
#include <string>

namespace orsa {

// Levels the component uses; `is` answers whether a message of that level
// would be written, so callers build a message only when it will be.
enum LogLevel { kLogError = 3, kLogWarning = 4, kLogInformation = 6 };

class ILogger {
 public:
  virtual ~ILogger() = default;
  virtual void error(const std::string& message, const char* file, int line) = 0;
  virtual void warning(const std::string& message, const char* file, int line) = 0;
  virtual void information(const std::string& message, const char* file, int line) = 0;
  virtual bool is(int level) const = 0;
};
typedef boost::shared_ptr<ILogger> ILoggerPtr;

// Sends `message` at `level` (kLogError, kLogWarning, anything else as
// information) when the logger exists and writes that level.
inline void LogAt(const ILoggerPtr& logger, int level, const std::string& message, const char* file,
                  int line) {
  if (!logger || !logger->is(level)) return;
  if (level == kLogError) {
    logger->error(message, file, line);
  } else if (level == kLogWarning) {
    logger->warning(message, file, line);
  } else {
    logger->information(message, file, line);
  }
}

class ILogManager {
 public:
  virtual ~ILogManager() = default;
  // May return an empty pointer. Thread-safe.
  virtual ILoggerPtr getLogger(const std::string& channel) = 0;
};
typedef boost::shared_ptr<ILogManager> ILogManagerPtr;

}  // namespace orsa
