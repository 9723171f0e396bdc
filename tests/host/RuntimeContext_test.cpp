#include "host/RuntimeContext.h"

#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <boost/weak_ptr.hpp>
#include <thread>

#include "host/Runtime.h"
#include "host/services/HostServices.h"
#include "orsa/INet.h"
#include "orsa/ISdo.h"
#include "orsa/ISecurityHelper.h"
#include "orsa/IWebServiceInvoker.h"
#include "orsa/IZipHelper.h"
#include "orsa/Seal.h"
#include "orsa/ServiceLookup.h"
#include "tests/support/TempStateRoot.h"

namespace {

// A plain registry object that serves no interface of the host.
struct Plain : orsa::IOrsaObject {
  explicit Plain(int id = 0) : id(id) {}
  int id;
};

class FakeP2p : public orsa::net::IP2pDownload {
 public:
  explicit FakeP2p(int id) : id(id) {}
  int download(const std::string&, const std::string&, int) override { return id; }
  int setServerHost(const std::string&, int, int) override { return 0; }
  int id;
};

const char kP2p[] = "orsa::net::IP2pDownload";

int IdOf(const orsa::IOrsaObjectPtr& o) { return boost::dynamic_pointer_cast<Plain>(o)->id; }

TEST(NamePattern, WildcardMatching) {
  struct Case {
    const char* pattern;
    const char* name;
    bool match;
  } cases[] = {
      {"", "anything", true},
      {"*", "", true},
      {"*", "orsa.p2p", true},
      {"orsa.p2p", "orsa.p2p", true},
      {"orsa.p2p", "orsa.p2", false},
      {"orsa.p2", "orsa.p2p", false},
      {"orsa.*", "orsa.p2p", true},
      {"orsa.*", "orsa.", true},
      {"orsa.*", "orsa", false},
      {"*.p2p", "orsa.p2p", true},
      {"*.p2p", "orsa.p2p.x", false},
      {"o*a*p", "orsa.p2p", true},
      {"*p2p*", "my.p2p.service", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXcYb", false},
      {"**", "x", true},
      {"ORSA.*", "orsa.p2p", false},  // names are case-sensitive
  };
  for (const Case& c : cases)
    EXPECT_EQ(orsahost::MatchesNamePattern(c.pattern, c.name), c.match)
        << "pattern \"" << c.pattern << "\" name \"" << c.name << "\"";
}

TEST(RuntimeContext, GetObjectsKeepsRegistrationOrderAndFiltersByType) {
  orsahost::RuntimeContext context;
  ASSERT_TRUE(context.registerObject("c", {kP2p}, boost::make_shared<Plain>(1)));
  ASSERT_TRUE(context.registerObject("a", {"other::IType"}, boost::make_shared<Plain>(2)));
  ASSERT_TRUE(context.registerObject("b", {"other::IType", kP2p}, boost::make_shared<Plain>(3)));

  orsa::OrsaObjectArrayPtr p2p = context.getObjects(kP2p, "", 3);
  ASSERT_TRUE(p2p);
  ASSERT_EQ(p2p->size(), 2u);
  EXPECT_EQ(IdOf((*p2p)[0]), 1);
  EXPECT_EQ(IdOf((*p2p)[1]), 3);

  orsa::OrsaObjectArrayPtr named = context.getObjects("other::IType", "b*", 3);
  ASSERT_EQ(named->size(), 1u);
  EXPECT_EQ(IdOf((*named)[0]), 3);

  orsa::OrsaObjectArrayPtr none = context.getObjects("missing::IType", "*", 3);
  ASSERT_TRUE(none);
  EXPECT_TRUE(none->empty());
}

TEST(RuntimeContext, GetObjectFindsExactNameOnly) {
  orsahost::RuntimeContext context;
  context.registerObject("orsa.p2p", {kP2p}, boost::make_shared<Plain>(5));
  ASSERT_TRUE(context.getObject("orsa.p2p", 3));
  EXPECT_EQ(IdOf(context.getObject("orsa.p2p", 3)), 5);
  EXPECT_FALSE(context.getObject("orsa.*", 3));
  EXPECT_FALSE(context.getObject("orsa.p2", 3));
  EXPECT_FALSE(context.getObject("", 3));
}

TEST(RuntimeContext, RegistrationRules) {
  orsahost::RuntimeContext context;
  EXPECT_FALSE(context.registerObject("x", {kP2p}, orsa::IOrsaObjectPtr()));
  EXPECT_FALSE(context.registerObject("", {kP2p}, boost::make_shared<Plain>(1)));
  EXPECT_TRUE(context.registerObject("x", {kP2p, kP2p, ""}, boost::make_shared<Plain>(1)));
  EXPECT_FALSE(context.registerObject("x", {kP2p}, boost::make_shared<Plain>(2)));  // name taken
  ASSERT_EQ(context.getObjects(kP2p, "", 3)->size(), 1u);  // a repeated type counts once
  EXPECT_TRUE(context.getObjects("", "", 3)->empty());
  EXPECT_EQ(IdOf(context.getObject("x", 3)), 1);
}

TEST(RuntimeContext, RemovalByNameByOwnerAndClear) {
  orsahost::RuntimeContext context;
  boost::weak_ptr<Plain> watch;
  {
    auto object = boost::make_shared<Plain>(1);
    watch = object;
    context.registerObject("host", {kP2p}, object);
  }
  context.registerObject("c1", {kP2p}, boost::make_shared<Plain>(2), 7);
  context.registerObject("c2", {kP2p}, boost::make_shared<Plain>(3), 7);
  context.registerObject("other", {kP2p}, boost::make_shared<Plain>(4), 8);

  std::vector<orsa::IOrsaObjectPtr> removed = context.removeObjectsOf(7);
  ASSERT_EQ(removed.size(), 2u);
  EXPECT_EQ(IdOf(removed[0]), 3);  // newest first
  EXPECT_EQ(IdOf(removed[1]), 2);
  EXPECT_EQ(context.names(), (std::vector<std::string>{"host", "other"}));

  EXPECT_TRUE(context.unregisterObject("other"));
  EXPECT_FALSE(context.unregisterObject("other"));
  EXPECT_TRUE(context.registerObject("other", {kP2p}, boost::make_shared<Plain>(9)));

  EXPECT_FALSE(watch.expired());
  context.clear();
  EXPECT_TRUE(watch.expired());  // the registry held the last reference
  EXPECT_TRUE(context.names().empty());
}

TEST(RuntimeContext, ConcurrentRegistrationAndLookupLoseNothing) {
  orsahost::RuntimeContext context;
  const int kThreads = 4, kEach = 200;
  std::atomic<bool> go{false};
  std::atomic<int> lookups{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      while (!go) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        context.registerObject("t" + std::to_string(t) + "." + std::to_string(i), {kP2p},
                               boost::make_shared<Plain>(t * kEach + i));
        orsa::OrsaObjectArrayPtr mine = context.getObjects(kP2p, "t" + std::to_string(t) + ".*", 3);
        if (mine->size() == static_cast<uint32_t>(i + 1)) ++lookups;
      }
    });
  }
  go = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(lookups.load(), kThreads * kEach);
  EXPECT_EQ(context.getObjects(kP2p, "*", 3)->size(), static_cast<uint32_t>(kThreads * kEach));
}

// The lookup every user of the host makes, through the host's real runtime.
TEST(ServiceLookup, FindsFirstRegisteredObjectOfTheInterface) {
  orsahost::Runtime runtime;
  runtime.context().registerObject("first", {kP2p}, boost::make_shared<FakeP2p>(11));
  runtime.context().registerObject("second", {kP2p}, boost::make_shared<FakeP2p>(22));
  boost::shared_ptr<orsa::net::IP2pDownload> p2p =
      orsa::getService<orsa::net::IP2pDownload>(&runtime);
  ASSERT_TRUE(p2p);
  EXPECT_EQ(p2p->download("", "", 0), 11);
}

TEST(ServiceLookup, EmptyRegistryGivesEmptyResult) {
  orsahost::Runtime runtime;
  EXPECT_FALSE(orsa::getService<orsa::net::IP2pDownload>(&runtime));
  // Another interface's object does not answer for this one.
  runtime.context().registerObject("plain", {"other::IType"}, boost::make_shared<Plain>());
  EXPECT_FALSE(orsa::getService<orsa::net::IP2pDownload>(&runtime));
}

TEST(ServiceLookup, ObjectOfWrongTypeThrowsTheCastText) {
  orsahost::Runtime runtime;
  runtime.context().registerObject("liar", {kP2p}, boost::make_shared<Plain>());
  try {
    orsa::getService<orsa::net::IP2pDownload>(&runtime);
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Can't cast service to the specified type, please check the config.");
  }
}

TEST(ServiceLookup, NoRuntimeContextThrows) {
  try {
    orsa::getService<orsa::net::IP2pDownload>(nullptr);
    FAIL() << "no exception";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Null runtime context.");
  }
}

TEST(HostServices, SealServicesAreFoundAndWorkTogether) {
  obxtest::TempStateRoot root;
  orsahost::Runtime runtime;
  orsahost::RegisterHostServices(runtime.context());
  orsahost::RegisterHostServices(runtime.context());  // a second call adds nothing
  EXPECT_EQ(runtime.context().getObjects(orsa::security::ISecurityHelper::kTypeName, "", 3)->size(),
            1u);
  ASSERT_TRUE(orsa::getService<orsa::security::ISecurityHelper>(&runtime));
  ASSERT_TRUE(orsa::getService<orsa::zip::IZipHelper>(&runtime));
  ASSERT_TRUE(orsa::getService<orsa::sdo::ISdoHelper>(&runtime));
  ASSERT_TRUE(orsa::getService<orsa::ws::IWebServiceInvoker>(&runtime));
  ASSERT_TRUE(orsa::getService<orsa::net::IDownloader>(&runtime));

  const std::string text = "<PatchPolicy version=\"3\"/>";
  auto security = orsa::getService<orsa::security::ISecurityHelper>(&runtime);
  auto zip = orsa::getService<orsa::zip::IZipHelper>(&runtime);
  const std::string sealed =
      orsa::SealWith(*security, *zip, orsa::kPassphrase, text.data(), text.size());
  ASSERT_FALSE(sealed.empty());
  EXPECT_EQ(sealed.find("PatchPolicy"), std::string::npos);
  EXPECT_EQ(orsa::OpenWith(*security, *zip, orsa::kPassphrase, sealed), text);
}

}  // namespace
