#include "platform/StateRoot.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/File.h"
#include "tests/support/TempStateRoot.h"

namespace {

using namespace platform;

// Sets or clears environment variables for one test and puts them back after.
class EnvGuard {
 public:
  void Set(const char* name, const char* value) {
    const char* old = getenv(name);
    saved_.push_back({name, old ? old : "", old != nullptr});
    if (value)
      setenv(name, value, 1);
    else
      unsetenv(name);
  }
  ~EnvGuard() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->present)
        setenv(it->name.c_str(), it->value.c_str(), 1);
      else
        unsetenv(it->name.c_str());
    }
  }

 private:
  struct Saved {
    std::string name;
    std::string value;
    bool present;
  };
  std::vector<Saved> saved_;
};

std::vector<std::string> FolderEntries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return names;
  while (dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  return names;
}

TEST(StateRoot, FollowsOrsaRootThenTheAccountDefaults) {
  EnvGuard env;
  env.Set("ORSA_ROOT", "/some/root");
  EXPECT_EQ("/some/root", StateRoot());
  EXPECT_EQ("/some/root/windows", WindowsDirectory());

  env.Set("ORSA_ROOT", "");
  env.Set("XDG_STATE_HOME", "/xdg/state");
  env.Set("HOME", "/home/someone");
  std::string expected = geteuid() == 0 ? "/var/lib/orsa" : "/xdg/state/orsa";
  EXPECT_EQ(expected, StateRoot());

  if (geteuid() != 0) {
    env.Set("XDG_STATE_HOME", "relative/ignored");
    EXPECT_EQ("/home/someone/.local/state/orsa", StateRoot());
    env.Set("XDG_STATE_HOME", nullptr);
    EXPECT_EQ("/home/someone/.local/state/orsa", StateRoot());
  }
}

TEST(StateRoot, NativePathMapsWindowsPaths) {
  EnvGuard env;
  env.Set("ORSA_ROOT", "/r");
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"C:\\Program Files\\OBX\\PatchPolicy.xml", "/r/drive_c/Program Files/OBX/PatchPolicy.xml"},
      {"d:\\x", "/r/drive_d/x"},
      {"C:", "/r/drive_c"},
      {"C:\\", "/r/drive_c"},
      {"\\download\\boot.sh", "/download/boot.sh"},
      {"/opt/obx\\download\\\\boot.sh", "/opt/obx/download/boot.sh"},
      {"/r/windows\\win.ini", "/r/windows/win.ini"},
      {"reportInfo.xml", "reportInfo.xml"},
      {"a//b\\/c", "a/b/c"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.out, NativePath(c.in)) << c.in;
}

TEST(StateRoot, CreateDirectoriesMakesParentsAndAcceptsExisting) {
  obxtest::TempStateRoot root;
  std::string deep = root.Sub("a/b/c");
  EXPECT_TRUE(CreateDirectories(deep));
  struct stat st;
  ASSERT_EQ(0, stat(deep.c_str(), &st));
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(CreateDirectories(deep));  // already there
  obxtest::WriteFile(root.Sub("file"), "x");
  EXPECT_FALSE(CreateDirectories(root.Sub("file/sub")));
  EXPECT_FALSE(CreateDirectories(root.Sub("file")));
  EXPECT_FALSE(CreateDirectories(""));
}

TEST(StateRoot, ReplaceFileAtomicallyWritesWholeFileAndLeavesNoTemporary) {
  obxtest::TempStateRoot root;
  std::string target = root.Sub("TaskList.xml");
  std::string big(1 << 20, 'q');
  ASSERT_TRUE(ReplaceFileAtomically(target, big));
  EXPECT_EQ(big, obxtest::ReadFile(target));
  ASSERT_TRUE(ReplaceFileAtomically(target, "second"));
  EXPECT_EQ("second", obxtest::ReadFile(target));
  ASSERT_TRUE(ReplaceFileAtomically(target, ""));
  EXPECT_EQ("", obxtest::ReadFile(target));
  EXPECT_EQ(std::vector<std::string>{"TaskList.xml"}, FolderEntries(root.Path()));
}

TEST(StateRoot, ReplaceFileAtomicallyKeepsModeOrGivesReadableNewFile) {
  obxtest::TempStateRoot root;
  std::string fresh = root.Sub("fresh");
  ASSERT_TRUE(ReplaceFileAtomically(fresh, "x"));
  struct stat st;
  ASSERT_EQ(0, stat(fresh.c_str(), &st));
  EXPECT_EQ(0644u, st.st_mode & 0777);

  std::string script = root.Sub("boot.sh");
  obxtest::WriteFile(script, "old");
  ASSERT_EQ(0, chmod(script.c_str(), 0750));
  ASSERT_TRUE(ReplaceFileAtomically(script, "#!/bin/sh\n"));
  ASSERT_EQ(0, stat(script.c_str(), &st));
  EXPECT_EQ(0750u, st.st_mode & 0777);
}

TEST(StateRoot, ReplaceFileAtomicallyFailsWithoutTouchingAnything) {
  obxtest::TempStateRoot root;
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("missing/folder/file"), "x"));
  EXPECT_FALSE(ReplaceFileAtomically("", "x"));
  // The target is a folder: rename cannot replace it, and no temporary stays behind.
  ASSERT_TRUE(CreateDirectories(root.Sub("dir")));
  EXPECT_FALSE(ReplaceFileAtomically(root.Sub("dir"), "x"));
  EXPECT_EQ(std::vector<std::string>{"dir"}, FolderEntries(root.Path()));
}

}  // namespace
