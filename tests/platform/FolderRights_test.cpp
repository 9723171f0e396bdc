#include "platform/FolderRights.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/support/TempStateRoot.h"

namespace {

mode_t ModeOf(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST(FolderRights, TakesWriteFromOthersCreatesMissingAndRefusesTheRoot) {
  obxtest::TempStateRoot root;
  const struct {
    const char* folder;
    mode_t before;  // 0: missing
  } cases[] = {{"open", 0777}, {"group", 0775}, {"sticky", 01777}, {"missing/below", 0}};
  for (const auto& c : cases) {
    const std::string folder = root.Sub(c.folder);
    if (c.before != 0) {
      ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
      ASSERT_EQ(::chmod(folder.c_str(), c.before), 0);
    }
    std::string error;
    EXPECT_TRUE(platform::ProtectFolder(folder, &error)) << c.folder << ": " << error;
    EXPECT_EQ(ModeOf(folder) & 022, 0u) << c.folder;
    if (c.before != 0) {
      EXPECT_EQ(ModeOf(folder) | 022, c.before | 022) << c.folder;
    }
  }
  std::string error;
  EXPECT_FALSE(platform::ProtectFolder("/", &error));
  EXPECT_NE(error.find("folder of the system"), std::string::npos) << error;
  obxtest::WriteFile(root.Sub("file"), "x");
  EXPECT_FALSE(platform::ProtectFolder(root.Sub("file"), &error));
}

}  // namespace
