// The record of a task whose user and computer names hold bytes the code
// page cannot read; this thread's code page is switched with a POSIX locale.
#include <gtest/gtest.h>
#include <locale.h>
#include <tinyxml.h>

#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "tasks/TaskManager.h"
#include "tests/tasks/ReportTaskResultTest.h"

namespace {

using obxtest::ScriptedInvoker;
using reporttest::Item;
using reporttest::ParseItems;
using reporttest::ReportTaskResultTest;

// Names come in the system code page; bytes that code page cannot read must
// not end the worker: the record is made with U+FFFD in their place, and
// readable names convert as before.
TEST_F(ReportTaskResultTest, NameBytesInvalidInTheCodePageBecomeReplacementCharacters) {
  // This thread's code page is UTF-8 for the call, whatever the environment.
  struct Utf8Locale {
    locale_t utf8 = newlocale(LC_ALL_MASK, "C.UTF-8", static_cast<locale_t>(0));
    locale_t previous = uselocale(utf8);
    ~Utf8Locale() {
      uselocale(previous);
      freelocale(utf8);
    }
  };
  facts_.userName =
      "al\xff"
      "ice";
  machine_.CaptureUserName();
  facts_.computerName = "PC-\xc3\xa9-\xe9";
  obx::TaskManager tasks;
  invoker_->Push(ScriptedInvoker::Answer("true"));
  {
    Utf8Locale locale;
    ASSERT_NE(locale.utf8, static_cast<locale_t>(0));
    tasks.ReportTaskResult("1001", "installResultInfo");
  }

  ASSERT_EQ(invoker_->Calls().size(), 1u);
  std::string payload;
  obx::DecryptText(obx::kPassphrase, payload, invoker_->Calls()[0].maps[0].items[0].value);
  TiXmlDocument doc;
  doc.Parse(payload.c_str(), nullptr, TIXML_ENCODING_UTF8);
  ASSERT_FALSE(doc.Error()) << payload;
  std::string record;
  record << *doc.RootElement()->FirstChildElement("map");
  const std::vector<Item> items = ParseItems(record);
  ASSERT_EQ(items.size(), 12u);
  EXPECT_EQ(items[2], (Item{"user_name",
                            "al\xef\xbf\xbd"
                            "ice",
                            "string"}));
  EXPECT_EQ(items[3], (Item{"host", "PC-\xc3\xa9-\xef\xbf\xbd", "string"}));
  EXPECT_TRUE(runtime_.HasPrefix("a user or computer name is not valid text"));
}

}  // namespace
