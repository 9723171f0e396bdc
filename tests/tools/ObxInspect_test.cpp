#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/ShellCommand.h"
#include "tests/support/TempStateRoot.h"

namespace {

using platform::RegRoot;

const char kModule[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX";
const char kPolicy[] =
    "<patchs version=\"5\"><patch policyid=\"42\"><bootdownload url=\"http://h/boot.exe\"/>"
    "<download url=\"http://h/kb.exe\"/></patch><patch policyid=\"43\"/></patchs>";
const char kTaskList[] =
    "<patchs><patch policyid=\"42\"><PatchExecute status=\"done\" times=\"1\"/>"
    "<bootdownload status=\"true\"/><bootrun result=\"true\"/></patch></patchs>";

using obxtest::Quote;
using Result = obxtest::CommandResult;

class ObxInspectTest : public ::testing::Test {
 protected:
  Result Run(const std::string& args, const std::string& filter = "") {
    std::string command = Quote(obxtest::BinDir() + "/obx-inspect") + " " + args + " 2>" +
                          Quote(root_.Sub("stderr")) + filter + " >" + Quote(root_.Sub("stdout"));
    int raw = std::system(command.c_str());
    Result r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = obxtest::ReadFile(root_.Sub("stdout"));
    r.err = obxtest::ReadFile(root_.Sub("stderr"));
    return r;
  }
  void WriteSealed(const std::string& name, const std::string& xml) {
    orsahost::SecurityHelper security;
    orsahost::ZipHelper zip;
    obxtest::WriteFile(platform::NativePath("C:\\OBX\\" + name),
                       orsa::SealWith(security, zip, orsa::kPassphrase, xml.data(), xml.size()));
  }
  void Configure() {
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, kModule, "InstallPath", "C:\\OBX"));
    ASSERT_TRUE(obxtest::WriteRegDword(RegRoot::kLocalMachine, kModule, "taskSchedule", 30));
    ASSERT_TRUE(obxtest::WriteRegDword(RegRoot::kLocalMachine, kModule, "TryTimes", 3));
    const std::string obx = "SOFTWARE\\Kelvor\\QUOR5.0\\ServiceUrl\\OBX";
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, obx, "server", "127.0.0.1"));
    ASSERT_TRUE(obxtest::WriteRegDword(RegRoot::kLocalMachine, obx, "port", 8080));
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, obx, "updatePatchPolicy", "/obx/p"));
    const std::string info = std::string(kModule) + "\\PatchInfo\\";
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, info + "42", "patchFile", "kb.exe"));
    // Not UTF-8: shown as U+FFFD in JSON.
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, info + "42", "Result1", "\xff ok"));
    ASSERT_TRUE(obxtest::WriteRegText(RegRoot::kLocalMachine, info + "77", "repeate", "true"));
  }
  void BuildFullRoot() {
    Configure();
    WriteSealed("PatchPolicy.xml", kPolicy);
    WriteSealed("TaskList.xml", kTaskList);
    obxtest::WriteFile(platform::NativePath("C:\\OBX\\reportInfo.xml"),
                       "<message><map type=\"installResultInfo\" id=\"42\"/>"
                       "<map type=\"versionInfo\" id=\"43\"/></message>");
    std::string log;
    for (int i = 1; i <= 4; ++i) {
      const std::string t = "2026-01-0" + std::to_string(i) + " 10:00:00.000 ";
      log += t + "Information [OBXConsole] c:1 ************Start************\n";
      if (i < 4)
        log += t + "Information [OBXConsole] c:2 ***Wait for next schedule***(seconds):5\n";
    }
    obxtest::WriteFile(root_.Sub("logs/orsa-host.log"), log);
  }

  obxtest::TempStateRoot root_;
};

TEST_F(ObxInspectTest, FullRootAsTable) {
  BuildFullRoot();
  Result r = Run("--root " + Quote(root_.Path()));
  ASSERT_EQ(r.status, 0) << r.err;
  const std::vector<std::string> shown = {
      "install folder         C:\\OBX", "update folder          C:\\OBX\\download",
      "http://127.0.0.1:8080", "updatePatchPolicy    /obx/p", "every 24 h (taskSchedule 30)",
      "3 tries", "PatchPolicy.xml: ok, version 5", "TaskList.xml: ok",
      // 42 in both documents, 43 only in the policy, 77 only in the registry.
      "42  yes     yes   http://h/boot.exe  http://h/kb.exe  done     1      true",
      "43  yes     no", "77  no      no",
      "PatchInfo\\42: patchFile=kb.exe Result1=", "PatchInfo\\77: repeate=true",
      "reportInfo.xml: ok, 2 pending", "installResultInfo  42", "versionInfo        43", "4 cycles",
      "started 2026-01-02 10:00:00.000  ended 2026-01-02",
      "started 2026-01-04 10:00:00.000  not ended"};
  for (const std::string& s : shown) EXPECT_NE(r.out.find(s), std::string::npos) << s << r.out;
  EXPECT_EQ(r.out.find("2026-01-01"), std::string::npos) << "only the last three cycles";
}

TEST_F(ObxInspectTest, FullRootAsJson) {
  BuildFullRoot();
  // Python reads the output as strict UTF-8 JSON and prints the fields checked.
  const std::string check =
      " | /usr/bin/python3 -c " +
      Quote(
          "import json,sys\nd=json.load(sys.stdin)\nt=d['tasks'][0]\n"
          "print(d['settings']['taskSchedule'], d['settings']['management']['port'],"
          " d['policy']['version'], t['id'], t['state']['PatchExecute/status'],"
          " t['registry']['Result1'], [r['id'] for r in d['reports']['records']],"
          " d['log']['cycles'], d['log']['last'][2]['end'] == '')");
  Result r = Run("--json --root " + Quote(root_.Path()), check);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "30 8080 5 42 done \xef\xbf\xbd ok ['42', '43'] 4 True\n") << r.err;
}

TEST_F(ObxInspectTest, BrokenFilesAreReportedNotFatal) {
  Configure();
  obxtest::WriteFile(platform::NativePath("C:\\OBX\\TaskList.xml"), "AAAA not sealed");
  WriteSealed("PatchPolicy.xml", "<patchs><patch policyid=\"1\">");
  for (const std::string& args : {std::string(), std::string("--json")}) {
    Result r = Run(args + " --root " + Quote(root_.Path()));
    EXPECT_EQ(r.status, 0) << r.err;
    for (const char* s :
         {"TaskList.xml\", \"status\": \"does not open\"", "TaskList.xml: does not open",
          "PatchPolicy.xml: unparsable", "reportInfo.xml: missing", "orsa-host.log: missing"}) {
      bool forJson = std::string(s).find('"') != std::string::npos;
      if (forJson == !args.empty()) {
        EXPECT_NE(r.out.find(s), std::string::npos) << s << r.out;
      }
    }
  }
}

TEST_F(ObxInspectTest, EmptyRootAndCommandLine) {
  const std::string root = " --root " + Quote(root_.Path());
  const struct {
    std::string args;
    int status;
    std::string out;  // expected in stdout, or in stderr when not 0
  } cases[] = {
      {root, 0, "policy     no install folder"},
      {"--json" + root, 0, "\"tasks\": [],"},
      {"--root " + Quote(root_.Sub("none")), 1,
       "obx-inspect: state root " + root_.Sub("none") + ": not found"},
      {"--frob", 2, "obx-inspect: unknown argument --frob"},
      {"--root", 2, "obx-inspect: --root needs a folder"},
      {"--help", 0, "usage: obx-inspect [--root DIR] [--json]"},
      {"--version", 0, "obx-inspect 1."},
  };
  for (const auto& c : cases) {
    Result r = Run(c.args);
    EXPECT_EQ(r.status, c.status) << c.args;
    const std::string& where = c.status == 1 || c.status == 2 ? r.err : r.out;
    EXPECT_NE(where.find(c.out), std::string::npos) << c.args << "\n" << r.out << r.err;
  }
  EXPECT_FALSE(platform::PathExists(root_.Sub("registry.db"))) << "inspecting writes nothing";
}

}  // namespace
