// The host's data objects: properties, lists and reference counting.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "host/services/DataObject.h"
#include "host/services/SdoHelper.h"
#include "orsa/IWebServiceInvoker.h"

namespace {

using orsa::sdo::DataObjectPtr;
using orsahost::DataObject;
using orsahost::SdoHelper;

TEST(Sdo, NewObjectKeepsNamespaceAndTypeAndHasNoProperties) {
  SdoHelper helper;
  DataObjectPtr item = helper.createDataObject(orsa::ws::kObxNamespace, "Item");
  ASSERT_TRUE(item);
  EXPECT_EQ(item->getNamespace(), "urn:obx:patch:1");
  EXPECT_EQ(item->getType(), "Item");
  EXPECT_EQ(item->getCString("key"), "");
  EXPECT_EQ(item->getList("map").size(), 0u);
}

TEST(Sdo, StringPropertiesAreSetReplacedAndKeptApart) {
  SdoHelper helper;
  DataObjectPtr item = helper.createDataObject(orsa::ws::kObxNamespace, "Item");
  item->setCString("key", "computerCode");
  item->setCString("value", "a<b&c");
  item->setCString("value", std::string("x\0y", 3));
  item->setCString("type", "");
  EXPECT_EQ(item->getCString("key"), "computerCode");
  EXPECT_EQ(item->getCString("value"), std::string("x\0y", 3));
  EXPECT_EQ(item->getCString("type"), "");
  EXPECT_EQ(item->getCString("Key"), "") << "property names are case-sensitive";
}

TEST(Sdo, ListIsCreatedOnceAndIndependentOfStringOfSameName) {
  SdoHelper helper;
  DataObjectPtr map = helper.createDataObject(orsa::ws::kObxNamespace, "Map");
  orsa::sdo::IDataObjectList& first = map->getList("item");
  EXPECT_EQ(&first, &map->getList("item"));
  map->setCString("item", "text");
  first.append(helper.createDataObject(orsa::ws::kObxNamespace, "Item"));
  EXPECT_EQ(map->getList("item").size(), 1u);
  EXPECT_EQ(map->getCString("item"), "text");
}

TEST(Sdo, ListKeepsOrderAndRefusesIndexPastEnd) {
  SdoHelper helper;
  DataObjectPtr map = helper.createDataObject(orsa::ws::kObxNamespace, "Map");
  orsa::sdo::IDataObjectList& items = map->getList("item");
  for (const char* key : {"computerCode", "userName", "version", "osVersion"}) {
    DataObjectPtr item = helper.createDataObject(orsa::ws::kObxNamespace, "Item");
    item->setCString("key", key);
    items.append(item);
  }
  ASSERT_EQ(items.size(), 4u);
  EXPECT_EQ(items.get(0)->getCString("key"), "computerCode");
  EXPECT_EQ(items.get(3)->getCString("key"), "osVersion");
  EXPECT_THROW(items.get(4), std::out_of_range);
  EXPECT_THROW(helper.createDataObject("", "Map")->getList("item").get(0), std::out_of_range);
}

TEST(Sdo, EmptyPointerThrowsNullPointer) {
  DataObjectPtr empty;
  EXPECT_FALSE(empty);
  try {
    empty->getList("map");
    FAIL() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "NullPointer");
  }
  // An empty pointer stored in a list comes back empty.
  SdoHelper helper;
  DataObjectPtr message = helper.createDataObject(orsa::ws::kObxNamespace, "Message");
  message->getList("map").append(DataObjectPtr());
  EXPECT_THROW(message->getList("map").get(0)->getList("item"), std::runtime_error);
}

TEST(Sdo, TreeLivesWhileReferencedAndIsFreedWithLastPointer) {
  const long before = DataObject::LiveCountForTest();
  SdoHelper helper;
  {
    DataObjectPtr message = helper.createDataObject(orsa::ws::kObxNamespace, "Message");
    {
      DataObjectPtr map = helper.createDataObject(orsa::ws::kObxNamespace, "Map");
      DataObjectPtr item = helper.createDataObject(orsa::ws::kObxNamespace, "Item");
      item->setCString("value", "kept");
      map->getList("item").append(item);
      message->getList("map").append(map);
    }
    // The local pointers are gone; the lists keep the objects alive.
    EXPECT_EQ(DataObject::LiveCountForTest(), before + 3);
    DataObjectPtr copy = message;
    DataObjectPtr assigned;
    assigned = copy;
    DataObjectPtr& alias = assigned;
    assigned = alias;  // self-assignment must not drop the object
    message = DataObjectPtr();
    EXPECT_EQ(assigned->getList("map").get(0)->getList("item").get(0)->getCString("value"), "kept");
    EXPECT_EQ(DataObject::LiveCountForTest(), before + 3);
  }
  EXPECT_EQ(DataObject::LiveCountForTest(), before);
}

}  // namespace
