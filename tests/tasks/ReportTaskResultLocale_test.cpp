// The record of a task whose user and computer names hold bytes the code
// page cannot read; this thread's code page is switched with a POSIX locale.
#include <gtest/gtest.h>
#include <locale.h>
#include <tinyxml.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "tasks/TaskManager.h"
#include "tests/support/ScopedEnv.h"
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

// Values read through the ANSI registry calls come in the system code page,
// here GBK (a locale built for the test), and reach the record as UTF-8, as
// the names do.
TEST_F(ReportTaskResultTest, RegistryValuesInTheCodePageAreSentAsUtf8) {
  const std::string locales = machine_.root.Sub("locales");
  std::filesystem::create_directories(locales);
  const std::string build =
      "localedef -c -i zh_CN -f GBK '" + locales + "/zh_CN.GBK' >/dev/null 2>&1";
  (void)std::system(build.c_str());  // warnings give a non-zero status
  if (!std::filesystem::exists(locales + "/zh_CN.GBK/LC_CTYPE"))
    GTEST_SKIP() << "localedef could not build zh_CN.GBK";
  const std::string gbk = "\xD6\xD0\xCE\xC4";  // "zhong wen"
  const std::string utf8 = "\xE4\xB8\xAD\xE6\x96\x87";
  SetResult("1001", "Result1", gbk);
  SetResult("1001", "Result5", "ok " + gbk);
  SetResult("7", "clientVersion", "2." + gbk);
  obx::TaskManager tasks;
  std::vector<Item> result;
  std::vector<Item> version;
  {
    obxtest::ScopedEnv locpath("LOCPATH", locales.c_str());
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "zh_CN.GBK"), nullptr);
    result = ParseItems(tasks.MakeResultRecord("1001", "installResultInfo"));
    version = ParseItems(tasks.MakeResultRecord("7", "versionInfo"));
    std::setlocale(LC_ALL, previous.c_str());
  }
  ASSERT_EQ(result.size(), 12u);
  EXPECT_EQ(result[7], (Item{"r1", utf8, "string"}));
  EXPECT_EQ(result[11], (Item{"r5", "ok " + utf8, "string"}));
  ASSERT_EQ(version.size(), 10u);
  EXPECT_EQ(version[7], (Item{"client_version", "2." + utf8, "string"}));
}

}  // namespace
