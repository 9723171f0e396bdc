// The policy and task-list store, fed the opened text of a document. The seal
// is authenticated, so what can reach the parser from outside is the XML
// inside it; each run seals the input with the host's own seal services,
// writes it as the file and loads it as the cycle does, so the text takes the
// real way to the parser. Lookups, a change and a removal follow, and, for a
// text in UTF-8, a change that was saved must be found again by the next
// load.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "foundation/Cipher.h"
#include "foundation/PatchPolicyManager.h"
#include "foundation/Runtime.h"
#include "fuzz/Utf8.h"
#include "host/Runtime.h"
#include "host/services/HostServices.h"

namespace {

// Enough entries to reach duplicates and strays without making one run slow.
const size_t kMaxIdsVisited = 8;

std::string g_folder;
std::string g_file;

void RemoveFolder() {
  std::error_code ec;
  std::filesystem::remove_all(g_folder, ec);
}

void Expect(bool condition, const char* what, const std::string& id) {
  if (condition) return;
  std::fprintf(stderr, "%s (policyid \"%s\")\n", what, id.c_str());
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The host's runtime with its services, as orsa-host gives it to the
  // component; it lives as long as the process.
  auto* runtime = new orsahost::Runtime();
  orsahost::RegisterHostServices(runtime->context());
  obx::SetRuntime(runtime);

  std::string base = (std::filesystem::temp_directory_path() / "obx-fuzz-XXXXXX").string();
  if (mkdtemp(base.data()) == nullptr) {
    std::perror("mkdtemp");
    std::abort();
  }
  g_folder = base;
  g_file = g_folder + "/TaskList.xml";
  std::atexit(RemoveFolder);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string sealed;
  obx::EncryptText(obx::kPassphrase, sealed, text.data(), text.size());
  {
    std::ofstream out(g_file, std::ios::binary | std::ios::trunc);
    out << sealed;
  }

  obx::PatchPolicyManager manager;
  const bool loaded = manager.Load(g_file, false);
  Expect(loaded || manager.policyIds.empty(), "ids taken from a document that did not load", "");
  size_t visited = 0;
  for (const std::string& id : manager.policyIds) {
    if (++visited > kMaxIdsVisited) break;
    manager.GetAttribute(id, "PatchExecute", "status");
    manager.GetAttribute(id, "bootdownload", nullptr);
  }

  const std::string id = manager.policyIds.empty() ? "fuzz-new" : *manager.policyIds.begin();
  if (manager.SetAttribute(id, "PatchExecute", "status", "done") &&
      obxfuzz::IsWellFormedUtf8(text)) {
    obx::PatchPolicyManager reloaded;
    reloaded.Load(g_file, false);
    Expect(reloaded.GetAttribute(id, "PatchExecute", "status") == "done",
           "saved change not found by the next load", id);
    for (const std::string& kept : manager.policyIds) {
      Expect(reloaded.policyIds.count(kept) == 1, "entry lost by a save", kept);
    }
  }
  manager.RemovePatch(id);
  return 0;
}
