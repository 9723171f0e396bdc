// orsa-host as a process: started by the test, stopped by a signal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <thread>

#include "host/CompositeManifest.h"
#include "orsa/Seal.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::HostProcess;
using obxtest::ScopedEnv;
using obxtest::WaitForLog;

const std::string kConsoleLibrary = OBX_TEST_TESTCONSOLECOMPONENT;
const std::string kP2pLibrary = OBX_TEST_TESTP2PCOMPOSITE;
const std::string kNoExportLibrary = OBX_TEST_NOEXPORT;

size_t Find(const std::string& log, const std::string& text) { return log.find(text); }

int CountLines(const std::string& text) {
  int n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

TEST(HostDaemon, StopsCleanlyOnEachStopSignal) {
  for (int sig : {SIGTERM, SIGINT}) {
    obxtest::TempStateRoot root;
    std::string log = root.Sub("logs/orsa-host.log");
    HostProcess host(root, {"--root", root.Path(), "--component", kConsoleLibrary});
    ASSERT_GT(host.pid(), 0);
    ASSERT_TRUE(WaitForLog(log, "started obxtest::TestConsole", host, std::chrono::seconds(30)))
        << obxtest::ReadFile(log) << host.Err();
    // The console's worker runs; the signal must reach the main thread only.
    EXPECT_GE(host.Threads(), 2);
    kill(host.pid(), sig);
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0) << host.Err();
    EXPECT_FALSE(std::filesystem::exists("/proc/" + std::to_string(host.pid())));

    std::string text = obxtest::ReadFile(log);
    const std::string stopping = sig == SIGTERM ? "stopping on SIGTERM" : "stopping on SIGINT";
    size_t started = Find(text, "[orsa-host] HostDaemon:");
    size_t stopRequested = Find(text, stopping);
    size_t consoleStopped = Find(text, "[TestConsole] TestConsole:");
    consoleStopped = text.find(" stop\n", consoleStopped);
    size_t released = Find(text, " released\n");
    size_t stopped = text.find(" stopped\n", stopRequested);
    ASSERT_NE(started, std::string::npos) << text;
    ASSERT_NE(stopRequested, std::string::npos) << text;
    ASSERT_NE(consoleStopped, std::string::npos) << text;
    ASSERT_NE(released, std::string::npos) << text;
    ASSERT_NE(stopped, std::string::npos) << text;
    EXPECT_LT(stopRequested, consoleStopped);
    EXPECT_LT(consoleStopped, released);
    EXPECT_LT(released, stopped);
    EXPECT_EQ(host.Err(), "");
  }
}

TEST(HostDaemon, RootLogAndVerboseOptions) {
  obxtest::TempStateRoot env;  // ORSA_ROOT of the test, which --root overrides
  obxtest::TempStateRoot root;
  std::string other = root.Sub("elsewhere");
  std::string log = root.Sub("custom/host.log");
  HostProcess host(root,
                   {"--root", other, "--component", kConsoleLibrary, "--log", log, "--verbose"});
  ASSERT_TRUE(WaitForLog(log, "worker running", host, std::chrono::seconds(30))) << host.Err();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0);
  // The component (and what it starts) sees the root given to the host.
  EXPECT_NE(obxtest::ReadFile(log).find("start root=" + other + "\n"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(other + "/logs/orsa-host.log"));
  // The terminal gets the same lines as the file.
  EXPECT_EQ(host.Err(), obxtest::ReadFile(log));
}

TEST(HostDaemon, RelativeRootFromTheEnvironmentIsMadeAbsolute) {
  obxtest::TempStateRoot root;
  std::string wanted = root.Sub("relative");
  std::string relative = std::filesystem::relative(wanted).string();
  ASSERT_EQ(relative.front() == '/', false) << relative;
  setenv("ORSA_ROOT", relative.c_str(), 1);  // restored by `root`
  HostProcess host(root, {"--component", kConsoleLibrary});
  std::string log = wanted + "/logs/orsa-host.log";
  ASSERT_TRUE(WaitForLog(log, "worker running", host, std::chrono::seconds(30))) << host.Err();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0);
  // The daemon works inside its root; the component and its children must
  // still name the root the operator meant, not one relative to that folder.
  EXPECT_NE(obxtest::ReadFile(log).find("start root=" + wanted + "\n"), std::string::npos)
      << obxtest::ReadFile(log);
}

TEST(HostDaemon, ComponentThatCannotBeUsedExitsWithTwoAndOneLine) {
  obxtest::TempStateRoot root;
  struct Case {
    std::string component;
    std::string message;
  } cases[] = {
      {root.Sub("missing/libobxconsole.so"),
       "orsa-host: cannot load component " + root.Sub("missing/libobxconsole.so") + ": "},
      {kNoExportLibrary,
       "orsa-host: component " + kNoExportLibrary + " has no export OrsaExportClass\n"},
      {kP2pLibrary,
       "orsa-host: component " + kP2pLibrary + " has no class supporting orsa::IConsoleExt\n"},
  };
  for (const Case& c : cases) {
    HostProcess host(root, {"--root", root.Path(), "--component", c.component});
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(30)), 2) << c.component;
    std::string err = host.Err();
    EXPECT_EQ(CountLines(err), 1) << err;
    EXPECT_EQ(err.compare(0, c.message.size(), c.message), 0) << err;
    EXPECT_EQ(host.Out(), "");
  }
}

TEST(HostDaemon, SecondHostOnTheSameRootLeavesWithThreeAndOneLine) {
  obxtest::TempStateRoot root;
  obxtest::TempStateRoot elsewhere;  // the refused hosts' own output files
  std::string log = root.Sub("logs/orsa-host.log");
  HostProcess first(root, {"--root", root.Path(), "--component", kConsoleLibrary});
  ASSERT_TRUE(WaitForLog(log, "worker running", first, std::chrono::seconds(30))) << first.Err();

  HostProcess second(elsewhere, {"--root", root.Path(), "--component", kConsoleLibrary});
  EXPECT_EQ(second.WaitExit(std::chrono::seconds(30)), 3);
  EXPECT_EQ(second.Err(), "orsa-host: state root " + root.Path() +
                              " is in use by another orsa-host (pid " +
                              std::to_string(first.pid()) + ")\n");
  // The first host runs on alone, and the registry of its root stays open to others.
  EXPECT_EQ(obxtest::ReadFile(log).find("starting:"), obxtest::ReadFile(log).rfind("starting:"));
  EXPECT_TRUE(
      obxtest::WriteRegText(platform::RegRoot::kLocalMachine, "SOFTWARE\\LockTest", "v", "1"));
  kill(first.pid(), SIGTERM);
  EXPECT_EQ(first.WaitExit(std::chrono::seconds(8)), 0) << first.Err();

  std::filesystem::remove(log);
  HostProcess third(elsewhere, {"--root", root.Path(), "--component", kConsoleLibrary});
  ASSERT_TRUE(WaitForLog(log, "worker running", third, std::chrono::seconds(30))) << third.Err();
  kill(third.pid(), SIGTERM);
  EXPECT_EQ(third.WaitExit(std::chrono::seconds(8)), 0) << third.Err();
}

TEST(HostDaemon, UsageErrorsExitWithTwoAndHelpWithZero) {
  obxtest::TempStateRoot root;
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string err;
  } cases[] = {
      {{"--bogus"}, 2, "orsa-host: unknown option --bogus (see --help)\n"},
      {{"--root"}, 2, "orsa-host: option --root needs a value (see --help)\n"},
      {{"stray"}, 2, "orsa-host: unexpected argument stray (see --help)\n"},
      {{"--library", "x.so"},
       2,
       "orsa-host: --library, --service and --passphrase belong to --make-composite (see "
       "--help)\n"},
      {{"--root", root.Path(), "--log-level", "loud", "--component", kConsoleLibrary},
       2,
       "orsa-host: unknown log level loud\n"},
      {{"--help"}, 0, ""},
  };
  for (const Case& c : cases) {
    HostProcess host(root, c.args);
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(30)), c.code) << c.args[0];
    EXPECT_EQ(host.Err(), c.err);
  }
  HostProcess help(root, {"--help"});
  help.WaitExit(std::chrono::seconds(30));
  EXPECT_EQ(help.Out().compare(0, 17, "usage: orsa-host "), 0) << help.Out();
  // Every exit code the host uses is listed, the lock's 3 included.
  EXPECT_NE(help.Out().find("3 another orsa-host runs on the same state root"), std::string::npos);
}

TEST(HostDaemon, ConsoleThatDoesNotStartEndsTheHostWithOne) {
  obxtest::TempStateRoot root;
  for (const char* mode : {"fail", "throw"}) {
    ScopedEnv env("OBX_TEST_CONSOLE_MODE", mode);
    HostProcess host(root, {"--root", root.Path(), "--component", kConsoleLibrary});
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(30)), 1) << mode;
    EXPECT_EQ(CountLines(host.Err()), 1) << host.Err();
  }
  EXPECT_NE(obxtest::ReadFile(root.Sub("logs/orsa-host.log"))
                .find("the console object failed to start: start refused by test"),
            std::string::npos);
}

// Under a file-size limit the log soon cannot grow: each write past it fails
// ("disk full" for the agent's own files), and the host runs on and stops
// cleanly instead of being ended by SIGXFSZ at its first long line.
TEST(HostDaemon, FileSizeLimitCostsWritesNotTheHost) {
  obxtest::TempStateRoot root;
  pid_t pid = obxtest::StartChild(
      "/bin/sh",
      {"-c", "ulimit -f 1 && exec \"$0\" \"$@\"", obxtest::BinDir() + "/orsa-host", "--root",
       root.Path(), "--component", kConsoleLibrary},
      root.Sub("host.out"), root.Sub("host.err"));
  ASSERT_GT(pid, 0);
  // The start lines alone are longer than the limit's 512 bytes.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  kill(pid, SIGTERM);
  EXPECT_EQ(obxtest::WaitChild(pid), 0) << obxtest::ReadFile(root.Sub("host.err"));
}

TEST(HostDaemon, WorkerLeftRunningByStopDoesNotHoldUpTheExit) {
  obxtest::TempStateRoot root;
  ScopedEnv env("OBX_TEST_CONSOLE_MODE", "abandon");
  HostProcess host(root, {"--root", root.Path(), "--component", kConsoleLibrary});
  std::string log = root.Sub("logs/orsa-host.log");
  ASSERT_TRUE(WaitForLog(log, "worker running", host, std::chrono::seconds(30))) << host.Err();
  kill(host.pid(), SIGTERM);
  EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0) << host.Err();
  std::string text = obxtest::ReadFile(log);
  EXPECT_NE(text.find("worker abandoned"), std::string::npos) << text;
  EXPECT_NE(text.find(" stopped\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Warning [orsa-host] HostDaemon:"), std::string::npos) << text;
  // The count includes any thread a sanitizer runs of its own.
  EXPECT_NE(
      text.find(" other thread(s) still running after the stop; leaving without static cleanup"),
      std::string::npos)
      << text;
}

TEST(HostDaemon, ComponentLoadsACompositeThroughTheHost) {
  obxtest::TempStateRoot root;
  std::string composite = root.Sub("framework/Components/orsap2p.composite");
  orsahost::CompositeManifest manifest;
  manifest.library = kP2pLibrary;
  manifest.services = {"orsa::net::IP2pDownload"};
  orsahost::WriteComposite(composite, manifest, orsa::kPassphrase);

  for (const std::string& passphrase : {std::string(orsa::kPassphrase), std::string("wrong")}) {
    ScopedEnv path("OBX_TEST_CONSOLE_COMPOSITE", composite);
    ScopedEnv key("OBX_TEST_CONSOLE_PASSPHRASE", passphrase);
    HostProcess host(root, {"--root", root.Path(), "--component", kConsoleLibrary});
    std::string log = root.Sub("logs/orsa-host.log");
    ASSERT_TRUE(WaitForLog(log, "worker running", host, std::chrono::seconds(30))) << host.Err();
    kill(host.pid(), SIGTERM);
    EXPECT_EQ(host.WaitExit(std::chrono::seconds(8)), 0);
    std::string text = obxtest::ReadFile(log);
    std::filesystem::remove(log);
    if (passphrase == orsa::kPassphrase) {
      EXPECT_NE(text.find("composite activated=true p2p services=1"), std::string::npos) << text;
    } else {
      EXPECT_NE(text.find("composite failed: composite " + composite + ": does not open"),
                std::string::npos)
          << text;
    }
  }
}

}  // namespace
