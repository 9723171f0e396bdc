#pragma once
// The fixture of the result-record tests: a test machine with two adapters, a
// machine id and a scripted server, and the records read back item by item.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <boost/make_shared.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/SettingsStore.h"
#include "platform/MachineFacts.h"
#include "tests/support/FakeRuntime.h"
#include "tests/support/ManualClock.h"
#include "tests/support/ScriptedInvoker.h"
#include "tests/support/TestMachine.h"

namespace reporttest {

using obxtest::ScriptedInvoker;

constexpr const char* kInstallPath = "C:\\OBX";

inline platform::AdapterInfo Adapter(const std::string& name, uint32_t type,
                                     std::vector<unsigned char> address,
                                     std::vector<std::string> ips) {
  platform::AdapterInfo a;
  a.name = name;
  a.description = name;
  a.type = type;
  a.address = std::move(address);
  a.ipAddresses = std::move(ips);
  return a;
}

struct Item {
  std::string key;
  std::string value;
  std::string type;
  bool operator==(const Item& o) const {
    return key == o.key && value == o.value && type == o.type;
  }
};

inline void PrintTo(const Item& item, std::ostream* os) {
  *os << "{" << item.key << "=" << item.value << ":" << item.type << "}";
}

inline std::string Text(const TiXmlElement* parent, const char* name) {
  const TiXmlElement* e = parent->FirstChildElement(name);
  return e && e->GetText() ? e->GetText() : "";
}

// The items of one record text, read back by an XML parser; a record that
// does not parse gives one item keyed "<parse error>".
inline std::vector<Item> ParseItems(const std::string& record) {
  TiXmlDocument doc;
  doc.Parse(record.c_str(), nullptr, TIXML_ENCODING_UTF8);
  if (doc.Error() || doc.RootElement() == nullptr) return {{"<parse error>", doc.ErrorDesc(), ""}};
  std::vector<Item> items;
  for (const TiXmlElement* item = doc.RootElement()->FirstChildElement("item"); item != nullptr;
       item = item->NextSiblingElement("item"))
    items.push_back({Text(item, "key"), Text(item, "value"), Text(item, "type")});
  return items;
}

class ReportTaskResultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    obxtest::InstallClientRuntime(runtime_, invoker_);
    obxtest::WriteServerSettingsForTest("h", 7);
    folder_ = machine_.SetModuleFolder(kInstallPath);
    machine_.clock.SetLocal(platform::LocalTime{2026, 12, 1, 7, 9, 5, 3, 0});
    facts_.adapters = {
        Adapter("eth0", 6, {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e}, {"10.0.0.5", "10.0.0.6"}),
        Adapter("wlan0", 71, {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}, {"192.168.1.2"})};
    facts_.computerName = "PC-01";
    machine_.SetMachineId("CODE");  // computer code "Q09ERQ=="
  }

  void SetResult(const std::string& id, const std::string& name, const std::string& value) {
    obx::WriteRegString(obx::HKLM, std::string(obx::kPatchInfoKey) + "\\" + id, name, value);
  }

  std::vector<std::string> StoredRecords() const {
    TiXmlDocument doc;
    if (!doc.LoadFile((folder_ + "/reportInfo.xml").c_str()) || !doc.RootElement())
      return {"<unreadable>"};
    std::vector<std::string> records;
    for (const TiXmlElement* e = doc.RootElement()->FirstChildElement(); e;
         e = e->NextSiblingElement()) {
      std::string text;
      text << *e;
      records.push_back(text);
    }
    return records;
  }

  obxtest::TestMachine machine_;
  obxtest::FakeMachine& facts_ = machine_.facts;
  obxtest::FakeRuntime runtime_;
  boost::shared_ptr<ScriptedInvoker> invoker_ = boost::make_shared<ScriptedInvoker>();
  std::string folder_;
};

}  // namespace reporttest
