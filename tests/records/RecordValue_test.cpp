// A value converted with the code page looked up once a cycle reads exactly
// as one converted on its own, whatever its bytes.
#include "records/RecordValue.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "tests/support/FakeRuntime.h"

namespace {

TEST(RecordValue, TheCycleCodePageGivesTheSameTextAsAConversionOfItsOwn) {
  obxtest::FakeRuntime runtime;  // takes the warnings of unreadable values
  runtime.Install();
  const std::string values[] = {
      "",
      "2.0.1 ok",
      std::string("cut\0after", 9),
      "caf\xC3\xA9 \xE4\xB8\xAD \xF0\x9F\x98\x80",  // well-formed UTF-8
      "\xC3",                                       // cut short
      "\xC0\xAF",                                   // overlong
      "\xED\xA0\x80",                               // surrogate
      "\xF4\x90\x80\x80",                           // past U+10FFFF
      "\xD6\xD0\xCE\xC4",                           // GBK
  };
  for (const std::string& codePage : {platform::AnsiCodePageName(), std::string("GBK")}) {
    for (const std::string& value : values) {
      SCOPED_TRACE(codePage + ": " + value);
      EXPECT_EQ(obx::RecordValueToUtf8(value, codePage), obx::RecordValueToUtf8(value));
    }
  }
}

}  // namespace
