#pragma once
// The HTTP side of obx-server: the SOAP service path (POST for the three
// operations, GET ?wsdl for the description) and the download repository,
// served through the HttpFrontEnd.
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/obx-server/AnswerSigner.h"
#include "tools/obx-server/HttpFrontEnd.h"
#include "tools/obx-server/PolicyStore.h"
#include "tools/obx-server/ReportStore.h"

namespace obxserver {

struct ServerConfig {
  std::string listen = "127.0.0.1:7080";  // ADDR:PORT; port 0 picks a free one
  std::string portFile;                   // written once listening; "" for none
  std::string policies;                   // policy folder; "" for none
  std::string repository;                 // download folder; "" for none
  std::string repositoryPrefix = "/download/";
  std::string servicePath = "/obx/service";
  std::string groups;    // groups file; "" for none
  std::string db;        // report database: SQLite file or PostgreSQL URL (required)
  bool verbose = false;  // one stderr line per request
  // The web console: ADDR:PORT to listen on ("" for none), the file of its
  // password hash ("" for none) and the days after which a machine is marked.
  std::string console;
  std::string consolePasswordFile;
  double consoleStaleDays = 7;

  FrontEndLimits http;  // workers, time-outs, body size, connections
  // An upload's `infos` once opened, and the records it may hold.
  size_t maxInflatedBytes = size_t{16} << 20;
  size_t maxRecords = 2000;
  uint64_t rateLimit = 0;  // bytes a second per download; 0: no limit
  // Private key files and their numbers (0: the number the file states). A
  // request naming one of these numbers gets its answer signed with it.
  std::vector<std::pair<uint32_t, std::string>> signingKeys;
};

// Lines on stderr, never interleaved.
class ServerLog {
 public:
  explicit ServerLog(bool verbose) : verbose_(verbose) {}
  bool Verbose() const { return verbose_; }
  void Line(const std::string& text);

 private:
  bool verbose_;
  std::mutex mutex_;
};

// What the request handlers share; lives as long as the server.
struct ServiceState {
  ServiceState(const ServerConfig& c)
      : config(c), policies(c.policies), reports(OpenReportStore(c.db, false)), log(c.verbose) {
    for (const auto& key : c.signingKeys) signer.Add(key.second, key.first);
    const std::string problem = LoadGroups();
    if (!problem.empty()) throw std::runtime_error(problem);
  }
  // Reads the groups file again; "" when its groups are in use, else why
  // not (the groups in use then stay).
  std::string LoadGroups();
  ServerConfig config;
  PolicyStore policies;
  std::unique_ptr<ReportStore> reports;
  ServerLog log;
  AnswerSigner signer;
  // Held while a large request is worked on: one at a time, so the memory
  // of several never adds up.
  std::mutex largeRequest;
};

// Threads: Start and Stop from one controlling thread; requests are served
// on the front end's workers. Failures: Start throws (std::exception or
// Poco::Exception) when the database cannot be opened, the address is bad
// or the socket cannot listen (a port another process listens on is refused,
// never shared).
class ObxServer {
 public:
  explicit ObxServer(const ServerConfig& config);
  ~ObxServer();

  // Listens, says so on stderr ("listening on ADDR:PORT"), then writes the
  // port file (atomically).
  void Start();
  uint16_t Port() const { return port_; }
  uint16_t ConsolePort() const { return consolePort_; }
  // Reads the groups file again (SIGHUP): "" when it took effect, else why
  // not; the groups in use then stay.
  std::string ReloadGroups() { return state_->LoadGroups(); }
  // Stops accepting, ends the open connections and waits for the pool.
  void Stop();

 private:
  std::shared_ptr<ServiceState> state_;
  std::unique_ptr<HttpFrontEnd> server_;
  std::unique_ptr<HttpFrontEnd> console_;
  uint16_t port_ = 0;
  uint16_t consolePort_ = 0;
};

}  // namespace obxserver
