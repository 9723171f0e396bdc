#include "platform/StateRoot.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

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

}  // namespace
