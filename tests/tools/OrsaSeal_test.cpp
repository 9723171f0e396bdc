#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "orsa/Seal.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::Quote;
using Result = obxtest::CommandResult;

class OrsaSealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    runtime_.RegisterSealServices();
    runtime_.Install();
  }

  // Runs orsa-seal with `args`; standard input from `stdinPath` when given.
  Result Run(const std::vector<std::string>& args, const std::string& stdinPath = "") {
    std::string command = Quote(obxtest::BinDir() + "/orsa-seal");
    for (const std::string& a : args) command += " " + Quote(a);
    command += " <" + Quote(stdinPath.empty() ? "/dev/null" : stdinPath);
    return obxtest::RunCommand(command, root_.Path());
  }

  std::string Seal(const std::string& text) {
    std::string sealed;
    obx::EncryptText(orsa::kPassphrase, sealed, text.data(), text.size());
    return sealed;
  }
  std::string Open(const std::string& sealed) {
    std::string text;
    obx::DecryptText(orsa::kPassphrase, text, sealed);
    return text;
  }

  obxtest::TempStateRoot root_;
  obxtest::FakeRuntime runtime_;
};

TEST_F(OrsaSealTest, OpensWhatTheAgentSealed) {
  const std::string policy =
      "<PatchPolicy>\n  <patch policyid=\"42\" name=\"KB1\"/>\n</PatchPolicy>\n";
  obxtest::WriteFile(root_.Sub("PatchPolicy.xml"), Seal(policy));
  Result r = Run({"open", root_.Sub("PatchPolicy.xml"), root_.Sub("plain.xml")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(obxtest::ReadFile(root_.Sub("plain.xml")), policy);
}

TEST_F(OrsaSealTest, AgentOpensWhatTheToolSealed) {
  const std::string list = "<TaskList><patch policyid=\"1\" status=\"to_be_executed\"/></TaskList>";
  obxtest::WriteFile(root_.Sub("list.xml"), list);
  Result r = Run({"seal", root_.Sub("list.xml"), root_.Sub("TaskList.xml")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string sealed = obxtest::ReadFile(root_.Sub("TaskList.xml"));
  EXPECT_NE(sealed, list);
  EXPECT_EQ(Open(sealed), list);
}

TEST_F(OrsaSealTest, StandardInputAndOutputWithDash) {
  obxtest::WriteFile(root_.Sub("in.txt"), "report payload");
  Result sealed = Run({"seal", "-", "-"}, root_.Sub("in.txt"));
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  EXPECT_EQ(Open(sealed.out), "report payload");
  // A line end after the sealed text (as echo adds) does not matter.
  obxtest::WriteFile(root_.Sub("sealed.txt"), sealed.out + "\n");
  Result opened = Run({"open", "-", "-"}, root_.Sub("sealed.txt"));
  EXPECT_EQ(opened.status, 0) << opened.err;
  EXPECT_EQ(opened.out, "report payload");
}

TEST_F(OrsaSealTest, CorruptedFileExitsOneWithOneLineAndWritesNothing) {
  std::string sealed = Seal("<PatchPolicy/>");
  std::vector<std::string> broken = {sealed.substr(0, sealed.size() / 2), "not a sealed text"};
  std::string flipped = sealed;
  flipped[sealed.size() / 2] = flipped[sealed.size() / 2] == 'A' ? 'B' : 'A';
  broken.push_back(flipped);
  for (const std::string& b : broken) {
    obxtest::WriteFile(root_.Sub("bad.xml"), b);
    Result r = Run({"open", root_.Sub("bad.xml"), root_.Sub("out.xml")});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_NE(r.err.find("does not open"), std::string::npos) << r.err;
    EXPECT_EQ(obxtest::ReadFile(root_.Sub("out.xml")), "");
  }
}

TEST_F(OrsaSealTest, FailedOpenLeavesAnExistingOutputFileAlone) {
  obxtest::WriteFile(root_.Sub("out.xml"), "previous");
  obxtest::WriteFile(root_.Sub("bad.xml"), "AAAA");
  EXPECT_EQ(Run({"open", root_.Sub("bad.xml"), root_.Sub("out.xml")}).status, 1);
  EXPECT_EQ(obxtest::ReadFile(root_.Sub("out.xml")), "previous");
}

TEST_F(OrsaSealTest, MissingInputExitsOne) {
  Result r = Run({"open", root_.Sub("missing.xml"), "-"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find(root_.Sub("missing.xml")), std::string::npos);
}

TEST_F(OrsaSealTest, UsageErrorsExitTwoAndHelpExitsZero) {
  const std::vector<std::vector<std::string>> usage = {
      {}, {"seal"}, {"open", "a"}, {"seal", "a", "b", "c"}, {"unseal", "a", "b"}};
  for (const auto& args : usage) {
    Result r = Run(args);
    EXPECT_EQ(r.status, 2) << args.size();
    EXPECT_NE(r.err.find("usage: orsa-seal"), std::string::npos);
  }
  Result help = Run({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("usage: orsa-seal seal|open IN OUT"), std::string::npos);
}

}  // namespace
