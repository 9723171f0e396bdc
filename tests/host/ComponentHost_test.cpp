#include "host/ComponentHost.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "host/Runtime.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

const std::string kConsoleLibrary = OBX_TEST_TESTCONSOLECOMPONENT;
const std::string kP2pLibrary = OBX_TEST_TESTP2PCOMPOSITE;
const std::string kNoExportLibrary = OBX_TEST_NOEXPORT;

class ComponentHostTest : public ::testing::Test {
 protected:
  ComponentHostTest() : runtime(logs.getLogManager()) { unsetenv("OBX_TEST_CONSOLE_MODE"); }
  ~ComponentHostTest() override { unsetenv("OBX_TEST_CONSOLE_MODE"); }

  obxtest::TempStateRoot root;
  obxtest::FakeRuntime logs;
  orsahost::Runtime runtime;
};

TEST_F(ComponentHostTest, StartsAndStopsTheConsoleAndReleasesItBeforeItsMetadata) {
  {
    orsahost::ComponentHost host(runtime);
    host.load(kConsoleLibrary);
    EXPECT_TRUE(host.loaded());
    EXPECT_EQ(host.consoleClass(), "obxtest::TestConsole");
    ASSERT_TRUE(host.start());
    EXPECT_TRUE(logs.Has("worker running"));
    EXPECT_TRUE(logs.Has("start root=" + root.Path()));
    host.unload();
    EXPECT_FALSE(host.loaded());
    host.unload();  // nothing left to do
  }
  // The test library aborts if its metadata went before the console.
  std::vector<std::string> m = logs.Messages();
  ASSERT_GE(m.size(), 2u);
  EXPECT_EQ(m[m.size() - 2], "stop");
  EXPECT_EQ(m.back(), "released");
}

TEST_F(ComponentHostTest, DestructorStopsARunningConsole) {
  {
    orsahost::ComponentHost host(runtime);
    host.load(kConsoleLibrary);
    ASSERT_TRUE(host.start());
  }
  EXPECT_TRUE(logs.Has("stop"));
  EXPECT_TRUE(logs.Has("released"));
}

TEST_F(ComponentHostTest, StartFailuresReachTheCaller) {
  orsahost::ComponentHost host(runtime);
  setenv("OBX_TEST_CONSOLE_MODE", "fail", 1);
  host.load(kConsoleLibrary);
  EXPECT_FALSE(host.start());
  setenv("OBX_TEST_CONSOLE_MODE", "throw", 1);
  EXPECT_THROW(host.start(), std::runtime_error);
  host.unload();
  EXPECT_FALSE(host.loaded());
}

TEST_F(ComponentHostTest, LoadFailuresSayWhatIsMissing) {
  struct Case {
    std::string path;
    orsahost::ComponentError::Kind kind;
    std::string text;
  } cases[] = {
      {root.Sub("libobxconsole.so"), orsahost::ComponentError::kLibrary,
       "cannot load component " + root.Sub("libobxconsole.so")},
      {kNoExportLibrary, orsahost::ComponentError::kExport,
       "component " + kNoExportLibrary + " has no export OrsaExportClass"},
      {kP2pLibrary, orsahost::ComponentError::kNoConsole,
       "component " + kP2pLibrary + " has no class supporting orsa::IConsoleExt"},
  };
  for (const Case& c : cases) {
    orsahost::ComponentHost host(runtime);
    try {
      host.load(c.path);
      ADD_FAILURE() << "loaded " << c.path;
    } catch (const orsahost::ComponentError& e) {
      EXPECT_EQ(e.kind(), c.kind) << c.path;
      EXPECT_EQ(std::string(e.what()).compare(0, c.text.size(), c.text), 0) << e.what();
    }
    EXPECT_FALSE(host.loaded());
    EXPECT_FALSE(host.start());
  }
}

}  // namespace
