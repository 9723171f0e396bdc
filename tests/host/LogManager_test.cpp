#include "host/services/LogManager.h"

#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <filesystem>
#include <regex>
#include <sstream>
#include <thread>

#include "host/Runtime.h"
#include "tests/support/TempStateRoot.h"

namespace {

boost::shared_ptr<orsahost::LogManager> MakeLogs(const std::string& file, int level = 6) {
  orsahost::LogOptions options;
  options.file = file;
  options.level = level;
  return boost::make_shared<orsahost::LogManager>(options);
}

// time, level, [channel], source:line, message
const std::regex kLine(
    R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\w+) \[([^\]]*)\] ([^ ]*):(\d+) (.*)$)");

TEST(LogManager, EachLineCarriesTimeLevelChannelSourceLineAndMessage) {
  obxtest::TempStateRoot root;
  std::string file = orsahost::LogManager::DefaultFile(root.Path());
  EXPECT_EQ(file, root.Path() + "/logs/orsa-host.log");
  auto logs = MakeLogs(file);
  orsa::ILoggerPtr logger = logs->getLogger("IOBXConsoleImpl");
  ASSERT_TRUE(logger);
  logger->error("Create start thread failed", "IOBXConsoleImpl", 71);
  logger->warning("Failed to set p2p server host", "OBXConsole", 88);
  logger->information("*************start************", "IOBXConsoleImpl", 60);
  // Message texts go out byte for byte: no format directives, no recoding.
  const std::string raw = "C:\\orsa\\Components/orsap2p.composite %s %d 100% \xe6\xa1\x8c";
  logger->information(raw, nullptr, 0);
  // A text with line breaks (say, a server's answer) cannot forge entries.
  logger->error("error info:bad\n2026-01-01 00:00:00.000 Error [orsa] x:1 forged\r\n",
                "OBXWebService", 90);

  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_EQ(lines.size(), 5u);
  struct Expected {
    const char* level;
    const char* source;
    const char* line;
    const char* message;
  } expected[] = {
      {"Error", "IOBXConsoleImpl", "71", "Create start thread failed"},
      {"Warning", "OBXConsole", "88", "Failed to set p2p server host"},
      {"Information", "IOBXConsoleImpl", "60", "*************start************"},
  };
  for (size_t i = 0; i < 3; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i], m, kLine)) << lines[i];
    EXPECT_EQ(m[2], expected[i].level);
    EXPECT_EQ(m[3], "IOBXConsoleImpl");
    EXPECT_EQ(m[4], expected[i].source);
    EXPECT_EQ(m[5], expected[i].line);
    EXPECT_EQ(m[6], expected[i].message);
  }
  std::smatch m;
  ASSERT_TRUE(std::regex_match(lines[3], m, kLine)) << lines[3];
  EXPECT_EQ(m[4], "");  // no source given
  EXPECT_EQ(m[6], raw);
  ASSERT_TRUE(std::regex_match(lines[4], m, kLine)) << lines[4];
  EXPECT_EQ(m[6], "error info:bad\\n2026-01-01 00:00:00.000 Error [orsa] x:1 forged\\r\\n");
}

TEST(LogManager, IsHonoursTheConfiguredLevel) {
  obxtest::TempStateRoot root;
  std::string file = root.Sub("logs/host.log");
  auto logs = MakeLogs(file, orsa::kLogWarning);
  orsa::ILoggerPtr logger = logs->getLogger("OBXConsole");
  EXPECT_TRUE(logger->is(orsa::kLogError));
  EXPECT_TRUE(logger->is(orsa::kLogWarning));
  EXPECT_FALSE(logger->is(orsa::kLogInformation));

  logger->information("not wanted", "OBXConsole", 1);
  logger->warning("wanted", "OBXConsole", 2);
  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("wanted"), std::string::npos);

  // A changed level applies to loggers handed out before.
  logs->setLevel(orsa::kLogError);
  EXPECT_FALSE(logger->is(orsa::kLogWarning));
  logs->setLevel(orsa::kLogInformation);
  EXPECT_TRUE(logger->is(orsa::kLogInformation));
}

TEST(LogManager, LinesFromManyThreadsStayWhole) {
  obxtest::TempStateRoot root;
  std::string file = root.Sub("l.log");
  auto logs = MakeLogs(file);
  const int kThreads = 4, kEach = 250;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      orsa::ILoggerPtr logger = logs->getLogger("T" + std::to_string(t));
      for (int i = 0; i < kEach; ++i)
        logger->information("message " + std::to_string(i) + " of thread " + std::to_string(t),
                            "Src", i);
    });
  for (std::thread& t : threads) t.join();
  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEach));
  for (const std::string& l : lines) ASSERT_TRUE(std::regex_match(l, kLine)) << l;
}

TEST(LogManager, RotatesTheFileAndKeepsTheNewestLines) {
  obxtest::TempStateRoot root;
  std::string file = root.Sub("logs/orsa-host.log");
  orsahost::LogOptions options;
  options.file = file;
  options.rotateSize = "2 K";
  options.keepFiles = 2;
  auto logs = boost::make_shared<orsahost::LogManager>(options);
  orsa::ILoggerPtr logger = logs->getLogger("OBXConsole");
  for (int i = 0; i < 200; ++i)
    logger->information("line " + std::to_string(i) + std::string(40, '.'), "OBXConsole", i);
  EXPECT_TRUE(std::filesystem::exists(file + ".0"));
  EXPECT_FALSE(std::filesystem::exists(file + ".5"));
  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_NE(lines.back().find("line 199."), std::string::npos);
  EXPECT_LT(std::filesystem::file_size(file), 4096u);
}

TEST(LogManager, MessageIsCutToItsBound) {
  obxtest::TempStateRoot root;
  std::string file = root.Sub("logs/orsa-host.log");
  auto logs = MakeLogs(file);
  const std::string huge = "error info:" + std::string(5 << 20, 'x');
  logs->getLogger("OBXConsole")->warning(huge, "OBXWebService", 90);
  std::vector<std::string> lines = obxtest::ReadLines(file);
  ASSERT_EQ(lines.size(), 1u);
  const std::size_t kept = orsahost::kMaxLogMessageBytes;
  const std::string cut =
      " " + huge.substr(0, kept) + "...(" + std::to_string(huge.size() - kept) + " bytes cut)";
  ASSERT_LT(lines[0].size(), cut.size() + 100);
  EXPECT_EQ(lines[0].substr(lines[0].size() - cut.size()), cut);
}

TEST(LogManager, UnwritableLogFileFailsAtConstruction) {
  obxtest::TempStateRoot root;
  obxtest::WriteFile(root.Sub("plain"), "a file, not a folder");
  orsahost::LogOptions options;
  options.file = root.Sub("plain/orsa-host.log");
  try {
    orsahost::LogManager logs(options);
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find(options.file), std::string::npos) << e.what();
  }
}

TEST(LogManager, ParsesLevelNamesAndNumbers) {
  struct Case {
    const char* text;
    bool ok;
    int level;
  } cases[] = {{"error", true, 3},  {"warning", true, 4}, {"information", true, 6},
               {"debug", true, 7},  {"1", true, 1},       {"8", true, 8},
               {"0", false, 0},     {"9", false, 0},      {"", false, 0},
               {"Error", false, 0}, {"66", false, 0},     {"info", false, 0}};
  for (const Case& c : cases) {
    int level = -1;
    EXPECT_EQ(orsahost::LogManager::ParseLevel(c.text, &level), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(level, c.level) << c.text;
    }
  }
}

}  // namespace
