// Class metadata, creator, proxy and the type names the host matches.
#include <gtest/gtest.h>

#include <boost/make_shared.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "component/IOBXConsoleImpl.h"
#include "foundation/Log.h"
#include "orsa/IConsoleExt.h"
#include "orsa/INet.h"
#include "orsa/OrsaObjectCreator.h"
#include "orsa/OrsaObjectMeta.h"
#include "text/TypeName.h"

namespace {

// Counts live objects so the tests see whether a whole object was destroyed.
class Probe {
 public:
  Probe() { ++live; }
  virtual ~Probe() { --live; }
  virtual int Answer() const { return 42; }
  static int live;
};
int Probe::live = 0;

typedef orsa::OrsaObjectCreator<Probe> ProbeCreator;

TEST(TypeName, ReadableNamesMatchWhatTheHostLooksFor) {
  EXPECT_EQ(orsa::IConsoleExt::kTypeName, textutil::TypeNameOf<orsa::IConsoleExt>());
  EXPECT_EQ("obx::IOBXConsoleImpl", textutil::TypeNameOf<obx::IOBXConsoleImpl>());
  EXPECT_EQ(orsa::net::IP2pDownload::kTypeName, textutil::TypeNameOf<orsa::net::IP2pDownload>());
}

TEST(TypeName, ChannelOfClassBoundLogger) {
  struct Case {
    const char* typeName;
    const char* channel;
  };
  const Case cases[] = {
      {"obx::IOBXConsoleImpl", "IOBXConsoleImpl"},
      {"a::b::OBXWebService", "OBXWebService"},
      {"class OBXWebService", "OBXWebService"},
      {"class a::B", "B"},  // the namespace rule comes first
      {"struct Item", "struct Item"},
      {"OBXWebService", "OBXWebService"},
      {"ends::", ""},
      {"", ""},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.channel, obx::ChannelOfTypeName(c.typeName)) << c.typeName;
  EXPECT_EQ("IOBXConsoleImpl", obx::IOBXConsoleImpl::Channel());
}

TEST(OrsaObjectMeta, NameSupersAndAbstractness) {
  orsa::OrsaObjectMeta meta("obx::Thing", {"orsa::IZeta", "orsa::IAlpha", "orsa::IZeta"},
                            new ProbeCreator);
  EXPECT_STREQ("obx::Thing", meta.getName());
  EXPECT_FALSE(meta.isAbstract());
  EXPECT_TRUE(meta.supports("orsa::IAlpha"));
  EXPECT_TRUE(meta.supports("orsa::IZeta"));
  EXPECT_FALSE(meta.supports(nullptr));
  EXPECT_FALSE(meta.supports("obx::Thing"));
  EXPECT_FALSE(meta.supports("orsa::IAlpha "));
  EXPECT_FALSE(meta.supports(""));

  orsa::StringArrayPtr supers = meta.getSupers();
  ASSERT_TRUE(supers);
  ASSERT_EQ(2u, supers->size());  // a set: the duplicate is gone, order is the set's
  EXPECT_EQ("orsa::IAlpha", supers->at(0));
  EXPECT_EQ("orsa::IZeta", supers->at(1));
  EXPECT_NE(supers.get(), meta.getSupers().get());  // a new array each time
}

TEST(OrsaObjectMeta, AbstractClassRefusesToCreate) {
  orsa::OrsaObjectMeta meta("obx::Abstract", {"orsa::IConsoleExt"}, nullptr);
  EXPECT_TRUE(meta.isAbstract());
  try {
    meta.createObject(0);
    FAIL() << "created an abstract class";
  } catch (const std::exception& e) {
    EXPECT_STREQ("Can not create abstract obx::Abstract", e.what());
  }
}

TEST(OrsaObjectCreator, CreateRunsInitHookAndReleaseRunsDestroyHook) {
  std::vector<std::string> events;
  std::vector<Probe*> seen;
  auto* creator = new ProbeCreator(
      [&](Probe* p) {
        events.push_back("init");
        seen.push_back(p);
      },
      [&](Probe* p) {
        events.push_back("destroy");
        seen.push_back(p);
      });
  orsa::OrsaObjectMeta meta("Probe", {"Probe"}, creator);
  {
    orsa::IOrsaObjectPtr object = meta.createObject(0x1234);
    ASSERT_TRUE(object);
    EXPECT_EQ(1, Probe::live);
    EXPECT_EQ(std::vector<std::string>{"init"}, events);

    boost::shared_ptr<Probe> probe = boost::dynamic_pointer_cast<Probe>(object);
    ASSERT_TRUE(probe);
    EXPECT_EQ(42, probe->Answer());
    EXPECT_EQ(seen[0], probe.get());

    auto service = boost::dynamic_pointer_cast<orsa::OrsaServiceObject>(object);
    ASSERT_TRUE(service);
    EXPECT_EQ(0x1234u, service->getContext());
    service->setContext(7);
    EXPECT_EQ(7u, service->getContext());
  }
  EXPECT_EQ(0, Probe::live);
  EXPECT_EQ((std::vector<std::string>{"init", "destroy"}), events);
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ(seen[0], seen[1]);
}

TEST(OrsaObjectCreator, ThrowingDestroyHookStillDeletesTheObject) {
  int destroyCalls = 0;
  ProbeCreator creator(ProbeCreator::Hook(), [&](Probe*) {
    ++destroyCalls;
    throw std::runtime_error("hook failed");
  });
  {
    orsa::IOrsaObjectPtr object = creator.create(0);
    EXPECT_EQ(1, Probe::live);
  }
  EXPECT_EQ(1, destroyCalls);
  EXPECT_EQ(0, Probe::live);

  creator.destroyObject(nullptr);  // nothing, and the hook is not called
  EXPECT_EQ(1, destroyCalls);
}

TEST(OrsaObjectCreator, ThrowingInitHookLeavesNoObjectBehind) {
  int destroyCalls = 0;
  ProbeCreator creator([](Probe*) { throw std::runtime_error("init failed"); },
                       [&](Probe*) { ++destroyCalls; });
  EXPECT_THROW(creator.create(0), std::runtime_error);
  EXPECT_EQ(0, Probe::live);
  EXPECT_EQ(1, destroyCalls);
}

TEST(OrsaServiceObjectProxy, DeletingThroughEitherFaceDestroysTheWholeObject) {
  Probe* asProbe = new orsa::OrsaServiceObjectProxy<Probe>(1);
  EXPECT_EQ(1, Probe::live);
  delete asProbe;
  EXPECT_EQ(0, Probe::live);

  orsa::OrsaServiceObject* asService = new orsa::OrsaServiceObjectProxy<Probe>(2);
  EXPECT_EQ(2u, asService->getContext());
  EXPECT_EQ(1, Probe::live);
  delete asService;
  EXPECT_EQ(0, Probe::live);
}

}  // namespace
