#pragma once
// The fixture of the policy-update tests: a test machine with an install
// folder, a seal service that can be made to fail, and a policy fetcher that
// records its calls; texts of policies and their entries.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <string>
#include <vector>

#include "cycle/PolicyUpdate.h"
#include "foundation/Cipher.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "records/TaskFiles.h"
#include "sysinfo/OsInfo.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/FaultySecurity.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace policyupdatetest {

struct FetchCall {
  std::string computerCode, userName, version, osVersion;
};

class PolicyUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    security_ = boost::make_shared<obxtest::FaultySecurity>();
    runtime_.Register<orsa::security::ISecurityHelper>(security_);
    runtime_.RegisterSealServices();
    runtime_.Install();
    machine_.SetModuleFolder("C:\\OBX");
    obx::SetOsInfoForTest("winxp", "sp3", "zh");
  }

  // A fetcher that records its arguments and answers `answer`.
  obx::PolicyFetcher Answer(const std::string& answer, bool result = true) {
    return [this, answer, result](const std::string& code, const std::string& user,
                                  const std::string& version, const std::string& os,
                                  std::string& policy) {
      calls_.push_back(FetchCall{code, user, version, os});
      EXPECT_EQ(policy, "");
      policy = answer;
      return result;
    };
  }

  std::string Native(const std::string& path) const { return platform::NativePath(path); }
  bool Exists(const std::string& path) const { return platform::PathExists(Native(path)); }
  void WriteSealed(const std::string& path, const std::string& xml) {
    obxtest::WriteSealedFile(path, xml);
  }
  std::string ReadOpened(const std::string& path) const { return obxtest::ReadOpenedFile(path); }
  // The printed `patch` entry of `id` in the task list, "" when there is none.
  std::string TaskEntry(const std::string& id) const {
    TiXmlDocument doc;
    doc.Parse(ReadOpened(obx::TaskListFilePath()).c_str());
    if (doc.RootElement() == nullptr) return "";
    for (const TiXmlElement* e = doc.RootElement()->FirstChildElement("patch"); e;
         e = e->NextSiblingElement("patch")) {
      if (e->Attribute("policyid") && id == e->Attribute("policyid")) {
        TiXmlPrinter printer;
        printer.SetStreamPrinting();
        e->Accept(&printer);
        return printer.Str();
      }
    }
    return "";
  }
  std::vector<std::string> Messages() const { return runtime_.Messages(); }

  obxtest::TestMachine machine_;
  const obxtest::TempStateRoot& root_ = machine_.root;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<obxtest::FaultySecurity> security_;
  std::vector<FetchCall> calls_;
};

inline std::string Entry(const std::string& id, const std::string& inner) {
  return "<patch policyid=\"" + id + "\">" + inner + "</patch>";
}
inline std::string AnyOs() { return "<check_os valid=\"windows\" validversion=\"\"/>"; }
inline std::string Policy(const std::string& version, const std::string& entries) {
  return "<patchs version=\"" + version + "\">" + entries + "</patchs>";
}

}  // namespace policyupdatetest
