// Every branch of the machine identifier, its copy in win.ini and the
// computer code, with scripted sources in a fresh state root.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ProfileFile.h"
#include "platform/StateRoot.h"
#include "sysinfo/MachineIdentity.h"
#include "tests/support/TempStateRoot.h"
#include "tests/sysinfo/SysinfoTestSupport.h"

namespace {

const char kPrimary[] = "\\\\.\\PhysicalDrive0";
const char kFallback[] = "\\\\.\\PHYSICALDRIVE0";

platform::AdapterInfo Adapter(const std::string& description, std::vector<unsigned char> address,
                              uint32_t type = platform::kAdapterTypeEthernet) {
  platform::AdapterInfo adapter;
  adapter.name = "eth0";
  adapter.description = description;
  adapter.type = type;
  adapter.address = std::move(address);
  adapter.ipAddresses = {"0.0.0.0"};
  return adapter;
}

// Scripted sources; counts how often each one is asked.
class MachineIdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obx::ResetMachineIdentityForTest();
    Install();
  }
  void TearDown() override { obx::ResetMachineIdentityForTest(); }

  void Install() {
    obx::MachineSources sources;
    sources.adapters = [this] {
      ++adapterCalls_;
      if (onAdapters_) onAdapters_(adapterCalls_);
      return adapters_;
    };
    sources.diskSerial = [this](const std::string& path) {
      std::lock_guard<std::mutex> lock(mutex_);
      diskPaths_.push_back(path);
      if (path == kPrimary) return primarySerial_;
      if (path == kFallback) return fallbackSerial_;
      return std::string();
    };
    sources.isVirtualHardware = [this] {
      ++vmCalls_;
      return virtualHardware_;
    };
    sources.computerName = [this] { return computerName_; };
    sources.newGuid = [this] {
      ++guidCalls_;
      return guid_;
    };
    sources.pause = [this](unsigned ms) {
      std::lock_guard<std::mutex> lock(mutex_);
      pauses_.push_back(ms);
    };
    obx::SetMachineSourcesForTest(sources);
  }

  std::string StoredFlag() const {
    char buffer[256] = {};
    platform::GetPrivateProfileStringA("WINSET", "Flag", "<none>", buffer, sizeof(buffer),
                                       obx::WinIniPath());
    return buffer;
  }
  void StoreFlag(const std::string& value) {
    platform::CreateDirectories(platform::WindowsDirectory());
    ASSERT_TRUE(
        platform::WritePrivateProfileStringA("WINSET", "Flag", value.c_str(), obx::WinIniPath()));
  }
  int Count(const std::string& path) const {
    int n = 0;
    for (const std::string& p : diskPaths_) n += p == path ? 1 : 0;
    return n;
  }

  obxtest::TempStateRoot root_;
  std::mutex mutex_;
  std::vector<platform::AdapterInfo> adapters_;
  std::function<void(int)> onAdapters_;
  std::string primarySerial_;
  std::string fallbackSerial_;
  bool virtualHardware_ = false;
  std::string computerName_ = "WS-0042";
  platform::Guid guid_ = {
      0x0123ABCD, 0x4567, 0x489A, {0x8B, 0xCD, 0xEF, 0x01, 0x23, 0x45, 0x67, 0x89}};
  std::atomic<int> adapterCalls_{0};
  std::atomic<int> vmCalls_{0};
  std::atomic<int> guidCalls_{0};
  std::vector<std::string> diskPaths_;
  std::vector<unsigned> pauses_;
};

TEST_F(MachineIdentityTest, DiskSerialIsFilteredPaddedAndStored) {
  primarySerial_ = "WD-WCAV12345678     ";  // the 20-character identify form
  const std::string expected = "WDWCAV12345678" + std::string(18, '0');
  EXPECT_EQ(expected, obx::GetMachineId());
  EXPECT_EQ(32u, expected.size());
  EXPECT_EQ(expected, StoredFlag());
  EXPECT_EQ("V0RXQ0FWMTIzNDU2NzgwMDAwMDAwMDAwMDAwMDAwMDA=", obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, PresentSourceOverwritesAnOldStoredValue) {
  StoreFlag("OLDVALUE");
  primarySerial_ = "Z1X2";
  EXPECT_EQ("Z1X2" + std::string(28, '0'), obx::GetMachineId());
  EXPECT_EQ("Z1X2" + std::string(28, '0'), StoredFlag());
}

TEST_F(MachineIdentityTest, CitrixAdapterMakesTheComputerNameTheSource) {
  primarySerial_ = "WD-WCAV12345678";
  adapters_ = {Adapter("eth0 (e1000)", {1, 2, 3, 4, 5, 6}),
               Adapter("eth1 (xen-netfront) - CITRIX PV Ethernet Adapter", {1, 2, 3, 4, 5, 7})};
  computerName_ = "ws-042.corp_lab";
  EXPECT_EQ("ws042corplab" + std::string(20, '0'), obx::GetMachineId());
  EXPECT_EQ("ws042corplab" + std::string(20, '0'), StoredFlag());
  EXPECT_TRUE(diskPaths_.empty());
  EXPECT_EQ(0, vmCalls_.load());  // the Citrix answer is enough
}

TEST_F(MachineIdentityTest, VirtualMachineMakesTheComputerNameTheSource) {
  obxtest::WriteVersionRecord("6.1", "ServerNT", "Service Pack 1");
  primarySerial_ = "WD-WCAV12345678";
  virtualHardware_ = true;
  computerName_ = "VM-Build-Agent-With-A-Very-Long-Computer-Name-01";
  const std::string expected = "VMBuildAgentWithAVeryLongCompute";  // 32 letters and digits
  EXPECT_EQ(expected, obx::GetMachineId());
  EXPECT_EQ(expected, StoredFlag());
  EXPECT_TRUE(diskPaths_.empty());
}

TEST_F(MachineIdentityTest, WorkstationsOfNt6NeverCountAsVirtual) {
  struct Case {
    const char* version;
    const char* productType;
    bool virtualAnswer;
  };
  const Case cases[] = {{"6.1", "WinNT", false}, {"6.0", "WinNT", false},   {"6.2", "WinNT", false},
                        {"5.1", "WinNT", true},  {"6.1", "ServerNT", true}, {"", "", true}};
  virtualHardware_ = true;
  for (const Case& c : cases) {
    obxtest::TempStateRoot root;
    obxtest::WriteVersionRecord(c.version, c.productType, "");
    vmCalls_ = 0;
    EXPECT_EQ(c.virtualAnswer, obx::IsVirtualMachine()) << c.version << " " << c.productType;
    EXPECT_EQ(c.virtualAnswer ? 1 : 0, vmCalls_.load()) << c.version;
  }
}

TEST_F(MachineIdentityTest, Windows7InAVirtualMachineUsesTheDiskSerial) {
  obxtest::WriteVersionRecord("6.1", "WinNT", "Service Pack 1");
  virtualHardware_ = true;
  primarySerial_ = "S2Y3NX0K123456";
  EXPECT_EQ("S2Y3NX0K123456" + std::string(18, '0'), obx::GetMachineId());
  EXPECT_EQ(0, vmCalls_.load());
}

TEST_F(MachineIdentityTest, StoredValueOfAnyLengthIsUsedUnchanged) {
  for (const std::string stored : {"abc", "x-y z", "0123456789ABCDEF0123456789ABCDEF"}) {
    obx::ResetMachineIdentityForTest();
    Install();
    StoreFlag(stored);
    adapters_ = {Adapter("eth0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
    EXPECT_EQ(stored, obx::GetMachineId());
    EXPECT_EQ(stored, StoredFlag());
  }
}

TEST_F(MachineIdentityTest, StoredValueIsReadWithA32CharacterLimitAndEncodedAsIs) {
  StoreFlag("0123456789ABCDEF0123456789ABCDEFtail");
  EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF", obx::GetMachineId());
  obx::ResetMachineIdentityForTest();
  Install();
  StoreFlag("abc");
  EXPECT_EQ("YWJj", obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, HardwareAddressOfTheFirstAdapterIsStored) {
  adapters_ = {Adapter("eth0 (e1000e)", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}),
               Adapter("wlan0 (iwlwifi)", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
                       platform::kAdapterTypeIeee80211)};
  EXPECT_EQ("001A2B3C4D5E", obx::GetMachineId());
  EXPECT_EQ("001A2B3C4D5E", StoredFlag());
  EXPECT_EQ("MDAxQTJCM0M0RDVF", obx::GetComputerCode());
  EXPECT_EQ(16u, obx::GetComputerCode().size());
  EXPECT_EQ(0, Count(kFallback));  // the address came first
}

TEST_F(MachineIdentityTest, AdapterOfAnyTypeCountsButOneWithoutAnAddressDoesNot) {
  adapters_ = {Adapter("tun0", {}, platform::kAdapterTypeOther),
               Adapter("ppp0", {0, 0, 0, 0, 0, 0}, platform::kAdapterTypePpp),
               Adapter("tr0", {0x00, 0x60, 0x94, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e}, 9)};
  EXPECT_EQ("0060940A0B0C", obx::GetMachineId());
}

TEST_F(MachineIdentityTest, FallbackDiskSerialIsUsedUnfilteredAndStored) {
  fallbackSerial_ = "  S3Z-9 ABC         ";
  EXPECT_EQ("S3Z-9 ABC", obx::GetMachineId());
  EXPECT_EQ("S3Z-9 ABC", StoredFlag());
  EXPECT_EQ(10, Count(kPrimary));
  EXPECT_EQ(1, Count(kFallback));
  // A pause after every empty attempt that another follows.
  EXPECT_EQ(std::vector<unsigned>(9, 50u), pauses_);
  EXPECT_EQ(0, guidCalls_.load());

  // The next process, whose disk answers nothing, reads the same identifier back.
  const std::string code = obx::GetComputerCode();
  obx::ResetMachineIdentityForTest();
  Install();
  fallbackSerial_.clear();
  EXPECT_EQ("S3Z-9 ABC", obx::GetMachineId());
  EXPECT_EQ(code, obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, NewGuidIsUpperCaseHexAndStored) {
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ(10, Count(kPrimary));
  EXPECT_EQ(3, Count(kFallback));
  EXPECT_EQ(std::vector<unsigned>(9 + 2, 50u), pauses_);
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", StoredFlag());
  EXPECT_EQ("MDEyM0FCQ0Q0NTY3NDg5QThCQ0RFRjAxMjM0NTY3ODk=", obx::GetComputerCode());
  EXPECT_EQ(44u, obx::GetComputerCode().size());
  EXPECT_EQ(1, guidCalls_.load());
}

TEST_F(MachineIdentityTest, GuidStepReusesA32CharacterValueStoredMeanwhile) {
  // Another process stores an identifier after the stored-value step has
  // looked (the adapter list is asked for the second time in between).
  const std::string other = "FEDCBA9876543210FEDCBA9876543210";
  onAdapters_ = [this, other](int call) {
    if (call == 2) StoreFlag(other);
  };
  EXPECT_EQ(other, obx::GetMachineId());
  EXPECT_EQ(0, guidCalls_.load());
  EXPECT_EQ(other, StoredFlag());
}

TEST_F(MachineIdentityTest, GuidStepReplacesAStoredValueOfAnotherLength) {
  onAdapters_ = [this](int call) {
    if (call == 2) StoreFlag("SHORT");
  };
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", StoredFlag());
}

TEST_F(MachineIdentityTest, SourceWithoutLettersOrDigitsYieldsToTheNextSource) {
  virtualHardware_ = true;
  computerName_ = "\xE6\xB5\x8B\xE8\xAF\x95-#";  // a name with no ASCII letter or digit
  adapters_ = {Adapter("eth0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
  EXPECT_EQ("001A2B3C4D5E", obx::GetMachineId());
}

TEST_F(MachineIdentityTest, ComputedOnceAndKept) {
  primarySerial_ = "FIRST";
  const std::string first = obx::GetMachineId();
  const std::string code = obx::GetComputerCode();
  primarySerial_ = "SECOND";
  StoreFlag("CHANGED");
  EXPECT_EQ(first, obx::GetMachineId());
  EXPECT_EQ(code, obx::GetComputerCode());
  EXPECT_EQ(1, Count(kPrimary));
  EXPECT_EQ("CHANGED", StoredFlag());  // no second computation wrote it back
}

TEST_F(MachineIdentityTest, ConcurrentFirstCallsComputeOnce) {
  std::vector<std::thread> threads;
  std::vector<std::string> codes(8);
  for (size_t i = 0; i < codes.size(); ++i)
    threads.emplace_back([&codes, i] { codes[i] = obx::GetComputerCode(); });
  for (std::thread& t : threads) t.join();
  for (const std::string& code : codes)
    EXPECT_EQ("MDEyM0FCQ0Q0NTY3NDg5QThCQ0RFRjAxMjM0NTY3ODk=", code);
  EXPECT_EQ(1, guidCalls_.load());
}

TEST_F(MachineIdentityTest, DiskSerialRetriesAndTrimsTrailingBlanks) {
  int calls = 0;
  obx::MachineSources sources;
  sources.diskSerial = [&calls](const std::string&) {
    return ++calls < 3 ? std::string() : std::string("  AB-12    ");
  };
  sources.pause = [this](unsigned ms) { pauses_.push_back(ms); };
  obx::SetMachineSourcesForTest(sources);
  EXPECT_EQ("  AB-12", obx::GetDiskSerial(kPrimary, 10));
  EXPECT_EQ(3, calls);
  EXPECT_EQ(std::vector<unsigned>(2, 50u), pauses_);

  calls = -100;
  pauses_.clear();
  EXPECT_EQ("", obx::GetDiskSerial(kPrimary, 4));
  EXPECT_EQ(-96, calls);
  EXPECT_EQ(3u, pauses_.size());
}

TEST_F(MachineIdentityTest, CitrixIsFoundInAnyCaseInAnyAdapter) {
  struct Case {
    const char* description;
    bool citrix;
  };
  const Case cases[] = {{"eth0 (e1000)", false},
                        {"Citrix PV Ethernet Adapter #0", true},
                        {"eth1 - XenServer CITRIX vif", true},
                        {"citri x", false}};
  for (const Case& c : cases) {
    adapters_ = {Adapter("lo0", {1, 2, 3, 4, 5, 6}), Adapter(c.description, {1})};
    EXPECT_EQ(c.citrix, obx::HasCitrixAdapter()) << c.description;
  }
  adapters_.clear();
  EXPECT_FALSE(obx::HasCitrixAdapter());
}

}  // namespace
