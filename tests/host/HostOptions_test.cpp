#include "host/HostOptions.h"

#include <gtest/gtest.h>

#include "platform/Process.h"
#include "platform/SharedLibrary.h"
#include "tests/support/TempStateRoot.h"

namespace {

TEST(HostOptions, DefaultComponentIsBesideTheExecutableElseInLib) {
  obxtest::TempStateRoot root;
  const std::string exe = root.Sub("bin/orsa-host");
  const std::string dll = platform::SharedLibraryFileName("obxconsole");
  obxtest::WriteFile(exe, "");
  // Neither present: the path beside the executable, so the error names it.
  EXPECT_EQ(orsahost::DefaultComponentPath(exe), root.Sub("bin/" + dll));
  obxtest::WriteFile(root.Sub("lib/" + dll), "");
  EXPECT_EQ(orsahost::DefaultComponentPath(exe), root.Sub("bin/../lib/" + dll));
  obxtest::WriteFile(root.Sub("bin/" + dll), "");
  EXPECT_EQ(orsahost::DefaultComponentPath(exe), root.Sub("bin/" + dll));
}

TEST(HostOptions, ParsesEveryOptionAndKeepsServicesInOrder) {
  orsahost::HostOptions o;
  std::string error;
  ASSERT_TRUE(orsahost::ParseHostOptions({"--root", "/r", "--component", "/c.so", "--log", "/l",
                                          "--log-level", "warning", "--verbose"},
                                         &o, &error))
      << error;
  EXPECT_EQ(o.root, "/r");
  EXPECT_EQ(o.component, "/c.so");
  EXPECT_EQ(o.logFile, "/l");
  EXPECT_EQ(o.logLevel, "warning");
  EXPECT_TRUE(o.verbose);
  EXPECT_FALSE(o.help);

  ASSERT_TRUE(orsahost::ParseHostOptions(
      {"--make-composite", "out", "--service", "a::I", "--library", "x.so", "--service", "b::I"},
      &o, &error))
      << error;
  EXPECT_EQ(o.makeComposite, "out");
  EXPECT_EQ(o.library, "x.so");
  EXPECT_EQ(o.services, (std::vector<std::string>{"a::I", "b::I"}));
  EXPECT_TRUE(o.root.empty());  // nothing carried over from the earlier parse
}

TEST(HostOptions, RefusesBadCommandLinesWithoutChangingTheOptions) {
  const std::vector<std::vector<std::string>> bad = {{"--root"},
                                                     {"--root", ""},
                                                     {"--make-composite", "out"},
                                                     {"--service", "a::I"},
                                                     {"--passphrase", "p"},
                                                     {"-x"},
                                                     {"extra"},
                                                     {"--component", "c", "--log"},
                                                     {"--install-service", "--uninstall-service"},
                                                     {"--foreground", "--install-service"}};
  for (const auto& args : bad) {
    orsahost::HostOptions o;
    o.root = "kept";
    std::string error;
    EXPECT_FALSE(orsahost::ParseHostOptions(args, &o, &error)) << args[0];
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(o.root, "kept");
  }
}

TEST(HostOptions, ServiceCommandLineQuotesWhatTheCommandLineRulesSplit) {
  orsahost::HostOptions o;
  o.root = "C:\\state dir\\";
  o.logLevel = "warning";
  o.component = "say \"x\"";
  const std::string line =
      orsahost::ServiceCommandLine("C:\\Program Files\\orsa\\orsa-host.exe", o);
  EXPECT_EQ(platform::SplitCommandLine(line),
            (std::vector<std::string>{"C:\\Program Files\\orsa\\orsa-host.exe", "--root",
                                      "C:\\state dir\\", "--component", "say \"x\"", "--log-level",
                                      "warning"}))
      << line;
}

}  // namespace
