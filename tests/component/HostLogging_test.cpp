// The component's log macros through the host's real runtime and log manager.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <regex>
#include <sstream>

#include "foundation/Log.h"
#include "foundation/Runtime.h"
#include "host/Runtime.h"
#include "host/services/LogManager.h"
#include "tests/support/TempStateRoot.h"

namespace {

// time, level, [channel], source:line, message
const std::regex kLine(
    R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\w+) \[([^\]]*)\] ([^ ]*):(\d+) (.*)$)");

boost::shared_ptr<orsahost::LogManager> MakeLogs(const std::string& file) {
  orsahost::LogOptions options;
  options.file = file;
  options.level = 6;
  return boost::make_shared<orsahost::LogManager>(options);
}

TEST(HostLogging, ComponentMacrosReachTheFileThroughTheRuntime) {
  obxtest::TempStateRoot root;
  std::string file = root.Sub("logs/orsa-host.log");
  orsahost::Runtime runtime(MakeLogs(file));
  obx::SetRuntime(&runtime);
  const int line = __LINE__ + 1;
  OBX_INFO("OBXConsole", "OBXConsole", "Wait " << 3605);
  OBX_ERROR("OBXWebService", "OBXWebService",
            "error info:"
                << "refused");
  obx::SetRuntime(nullptr);

  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_EQ(lines.size(), 2u);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[0], m, kLine)) << lines[0];
  EXPECT_EQ(m[3], "OBXConsole");
  EXPECT_EQ(m[5], std::to_string(line));
  EXPECT_EQ(m[6], "Wait 3605");
  ASSERT_TRUE(std::regex_match(lines[1], m, kLine)) << lines[1];
  EXPECT_EQ(m[2], "Error");
  EXPECT_EQ(m[3], "OBXWebService");
  EXPECT_EQ(m[6], "error info:refused");
}

}  // namespace
