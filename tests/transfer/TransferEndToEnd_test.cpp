// Downloads end to end on loopback: the real orsa-host running the agent
// component and the orsap2p composite, against obx-server's policy and
// download repository. Until the task runner joins the cycle, the cycle's task
// step fetches each pending task's boot program, which is what runs here.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "foundation/Cipher.h"
#include "foundation/Digest.h"
#include "host/CompositeManifest.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostProcess.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/TempStateRoot.h"

namespace {

using obxtest::HostProcess;
using obxtest::WaitForLog;

const char kCycleEnd[] = "************Wait for next schedule*********at lease (seconds):";

std::string Md5(const std::string& text) {
  std::string out;
  obx::GetMd5Hex(text.data(), text.size(), out);
  return out;
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

class TransferEndToEnd : public ::testing::Test {
 protected:
  TransferEndToEnd() {
    big.reserve(3 << 20);
    for (long long i = 0; big.size() < (3u << 20); ++i) big += std::to_string(i * 7919) + "\n";
    obxtest::WriteFile(root.Sub("repo/boot/big.bin"), big);
    obxtest::WriteFile(root.Sub("repo/boot/bad.bin"), "not what the policy names");
    obxtest::WriteFile(root.Sub("repo/boot/changed.bin"), "changed v1");
    // Every task applies to the agent's 5.1 workstation with service pack 3.
    std::string tasks;
    const std::vector<std::pair<std::string, std::string>> files = {
        {"big.bin", Md5(big)},
        {"bad.bin", Md5("what the policy names")},
        {"changed.bin", Md5("changed v1")}};
    int id = 2001;
    for (const auto& f : files)
      tasks += "<patch policyid=\"" + std::to_string(id++) +
               "\"><check_os valid=\"windows\" validversion=\"xp-sp3-en\"/>"
               "<bootdownload url=\"boot/" +
               f.first + "\" md5=\"" + f.second +
               "\" type=\"p2p;http\" validtime=\"0-24\"/></patch>";
    obxtest::WriteFile(root.Sub("policies/default.xml"),
                       "<?xml version=\"1.0\"?><patchs version=\"t-1\">" + tasks + "</patchs>");
    // The composite every agent's framework folder holds.
    orsahost::CompositeManifest manifest;
    manifest.library = OBX_ORSAP2P;
    manifest.services = {"orsa::net::IP2pDownload"};
    orsahost::WriteComposite(root.Sub("framework/Components/orsap2p.composite"), manifest,
                             obx::kPassphrase);
  }

  std::vector<std::string> ServerOptions() {
    return {"--policies",     root.Sub("policies"),   "--repository",
            root.Sub("repo"), "--repository-prefix",  "/repo/",
            "--db",           root.Sub("reports.db"), "--verbose"};
  }

  // Gives the agent under `agent` the demo's settings for a server on `port`,
  // the shared framework folder and the peer-to-peer settings.
  void Configure(const std::string& agent, int port, const std::string& peers) {
    std::string reg = obxtest::ReadFile(std::string(OBX_SOURCE_DIR) + "/demo/settings.reg.in");
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", port);
    reg = Replace(reg, "@INSTALL_DIR@", agent + "/obx");
    reg = Replace(reg, "@DOWNLOAD_DIR@", agent + "/obx/download");
    reg = Replace(reg, "@FRAMEWORK_DIR@", root.Sub("framework"));
    reg = Replace(reg, "@PORT_DWORD@", hex);
    reg = Replace(reg, "@SERVER_KEY@", "");  // no key: the server here signs nothing
    reg +=
        "\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\orsap2p]\n"
        "\"ListenPort\"=dword:00000000\n\"BindAddress\"=\"127.0.0.1\"\n\"Peers\"=\"" +
        peers + "\"\n";
    obxtest::WriteFile(agent + "/settings.reg", reg);
    setenv("ORSA_ROOT", agent.c_str(), 1);
    obxtest::ChildOutcome imported = obxtest::RunChild(root, obxtest::BinDir() + "/orsa-reg",
                                                       {"import", agent + "/settings.reg"});
    setenv("ORSA_ROOT", root.Path().c_str(), 1);
    ASSERT_EQ(imported.exitCode, 0) << imported.err;
  }

  std::unique_ptr<HostProcess> Start(const std::string& agent) {
    return std::make_unique<HostProcess>(agent + "/host.out", agent + "/host.err",
                                         std::vector<std::string>{"--root", agent});
  }

  obxtest::TempStateRoot root;
  std::string big;
  std::string a = root.Sub("a");
  std::string b = root.Sub("b");
};

TEST_F(TransferEndToEnd, HttpTransferStopsPromptlyResumesAndRefusesWrongContent) {
  obxtest::ObxServerProcess server(root, [&] {
    auto o = ServerOptions();
    o.insert(o.end(), {"--rate-limit", "1000000"});  // 3 MB take about 3 s
    return o;
  }());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  Configure(a, server.Port(), "");
  const std::string folder = a + "/obx/download";
  const std::string log = a + "/logs/orsa-host.log";

  // Stopped in the middle of the first transfer.
  auto host = Start(a);
  for (int i = 0; i < 3000 && obxtest::ReadFile(folder + "/big.bin.part").size() < 300000; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_GE(obxtest::ReadFile(folder + "/big.bin.part").size(), 300000u) << host->Err();
  const auto before = std::chrono::steady_clock::now();
  kill(host->pid(), SIGTERM);
  EXPECT_EQ(host->WaitExit(std::chrono::seconds(30)), 0);
  std::cout << "[ measured ] orsa-host stop during a transfer: "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count()
            << " s" << std::endl;
  std::string text = obxtest::ReadFile(log);
  EXPECT_EQ(text.find("did not end in time"), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(folder + "/big.bin"));
  const size_t kept = obxtest::ReadFile(folder + "/big.bin.part").size();
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, big.size());

  // The next run asks for the rest (its log starts afresh: the stopped run
  // also ended its cycle).
  std::filesystem::rename(log, log + ".first");
  host = Start(a);
  ASSERT_TRUE(WaitForLog(log, kCycleEnd, *host, std::chrono::seconds(60))) << host->Err();
  kill(host->pid(), SIGTERM);
  EXPECT_EQ(host->WaitExit(std::chrono::seconds(30)), 0);
  EXPECT_TRUE(obxtest::ReadFile(folder + "/big.bin") == big);
  EXPECT_FALSE(std::filesystem::exists(folder + "/big.bin.part"));
  std::smatch range;
  const std::string requests = server.Stderr();
  ASSERT_TRUE(std::regex_search(requests, range,
                                std::regex("GET /repo/boot/big.bin 206 range bytes=([0-9]+)-")))
      << requests;
  text = obxtest::ReadFile(log);
  EXPECT_NE(text.find("stored as " + folder + "/big.bin (" + std::to_string(big.size()) +
                      " bytes, resumed at " + range[1].str() + ")"),
            std::string::npos)
      << text;

  // Content other than the policy's digest is deleted, never kept.
  EXPECT_FALSE(std::filesystem::exists(folder + "/bad.bin"));
  EXPECT_NE(text.find("DownLoad: " + folder + "\\bad.bin does not match its md5, expected:" +
                      Md5("what the policy names") + " actual:" + Md5("not what the policy names")),
            std::string::npos)
      << text;
  EXPECT_EQ(obxtest::ReadFile(folder + "/changed.bin"), "changed v1");
}

TEST_F(TransferEndToEnd, SecondAgentGetsByPeerToPeerWhatTheFirstHolds) {
  obxtest::ObxServerProcess server(root, ServerOptions());
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  Configure(a, server.Port(), "");
  auto first = Start(a);
  const std::string logA = a + "/logs/orsa-host.log";
  ASSERT_TRUE(WaitForLog(logA, kCycleEnd, *first, std::chrono::seconds(60))) << first->Err();
  std::smatch serving;
  std::string textA = obxtest::ReadFile(logA);
  ASSERT_TRUE(std::regex_search(textA, serving, std::regex("serving .* on 127.0.0.1:([0-9]+)")));
  EXPECT_NE(textA.find("no peers configured; big.bin not fetched"), std::string::npos);
  // The first agent's copy changes after it was fetched.
  obxtest::WriteFile(a + "/obx/download/changed.bin", "changed v2");

  Configure(b, server.Port(), "127.0.0.1:" + serving[1].str());
  auto second = Start(b);
  const std::string logB = b + "/logs/orsa-host.log";
  ASSERT_TRUE(WaitForLog(logB, kCycleEnd, *second, std::chrono::seconds(60))) << second->Err();
  for (auto* host : {&first, &second}) {
    kill((*host)->pid(), SIGTERM);
    EXPECT_EQ((*host)->WaitExit(std::chrono::seconds(30)), 0);
  }

  const std::string textB = obxtest::ReadFile(logB);
  const std::string peer = "127.0.0.1:" + serving[1].str();
  // Held by the first agent: fetched from it, never from the server.
  EXPECT_TRUE(obxtest::ReadFile(b + "/obx/download/big.bin") == big);
  EXPECT_NE(textB.find("stored big.bin (" + Md5(big) + ") from " + peer), std::string::npos)
      << textB;
  EXPECT_EQ(textB.find("/repo/boot/big.bin"), std::string::npos) << textB;
  EXPECT_EQ(Count(server.Stderr(), "GET /repo/boot/big.bin 200"), 1) << server.Stderr();
  // Not held (the first agent refused it) or changed there: the peer fails and
  // HTTP is tried next.
  EXPECT_NE(
      textB.find("no bad.bin (" + Md5("what the policy names") + ") from " + peer + ": not held"),
      std::string::npos)
      << textB;
  EXPECT_NE(textB.find("no changed.bin (" + Md5("changed v1") + ") from " + peer + ": not held"),
            std::string::npos)
      << textB;
  EXPECT_NE(textB.find("DownLoad: http from: http://127.0.0.1:" + std::to_string(server.Port()) +
                       "/repo/boot/changed.bin"),
            std::string::npos)
      << textB;
  EXPECT_EQ(obxtest::ReadFile(b + "/obx/download/changed.bin"), "changed v1");
}

}  // namespace
