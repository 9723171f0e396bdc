#pragma once
// Logging through the host: the logger is looked up by channel just before use,
// and a message is built only when the logger exists and accepts its level.
#include <sstream>
#include <string>

#include "orsa/ILogger.h"

namespace obx {

// The logger of `channel`, or an empty pointer when the runtime, its log
// manager or the channel is missing. Never throws.
orsa::ILoggerPtr GetLogger(const std::string& channel);

// Sends an already built message at `level` (3, 4 or 6).
void EmitLog(orsa::ILogger& logger, int level, const std::string& message, const char* source,
             int line);

// Channel name of a class-bound logger from a type name: the text after the
// last "::", else after the first "class ", else the whole name.
std::string ChannelOfTypeName(const std::string& typeName);

}  // namespace obx

// OBX_LOG("OBXConsole", orsa::kLogInformation, "OBXConsole", "text " << value);
#define OBX_LOG(channel, level, source, parts)                                   \
  do {                                                                           \
    ::orsa::ILoggerPtr obx_logger_ = ::obx::GetLogger(channel);                  \
    if (obx_logger_ && obx_logger_->is(level)) {                                 \
      std::ostringstream obx_message_;                                           \
      obx_message_ << parts;                                                     \
      ::obx::EmitLog(*obx_logger_, level, obx_message_.str(), source, __LINE__); \
    }                                                                            \
  } while (0)

#define OBX_ERROR(channel, source, parts) OBX_LOG(channel, ::orsa::kLogError, source, parts)
#define OBX_WARNING(channel, source, parts) OBX_LOG(channel, ::orsa::kLogWarning, source, parts)
#define OBX_INFO(channel, source, parts) OBX_LOG(channel, ::orsa::kLogInformation, source, parts)
