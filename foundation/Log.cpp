#include "foundation/Log.h"

#include "foundation/Runtime.h"

namespace obx {

orsa::ILoggerPtr GetLogger(const std::string& channel) {
  try {
    orsa::IRuntime* runtime = GetRuntime();
    if (runtime == nullptr) return orsa::ILoggerPtr();
    orsa::ILogManagerPtr manager = runtime->getLogManager();
    if (!manager) return orsa::ILoggerPtr();
    return manager->getLogger(channel);
  } catch (...) {
    // A log manager that fails must not take the caller down with it.
    return orsa::ILoggerPtr();
  }
}

void EmitLog(orsa::ILogger& logger, int level, const std::string& message, const char* source,
             int line) {
  switch (level) {
    case orsa::kLogError:
      logger.error(message, source, line);
      break;
    case orsa::kLogWarning:
      logger.warning(message, source, line);
      break;
    default:
      logger.information(message, source, line);
      break;
  }
}

std::string ChannelOfTypeName(const std::string& typeName) {
  std::string::size_type colons = typeName.rfind("::");
  if (colons != std::string::npos) return typeName.substr(colons + 2);
  static const std::string kClass = "class ";
  std::string::size_type cls = typeName.find(kClass);
  if (cls != std::string::npos) return typeName.substr(cls + kClass.size());
  return typeName;
}

}  // namespace obx
