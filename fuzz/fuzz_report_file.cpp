// The report file, whatever is found in it: each run writes the input as
// reportInfo.xml in the install folder of a private state root and goes
// through what the cycle does with the file (read, collect, add, remove). A
// record added to a file that took it must be found and removable after, and
// a text read in one parse must read as a load and a second parse read it,
// and records printed must read back in parts as they do whole.
#include <stdlib.h>
#include <tinyxml.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "foundation/SettingsStore.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "records/ReportFileText.h"
#include "records/ReportInfo.h"

namespace {

const char kRecord[] =
    "<map type=\"installResultInfo\" id=\"fuzz-record\"><item><key>r1</key><value>v</value>"
    "<type>string</type></item></map>";
const char kVersionRecord[] =
    "<map type=\"versionInfo\" id=\"fuzz-version\"><item><key>client_version</key>"
    "<value>v</value><type>string</type></item></map>";

std::string g_root;
std::string g_folder;

void RemoveStateRoot() {
  std::error_code ec;
  std::filesystem::remove_all(g_root, ec);
}

void Expect(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "%s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string base = (std::filesystem::temp_directory_path() / "obx-fuzz-XXXXXX").string();
  if (mkdtemp(base.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_root = base;
  std::atexit(RemoveStateRoot);
  setenv("ORSA_ROOT", g_root.c_str(), 1);
  Expect(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", "C:\\OBX"),
         "cannot write InstallPath");
  g_folder = platform::NativePath("C:\\OBX");
  Expect(platform::CreateDirectories(g_folder), "cannot create the install folder");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A text read in one parse gives what a load and a second parse give.
  const std::string input(reinterpret_cast<const char*>(data), size);
  if (obx::ReadsAlikeAsUtf8(input)) {
    TiXmlDocument once;
    TiXmlDocument loaded;
    const bool readOnce = obx::ParseReportFile(once, input);
    Expect(readOnce == obx::ParseReportFileAsLoaded(loaded, input) &&
               (!readOnce ||
                obx::CompactText(*once.RootElement()) == obx::CompactText(*loaded.RootElement())),
           "one parse and two read the file differently");
  }
  // Its records printed again read back in parts as they do whole.
  TiXmlDocument loaded;
  if (obx::ParseReportFile(loaded, input)) {
    std::string printed;
    const bool inParts = obx::FileTextOf(*loaded.RootElement(), &printed, false, 1);
    TiXmlDocument whole;
    Expect(inParts == obx::ParseReportFile(whole, printed),
           "the printed records read back in parts and whole differently");
  }
  // Files set aside or left by the last run go first.
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(g_folder, ec)) {
    std::filesystem::remove_all(entry.path(), ec);
  }
  obx::ReportInfo reports;
  {
    std::ofstream out(platform::NativePath(reports.Path()), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }

  std::string text;
  reports.ReadRecords(text);
  reports.CollectByType(obx::kVersionInfo, text);
  if (reports.AddRecord(kRecord) == 1) {
    Expect(reports.CollectByType(obx::kInstallResultInfo, text) == 1 &&
               text.find(kRecord) != std::string::npos,
           "added record not found");
    Expect(reports.RemoveRecord(obx::kInstallResultInfo, "fuzz-record") == 1,
           "added record not removed");
    reports.CollectByType(obx::kInstallResultInfo, text);
    Expect(text.find(kRecord) == std::string::npos, "removed record still there");
  }
  reports.RemoveFirstOfType(obx::kVersionInfo);
  // Whatever the file held, a good record handed over is stored.
  const std::vector<obx::HandOverResult> handed =
      reports.HandOver(obx::kVersionInfo, {{"fuzz-version", kVersionRecord}});
  Expect(handed.size() == 1 && handed[0] == obx::HandOverResult::kStored &&
             reports.CollectByType(obx::kVersionInfo, text) == 1 &&
             text.find(kVersionRecord) != std::string::npos,
         "handed-over record not stored");
  return 0;
}
