#include "foundation/StringUtil.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using obx::GetFileNameFromUrl;
using obx::SplitString;
using Pieces = std::vector<std::string>;

TEST(SplitString, CutsAtAnyDelimiterAndDropsEmptyPieces) {
  struct Case {
    std::string text;
    std::string delimiters;
    Pieces expected;
  };
  const std::vector<Case> cases = {
      {"", ";", {}},
      {";", ";", {}},
      {";;;", ";", {}},
      {"a", ";", {"a"}},
      {"a;b", ";", {"a", "b"}},
      {";a;;b;", ";", {"a", "b"}},
      {"8-18", "-", {"8", "18"}},
      {"8--18-", "-", {"8", "18"}},
      {"a;b-c", ";-", {"a", "b", "c"}},
      {"a b", ";", {"a b"}},
      {"abc", "", {"abc"}},
      {"", "", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(SplitString(c.text, c.delimiters), c.expected) << "'" << c.text << "'";
}

TEST(GetFileNameFromUrl, TakesTheLastPartAfterSlashThenBackslash) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"http://server/patch/boot.exe", "boot.exe"},
      {"http://server/a\\b\\KB1234.exe", "KB1234.exe"},
      {"C:\\update\\download\\boot.sh", "boot.sh"},
      {"a\\b/c", "c"},
      {"a/b\\c", "c"},
      {"plain.exe", "plain.exe"},
      {"", ""},
      {"http://server/dir/", ""},
      {"dir\\", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(GetFileNameFromUrl(c.first), c.second) << c.first;
}

}  // namespace
