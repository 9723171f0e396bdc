#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "host/CompositeManifest.h"
#include "host/Runtime.h"
#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/INet.h"
#include "orsa/Seal.h"
#include "orsa/ServiceLookup.h"
#include "platform/StateRoot.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/TempStateRoot.h"

namespace {

const std::string kP2pLibrary = OBX_TEST_TESTP2PCOMPOSITE;
const std::string kNoExportLibrary = OBX_TEST_NOEXPORT;
const char kP2p[] = "orsa::net::IP2pDownload";

orsahost::CompositeManifest P2pManifest(const std::string& library = kP2pLibrary) {
  orsahost::CompositeManifest m;
  m.library = library;
  m.services = {kP2p};
  return m;
}

// Expects `f` to throw std::runtime_error whose text names `path` and holds `part`.
template <class F>
void ExpectFailure(F f, const std::string& path, const std::string& part) {
  try {
    f();
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    std::string what = e.what();
    EXPECT_NE(what.find(path), std::string::npos) << what;
    EXPECT_NE(what.find(part), std::string::npos) << what;
  }
}

class CompositeTest : public ::testing::Test {
 protected:
  CompositeTest() : runtime(logs.getLogManager()) {}
  std::string Write(const orsahost::CompositeManifest& m, const std::string& name = "p2p.composite",
                    const std::string& passphrase = orsa::kPassphrase) {
    std::string path = root.Sub("Components/" + name);
    orsahost::WriteComposite(path, m, passphrase);
    return path;
  }
  size_t P2pCount() { return runtime.context().getObjects(kP2p, "", 3)->size(); }

  obxtest::TempStateRoot root;
  obxtest::FakeRuntime logs;  // records the runtime's own log lines
  orsahost::Runtime runtime;
};

TEST(CompositeManifest, ParsesWhatItFormats) {
  orsahost::CompositeManifest m;
  m.library = "liborsap2p.so";
  m.services = {kP2p, "orsa::net::IOther"};
  orsahost::CompositeManifest back =
      orsahost::ParseCompositeManifest(orsahost::FormatCompositeManifest(m));
  EXPECT_EQ(back.library, m.library);
  EXPECT_EQ(back.services, m.services);
}

TEST(CompositeManifest, RefusesMalformedText) {
  struct Case {
    const char* text;
    const char* reason;
  } cases[] = {
      {"", "not a composite manifest"},
      {"library=a.so\n", "not a composite manifest"},
      {"orsa-composite 2\nlibrary=a.so\n", "not a composite manifest"},
      {"orsa-composite 1\n", "no library named"},
      {"orsa-composite 1\nlibrary=a.so\nlibrary=b.so\n", "library named twice"},
      {"orsa-composite 1\nlibrary=a.so\nlibary=b.so\n", "unknown key \"libary\""},
      {"orsa-composite 1\nlibrary=a.so\nservice\n", "not key=value"},
      {"orsa-composite 1\nlibrary=\n", "empty value"},
  };
  for (const Case& c : cases) {
    try {
      orsahost::ParseCompositeManifest(c.text);
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const std::runtime_error& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
          << c.text << " -> " << e.what();
    }
  }
  // Comments, blank lines and surrounding blanks are allowed.
  orsahost::CompositeManifest m = orsahost::ParseCompositeManifest(
      "# made by hand\n\norsa-composite 1\r\n  library = a.so \nservice=x\n");
  EXPECT_EQ(m.library, "a.so");
  EXPECT_EQ(m.services, std::vector<std::string>{"x"});
}

TEST_F(CompositeTest, ServiceBecomesVisibleOnlyAfterActivation) {
  std::string path = Write(P2pManifest());
  orsa::IOrsaObjectPtr composite = runtime.loadComposite(path, orsa::kPassphrase);
  EXPECT_TRUE(composite);
  composite.reset();  // the component drops it at once; the composite stays loaded
  EXPECT_EQ(P2pCount(), 0u);

  EXPECT_TRUE(runtime.activateComposites());
  ASSERT_EQ(P2pCount(), 1u);
  EXPECT_TRUE(runtime.context().getObject("TestP2pDownload", 3));

  boost::shared_ptr<orsa::net::IP2pDownload> p2p =
      orsa::getService<orsa::net::IP2pDownload>(&runtime);
  ASSERT_TRUE(p2p);
  // The object is live code of the loaded library: it stores only once it has a folder.
  EXPECT_EQ(p2p->download("0123456789abcdef0123456789abcdef", "patch.exe", 0), 0);
  EXPECT_EQ(p2p->setServerHost("C:\\update", 20100, 20100), 0);
  EXPECT_EQ(p2p->download("0123456789abcdef0123456789abcdef", "patch.exe", 0), 1);
  p2p.reset();

  // A second activation finds nothing new and registers nothing twice.
  EXPECT_TRUE(runtime.activateComposites());
  EXPECT_EQ(P2pCount(), 1u);
}

TEST_F(CompositeTest, LoadingTheSameFileTwiceKeepsOneComposite) {
  std::string path = Write(P2pManifest());
  runtime.loadComposite(path, orsa::kPassphrase);
  runtime.activateComposites();
  runtime.loadComposite(path, orsa::kPassphrase);
  runtime.activateComposites();
  EXPECT_EQ(runtime.compositePaths().size(), 1u);
  EXPECT_EQ(P2pCount(), 1u);
  // The passphrase is checked on every load, also for a loaded composite.
  ExpectFailure([&] { runtime.loadComposite(path, "wrong"); }, path, "does not open");
}

TEST_F(CompositeTest, WrongPassphraseThrowsAndLoadsNothing) {
  std::string path = Write(P2pManifest());
  for (const std::string& wrong :
       {std::string(), std::string("Grey owls hum softly over the marsh oK"),
        std::string(orsa::kPassphrase) + " "}) {
    ExpectFailure([&] { runtime.loadComposite(path, wrong); }, path, "does not open");
  }
  EXPECT_TRUE(runtime.compositePaths().empty());
}

TEST_F(CompositeTest, ChangedByteAnywhereThrows) {
  std::string path = Write(P2pManifest());
  const std::string good = obxtest::ReadFile(path);
  // Every position of a small file; the services must notice each change.
  for (size_t i = 0; i < good.size(); ++i) {
    std::string bad = good;
    bad[i] = bad[i] == 'A' ? 'B' : 'A';
    obxtest::WriteFile(path, bad);
    ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path, "composite");
  }
  obxtest::WriteFile(path, good.substr(0, good.size() - 4));
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path, "does not open");
  EXPECT_TRUE(runtime.compositePaths().empty());
}

TEST_F(CompositeTest, StoredFileIsSealedAndPlainOrForeignTextIsRefused) {
  std::string path = Write(P2pManifest());
  std::string stored = obxtest::ReadFile(path);
  EXPECT_EQ(stored.find("library"), std::string::npos);
  EXPECT_EQ(stored.find("IP2pDownload"), std::string::npos);

  obxtest::WriteFile(path, orsahost::FormatCompositeManifest(P2pManifest()));
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path, "does not open");

  // Sealed with the right passphrase, but not a manifest.
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  const std::string junk = "<PatchPolicy/>";
  obxtest::WriteFile(path,
                     orsa::SealWith(security, zip, orsa::kPassphrase, junk.data(), junk.size()));
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path, "bad manifest");
  EXPECT_TRUE(runtime.compositePaths().empty());
}

TEST_F(CompositeTest, MissingFileThrows) {
  std::string path = root.Sub("Components/orsap2p.composite");
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path, "file not found");
}

TEST_F(CompositeTest, MissingLibraryThrows) {
  std::string path = Write(P2pManifest(root.Sub("nowhere/liborsap2p.so")));
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path,
                "cannot load library " + root.Sub("nowhere/liborsap2p.so"));
  EXPECT_TRUE(runtime.compositePaths().empty());
}

TEST_F(CompositeTest, LibraryWithoutExportThrows) {
  std::string path = Write(P2pManifest(kNoExportLibrary));
  ExpectFailure([&] { runtime.loadComposite(path, orsa::kPassphrase); }, path,
                "has no export OrsaExportClass");
}

TEST_F(CompositeTest, RelativeLibraryResolvesBesideTheManifest) {
  std::filesystem::create_directories(root.Sub("Components"));
  std::filesystem::copy_file(kP2pLibrary, root.Sub("Components/liborsap2p.so"));
  std::string path = Write(P2pManifest("liborsap2p.so"));
  // The process's own folder must not matter.
  std::string cwd = std::filesystem::current_path().string();
  std::filesystem::current_path("/");
  runtime.loadComposite(path, orsa::kPassphrase);
  std::filesystem::current_path(cwd);
  EXPECT_TRUE(runtime.activateComposites());
  EXPECT_EQ(P2pCount(), 1u);
}

TEST(CompositeManifest, LibraryResolvesBesideTheManifestWithItsSeparator) {
  struct Case {
    const char* composite;
    const char* library;
    const char* expected;
  } cases[] = {
      {"/opt/orsa/Components/orsap2p.composite", "liborsap2p.so",
       "/opt/orsa/Components/liborsap2p.so"},
      {"/orsap2p.composite", "liborsap2p.so", "/liborsap2p.so"},
      {"orsap2p.composite", "liborsap2p.so", "./liborsap2p.so"},
      {"/opt/x.composite", "/usr/lib/liborsap2p.so", "/usr/lib/liborsap2p.so"},
      {"C:\\Program Files\\Orsa\\Components\\orsap2p.composite", "orsap2p.dll",
       "C:\\Program Files\\Orsa\\Components\\orsap2p.dll"},
      {"C:\\Orsa\\Components\\orsap2p.composite", "D:\\p2p\\orsap2p.dll", "D:\\p2p\\orsap2p.dll"},
  };
  for (const Case& c : cases) {
    orsahost::CompositeManifest m;
    m.library = c.library;
    EXPECT_EQ(orsahost::ResolveCompositeLibrary(c.composite, m), c.expected) << c.composite;
  }
}

TEST_F(CompositeTest, WindowsStylePathFromTheComponentMapsIntoTheStateRoot) {
  // The component joins the framework folder and "Components/orsap2p.composite".
  orsahost::WriteComposite("C:\\orsa\\Components/orsap2p.composite", P2pManifest(),
                           orsa::kPassphrase);
  EXPECT_TRUE(std::filesystem::exists(root.Sub("drive_c/orsa/Components/orsap2p.composite")));
  runtime.loadComposite("C:\\orsa\\Components/orsap2p.composite", orsa::kPassphrase);
  EXPECT_TRUE(runtime.activateComposites());
  EXPECT_EQ(P2pCount(), 1u);
}

TEST_F(CompositeTest, UnservedManifestServiceFailsActivationAndRegistersNothing) {
  orsahost::CompositeManifest m = P2pManifest();
  m.services.push_back("orsa::net::INotThere");
  std::string path = Write(m);
  runtime.loadComposite(path, orsa::kPassphrase);
  EXPECT_FALSE(runtime.activateComposites());
  EXPECT_EQ(P2pCount(), 0u);
  EXPECT_TRUE(logs.HasPrefix("composite " + path +
                             ": activation failed: no class serves orsa::net::INotThere"));
  EXPECT_EQ(logs.Lines().back().level, orsa::kLogError);
}

TEST_F(CompositeTest, ClassNameTakenByAnEarlierCompositeFailsOnlyTheLaterOne) {
  std::string first = Write(P2pManifest(), "first.composite");
  std::string second = Write(P2pManifest(), "second.composite");
  runtime.loadComposite(first, orsa::kPassphrase);
  ASSERT_TRUE(runtime.activateComposites());
  runtime.loadComposite(second, orsa::kPassphrase);
  EXPECT_FALSE(runtime.activateComposites());
  EXPECT_TRUE(
      logs.Has("composite " + second +
               ": activation failed: the name \"TestP2pDownload\" is empty or registered already"));
  EXPECT_EQ(P2pCount(), 1u);
  EXPECT_EQ(runtime.compositePaths().size(), 2u);
}

TEST_F(CompositeTest, ShutdownReleasesObjectsBeforeTheirMetadataAndLibrary) {
  std::string path = Write(P2pManifest());
  runtime.loadComposite(path, orsa::kPassphrase);
  ASSERT_TRUE(runtime.activateComposites());
  // The test library aborts when its metadata goes while an object lives;
  // reaching the next line means the order was right.
  runtime.shutdown();
  EXPECT_EQ(P2pCount(), 0u);
  EXPECT_TRUE(runtime.compositePaths().empty());
  runtime.shutdown();  // a second call has nothing left to do
}

TEST_F(CompositeTest, ObjectStillHeldAtShutdownKeepsItsLibraryLoaded) {
  std::string path = Write(P2pManifest());
  runtime.loadComposite(path, orsa::kPassphrase);
  ASSERT_TRUE(runtime.activateComposites());
  orsa::IOrsaObjectPtr held = runtime.context().getObject("TestP2pDownload", 3);
  runtime.shutdown();
  EXPECT_TRUE(
      logs.Has("composite " + path + ": objects still in use at shutdown; library left loaded"));
  // The code behind the object is still mapped: calling it works.
  auto p2p = boost::dynamic_pointer_cast<orsa::net::IP2pDownload>(held);
  ASSERT_TRUE(p2p);
  EXPECT_EQ(p2p->setServerHost("/tmp", 20100, 20100), 0);
}

TEST(CompositeTool, MadeByOrsaHostLoads) {
  obxtest::TempStateRoot root;
  std::string path = root.Sub("Components/orsap2p.composite");
  std::string command = obxtest::BinDir() + "/orsa-host --make-composite '" + path +
                        "' --library '" + kP2pLibrary + "' --service " + kP2p;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  orsahost::Runtime runtime;
  runtime.loadComposite(path, orsa::kPassphrase);
  EXPECT_TRUE(runtime.activateComposites());
  EXPECT_EQ(runtime.context().getObjects(kP2p, "", 3)->size(), 1u);

  // Another passphrase given to the tool is the one that opens the file.
  command += " --passphrase other";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  orsahost::Runtime second;
  EXPECT_THROW(second.loadComposite(path, orsa::kPassphrase), std::runtime_error);
  EXPECT_NO_THROW(second.loadComposite(path, "other"));

  // Without a library the tool refuses with a usage error.
  int status = std::system(
      (obxtest::BinDir() + "/orsa-host --make-composite '" + path + "' 2>/dev/null").c_str());
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
}

}  // namespace
