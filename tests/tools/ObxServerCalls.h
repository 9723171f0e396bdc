#pragma once
// Calls on an obx-server process the way an agent makes them, and its
// command line, for the tests of the server's fleet side.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A loopback connection whose reads give up after 20 s, so a server that
// never answers fails the test instead of hanging it; -1 on failure.
inline int Connect(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  timeval limit{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sends `data`, then reads until the server closes (or the read limit).
inline std::string Exchange(int port, const std::string& data) {
  const int fd = Connect(port);
  if (fd < 0) return "";
  (void)!::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
  std::string answer;
  char buffer[4096];
  ssize_t n;
  while ((n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0)
    answer.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return answer;
}

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
