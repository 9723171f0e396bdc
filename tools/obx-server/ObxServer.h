#pragma once
// The HTTP side of obx-server: the SOAP service path (POST for the three
// operations, GET ?wsdl for the description) and the download repository.
#include <Poco/Net/HTTPServer.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "tools/obx-server/PolicyStore.h"
#include "tools/obx-server/ReportDatabase.h"

namespace obxserver {

struct ServerConfig {
  std::string listen = "127.0.0.1:7080";  // ADDR:PORT; port 0 picks a free one
  std::string portFile;                   // written once listening; "" for none
  std::string policies;                   // policy folder; "" for none
  std::string repository;                 // download folder; "" for none
  std::string repositoryPrefix = "/download/";
  std::string servicePath = "/obx/service";
  std::string db;          // report database file (required)
  bool verbose = false;    // one stderr line per request
  uint64_t rateLimit = 0;  // bytes a second per download; 0: no limit
  size_t maxRequestBytes = size_t{64} << 20;
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
      : config(c), policies(c.policies), reports(c.db, false), log(c.verbose) {}
  ServerConfig config;
  PolicyStore policies;
  ReportDatabase reports;
  ServerLog log;
};

// Threads: Start and Stop from one controlling thread; requests are served
// on the server's own pool. Failures: Start throws (std::exception or
// Poco::Exception) when the database cannot be opened, the address is bad
// or the socket cannot listen.
class ObxServer {
 public:
  explicit ObxServer(const ServerConfig& config);
  ~ObxServer();

  // Listens, then writes the port file (atomically).
  void Start();
  uint16_t Port() const { return port_; }
  // Stops accepting, ends the open connections and waits for the pool.
  void Stop();

 private:
  std::shared_ptr<ServiceState> state_;
  std::unique_ptr<Poco::Net::HTTPServer> server_;
  uint16_t port_ = 0;
};

}  // namespace obxserver
