// System facts, code pages and the message box on Windows. Where Wine
// answers differently from Windows, the test says so and checks what both
// must agree on.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <future>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/CodePage.h"
#include "platform/Prompt.h"
#include "platform/Registry.h"
#include "platform/StopToken.h"
#include "platform/SystemInfo.h"
#include "platform/WinError.h"
#include "platform/win32/VirtualMachineProbe.h"
#include "tests/platform/win32/ScratchRoot.h"

namespace {

using namespace platform;

bool UnderWine() {
  return ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(SystemInfoWin32, VersionRecordComesInBothFormsAndAgreesWithGetVersion) {
  OsVersionInfoEx info{};
  info.osVersionInfoSize = kOsVersionInfoExSize;
  ASSERT_TRUE(platform::GetVersionExA(&info));
  std::cout << (UnderWine() ? "Wine" : "Windows") << " reports " << info.majorVersion << "."
            << info.minorVersion << "." << info.buildNumber << " \"" << info.csdVersion
            << "\" product type " << int(info.productType) << "\n";
  EXPECT_EQ(kVerPlatformWin32Nt, info.platformId);
  EXPECT_GE(info.majorVersion, 5u);
  EXPECT_TRUE(info.productType >= kVerNtWorkstation && info.productType <= kVerNtServer);
  const uint32_t packed = platform::GetVersion();
  EXPECT_EQ(info.majorVersion, packed & 0xFF);
  EXPECT_EQ(info.minorVersion, (packed >> 8) & 0xFF);
  EXPECT_EQ(0u, packed & 0x80000000u);  // never the 9x family

  OsVersionInfoEx basic{};
  basic.osVersionInfoSize = kOsVersionInfoSize;
  basic.productType = 0xAB;
  ASSERT_TRUE(platform::GetVersionExA(&basic));
  EXPECT_EQ(info.buildNumber, basic.buildNumber);
  EXPECT_EQ(0xAB, basic.productType);  // the extended part is left alone
  OsVersionInfoEx odd{};
  odd.osVersionInfoSize = 150;
  EXPECT_FALSE(platform::GetVersionExA(&odd));
}

TEST(SystemInfoWin32, ANamedStateRootStatesItsOwnRelease) {
  obxtest::ScratchRoot root;
  OsVersionInfoEx info{};
  info.osVersionInfoSize = kOsVersionInfoExSize;
  EXPECT_FALSE(platform::GetVersionExA(&info));  // nothing stated yet
  auto text = [](const char* key, const char* name, const char* value) {
    RegChange change;
    change.kind = RegChange::kSetValue;
    change.subkey = key;
    change.name = name;
    change.type = kRegSz;
    change.data.assign(value, value + std::strlen(value) + 1);
    return change;
  };
  ASSERT_EQ(kErrorSuccess,
            RegApplyChanges({text(kCurrentVersionKey, "CurrentVersion", "5.1"),
                             text(kCurrentVersionKey, "CSDVersion", "Service Pack 3"),
                             text(kCurrentVersionKey, "CurrentBuildNumber", "2600"),
                             text(kProductOptionsKey, "ProductType", "WinNT")}));
  ASSERT_TRUE(platform::GetVersionExA(&info));
  EXPECT_EQ(5u, info.majorVersion);
  EXPECT_EQ(1u, info.minorVersion);
  EXPECT_EQ(3, info.servicePackMajor);
  EXPECT_EQ(kVerNtWorkstation, info.productType);
  EXPECT_EQ(0x0A280105u, platform::GetVersion());
}

TEST(SystemInfoWin32, MachineFactsComeFromTheSystem) {
  std::string name;
  long error = -1;
  ASSERT_TRUE(platform::GetComputerNameA(&name, &error));
  EXPECT_FALSE(name.empty());
  EXPECT_EQ(kErrorSuccess, error);
  std::string user;
  ASSERT_TRUE(platform::GetUserNameA(&user));
  EXPECT_FALSE(user.empty());
  EXPECT_EQ(std::string::npos, user.find('\0'));
  std::string desktop;
  ASSERT_TRUE(GetDesktopDirectory(&desktop));
  EXPECT_EQ(std::string::npos, desktop.find('\0'));
  // The bytes of code page 936 whatever the system's code page.
  EXPECT_EQ("\xD7\xC0\xC3\xE6", ChineseDesktopName());

  Guid first{};
  Guid second{};
  ASSERT_TRUE(platform::CoCreateGuid(&first));
  ASSERT_TRUE(platform::CoCreateGuid(&second));
  EXPECT_EQ(4, first.data3 >> 12);  // random
  EXPECT_NE(first.data1, second.data1);

  std::vector<AdapterInfo> adapters;
  ASSERT_TRUE(platform::GetAdaptersInfo(&adapters));
  for (const AdapterInfo& adapter : adapters) {
    EXPECT_NE(kAdapterTypeLoopback, adapter.type) << adapter.name;
    EXPECT_FALSE(adapter.ipAddresses.empty()) << adapter.name;
    EXPECT_LE(adapter.address.size(), 8u);
  }

  std::string serial;
  EXPECT_FALSE(GetDiskSerialNumber("C:\\not-a-disk", true, &serial));
  for (bool requireDeviceMap : {true, false}) {
    if (GetDiskSerialNumber("\\\\.\\PhysicalDrive0", requireDeviceMap, &serial)) {
      EXPECT_FALSE(serial.empty());
      EXPECT_LE(serial.size(), 20u) << "[" << serial << "]";
    } else {
      // Wine has no disk driver behind PhysicalDrive0; on Windows the disk
      // opens for reading and writing only with administrator rights.
      std::cout << "no serial for PhysicalDrive0" << (UnderWine() ? " (Wine)" : "") << "\n";
    }
  }
}

// Real hardware and Wine refuse both backdoor instructions with a fault; the
// probes catch it and answer "not virtual", however often and from however
// many threads they run.
TEST(VirtualMachineProbeWin32, BackdoorFaultsAreCaughtAndAnswerNotVirtual) {
  if (!UnderWine()) GTEST_SKIP() << "on Windows the answer depends on the machine";
  std::vector<std::future<bool>> answers;
  for (int i = 0; i < 4; ++i) {
    answers.push_back(std::async(std::launch::async, [] {
      bool any = false;
      for (int round = 0; round < 50; ++round)
        any = any || win32::VirtualPcAnswers() || win32::VmwareAnswers();
      return any;
    }));
  }
  for (std::future<bool>& answer : answers) EXPECT_FALSE(answer.get());
  EXPECT_FALSE(IsVirtualHardware());
}

TEST(CodePageWin32, ConversionsFailRatherThanGuess) {
  const std::string chineseUtf8 = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文
  const std::string chineseGbk = "\xD6\xD0\xCE\xC4";
  struct Case {
    unsigned from;
    unsigned to;
    std::string in;
    bool ok;
    std::string out;  // or the expected error as text
    long error;
  } cases[] = {
      {kCpUtf8, 936, chineseUtf8, true, chineseGbk, 0},
      {936, kCpUtf8, chineseGbk, true, chineseUtf8, 0},
      {kCpUtf8, kCpUtf16, "A\xC3\xA9", true, std::string("A\0\xE9\0", 4), 0},
      {kCpUtf8, 936, "\xC3\x28", false, "", kErrorNoUnicodeTranslation},          // invalid UTF-8
      {kCpUtf8, 936, "\xF0\x9F\x98\x80", false, "", kErrorNoUnicodeTranslation},  // not in GBK
      {kCpUtf8, 1252, "\xC4\x81", false, "", kErrorNoUnicodeTranslation},  // no best fit to "a"
      {kCpUtf16, kCpUtf8, std::string("\x00\xD8", 2), false, "", kErrorNoUnicodeTranslation},
      {kCpUtf8, 12345, "x", false, "", kErrorInvalidParameter},
  };
  for (const Case& c : cases) {
    std::string out = "unchanged";
    long error = 0;
    EXPECT_EQ(c.ok, ConvertCodePage(c.from, c.to, c.in, &out, &error)) << c.from << "->" << c.to;
    EXPECT_EQ(c.ok ? c.out : "unchanged", out);
    EXPECT_EQ(c.error, c.ok ? 0 : error);
  }
  const std::string ansi = AnsiCodePageName();
  EXPECT_TRUE(ansi == "UTF-8" || ansi == "CP" + std::to_string(::GetACP())) << ansi;
}

TEST(PromptWin32, TheQuitRequestClosesTheQuestion) {
  StopSource early;
  early.RequestStop();
  {
    ScopedStopToken current(early.Token());
    EXPECT_EQ(PromptAnswer::kStopped, SystemPrompt().Ask("text", "caption", kMbOk).way);
  }
  StopSource source;
  std::promise<PromptAnswer> answer;
  std::thread asker([&] {
    ScopedStopToken current(source.Token());
    answer.set_value(SystemPrompt().Ask("Install now?", "Patch", kMbOkCancel));
  });
  ::Sleep(300);
  source.RequestStop();
  const PromptAnswer got = answer.get_future().get();
  asker.join();
  if (got.way == PromptAnswer::kNoUser) {
    // MessageBoxA fails where there is no display to show it on (Wine
    // without X); the answer is OK and says nobody was asked.
    std::cout << "no display: MessageBoxA failed" << (UnderWine() ? " (Wine)" : "") << "\n";
    EXPECT_EQ(kIdOk, got.button);
  } else {
    EXPECT_EQ(PromptAnswer::kStopped, got.way);
    EXPECT_EQ(0, got.button);
  }
}

}  // namespace
