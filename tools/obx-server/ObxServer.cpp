#include "tools/obx-server/ObxServer.h"

#include <Poco/File.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/URI.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <istream>
#include <map>
#include <stdexcept>
#include <thread>
#include <vector>

#include "foundation/Cipher.h"
#include "host/SecurityHelper.h"
#include "host/SoapCodec.h"
#include "host/ZipHelper.h"
#include "platform/StateRoot.h"
#include "tools/obx-server/ReportRecords.h"
#include "tools/obx-server/RepositoryPath.h"
#include "tools/obx-server/Wsdl.h"

namespace obxserver {

using Poco::Net::HTTPRequestHandler;
using Poco::Net::HTTPResponse;
using Poco::Net::HTTPServerRequest;
using Poco::Net::HTTPServerResponse;
namespace soap = orsahost::soap;

void ServerLog::Line(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::cerr << "obx-server: " << text << std::endl;
}

namespace {

void Send(HTTPServerResponse& response, HTTPResponse::HTTPStatus status,
          const std::string& contentType, const std::string& body) {
  response.setStatusAndReason(status);
  response.setContentType(contentType);
  response.setContentLength(static_cast<std::streamsize>(body.size()));
  response.send() << body;
}

void SendText(HTTPServerResponse& response, HTTPResponse::HTTPStatus status,
              const std::string& text) {
  Send(response, status, "text/plain; charset=utf-8", text + "\n");
}

// The answer item of every operation: one map, one item.
soap::Message OneItem(const std::string& key, const std::string& value) {
  soap::Message m;
  m.maps.push_back({soap::Item{key, value, "string"}});
  return m;
}

// The request's items by key (the first of each key wins), from its first map.
std::map<std::string, std::string> ItemsOf(const soap::Message& m) {
  std::map<std::string, std::string> items;
  if (!m.maps.empty()) {
    for (const soap::Item& item : m.maps[0]) items.emplace(item.key, item.value);
  }
  return items;
}

class SoapHandler : public HTTPRequestHandler {
 public:
  explicit SoapHandler(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}

  void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
    std::string operation = "-";
    HTTPResponse::HTTPStatus status = HTTPResponse::HTTP_OK;
    try {
      std::string body;
      if (!ReadBody(request, body)) {
        status = HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE;
        SendText(response, status, "request too large");
      } else {
        soap::Parsed parsed;
        try {
          parsed = soap::ParseEnvelope(body);
        } catch (const std::exception& e) {
          throw soap::Fault("soap:Client", e.what());
        }
        operation = parsed.wrapper;
        CheckAction(request, operation);
        const soap::Message answer = Answer(operation, ItemsOf(parsed.message));
        Send(response, status, "text/xml; charset=utf-8",
             soap::BuildEnvelope(operation + "Response", answer));
      }
    } catch (const soap::Fault& f) {
      status = HTTPResponse::HTTP_INTERNAL_SERVER_ERROR;
      SendFault(response, f.code(), f.what());
    } catch (const std::exception& e) {
      status = HTTPResponse::HTTP_INTERNAL_SERVER_ERROR;
      state_->log.Line(operation + " failed: " + e.what());
      SendFault(response, "soap:Server", e.what());
    }
    if (state_->log.Verbose()) {
      state_->log.Line(request.clientAddress().toString() + " " + request.getMethod() + " " +
                       request.getURI() + " " + operation + " " + std::to_string(status));
    }
  }

 private:
  bool ReadBody(HTTPServerRequest& request, std::string& body) {
    const size_t limit = state_->config.maxRequestBytes;
    if (request.hasContentLength() &&
        request.getContentLength64() > static_cast<Poco::Int64>(limit)) {
      return false;
    }
    std::istream& in = request.stream();
    char buffer[16384];
    while (in) {
      in.read(buffer, sizeof(buffer));
      body.append(buffer, static_cast<size_t>(in.gcount()));
      if (body.size() > limit) return false;
    }
    return true;
  }

  // A SOAPAction naming another operation than the body is a confused client.
  static void CheckAction(HTTPServerRequest& request, const std::string& operation) {
    if (!request.has("SOAPAction")) return;
    std::string action = request.get("SOAPAction");
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"') {
      action = action.substr(1, action.size() - 2);
    }
    if (!action.empty() && action != operation) {
      throw soap::Fault("soap:Client", "SOAPAction " + action + " does not match " + operation);
    }
  }

  soap::Message Answer(const std::string& operation,
                       const std::map<std::string, std::string>& items) {
    auto value = [&items](const char* key) {
      auto it = items.find(key);
      return it == items.end() ? std::string() : it->second;
    };
    if (operation == "updatePatchPolicy") {
      const PolicyAnswer policy = state_->policies.Lookup(value("computerCode"), value("version"));
      if (state_->log.Verbose()) {
        state_->log.Line("policy for computerCode=" + value("computerCode") + " version=" +
                         value("version") + ": " + (policy.file.empty() ? "none" : policy.file) +
                         (policy.sealed.empty() ? " (nothing to send)" : " (sent)"));
      }
      return OneItem("policy", policy.sealed);
    }
    if (operation == "uploadExecuteStatus" || operation == "uploadExecuteResult") {
      return OneItem("result", Record(operation, value("infos")) ? "true" : "false");
    }
    throw soap::Fault("soap:Client", "unknown operation " + operation);
  }

  // True when every record of the upload was stored.
  bool Record(const std::string& operation, const std::string& infos) {
    std::vector<ReportRecord> records;
    try {
      orsahost::SecurityHelper security;
      orsahost::ZipHelper zip;
      records = SplitReportRecords(obx::OpenWith(security, zip, obx::kPassphrase, infos));
    } catch (const std::exception& e) {
      state_->log.Line(operation + ": infos refused, nothing recorded: " + e.what());
      return false;
    }
    try {
      state_->reports.Add(operation, records);
    } catch (const std::exception& e) {
      state_->log.Line(operation + ": cannot record: " + e.what());
      return false;
    }
    if (state_->log.Verbose()) {
      state_->log.Line(operation + ": recorded " + std::to_string(records.size()) + " record(s)");
    }
    return true;
  }

  static void SendFault(HTTPServerResponse& response, const std::string& code,
                        const std::string& text) {
    // Headers may already be out when sending the answer itself failed.
    if (response.sent()) return;
    Send(response, HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, "text/xml; charset=utf-8",
         soap::BuildFault(code, text));
  }

  std::shared_ptr<ServiceState> state_;
};

// Host and port as the client wrote them; refused when it could smuggle
// markup or another authority into the description.
bool IsPlainAuthority(const std::string& host) {
  if (host.empty() || host.size() > 255) return false;
  for (char c : host) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    if (!ok) return false;
  }
  return true;
}

class WsdlHandler : public HTTPRequestHandler {
 public:
  explicit WsdlHandler(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}
  void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
    // An HTTP/1.0 client may send no Host at all; the listening address serves then.
    std::string authority =
        request.has(Poco::Net::HTTPRequest::HOST) ? request.get(Poco::Net::HTTPRequest::HOST) : "";
    if (!IsPlainAuthority(authority)) authority = request.serverAddress().toString();
    Send(response, HTTPResponse::HTTP_OK, "text/xml; charset=utf-8",
         WsdlWithAddress("http://" + authority + state_->config.servicePath));
    if (state_->log.Verbose()) {
      state_->log.Line(request.clientAddress().toString() + " GET " + request.getURI() + " 200");
    }
  }

 private:
  std::shared_ptr<ServiceState> state_;
};

// The one range of a "Range: bytes=..." header over a file of `size` bytes:
// "N-", "N-M" or "-N". False for a header that is absent, not one byte range,
// or cannot be served; `satisfiable` tells the last case apart.
bool ParseByteRange(const std::string& header, uint64_t size, uint64_t& first, uint64_t& last,
                    bool& satisfiable) {
  satisfiable = true;
  const std::string unit = "bytes=";
  if (header.compare(0, unit.size(), unit) != 0) return false;
  const std::string spec = header.substr(unit.size());
  const size_t dash = spec.find('-');
  if (dash == std::string::npos || spec.find(',') != std::string::npos) return false;
  const std::string a = spec.substr(0, dash);
  const std::string b = spec.substr(dash + 1);
  auto number = [](const std::string& t, uint64_t& v) {
    if (t.empty() || t.size() > 18 || t.find_first_not_of("0123456789") != std::string::npos)
      return false;
    v = std::stoull(t);
    return true;
  };
  uint64_t x = 0;
  uint64_t y = 0;
  if (a.empty()) {
    if (!number(b, y)) return false;
    satisfiable = y > 0 && size > 0;
    first = y >= size ? 0 : size - y;
    last = size == 0 ? 0 : size - 1;
    return satisfiable;
  }
  if (!number(a, x) || (!b.empty() && (!number(b, y) || y < x))) return false;
  satisfiable = x < size;
  first = x;
  last = b.empty() || y >= size ? size - 1 : y;
  return satisfiable;
}

class RepositoryHandler : public HTTPRequestHandler {
 public:
  RepositoryHandler(std::shared_ptr<ServiceState> state, std::string relative)
      : state_(std::move(state)), relative_(std::move(relative)) {}
  void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
    std::string file;
    HTTPResponse::HTTPStatus status = HTTPResponse::HTTP_OK;
    const std::string range = request.get("Range", "");
    switch (ResolveRepositoryPath(state_->config.repository, relative_, file)) {
      case RepositoryLookup::kRefused:
        status = HTTPResponse::HTTP_FORBIDDEN;
        SendText(response, status, "forbidden");
        break;
      case RepositoryLookup::kNotFound:
        status = HTTPResponse::HTTP_NOT_FOUND;
        SendText(response, status, "not found");
        break;
      case RepositoryLookup::kFound:
        status = SendFile(request, response, file, range);
        break;
    }
    if (state_->log.Verbose()) {
      state_->log.Line(request.clientAddress().toString() + " " + request.getMethod() + " " +
                       request.getURI() + " " + std::to_string(status) +
                       (range.empty() ? "" : " range " + range));
    }
  }

 private:
  HTTPResponse::HTTPStatus SendFile(HTTPServerRequest& request, HTTPServerResponse& response,
                                    const std::string& file, const std::string& range) {
    std::ifstream in(file, std::ios::binary);
    const uint64_t size = static_cast<uint64_t>(Poco::File(file).getSize());
    uint64_t first = 0;
    uint64_t last = size == 0 ? 0 : size - 1;
    bool satisfiable = true;
    HTTPResponse::HTTPStatus status = HTTPResponse::HTTP_OK;
    response.set("Accept-Ranges", "bytes");
    if (!range.empty() && ParseByteRange(range, size, first, last, satisfiable)) {
      status = HTTPResponse::HTTP_PARTIAL_CONTENT;
      response.set("Content-Range", "bytes " + std::to_string(first) + "-" + std::to_string(last) +
                                        "/" + std::to_string(size));
    } else if (!range.empty() && !satisfiable) {
      response.set("Content-Range", "bytes */" + std::to_string(size));
      SendText(response, HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE,
               "range not satisfiable");
      return HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE;
    }
    const uint64_t length = size == 0 ? 0 : last - first + 1;
    response.setStatusAndReason(status);
    response.setContentType("application/octet-stream");
    response.setContentLength64(static_cast<Poco::UInt64>(length));
    if (request.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD) {
      response.send();
      return status;
    }
    std::ostream& out = response.send();
    in.seekg(static_cast<std::streamoff>(first));
    // With a rate limit the body goes out in tenths of a second's worth.
    const uint64_t rate = state_->config.rateLimit;
    std::vector<char> chunk(rate > 0 ? std::max<uint64_t>(1, std::min<uint64_t>(rate / 10, 1 << 18))
                                     : size_t{1} << 18);
    uint64_t left = length;
    while (left > 0 && in && out) {
      const auto started = std::chrono::steady_clock::now();
      in.read(chunk.data(), static_cast<std::streamsize>(std::min<uint64_t>(left, chunk.size())));
      const std::streamsize n = in.gcount();
      if (n <= 0) break;
      out.write(chunk.data(), n);
      left -= static_cast<uint64_t>(n);
      if (rate > 0) {
        out.flush();
        std::this_thread::sleep_until(
            started + std::chrono::microseconds(static_cast<uint64_t>(n) * 1000000 / rate));
      }
    }
    return status;
  }

  std::shared_ptr<ServiceState> state_;
  std::string relative_;
};

class StatusHandler : public HTTPRequestHandler {
 public:
  StatusHandler(std::shared_ptr<ServiceState> state, HTTPResponse::HTTPStatus status,
                std::string text)
      : state_(std::move(state)), status_(status), text_(std::move(text)) {}
  void handleRequest(HTTPServerRequest& request, HTTPServerResponse& response) override {
    if (status_ == HTTPResponse::HTTP_METHOD_NOT_ALLOWED) response.set("Allow", "GET, POST");
    SendText(response, status_, text_);
    if (state_->log.Verbose()) {
      state_->log.Line(request.clientAddress().toString() + " " + request.getMethod() + " " +
                       request.getURI() + " " + std::to_string(status_));
    }
  }

 private:
  std::shared_ptr<ServiceState> state_;
  HTTPResponse::HTTPStatus status_;
  std::string text_;
};

class Factory : public Poco::Net::HTTPRequestHandlerFactory {
 public:
  explicit Factory(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}

  HTTPRequestHandler* createRequestHandler(const HTTPServerRequest& request) override {
    const ServerConfig& config = state_->config;
    const std::string& method = request.getMethod();
    std::string path;
    std::string query;
    try {
      Poco::URI uri(request.getURI());
      path = uri.getPath();  // decoded
      query = uri.getRawQuery();
    } catch (const std::exception&) {
      return new StatusHandler(state_, HTTPResponse::HTTP_BAD_REQUEST, "bad request");
    }
    if (path == config.servicePath) {
      if (method == Poco::Net::HTTPRequest::HTTP_POST) return new SoapHandler(state_);
      if (method == Poco::Net::HTTPRequest::HTTP_GET && (query == "wsdl" || query == "WSDL")) {
        return new WsdlHandler(state_);
      }
      return new StatusHandler(state_, HTTPResponse::HTTP_METHOD_NOT_ALLOWED,
                               "POST a SOAP request, or GET ?wsdl");
    }
    const std::string& prefix = config.repositoryPrefix;
    if (!config.repository.empty() && path.compare(0, prefix.size(), prefix) == 0) {
      if (method == Poco::Net::HTTPRequest::HTTP_GET ||
          method == Poco::Net::HTTPRequest::HTTP_HEAD) {
        return new RepositoryHandler(state_, path.substr(prefix.size()));
      }
      return new StatusHandler(state_, HTTPResponse::HTTP_METHOD_NOT_ALLOWED, "GET only");
    }
    return new StatusHandler(state_, HTTPResponse::HTTP_NOT_FOUND, "not found");
  }

 private:
  std::shared_ptr<ServiceState> state_;
};

}  // namespace

ObxServer::ObxServer(const ServerConfig& config) : state_(std::make_shared<ServiceState>(config)) {}

ObxServer::~ObxServer() { Stop(); }

void ObxServer::Start() {
  Poco::Net::ServerSocket socket;
  socket.bind(Poco::Net::SocketAddress(state_->config.listen), true);
  socket.listen(64);
  port_ = socket.address().port();

  Poco::AutoPtr<Poco::Net::HTTPServerParams> params(new Poco::Net::HTTPServerParams);
  params->setMaxThreads(16);
  params->setMaxQueued(64);
  params->setTimeout(Poco::Timespan(30, 0));
  params->setKeepAlive(true);
  params->setKeepAliveTimeout(Poco::Timespan(5, 0));
  server_ = std::make_unique<Poco::Net::HTTPServer>(new Factory(state_), socket, params);
  server_->start();

  if (!state_->config.portFile.empty() &&
      !platform::ReplaceFileAtomically(state_->config.portFile, std::to_string(port_) + "\n")) {
    Stop();
    throw std::runtime_error("cannot write the port file " + state_->config.portFile);
  }
  if (state_->log.Verbose())
    state_->log.Line("listening on " + socket.address().host().toString() + ":" +
                     std::to_string(port_) + state_->config.servicePath);
}

void ObxServer::Stop() {
  if (!server_) return;
  // Open keep-alive connections are ended too, so a client cannot hold the
  // server up.
  server_->stopAll(true);
  server_.reset();
}

}  // namespace obxserver
