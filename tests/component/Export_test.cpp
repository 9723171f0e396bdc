// libobxconsole.so as the host sees it: one exported symbol, loaded with
// dlopen, the console created through the metadata it hands out.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <future>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "foundation/SettingsStore.h"
#include "orsa/IClassMeta.h"
#include "orsa/IConsoleExt.h"
#include "orsa/INet.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

std::string LibraryPath() { return std::string(OBX_LIB_DIR) + "/libobxconsole.so"; }

std::vector<std::string> DefinedDynamicSymbols(const std::string& library) {
  std::vector<std::string> names;
  std::string command = "nm -D --defined-only '" + library + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return names;
  char line[1024];
  while (fgets(line, sizeof line, pipe) != nullptr) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) names.push_back(name);
  }
  pclose(pipe);
  return names;
}

TEST(ConsoleLibrary, ExportsOnlyItsEntryPoint) {
  EXPECT_EQ(std::vector<std::string>{"OrsaExportClass"}, DefinedDynamicSymbols(LibraryPath()));
}

class LoadedConsoleLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    // The worker runs the real cycle; its files belong in the temporary root,
    // not in whatever folder the test runs from.
    ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", root.Path()));
    handle = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(nullptr, handle) << dlerror();
    exportClass = reinterpret_cast<OrsaExportClassFn>(dlsym(handle, "OrsaExportClass"));
    ASSERT_NE(nullptr, exportClass);
  }
  void TearDown() override {
    if (handle) dlclose(handle);
  }

  obxtest::TempStateRoot root;  // before the library reads its settings
  obxtest::FakeRuntime runtime;
  void* handle = nullptr;
  OrsaExportClassFn exportClass = nullptr;
};

TEST_F(LoadedConsoleLibrary, ExportHandsOutOneMetadataForTheConsole) {
  orsa::ClassMetaArray* classes = reinterpret_cast<orsa::ClassMetaArray*>(1);
  exportClass(&classes, &runtime);
  ASSERT_NE(nullptr, classes);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);  // the host owns the array
  ASSERT_EQ(1u, classes->size());
  orsa::IClassMetaPtr meta = classes->at(0);
  ASSERT_TRUE(meta);
  EXPECT_STREQ("obx::IOBXConsoleImpl", meta->getName());
  EXPECT_FALSE(meta->isAbstract());
  EXPECT_TRUE(meta->supports(orsa::IConsoleExt::kTypeName));
  EXPECT_FALSE(meta->supports(nullptr));
  EXPECT_FALSE(meta->supports("obx::IOBXConsoleImpl"));
  orsa::StringArrayPtr supers = meta->getSupers();
  ASSERT_TRUE(supers);
  ASSERT_EQ(1u, supers->size());
  EXPECT_EQ(orsa::IConsoleExt::kTypeName, supers->at(0));
}

TEST_F(LoadedConsoleLibrary, ConsoleMadeThroughTheMetadataStartsAndStopsWithTheGivenRuntime) {
  orsa::ClassMetaArray* classes = nullptr;
  exportClass(&classes, &runtime);
  ASSERT_NE(nullptr, classes);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);
  {
    orsa::IOrsaObjectPtr object = classes->at(0)->createObject(0);
    ASSERT_TRUE(object);
    // The host finds the extension interface by a cross cast over the
    // library boundary.
    boost::shared_ptr<orsa::IConsoleExt> console =
        boost::dynamic_pointer_cast<orsa::IConsoleExt>(object);
    ASSERT_TRUE(console);
    EXPECT_TRUE(console->start());
    EXPECT_FALSE(console->start());
    EXPECT_TRUE(console->stop());
    EXPECT_TRUE(console->start());
    // Released while running: the destructor stops it.
  }
  // The library logs through the runtime it was handed.
  EXPECT_EQ(2, runtime.Count("*************start************"));
  EXPECT_EQ(2, runtime.Count("Could not Load p2p comosite for runtime path is null"));
  EXPECT_EQ(1, runtime.Count("the task thread has been started already"));
  for (const obxtest::LogLine& line : runtime.Lines()) {
    if (line.source == "IOBXConsoleImpl") {
      EXPECT_EQ("IOBXConsoleImpl", line.channel);
    }
  }
}

// A host service, built into this executable, called by the library's worker.
class QuitWatchingP2p : public orsa::net::IP2pDownload {
 public:
  int download(const std::string&, const std::string&, int) override { return 0; }
  int setServerHost(const std::string&, int, int) override {
    seen = platform::CurrentStopToken();
    called.set_value();
    return 0;
  }
  platform::StopToken seen;  // written before `called` is set
  std::promise<void> called;
};

TEST_F(LoadedConsoleLibrary, HostServicesCalledByTheWorkerSeeItsQuitRequest) {
  auto p2p = boost::make_shared<QuitWatchingP2p>();
  runtime.Register<orsa::net::IP2pDownload>(p2p);
  std::future<void> called = p2p->called.get_future();
  orsa::ClassMetaArray* classes = nullptr;
  exportClass(&classes, &runtime);
  ASSERT_NE(nullptr, classes);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);
  orsa::IOrsaObjectPtr object = classes->at(0)->createObject(0);
  auto console = boost::dynamic_pointer_cast<orsa::IConsoleExt>(object);
  ASSERT_TRUE(console);
  ASSERT_TRUE(console->start());
  // The worker runs the library's copy of the thread code, this service this
  // executable's copy of the wait code; both must use one quit request.
  called.get();
  EXPECT_TRUE(p2p->seen.Stoppable());
  EXPECT_FALSE(p2p->seen.StopRequested());
  EXPECT_TRUE(console->stop());
  EXPECT_TRUE(p2p->seen.StopRequested());  // the request stop made
}

TEST_F(LoadedConsoleLibrary, ExportWithoutAResultPlaceDoesNotCrash) {
  exportClass(nullptr, &runtime);
  orsa::ClassMetaArray* classes = nullptr;
  exportClass(&classes, &runtime);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);
  ASSERT_NE(nullptr, classes);
  EXPECT_EQ(1u, classes->size());
}

TEST(ConsoleLibrary, StaysLoadedAfterTheHostClosesIt) {
  // A worker abandoned by stop may still run the library's code, so closing
  // the library must not unmap it.
  void* handle = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, handle) << dlerror();
  dlclose(handle);
  void* again = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  EXPECT_NE(nullptr, again);
  if (again) dlclose(again);
}

}  // namespace
