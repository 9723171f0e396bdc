// Every branch of the machine identifier, its copy in win.ini and the
// computer code, with scripted sources in a fresh state root.
#include "sysinfo/MachineIdentity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/File.h"
#include "platform/ProfileFile.h"
#include "platform/StateRoot.h"
#include "tests/support/TestMachine.h"
#include "tests/sysinfo/SysinfoTestSupport.h"

namespace {

const char kPrimary[] = "\\\\.\\PhysicalDrive0";
const char kFallback[] = "\\\\.\\PHYSICALDRIVE0";

using obxtest::MakeAdapter;

// A scripted machine in a fresh state root; the fixture counts what is asked.
class MachineIdentityTest : public ::testing::Test {
 protected:
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
  int Count(const std::string& path) const { return facts_.DiskReads(path); }
  std::vector<uint32_t> Pauses() const { return machine_.clock.Sleeps(); }
  // The next process: nothing kept, the same machine.
  void Restart() { obx::ForgetMachineIdentity(); }

  obxtest::TestMachine machine_;
  obxtest::FakeMachine& facts_ = machine_.facts;
};

TEST_F(MachineIdentityTest, DiskSerialIsFilteredPaddedAndStored) {
  facts_.diskSerials[kPrimary] = "WD-WCAV12345678     ";  // the 20-character identify form
  const std::string expected = "WDWCAV12345678" + std::string(18, '0');
  EXPECT_EQ(expected, obx::GetMachineId());
  EXPECT_EQ(32u, expected.size());
  EXPECT_EQ(expected, StoredFlag());
  EXPECT_EQ("V0RXQ0FWMTIzNDU2NzgwMDAwMDAwMDAwMDAwMDAwMDA=", obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, PresentSourceOverwritesAnOldStoredValue) {
  StoreFlag("OLDVALUE");
  facts_.diskSerials[kPrimary] = "Z1X2";
  EXPECT_EQ("Z1X2" + std::string(28, '0'), obx::GetMachineId());
  EXPECT_EQ("Z1X2" + std::string(28, '0'), StoredFlag());
}

TEST_F(MachineIdentityTest, CitrixAdapterMakesTheComputerNameTheSource) {
  facts_.diskSerials[kPrimary] = "WD-WCAV12345678";
  facts_.adapters = {
      MakeAdapter("eth0 (e1000)", {1, 2, 3, 4, 5, 6}),
      MakeAdapter("eth1 (xen-netfront) - CITRIX PV Ethernet Adapter", {1, 2, 3, 4, 5, 7})};
  facts_.computerName = "ws-042.corp_lab";
  EXPECT_EQ("ws042corplab" + std::string(20, '0'), obx::GetMachineId());
  EXPECT_EQ("ws042corplab" + std::string(20, '0'), StoredFlag());
  EXPECT_TRUE(facts_.DiskPaths().empty());
  EXPECT_EQ(0, facts_.virtualCalls.load());  // the Citrix answer is enough
}

TEST_F(MachineIdentityTest, VirtualMachineMakesTheComputerNameTheSource) {
  obxtest::WriteVersionRecord("6.1", "ServerNT", "Service Pack 1");
  facts_.diskSerials[kPrimary] = "WD-WCAV12345678";
  facts_.virtualHardware = true;
  facts_.computerName = "VM-Build-Agent-With-A-Very-Long-Computer-Name-01";
  const std::string expected = "VMBuildAgentWithAVeryLongCompute";  // 32 letters and digits
  EXPECT_EQ(expected, obx::GetMachineId());
  EXPECT_EQ(expected, StoredFlag());
  EXPECT_TRUE(facts_.DiskPaths().empty());
}

TEST_F(MachineIdentityTest, WorkstationsOfNt6NeverCountAsVirtual) {
  struct Case {
    const char* version;
    const char* productType;
    bool virtualAnswer;
  };
  const Case cases[] = {{"6.1", "WinNT", false}, {"6.0", "WinNT", false},   {"6.2", "WinNT", false},
                        {"5.1", "WinNT", true},  {"6.1", "ServerNT", true}, {"", "", true}};
  facts_.virtualHardware = true;
  for (const Case& c : cases) {
    obxtest::TempStateRoot root;
    obxtest::WriteVersionRecord(c.version, c.productType, "");
    facts_.virtualCalls = 0;
    EXPECT_EQ(c.virtualAnswer, obx::IsVirtualMachine()) << c.version << " " << c.productType;
    EXPECT_EQ(c.virtualAnswer ? 1 : 0, facts_.virtualCalls.load()) << c.version;
  }
}

TEST_F(MachineIdentityTest, Windows7InAVirtualMachineUsesTheDiskSerial) {
  obxtest::WriteVersionRecord("6.1", "WinNT", "Service Pack 1");
  facts_.virtualHardware = true;
  facts_.diskSerials[kPrimary] = "S2Y3NX0K123456";
  EXPECT_EQ("S2Y3NX0K123456" + std::string(18, '0'), obx::GetMachineId());
  EXPECT_EQ(0, facts_.virtualCalls.load());
}

TEST_F(MachineIdentityTest, StoredValueOfAnyLengthIsUsedUnchanged) {
  for (const std::string stored : {"abc", "x-y z", "0123456789ABCDEF0123456789ABCDEF"}) {
    Restart();
    StoreFlag(stored);
    facts_.adapters = {MakeAdapter("eth0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
    EXPECT_EQ(stored, obx::GetMachineId());
    EXPECT_EQ(stored, StoredFlag());
  }
}

TEST_F(MachineIdentityTest, StoredValueIsReadWithA32CharacterLimitAndEncodedAsIs) {
  StoreFlag("0123456789ABCDEF0123456789ABCDEFtail");
  EXPECT_EQ("0123456789ABCDEF0123456789ABCDEF", obx::GetMachineId());
  Restart();
  StoreFlag("abc");
  EXPECT_EQ("YWJj", obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, HardwareAddressOfTheFirstAdapterIsStored) {
  facts_.adapters = {MakeAdapter("eth0 (e1000e)", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}),
                     MakeAdapter("wlan0 (iwlwifi)", {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF},
                                 platform::kAdapterTypeIeee80211)};
  EXPECT_EQ("001A2B3C4D5E", obx::GetMachineId());
  EXPECT_EQ("001A2B3C4D5E", StoredFlag());
  EXPECT_EQ("MDAxQTJCM0M0RDVF", obx::GetComputerCode());
  EXPECT_EQ(16u, obx::GetComputerCode().size());
  EXPECT_EQ(0, Count(kFallback));  // the address came first
}

TEST_F(MachineIdentityTest, AdapterOfAnyTypeCountsButOneWithoutAnAddressDoesNot) {
  facts_.adapters = {MakeAdapter("tun0", {}, platform::kAdapterTypeOther),
                     MakeAdapter("ppp0", {0, 0, 0, 0, 0, 0}, platform::kAdapterTypePpp),
                     MakeAdapter("tr0", {0x00, 0x60, 0x94, 0x0a, 0x0b, 0x0c, 0x0d, 0x0e}, 9)};
  EXPECT_EQ("0060940A0B0C", obx::GetMachineId());
}

TEST_F(MachineIdentityTest, FallbackDiskSerialIsUsedUnfilteredAndStored) {
  facts_.diskSerials[kFallback] = "  S3Z-9 ABC         ";
  EXPECT_EQ("S3Z-9 ABC", obx::GetMachineId());
  EXPECT_EQ("S3Z-9 ABC", StoredFlag());
  EXPECT_EQ(10, Count(kPrimary));
  EXPECT_EQ(1, Count(kFallback));
  // Only the primary query takes an empty IDE device map as "no drive".
  std::vector<bool> mapRequired(10, true);
  mapRequired.push_back(false);
  EXPECT_EQ(mapRequired, facts_.DiskMapRequired());
  // A pause after every empty attempt, the last one included.
  EXPECT_EQ(std::vector<uint32_t>(10, 50u), Pauses());
  EXPECT_EQ(0, facts_.guidCalls.load());

  // The next process, whose disk answers nothing, reads the same identifier back.
  const std::string code = obx::GetComputerCode();
  Restart();
  facts_.diskSerials.erase(kFallback);
  EXPECT_EQ("S3Z-9 ABC", obx::GetMachineId());
  EXPECT_EQ(code, obx::GetComputerCode());
}

TEST_F(MachineIdentityTest, NewGuidIsUpperCaseHexAndStored) {
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ(10, Count(kPrimary));
  EXPECT_EQ(3, Count(kFallback));
  EXPECT_EQ(std::vector<uint32_t>(10 + 3, 50u), Pauses());
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", StoredFlag());
  EXPECT_EQ("MDEyM0FCQ0Q0NTY3NDg5QThCQ0RFRjAxMjM0NTY3ODk=", obx::GetComputerCode());
  EXPECT_EQ(44u, obx::GetComputerCode().size());
  EXPECT_EQ(1, facts_.guidCalls.load());
}

TEST_F(MachineIdentityTest, GuidStepReusesA32CharacterValueStoredMeanwhile) {
  // Another process stores an identifier after the stored-value step has
  // looked (the adapter list is asked for the second time in between).
  const std::string other = "FEDCBA9876543210FEDCBA9876543210";
  facts_.onAdapters = [this, other](int call) {
    if (call == 2) StoreFlag(other);
  };
  EXPECT_EQ(other, obx::GetMachineId());
  EXPECT_EQ(0, facts_.guidCalls.load());
  EXPECT_EQ(other, StoredFlag());
}

TEST_F(MachineIdentityTest, GuidStepReplacesAStoredValueOfAnotherLength) {
  facts_.onAdapters = [this](int call) {
    if (call == 2) StoreFlag("SHORT");
  };
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", obx::GetMachineId());
  EXPECT_EQ("0123ABCD4567489A8BCDEF0123456789", StoredFlag());
}

TEST_F(MachineIdentityTest, SourceWithoutLettersOrDigitsYieldsToTheNextSource) {
  facts_.virtualHardware = true;
  facts_.computerName = "\xE6\xB5\x8B\xE8\xAF\x95-#";  // a name with no ASCII letter or digit
  facts_.adapters = {MakeAdapter("eth0", {0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E})};
  EXPECT_EQ("001A2B3C4D5E", obx::GetMachineId());
}

TEST_F(MachineIdentityTest, ComputedOnceAndKept) {
  facts_.diskSerials[kPrimary] = "FIRST";
  const std::string first = obx::GetMachineId();
  const std::string code = obx::GetComputerCode();
  facts_.diskSerials[kPrimary] = "SECOND";
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
  EXPECT_EQ(1, facts_.guidCalls.load());
}

TEST_F(MachineIdentityTest, DiskSerialRetriesAndTrimsTrailingBlanks) {
  facts_.onDiskRead = [this](int call) {
    if (call == 3) facts_.diskSerials[kPrimary] = "  AB-12    ";
  };
  EXPECT_EQ("  AB-12", obx::GetDiskSerial(kPrimary, 10, true));
  EXPECT_EQ(3, Count(kPrimary));
  EXPECT_EQ(std::vector<uint32_t>(2, 50u), Pauses());

  facts_.onDiskRead = nullptr;
  facts_.diskSerials.clear();
  EXPECT_EQ("", obx::GetDiskSerial(kPrimary, 4, true));
  EXPECT_EQ(3 + 4, Count(kPrimary));
  EXPECT_EQ(2u + 4u, Pauses().size());
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
    facts_.adapters = {MakeAdapter("lo0", {1, 2, 3, 4, 5, 6}), MakeAdapter(c.description, {1})};
    EXPECT_EQ(c.citrix, obx::HasCitrixAdapter()) << c.description;
  }
  facts_.adapters.clear();
  EXPECT_FALSE(obx::HasCitrixAdapter());
}

}  // namespace
