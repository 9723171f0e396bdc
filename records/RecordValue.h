#pragma once
// The values of the records sent to the management server: registry text in
// the system code page made UTF-8, and a bound on the length of any value.
#include <cstddef>
#include <string>

namespace obx {

// The most bytes of one record value (UTF-8, before XML escaping). With five
// result values at this bound a record still holds far less markup than the
// server takes in one upload (128 per record for 2000 records) and far fewer
// bytes than its body limit, so one record alone is never refused for size.
constexpr size_t kMaxRecordValueBytes = 16384;
// What follows a value that was cut.
extern const char* const kRecordValueCutMarker;  // "[...cut]"

// `value` when it is at most kMaxRecordValueBytes long; else its first bytes
// up to that bound, ending on a whole UTF-8 character, followed by the marker.
std::string CutRecordValue(const std::string& value);

// A value read through the ANSI registry calls (or a name from the system),
// converted from the system code page to UTF-8 (up to its first NUL). Bytes
// the code page cannot read become U+FFFD, with one warning naming `what`,
// rather than failing the record.
std::string RecordValueToUtf8(const std::string& ansiValue, const char* what = "a record value");
// The same, for a cycle that looked the code page up once (`codePage` as
// platform::AnsiCodePageName gave it): a value in ASCII, which every ANSI
// code page reads alike, or well-formed UTF-8 under "UTF-8", is already its
// own UTF-8 and is taken without a conversion.
std::string RecordValueToUtf8(const std::string& ansiValue, const std::string& codePage,
                              const char* what = "a record value");

}  // namespace obx
