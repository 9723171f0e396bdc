// The Linux sources of the system facts, read from prepared folders that
// stand in for /sys, /run/udev and the user's configuration.
#include "platform/posix/SystemFacts.h"

#include <gtest/gtest.h>
#include <net/if_arp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/SystemInfo.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempStateRoot.h"

namespace {

namespace posix = platform::posix;

void Write(const std::string& path, const std::string& text) {
  platform::CreateDirectories(path.substr(0, path.rfind('/')));
  obxtest::WriteFile(path, text);
}

TEST(UserDirs, DesktopEntryIsResolvedAgainstHome) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n", "/home/u/Desktop"},
      {"# comment\n  XDG_DESKTOP_DIR=\"$HOME/My \\\"Desk\\\"\"\n", "/home/u/My \"Desk\""},
      {"XDG_DESKTOP_DIR=\"/srv/desk\"\n", "/srv/desk"},
      {"XDG_DESKTOP_DIR=\"$HOME\"\n", "/home/u"},
      {"XDG_DESKTOP_DIR=\"Desktop\"\n", ""},      // relative paths are refused
      {"XDG_DESKTOP_DIR=\"$HOMEWORK/x\"\n", ""},  // not the $HOME variable
      {"XDG_DESKTOP_DIR=\"$HOME/open\n", ""},     // no closing quote
      {"XDG_DOWNLOAD_DIR=\"$HOME/Downloads\"\n", ""},
      {"#XDG_DESKTOP_DIR=\"$HOME/Commented\"\n", ""},
      {"XDG_DESKTOP_DIR=\"$HOME/One\"\nXDG_DESKTOP_DIR=\"$HOME/Two\"\n", "/home/u/Two"},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, posix::DesktopFromUserDirs(c.text, "/home/u")) << c.text;
  }
}

TEST(UserDirs, DesktopFallsBackToHomeDesktop) {
  obxtest::TempStateRoot root;
  obxtest::ScopedEnv direct("XDG_DESKTOP_DIR", nullptr);
  obxtest::ScopedEnv home("HOME", root.Sub("home/").c_str());
  obxtest::ScopedEnv config("XDG_CONFIG_HOME", root.Sub("no-config").c_str());
  std::string path;
  ASSERT_TRUE(platform::GetDesktopDirectory(&path));
  EXPECT_EQ(root.Sub("home/Desktop"), path);

  obxtest::ScopedEnv relative("XDG_DESKTOP_DIR", "relative/desk");  // ignored
  ASSERT_TRUE(platform::GetDesktopDirectory(&path));
  EXPECT_EQ(root.Sub("home/Desktop"), path);
}

TEST(LocaleLanguage, OnlyChineseLocalesGive2052) {
  struct Case {
    const char* locale;
    unsigned short expected;
  };
  const Case cases[] = {
      {"zh_CN.UTF-8", 2052}, {"zh_CN.GBK", 2052}, {"zh", 2052},          {"zh_TW", 2052},
      {"zh@pinyin", 2052},   {"zhx", 1033},       {"en_US.UTF-8", 1033}, {"C", 1033},
      {"ja_JP", 1033},       {"", 1033}};
  for (const Case& c : cases)
    EXPECT_EQ(c.expected, posix::LangIdFromLocaleName(c.locale)) << c.locale;
}

TEST(LocaleLanguage, FirstNonEmptyOfLcAllLcMessagesLang) {
  obxtest::ScopedEnv all("LC_ALL", "");
  obxtest::ScopedEnv messages("LC_MESSAGES", "zh_CN.UTF-8");
  obxtest::ScopedEnv lang("LANG", "en_US.UTF-8");
  EXPECT_EQ(2052, platform::GetSystemDefaultLangID());
  {
    obxtest::ScopedEnv all2("LC_ALL", "en_GB.UTF-8");
    EXPECT_EQ(1033, platform::GetSystemDefaultLangID());
  }
  obxtest::ScopedEnv messages2("LC_MESSAGES", nullptr);
  EXPECT_EQ(1033, platform::GetSystemDefaultLangID());
  obxtest::ScopedEnv lang2("LANG", "zh_CN.GB18030");
  EXPECT_EQ(2052, platform::GetSystemDefaultLangID());
}

TEST(Dmi, VirtualHardwareIsRecognisedByItsNames) {
  struct Case {
    const char* vendor;
    const char* product;
    bool virtualHardware;
  };
  const Case cases[] = {
      {"VMware, Inc.", "VMware Virtual Platform", true},
      {"innotek GmbH", "VirtualBox", true},
      {"QEMU", "Standard PC (Q35 + ICH9, 2009)", true},
      {"Red Hat", "KVM", true},
      {"Xen", "HVM domU", true},
      {"Microsoft Corporation", "Virtual Machine", true},
      {"Microsoft Corporation", "Surface Pro 7", false},
      {"Parallels Software International Inc.", "Parallels Virtual Platform", true},
      {"Google", "Google Compute Engine", true},
      {"Dell Inc.", "OptiPlex 7090", false},
      {"LENOVO", "20XW0026GE", false},
  };
  for (const Case& c : cases) {
    obxtest::TempStateRoot root;
    Write(root.Sub("dmi/sys_vendor"), std::string(c.vendor) + "\n");
    Write(root.Sub("dmi/product_name"), std::string(c.product) + "\n");
    EXPECT_EQ(c.virtualHardware, posix::DmiNamesVirtualHardware(root.Sub("dmi")))
        << c.vendor << " / " << c.product;
  }
  obxtest::TempStateRoot empty;
  EXPECT_FALSE(posix::DmiNamesVirtualHardware(empty.Sub("missing")));

  obxtest::TempStateRoot bios;
  Write(bios.Sub("dmi/sys_vendor"), "System manufacturer\n");
  Write(bios.Sub("dmi/bios_vendor"), "SeaBIOS Bochs\n");
  EXPECT_TRUE(posix::DmiNamesVirtualHardware(bios.Sub("dmi")));
}

TEST(DiskSerial, IdentifyFormIsTwentyBlankPaddedCharacters) {
  struct Case {
    std::string raw;
    std::string expected;
  };
  const Case cases[] = {
      {"WD-WCAV12345678\n", "WD-WCAV12345678     "},
      {"     WD-WCAV12345678", "     WD-WCAV12345678"},  // leading blanks are the drive's
      {"S3Z9NB0K123456789012345", "S3Z9NB0K123456789012"},
      {"   \n", ""},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(c.expected, posix::IdentifyForm(c.raw)) << c.raw;
}

TEST(DiskSerial, DevicePathNamesTheDriveNumber) {
  EXPECT_EQ(0, posix::PhysicalDriveNumber("\\\\.\\PhysicalDrive0"));
  EXPECT_EQ(0, posix::PhysicalDriveNumber("\\\\.\\PHYSICALDRIVE0"));
  EXPECT_EQ(12, posix::PhysicalDriveNumber("\\\\.\\physicaldrive12"));
  EXPECT_EQ(-1, posix::PhysicalDriveNumber("\\\\.\\PhysicalDrive"));
  EXPECT_EQ(-1, posix::PhysicalDriveNumber("\\\\.\\PhysicalDrive0x"));
  EXPECT_EQ(-1, posix::PhysicalDriveNumber("/dev/sda"));
  EXPECT_EQ(-1, posix::PhysicalDriveNumber("\\\\.\\C:"));
}

class FakeSysBlock : public ::testing::Test {
 protected:
  // A disk folder with a device link (a folder stands in for it).
  void Disk(const std::string& name, const std::string& dev, bool removable = false) {
    platform::CreateDirectories(root_.Sub("block/" + name + "/device"));
    Write(root_.Sub("block/" + name + "/dev"), dev + "\n");
    Write(root_.Sub("block/" + name + "/removable"), removable ? "1\n" : "0\n");
  }
  std::string Block() const { return root_.Sub("block"); }
  std::string Udev() const { return root_.Sub("udev"); }

  obxtest::TempStateRoot root_;
};

TEST_F(FakeSysBlock, PhysicalDisksAreListedInNameOrder) {
  Disk("sdb", "8:16");
  Disk("nvme0n1", "259:0");
  Disk("sda", "8:0");
  Disk("sdc", "8:32", /*removable=*/true);
  Disk("sr0", "11:0");
  Disk("dm-0", "253:0");
  platform::CreateDirectories(root_.Sub("block/loop0"));  // no device behind it
  EXPECT_EQ((std::vector<std::string>{"nvme0n1", "sda", "sdb"}), posix::ListPhysicalDisks(Block()));
  EXPECT_TRUE(posix::ListPhysicalDisks(root_.Sub("none")).empty());
}

std::string NoIdentify(const std::string&) { return std::string(); }
std::string IdentifyAnswers(const std::string& disk) { return "ATA-" + disk + "    "; }

TEST_F(FakeSysBlock, SerialSourcesAreTriedInOrder) {
  Disk("sda", "8:0");
  // Nothing known yet.
  EXPECT_EQ("", posix::ReadDiskSerial(Block(), Udev(), "sda", &NoIdentify));
  EXPECT_EQ("", posix::ReadDiskSerial(Block(), Udev(), "sda", nullptr));

  Write(root_.Sub("block/sda/device/wwid"), "t10.ATA     WDC WD10EZEX-08WN4A0   WD-WCC6Y1234567\n");
  // The tail of a world-wide name is what tells disks apart.
  EXPECT_EQ("A0   WD-WCC6Y1234567", posix::ReadDiskSerial(Block(), Udev(), "sda", &NoIdentify));

  EXPECT_EQ("ATA-sda             ",
            posix::ReadDiskSerial(Block(), Udev(), "sda", &IdentifyAnswers));

  Write(Udev() + "/b8:0",
        "S:disk/by-id/ata-WDC\nE:ID_SERIAL=WDC_WD10EZEX_WD-WCC6Y1234567\n"
        "E:ID_SERIAL_SHORT=WD-WCC6Y1234567\n");
  EXPECT_EQ("WD-WCC6Y1234567     ",
            posix::ReadDiskSerial(Block(), Udev(), "sda", &IdentifyAnswers));

  Write(root_.Sub("block/sda/device/serial"), "  S3Z9NB0K123456\n");
  EXPECT_EQ("  S3Z9NB0K123456    ",
            posix::ReadDiskSerial(Block(), Udev(), "sda", &IdentifyAnswers));

  Write(root_.Sub("block/sda/serial"), "virtio-0001\n");
  EXPECT_EQ("virtio-0001         ",
            posix::ReadDiskSerial(Block(), Udev(), "sda", &IdentifyAnswers));
}

TEST(Adapters, HardwareTypesMapToWindowsAdapterTypes) {
  EXPECT_EQ(6u, platform::AdapterTypeFromHardwareType(ARPHRD_ETHER, false));
  EXPECT_EQ(71u, platform::AdapterTypeFromHardwareType(ARPHRD_ETHER, true));
  EXPECT_EQ(71u, platform::AdapterTypeFromHardwareType(ARPHRD_IEEE80211_RADIOTAP, false));
  EXPECT_EQ(23u, platform::AdapterTypeFromHardwareType(ARPHRD_PPP, false));
  EXPECT_EQ(24u, platform::AdapterTypeFromHardwareType(ARPHRD_LOOPBACK, false));
  EXPECT_EQ(1u, platform::AdapterTypeFromHardwareType(ARPHRD_NONE, false));
  EXPECT_EQ(1u, platform::AdapterTypeFromHardwareType(ARPHRD_TUNNEL, false));
}

TEST(Adapters, DescriptionCarriesDriverAndAlias) {
  EXPECT_EQ("eth0", posix::AdapterDescription("eth0", "", ""));
  EXPECT_EQ("eth0 (e1000e)", posix::AdapterDescription("eth0", "e1000e", ""));
  EXPECT_EQ("eth1 (xen-netfront) - Citrix PV Ethernet Adapter",
            posix::AdapterDescription("eth1", "xen-netfront", "Citrix PV Ethernet Adapter"));

  obxtest::TempStateRoot root;
  Write(root.Sub("net/eth0/device/uevent"), "DRIVER=virtio_net\nPCI_CLASS=20000\n");
  EXPECT_EQ("virtio_net", posix::InterfaceDriver(root.Sub("net/eth0")));
  platform::CreateDirectories(root.Sub("drivers/e1000e"));
  platform::CreateDirectories(root.Sub("net/eth1/device"));
  ASSERT_EQ(
      0, symlink(root.Sub("drivers/e1000e").c_str(), root.Sub("net/eth1/device/driver").c_str()));
  EXPECT_EQ("e1000e", posix::InterfaceDriver(root.Sub("net/eth1")));
  EXPECT_EQ("", posix::InterfaceDriver(root.Sub("net/none")));
}

TEST(Adapters, ListLeavesOutLoopbackAndGivesEveryAdapterAnAddressText) {
  std::vector<platform::AdapterInfo> adapters;
  ASSERT_TRUE(platform::GetAdaptersInfo(&adapters));
  for (const platform::AdapterInfo& adapter : adapters) {
    EXPECT_NE(platform::kAdapterTypeLoopback, adapter.type) << adapter.name;
    EXPECT_NE("lo", adapter.name);
    EXPECT_FALSE(adapter.ipAddresses.empty()) << adapter.name;
    EXPECT_EQ(0u, adapter.description.find(adapter.name)) << adapter.description;
    EXPECT_LE(adapter.address.size(), 8u);
    for (const std::string& ip : adapter.ipAddresses) EXPECT_NE("127.0.0.1", ip);
  }
}

TEST(MachineNames, GuidIsRandomVersion4) {
  platform::Guid a{};
  platform::Guid b{};
  ASSERT_TRUE(platform::CoCreateGuid(&a));
  ASSERT_TRUE(platform::CoCreateGuid(&b));
  EXPECT_EQ(0x4000, a.data3 & 0xF000);
  EXPECT_EQ(0x80, a.data4[0] & 0xC0);
  EXPECT_FALSE(a.data1 == b.data1 && a.data2 == b.data2 &&
               std::equal(a.data4, a.data4 + 8, b.data4));
}

TEST(MachineNames, ComputerAndUserNamesComeFromTheSystem) {
  char host[256] = {};
  ASSERT_EQ(0, gethostname(host, sizeof(host) - 1));
  std::string name;
  long error = -1;
  ASSERT_TRUE(platform::GetComputerNameA(&name, &error));
  EXPECT_EQ(host, name);
  EXPECT_EQ(0, error);

  std::string user;
  ASSERT_TRUE(platform::GetUserNameA(&user));
  EXPECT_FALSE(user.empty());
}

}  // namespace
