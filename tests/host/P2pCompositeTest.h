#pragma once
// The real orsap2p composite, loaded into two runtimes in one process: two
// agents on loopback, the second with the first as its peer.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <memory>
#include <string>

#include "host/CompositeManifest.h"
#include "host/Runtime.h"
#include "orsa/INet.h"
#include "orsa/Seal.h"
#include "platform/Registry.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace obxtest {

inline const char kP2pSettingsKey[] = "SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\orsap2p";

inline std::string Md5(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < size; ++i) {
    out += kHex[digest[i] >> 4];
    out += kHex[digest[i] & 0xf];
  }
  return out;
}

inline void SetValue(const char* name, const std::string& text) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::CreateRegKey(platform::RegRoot::kLocalMachine, kP2pSettingsKey,
                                   platform::kKeyAllAccess, &key),
            0);
  platform::SetRegValue(key, name, platform::kRegSz,
                        reinterpret_cast<const unsigned char*>(text.c_str()),
                        static_cast<uint32_t>(text.size() + 1));
  platform::CloseRegKey(key);
}

inline void SetValue(const char* name, uint32_t value) {
  platform::RegKey key = nullptr;
  ASSERT_EQ(platform::CreateRegKey(platform::RegRoot::kLocalMachine, kP2pSettingsKey,
                                   platform::kKeyAllAccess, &key),
            0);
  platform::SetRegValue(key, name, platform::kRegDword,
                        reinterpret_cast<const unsigned char*>(&value), 4);
  platform::CloseRegKey(key);
}

// One agent's side: a runtime with the composite loaded and its service.
struct Agent {
  Agent(const std::string& composite, const std::string& folderPath)
      : runtime(logs.getLogManager()), folder(folderPath) {
    runtime.loadComposite(composite, orsa::kPassphrase);
    EXPECT_TRUE(runtime.activateComposites());
    auto objects = runtime.context().getObjects(orsa::net::IP2pDownload::kTypeName, "", 3);
    service = boost::dynamic_pointer_cast<orsa::net::IP2pDownload>((*objects)[0]);
  }
  // The port from the service's "serving FOLDER on ADDRESS:PORT" line.
  int Port() const {
    for (const std::string& m : logs.Messages())
      if (m.rfind("serving ", 0) == 0) return std::stoi(m.substr(m.rfind(':') + 1));
    return 0;
  }
  obxtest::FakeRuntime logs;
  orsahost::Runtime runtime;
  std::string folder;
  boost::shared_ptr<orsa::net::IP2pDownload> service;
};

class P2pCompositeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetValue("ListenPort", 0u);
    SetValue("BindAddress", "127.0.0.1");
    SetValue("MaxConnections", 2u);
    SetValue("TimeoutSeconds", 1u);
    orsahost::CompositeManifest manifest;
    manifest.library = OBX_ORSAP2P;
    manifest.services = {orsa::net::IP2pDownload::kTypeName};
    orsahost::WriteComposite(composite, manifest, orsa::kPassphrase);
    first = std::make_unique<Agent>(composite, root.Sub("first"));
    ASSERT_EQ(first->service->setServerHost(first->folder, 20100, 20100), 0);
    port = first->Port();
    ASSERT_NE(port, 0);
    SetValue("Peers", "127.0.0.1:" + std::to_string(port));
    second = std::make_unique<Agent>(composite, root.Sub("second"));
    ASSERT_EQ(second->service->setServerHost(second->folder, 20100, 20100), 0);
  }
  int Fetch(const std::string& content, const std::string& name = "got.bin") {
    return second->service->download(Md5(content), name, 0);
  }
  std::string Got(const std::string& name = "got.bin") {
    return obxtest::ReadFile(second->folder + "/" + name);
  }

  obxtest::TempStateRoot root;
  std::string composite = root.Sub("Components/orsap2p.composite");
  std::unique_ptr<Agent> first;
  std::unique_ptr<Agent> second;
  int port = 0;
};

}  // namespace obxtest
