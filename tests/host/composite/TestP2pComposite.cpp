// A composite library for the host's tests: serves a fake peer-to-peer
// download service. It "stores" a file only after it was given a folder, so a
// test can tell the registered object is a live one.
#include "orsa/INet.h"
#include "tests/host/composite/TestClassMeta.h"

namespace {

class FakeP2pDownload : public orsa::net::IP2pDownload {
 public:
  int download(const std::string& md5, const std::string& fileName, int) override {
    return !folder_.empty() && md5.size() == 32 && !fileName.empty() ? 1 : 0;
  }
  int setServerHost(const std::string& folder, int port, int peerPort) override {
    if (port <= 0 || peerPort <= 0) return 1;
    folder_ = folder;
    return 0;
  }

 private:
  std::string folder_;
};

}  // namespace

OBX_TEST_EXPORT void OrsaExportClass(orsa::ClassMetaArray** classes, orsa::IRuntime*) {
  *classes = new orsa::ClassMetaArray(1);
  (**classes)[0] = boost::make_shared<obxtest::TestClassMeta<FakeP2pDownload>>(
      "TestP2pDownload", std::vector<std::string>{orsa::net::IP2pDownload::kTypeName});
}
