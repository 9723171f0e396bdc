#pragma once
// Calls on an obx-server process the way an agent makes them, and its
// command line, for the tests of the server's fleet side.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "host/services/SecurityHelper.h"
#include "host/services/WebServiceInvoker.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "tests/host/WebServiceInvokerTest.h"
#include "tests/support/ObxServerProcess.h"
#include "tests/support/ShellCommand.h"

namespace obxservertest {

inline std::string SoapCall(const obxtest::ObxServerProcess& server, const std::string& operation,
                            const std::vector<std::pair<std::string, std::string>>& items) {
  orsa::sdo::DataObjectPtr request = webserviceinvokertest::MakeMessage({items});
  orsa::sdo::DataObjectPtr response;
  orsahost::WebServiceInvoker invoker;
  invoker.invoke(server.Url("/obx/service").c_str(), operation.c_str(), &request, &response, 0, 0,
                 0, 0);
  return response->getList("map").get(0)->getList("item").get(0)->getCString("value");
}

// The `version` attribute of the policy the server sends `code`; "-" for none.
inline std::string PolicyVersion(const obxtest::ObxServerProcess& server, const std::string& code,
                                 const std::string& os, const std::string& held = "") {
  const std::string sealed = SoapCall(
      server, "updatePatchPolicy",
      {{"computerCode", code}, {"userName", "u<1>"}, {"version", held}, {"osVersion", os}});
  if (sealed.empty()) return "-";
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  const std::string text = orsa::OpenWith(security, zip, orsa::kPassphrase, sealed);
  const size_t at = text.find("version=\"") + 9;
  return text.substr(at, text.find('"', at) - at);
}

// A record as the agent writes it, items in its order.
inline std::string AgentRecord(const std::string& id, const std::string& code,
                               const std::string& host, const std::string& r1) {
  std::string items;
  for (const auto& kv :
       std::vector<std::pair<std::string, std::string>>{{"policy_id", id},
                                                        {"ip", "10.0.0.5"},
                                                        {"user_name", "alice"},
                                                        {"host", host},
                                                        {"computer_code", code},
                                                        {"mac", ""},
                                                        {"client_time", "2026-12-08 10:00:00"},
                                                        {"r1", r1},
                                                        {"r2", ""},
                                                        {"r3", ""},
                                                        {"r4", ""},
                                                        {"r5", ""}}) {
    items += "<item><key>" + kv.first + "</key><value>" + kv.second +
             "</value><type>string</type></item>";
  }
  return "<map type=\"installResultInfo\" id=\"" + id + "\" >" + items + "</map>";
}

inline std::string UploadRecords(const obxtest::ObxServerProcess& server,
                                 const std::string& records) {
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  const std::string message = "<message>" + records + "</message>";
  return SoapCall(server, "uploadExecuteResult",
                  {{"infos", orsa::SealWith(security, zip, orsa::kPassphrase, message.data(),
                                            message.size())}});
}

inline std::string Tool(const std::string& args, const std::string& cwd) {
  const obxtest::CommandResult r =
      obxtest::RunCommand(obxtest::Quote(obxtest::BinDir() + "/obx-server") + " " + args, cwd);
  EXPECT_EQ(r.status, 0) << args << "\n" << r.err;
  return r.out;
}

}  // namespace obxservertest
