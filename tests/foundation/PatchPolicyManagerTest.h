#pragma once
// The fixture of the policy store's tests: a test machine whose install
// folder has a blank in its name, and a seal service that can be made to fail.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <string>

#include "foundation/Cipher.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/FaultySecurity.h"
#include "tests/support/SealedFiles.h"
#include "tests/support/TestMachine.h"

namespace policytest {

using obxtest::FaultySecurity;

class PatchPolicyManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    security_ = boost::make_shared<FaultySecurity>();
    runtime_.Register<orsa::security::ISecurityHelper>(security_);
    runtime_.RegisterSealServices();
    runtime_.Install();
    folder_ = "C:\\Program Files\\OBX";
    machine_.SetModuleFolder(folder_);
    taskList_ = folder_ + "\\TaskList.xml";
  }

  std::string Native(const std::string& path) const { return platform::NativePath(path); }
  bool Exists(const std::string& path) const { return platform::PathExists(Native(path)); }

  void WriteSealed(const std::string& path, const std::string& xml) {
    obxtest::WriteSealedFile(path, xml);
  }
  std::string ReadRaw(const std::string& path) const { return obxtest::ReadFile(Native(path)); }
  std::string ReadOpened(const std::string& path) const { return obxtest::ReadOpenedFile(path); }

  obxtest::TestMachine machine_;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<FaultySecurity> security_;
  std::string folder_;
  std::string taskList_;
};

}  // namespace policytest
