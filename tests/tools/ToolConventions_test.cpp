// Every tool answers --help, --version, a bad flag and a missing file the same
// way: help on stdout with 0, "<tool> <version>" with 0, a usage error naming
// the culprit on stderr with 2, a failure with the system's reason with 1;
// every message starts with the tool's name.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::Quote;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(ToolConventions, HelpVersionBadFlagAndMissingFile) {
  obxtest::TempStateRoot root;
  const std::string missing = root.Sub("no-such-folder/missing");
  enum Stream { kOut, kErr };
  struct Case {
    const char* tool;
    std::vector<std::string> args;
    int exitCode;
    Stream stream;    // where the text goes; the other stream stays empty
    std::string has;  // in that text, letter case ignored
  } cases[] = {
      {"orsa-reg", {"--help"}, 0, kOut, "orsa-reg"},
      {"orsa-seal", {"--help"}, 0, kOut, "orsa-seal"},
      {"orsa-host", {"--help"}, 0, kOut, "orsa-host"},
      {"obx-server", {"--help"}, 0, kOut, "obx-server"},
      {"orsa-reg", {"--bogus"}, 2, kErr, "--bogus"},
      {"orsa-seal", {"--bogus"}, 2, kErr, "--bogus"},
      {"orsa-host", {"--bogus"}, 2, kErr, "--bogus"},
      {"obx-server", {"--bogus"}, 2, kErr, "--bogus"},
      {"orsa-seal", {"frob", "a", "b"}, 2, kErr, "frob"},
      {"orsa-reg", {"add", "HKLM\\K", "/bogus"}, 2, kErr, "/bogus"},
      {"orsa-reg", {"import", missing}, 1, kErr, "no such file"},
      {"orsa-seal", {"open", missing, root.Sub("out")}, 1, kErr, "no such file"},
      {"orsa-seal", {"open", root.Path(), root.Sub("out")}, 1, kErr, "is a directory"},
      {"orsa-host",
       {"--make-composite", root.Sub("c"), "--library", missing},
       1,
       kErr,
       "no such file"},
      {"obx-server", {"reports", "--db", missing}, 1, kErr, "no such file"},
  };
  for (const Case& c : cases) {
    std::string command = Quote(obxtest::BinDir() + "/" + c.tool);
    for (const std::string& a : c.args) command += " " + Quote(a);
    command += " </dev/null >" + Quote(root.Sub("out.txt")) + " 2>" + Quote(root.Sub("err.txt"));
    int raw = std::system(command.c_str());
    std::string out = obxtest::ReadFile(root.Sub("out.txt"));
    std::string err = obxtest::ReadFile(root.Sub("err.txt"));
    std::string shown = std::string(c.tool) + " " + c.args[0];
    ASSERT_TRUE(WIFEXITED(raw)) << shown;
    EXPECT_EQ(WEXITSTATUS(raw), c.exitCode) << shown << "\n" << out << err;
    const std::string& text = c.stream == kOut ? out : err;
    EXPECT_EQ(c.stream == kOut ? err : out, "") << shown;
    EXPECT_NE(Lower(text).find(c.has), std::string::npos) << shown << ": " << text;
    if (c.stream == kErr) {
      EXPECT_EQ(text.rfind(std::string(c.tool) + ": ", 0), 0u) << text;
    }
  }
  for (const char* tool : {"orsa-reg", "orsa-seal", "orsa-host", "obx-server"}) {
    std::string command = Quote(obxtest::BinDir() + "/" + tool) + " --version >" +
                          Quote(root.Sub("out.txt")) + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << tool;
    EXPECT_EQ(obxtest::ReadFile(root.Sub("out.txt")), std::string(tool) + " " OBX_VERSION "\n");
  }
}

// The scripts answer alike: every executable in scripts/ gives its version
// and refuses an unknown flag with 2, before it builds or installs anything.
TEST(ToolConventions, ScriptsGiveTheirVersionAndRefuseABadFlag) {
  obxtest::TempStateRoot root;
  int scripts = 0;
  for (const auto& entry : std::filesystem::directory_iterator(OBX_SOURCE_DIR "/scripts")) {
    const auto perms = entry.status().permissions();
    if (!entry.is_regular_file() ||
        (perms & std::filesystem::perms::owner_exec) == std::filesystem::perms::none)
      continue;
    const std::string name = entry.path().filename().string();
    const std::string run = Quote(entry.path().string());
    const std::string to =
        " </dev/null >" + Quote(root.Sub("out.txt")) + " 2>" + Quote(root.Sub("err.txt"));
    EXPECT_EQ(std::system((run + " --version" + to).c_str()), 0) << name;
    EXPECT_EQ(obxtest::ReadFile(root.Sub("out.txt")), name + " " OBX_VERSION "\n");
    const int raw = std::system((run + " --no-such-flag" + to).c_str());
    EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 2) << name;
    EXPECT_EQ(obxtest::ReadFile(root.Sub("err.txt")).rfind(name + ": ", 0), 0u)
        << name << ": " << obxtest::ReadFile(root.Sub("err.txt"));
    ++scripts;
  }
  EXPECT_GE(scripts, 10);
}

}  // namespace
