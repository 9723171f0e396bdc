#include "foundation/TextConversion.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "foundation/RootException.h"
#include "platform/CodePage.h"

namespace {

using obx::AnsiToUtf8;
using obx::Utf8ToAnsi;

const std::string kZhongWenUtf8 = "\xe4\xb8\xad\xe6\x96\x87";  // two Chinese characters
const std::string kZhongWenGbk = "\xd6\xd0\xce\xc4";
const std::string kEmojiUtf8 = "\xf0\x9f\x98\x80";  // outside GBK and every single-byte page

struct Failure {
  long code = -1;
  std::string message;
};

template <class F>
Failure FailureOf(F convert) {
  Failure failure;
  try {
    convert();
  } catch (const obx::CRootException& e) {
    failure.code = e.Code();
    failure.message = e.what();
  }
  return failure;
}

// Switches an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      had_ = true;
      old_ = old;
    }
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_)
      setenv(name_, old_.c_str(), 1);
    else
      unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(ConvertCodePage, ConvertsBetweenNamedCodePages) {
  struct Case {
    unsigned from;
    unsigned to;
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {936, platform::kCpUtf8, kZhongWenGbk, kZhongWenUtf8},
      {platform::kCpUtf8, 936, kZhongWenUtf8, kZhongWenGbk},
      {1252, platform::kCpUtf8, "caf\xe9", "caf\xc3\xa9"},
      {platform::kCpUtf8, platform::kCpUtf16, "A\xc3\xa9", std::string("A\0\xe9\0", 4)},
      {platform::kCpUtf16, platform::kCpUtf8, std::string("\x2d\x4e", 2), "\xe4\xb8\xad"},
      {platform::kCpUtf8, platform::kCpUtf8, "plain", "plain"},
      {936, platform::kCpUtf8, "", ""},
  };
  for (const Case& c : cases) {
    std::string out = "old";
    long error = 0;
    EXPECT_TRUE(platform::ConvertCodePage(c.from, c.to, c.in, &out, &error))
        << c.from << "->" << c.to;
    EXPECT_EQ(out, c.out) << c.from << "->" << c.to;
  }
}

TEST(ConvertCodePage, NeverDropsOrReplacesWhatItCannotConvert) {
  struct Case {
    unsigned from;
    unsigned to;
    std::string in;
    long error;
  };
  const std::vector<Case> cases = {
      {platform::kCpUtf8, platform::kCpUtf16, "ok\xff", 1113},                    // invalid byte
      {platform::kCpUtf8, platform::kCpUtf16, "ok\xe4\xb8", 1113},                // cut sequence
      {platform::kCpUtf8, platform::kCpUtf16, "\xc0\xaf", 1113},                  // overlong "/"
      {936, platform::kCpUtf8, "ok\xd6", 1113},                                   // cut double byte
      {platform::kCpUtf8, 936, kEmojiUtf8, 1113},                                 // no mapping
      {platform::kCpUtf8, 1252, kZhongWenUtf8, 1113},                             // no mapping
      {platform::kCpUtf16, platform::kCpUtf8, std::string("\x00\xd8", 2), 1113},  // lone surrogate
      {99999, platform::kCpUtf8, "x", 87},                                        // unknown page
  };
  for (const Case& c : cases) {
    std::string out = "old";
    long error = 0;
    EXPECT_FALSE(platform::ConvertCodePage(c.from, c.to, c.in, &out, &error))
        << c.from << "->" << c.to;
    EXPECT_EQ(error, c.error) << c.from << "->" << c.to;
    EXPECT_EQ(out, "old");
  }
  long error = 0;
  EXPECT_FALSE(platform::ConvertCodePage(platform::kCpUtf8, 936, "x", nullptr, &error));
  EXPECT_EQ(error, 87);
}

TEST(TextConversion, EmptyTextGivesEmptyText) {
  EXPECT_EQ(AnsiToUtf8(""), "");
  EXPECT_EQ(Utf8ToAnsi(""), "");
  // A C text ends at its NUL: only what comes before it is converted.
  EXPECT_EQ(AnsiToUtf8(std::string("\0\xff", 2)), "");
  EXPECT_EQ(Utf8ToAnsi(std::string("ab\0\xff", 4)), "ab");
}

TEST(TextConversion, PlainCLocaleFallsBackToUtf8) {
  ScopedEnv all("LC_ALL", "C");
  std::string previous = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(platform::AnsiCodePageName(), "UTF-8");
  EXPECT_EQ(AnsiToUtf8(kZhongWenUtf8), kZhongWenUtf8);
  EXPECT_EQ(Utf8ToAnsi("caf\xc3\xa9"), "caf\xc3\xa9");
  std::setlocale(LC_ALL, previous.c_str());
}

TEST(TextConversion, InvalidUtf8ThrowsFromTheFirstStep) {
  ScopedEnv all("LC_ALL", "C");
  std::setlocale(LC_ALL, "C");
  for (const std::string& bad :
       {std::string("\xff"), std::string("abc\xe4\xb8"), std::string("\xed\xa0\x80")}) {
    Failure f = FailureOf([&] { Utf8ToAnsi(bad); });
    EXPECT_EQ(f.message, "MultiByteToWideChar");
    EXPECT_EQ(f.code, 1113);
    f = FailureOf([&] { AnsiToUtf8(bad); });  // the ANSI page is UTF-8 here
    EXPECT_EQ(f.message, "MultiByteToWideChar");
  }
}

// A GBK locale built for this test run in a private folder (LOCPATH), so the
// conversions can be seen with a double-byte ANSI code page.
class GbkLocale : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::filesystem::temp_directory_path().string() + "/obx-locale-XXXXXX";
    if (mkdtemp(folder_.data()) == nullptr) return;
    std::string command =
        "localedef -c -i zh_CN -f GBK '" + folder_ + "/zh_CN.GBK' >/dev/null 2>&1";
    int rc = std::system(command.c_str());
    (void)rc;  // warnings give a non-zero status; the folder tells whether it worked
    made_ = std::filesystem::exists(folder_ + "/zh_CN.GBK/LC_CTYPE");
  }
  static void TearDownTestSuite() {
    std::error_code ec;
    std::filesystem::remove_all(folder_, ec);
  }
  void SetUp() override {
    if (!made_) GTEST_SKIP() << "localedef could not build zh_CN.GBK";
    locpath_ = std::make_unique<ScopedEnv>("LOCPATH", folder_.c_str());
    previous_ = std::setlocale(LC_ALL, nullptr);
    ASSERT_NE(std::setlocale(LC_ALL, "zh_CN.GBK"), nullptr);
  }
  void TearDown() override {
    if (!previous_.empty()) std::setlocale(LC_ALL, previous_.c_str());
    locpath_.reset();
  }
  static std::string folder_;
  static bool made_;
  std::unique_ptr<ScopedEnv> locpath_;
  std::string previous_;
};
std::string GbkLocale::folder_;
bool GbkLocale::made_ = false;

TEST_F(GbkLocale, AnsiCodePageIsTheLocaleCodeset) {
  EXPECT_EQ(platform::AnsiCodePageName(), "GBK");
}

TEST_F(GbkLocale, RoundTripsChineseText) {
  const std::vector<std::pair<std::string, std::string>> pairs = {
      {kZhongWenGbk, kZhongWenUtf8},
      {"abc " + kZhongWenGbk + " 123", "abc " + kZhongWenUtf8 + " 123"},
      {"C:\\" + kZhongWenGbk + "\\a.exe", "C:\\" + kZhongWenUtf8 + "\\a.exe"},
  };
  for (const auto& p : pairs) {
    EXPECT_EQ(AnsiToUtf8(p.first), p.second);
    EXPECT_EQ(Utf8ToAnsi(p.second), p.first);
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(p.first)), p.first);
  }
}

TEST_F(GbkLocale, FailuresNameTheStepThatFailed) {
  Failure cut = FailureOf([] { AnsiToUtf8("ok\xd6"); });
  EXPECT_EQ(cut.message, "MultiByteToWideChar");
  EXPECT_EQ(cut.code, 1113);
  Failure badUtf8 = FailureOf([] { Utf8ToAnsi("\xff\xfe"); });
  EXPECT_EQ(badUtf8.message, "MultiByteToWideChar");
  Failure unmapped = FailureOf([] { Utf8ToAnsi("smile " + kEmojiUtf8); });
  EXPECT_EQ(unmapped.message, "WideCharToMultiByte");
  EXPECT_EQ(unmapped.code, 1113);
}

}  // namespace
