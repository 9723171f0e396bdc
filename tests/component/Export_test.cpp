// The component library as the host sees it: loaded through the platform,
// the console created through the metadata its export hands out.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <cstdio>
#include <future>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/SettingsStore.h"
#include "orsa/IClassMeta.h"
#include "orsa/IConsoleExt.h"
#include "orsa/INet.h"
#include "platform/SharedLibrary.h"
#include "platform/StopToken.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

class LoadedConsoleLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    // The worker runs the real cycle; its files belong in the temporary root,
    // not in whatever folder the test runs from.
    ASSERT_TRUE(obx::WriteRegString(obx::HKLM, obx::kModuleKey, "InstallPath", root.Path()));
    std::string error;
    handle = platform::OpenSharedLibrary(OBX_CONSOLE_LIBRARY, &error);
    ASSERT_NE(nullptr, handle) << error;
    exportClass = reinterpret_cast<OrsaExportClassFn>(
        platform::SharedLibrarySymbol(handle, "OrsaExportClass"));
    ASSERT_NE(nullptr, exportClass);
  }
  void TearDown() override { platform::CloseSharedLibrary(handle); }

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

// A host service of this executable that throws into the library's worker:
// the exception crosses the module boundary and is caught there (on Windows
// this needs one C++ runtime in the process, not one per module).
class ThrowingP2p : public orsa::net::IP2pDownload {
 public:
  int download(const std::string&, const std::string&, int) override { return 0; }
  int setServerHost(const std::string&, int, int) override {
    struct Called {
      std::promise<void>& p;
      ~Called() { p.set_value(); }
    } called{thrown};
    throw std::runtime_error("peer service down");
  }
  std::promise<void> thrown;
};

TEST_F(LoadedConsoleLibrary, ExceptionOfAHostServiceIsCaughtInsideTheLibrary) {
  auto p2p = boost::make_shared<ThrowingP2p>();
  runtime.Register<orsa::net::IP2pDownload>(p2p);
  std::future<void> thrown = p2p->thrown.get_future();
  orsa::ClassMetaArray* classes = nullptr;
  exportClass(&classes, &runtime);
  ASSERT_NE(nullptr, classes);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);
  auto console = boost::dynamic_pointer_cast<orsa::IConsoleExt>(classes->at(0)->createObject(0));
  ASSERT_TRUE(console);
  ASSERT_TRUE(console->start());
  thrown.get();
  EXPECT_TRUE(console->stop());
  EXPECT_EQ(1, runtime.Count("Failed to access P2P host,error info:peer service down"));
}

TEST_F(LoadedConsoleLibrary, ExportWithoutAResultPlaceDoesNotCrash) {
  exportClass(nullptr, &runtime);
  orsa::ClassMetaArray* classes = nullptr;
  exportClass(&classes, &runtime);
  std::unique_ptr<orsa::ClassMetaArray> owned(classes);
  ASSERT_NE(nullptr, classes);
  EXPECT_EQ(1u, classes->size());
}

}  // namespace
