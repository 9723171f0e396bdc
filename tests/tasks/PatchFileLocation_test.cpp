// Which offered patch file the boot program's answer names.
#include "tasks/PatchFileLocation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/FakeRuntime.h"

namespace {

TEST(GetPatchFileUrl, ByNameFirstThenByMd5) {
  const std::string tails = "found the file with tails by :";
  const std::string byMd5 = "No found the file,try to find with md5:";
  const struct {
    const char *urls, *names, *md5s, *wantedName, *wantedMd5;
    std::string url, md5After;
    std::vector<std::string> warnings;
  } cases[] = {
      {"a;b", "x;y", "m1;m2", "y", "old", "b", "m2", {tails + "y"}},
      {"a;b", "x;y", "m1;m2", "z", "m1", "a", "m1", {tails + "z", byMd5 + "m1"}},
      {"a;b", "x;y", "m1;m2", "z", "", "", "", {tails + "z"}},
      {"a;b", "x;y", "m1;m2", "Y", "", "", "", {tails + "Y"}},
      {"a;b", "", "m1;m2", "y", "m2", "b", "m2", {tails + "y", byMd5 + "m2"}},
      {"a;;b", "x;y", "m1;m2", "y", "", "b", "m2", {tails + "y"}},
      {"a;b",
       "x",
       "m1;m2",
       "x",
       "",
       "",
       "",
       {"DoPatchFile: patch url and patch file list size do not matched"}},
      {"a;b",
       "x;y",
       "m1",
       "x",
       "",
       "",
       "",
       {"DoPatchFile: md5 and patch url list size do not matched"}},
      {"", "x", "m1", "x", "m1", "", "m1", {"DoPatchFile: file or md5 list is null"}},
  };
  obxtest::FakeRuntime runtime;
  runtime.Install();
  for (const auto& c : cases) {
    runtime.ClearLines();
    std::string md5 = c.wantedMd5;
    EXPECT_EQ(c.url, obx::GetPatchFileUrl(c.wantedName, md5, c.urls, c.names, c.md5s))
        << c.urls << " " << c.wantedName;
    EXPECT_EQ(c.md5After, md5) << c.urls << " " << c.wantedName;
    EXPECT_EQ(c.warnings, runtime.Messages()) << c.urls << " " << c.wantedName;
    for (const obxtest::LogLine& line : runtime.Lines()) EXPECT_EQ(4, line.level);
  }
}

}  // namespace
