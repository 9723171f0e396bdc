#include "records/RecordValue.h"

#include <string>

#include "foundation/Log.h"
#include "foundation/RootException.h"
#include "foundation/TextConversion.h"
#include "text/Utf8.h"

namespace obx {

const char* const kRecordValueCutMarker = "[...cut]";

std::string CutRecordValue(const std::string& value) {
  if (value.size() <= kMaxRecordValueBytes) return value;
  size_t end = 0;
  for (;;) {
    const size_t length = textutil::Utf8SequenceLength(value, end);
    const size_t step = length == 0 ? 1 : length;
    if (end + step > kMaxRecordValueBytes) break;
    end += step;
  }
  return value.substr(0, end) + kRecordValueCutMarker;
}

std::string RecordValueToUtf8(const std::string& ansiValue, const char* what) {
  try {
    return AnsiToUtf8(ansiValue);
  } catch (const CRootException&) {
    OBX_WARNING("OBXConsole", "TaskManager",
                what << " is not valid text in the system code page; "
                        "unreadable bytes are sent as U+FFFD");
  }
  const std::string text = ansiValue.substr(0, ansiValue.find('\0'));
  std::string utf8;
  for (size_t i = 0; i < text.size();) {
    const size_t length = textutil::Utf8SequenceLength(text, i);
    if (length == 0) {
      utf8 += "\xEF\xBF\xBD";
      ++i;
    } else {
      utf8.append(text, i, length);
      i += length;
    }
  }
  return utf8;
}

std::string RecordValueToUtf8(const std::string& ansiValue, const std::string& codePage,
                              const char* what) {
  const std::string text = ansiValue.substr(0, ansiValue.find('\0'));
  const bool utf8 = codePage == "UTF-8";
  for (size_t i = 0; i < text.size();) {
    const size_t length = static_cast<unsigned char>(text[i]) < 0x80 ? 1
                          : utf8 ? textutil::Utf8SequenceLength(text, i)
                                 : 0;
    if (length == 0) return RecordValueToUtf8(ansiValue, what);
    i += length;
  }
  return text;
}

}  // namespace obx
