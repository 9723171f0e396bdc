// obx-server's web console in a real browser: the agent runs a cycle in
// orsa-host against obx-server, then headless Chromium loads the fleet, task
// and machine pages from the server's console; the test checks the DOM the
// browser built and keeps a screenshot of each page in the build folder
// (console-screenshots/).
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Digest.h"
#include "foundation/SettingsStore.h"
#include "tests/support/AgentSettings.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostProcess.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/RegistryValues.h"
#include "tests/support/TempStateRoot.h"

namespace {

const char kChromium[] = "/usr/bin/chromium";
const char kCycleEnd[] = "************Wait for next schedule*********at lease (seconds):5";

// Chromium told to stay on loopback: every host name but 127.0.0.1 fails to
// resolve, and its background services are off. The pages are the test's
// own, so the sandbox (unavailable to root) is not needed.
obxtest::ChildOutcome Chromium(const obxtest::TempStateRoot& root,
                               const std::vector<std::string>& what, const std::string& url) {
  std::vector<std::string> args = {"90",
                                   kChromium,
                                   "--headless",
                                   "--no-sandbox",
                                   "--disable-gpu",
                                   "--no-first-run",
                                   "--no-default-browser-check",
                                   "--disable-background-networking",
                                   "--disable-component-update",
                                   "--disable-sync",
                                   "--disable-extensions",
                                   "--no-proxy-server",
                                   "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1",
                                   "--user-data-dir=" + root.Sub("chromium-profile"),
                                   "--window-size=1280,720"};
  args.insert(args.end(), what.begin(), what.end());
  args.push_back(url);
  return obxtest::RunChild(root, "/usr/bin/timeout", args);
}

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

std::string Program(const obxtest::TempStateRoot& root, const std::string& name,
                    const std::string& result1) {
  const std::string text =
      "#!/bin/sh\nREG='" + obxtest::BinDir() +
      "/orsa-reg'\nKEY='HKLM\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX\\PatchInfo\\'\"$1\""
      "\n\"$REG\" add \"$KEY\" /v Result1 /d '" +
      result1 + "' /f >/dev/null\n\"$REG\" add \"$KEY\" /v bootCheckResult /d true /f >/dev/null\n";
  obxtest::WriteFile(root.Sub("repo/" + name), text);
  return text;
}

TEST(ConsoleBrowser, PagesOfARealCycleAsTheBrowserShowsThem) {
  if (::access(kChromium, X_OK) != 0) GTEST_SKIP() << kChromium << " is not installed";
  obxtest::TempStateRoot root;
  // Two boot-only tasks that run and report (one fine, one failing), and
  // one whose download window admits no hour, so it stays pending.
  std::string policy = "<patchs version=\"1\">";
  for (const auto& t : std::vector<std::pair<std::string, std::string>>{
           {"4001", "installed"}, {"4002", "error 1603 <rollback>"}, {"4003", "never"}}) {
    std::string md5;
    const std::string text = Program(root, "b" + t.first + ".sh", t.second);
    obx::GetMd5Hex(text.data(), text.size(), md5);
    policy += "<patch policyid=\"" + t.first +
              "\"><check_os valid=\"windows\"/><bootdownload url=\"b" + t.first + ".sh\" md5=\"" +
              md5 + "\" type=\"http\" validtime=\"" + (t.first == "4003" ? "0-0" : "0-24") +
              "\"/></patch>";
  }
  obxtest::WriteFile(root.Sub("policies/default.xml"), policy + "</patchs>");

  obxtest::ObxServerProcess server(
      root,
      {"--policies", root.Sub("policies"), "--repository", root.Sub("repo"), "--repository-prefix",
       "/repo/", "--db", root.Sub("reports.db"), "--console", "127.0.0.1:0", "--verbose"});
  ASSERT_NE(server.Port(), 0) << server.Stderr();
  const std::string err = server.Stderr();
  const int console = std::atoi(err.c_str() + err.find("console listening on 127.0.0.1:") + 31);
  ASSERT_NE(console, 0) << err;

  const std::string obx = root.Sub("obx");
  std::filesystem::create_directories(obx);
  obxtest::WriteAgentSettings(obx, server.Port(), server.Port(), "", 1);
  {
    obxtest::HostProcess host(root, {"--root", root.Path()});
    const std::string log = root.Sub("logs/orsa-host.log");
    for (int i = 0; i < 1200 && Count(obxtest::ReadFile(log), kCycleEnd) < 1; ++i) {
      if (kill(host.pid(), 0) != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_GE(Count(obxtest::ReadFile(log), kCycleEnd), 1) << obxtest::ReadFile(log) << host.Err();
    kill(host.pid(), SIGTERM);
    EXPECT_EQ(0, host.WaitExit(std::chrono::seconds(30))) << host.Err();
  }

  const std::string shots = obxtest::BinDir() + "/../console-screenshots";
  std::filesystem::create_directories(shots);
  const std::string base = "http://127.0.0.1:" + std::to_string(console);
  const obxtest::ChildOutcome fleet = Chromium(root, {"--dump-dom"}, base + "/");
  ASSERT_EQ(fleet.exitCode, 0) << fleet.err;
  // The machine's page is reached through the link the fleet page shows.
  const size_t link = fleet.out.find("href=\"/machine?code=");
  ASSERT_NE(link, std::string::npos) << fleet.out;
  std::string machine = fleet.out.substr(link + 6, fleet.out.find('"', link + 6) - link - 6);
  for (size_t at; (at = machine.find("&amp;")) != std::string::npos;) machine.replace(at, 5, "&");

  struct Page {
    const char* name;
    std::string path;
    std::vector<std::string> shown;
  };
  const std::vector<Page> pages = {
      {"fleet",
       "/",
       {"1 machine; 0 not seen", "<td>default.xml</td><td></td><td>1</td><td>127.0.0.1</td>",
        // done, failed, pending
        "<td>1</td><td>1</td><td>1</td><td>seen</td>", "href=\"/task?id=4003\""}},
      {"task",
       "/task?id=4002",
       {"<h1>Task 4002</h1>", "aria-label=\"done 0, failed 1, not reported 0\"",
        "<td>error 1603 &lt;rollback&gt;</td><td></td><td></td><td></td><td></td><td>failed</td>"}},
      {"task-pending", "/task?id=4003", {"aria-label=\"done 0, failed 0, not reported 1\""}},
      {"machine",
       machine,
       {"<dt>Policy requests</dt><dd>1</dd>", "<td>installResultInfo</td>", "<td>installed</td>",
        "<td>error 1603 &lt;rollback&gt;</td>"}},
  };
  for (const Page& page : pages) {
    SCOPED_TRACE(page.name);
    const obxtest::ChildOutcome dom = Chromium(root, {"--dump-dom"}, base + page.path);
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    for (const std::string& s : page.shown)
      EXPECT_NE(dom.out.find(s), std::string::npos) << s << "\n" << dom.out;
    // Client text reaches the page as text, never as markup.
    EXPECT_EQ(dom.out.find("<rollback>"), std::string::npos);
    const std::string png = shots + "/" + page.name + ".png";
    std::filesystem::remove(png);
    const obxtest::ChildOutcome shot = Chromium(root, {"--screenshot=" + png}, base + page.path);
    EXPECT_EQ(shot.exitCode, 0) << shot.err;
    EXPECT_EQ(obxtest::ReadFile(png).substr(0, 8), "\x89PNG\r\n\x1a\n") << png;
  }
  // The browser fetched nothing but the pages: one request each, no style
  // sheet, script or image.
  EXPECT_EQ(server.Stop(), 0);
  const std::string requests = server.Stderr();
  EXPECT_EQ(Count(requests, "obx-server: console 127.0.0.1:"), 1 + 2 * int(pages.size()))
      << requests;
  EXPECT_EQ(Count(requests, " 200\n"), Count(requests, "obx-server: console 127.0.0.1:") +
                                           Count(requests, "/obx/service updatePatchPolicy 200") +
                                           Count(requests, "/obx/service upload") +
                                           Count(requests, "GET /repo/"))
      << requests;
}

}  // namespace
