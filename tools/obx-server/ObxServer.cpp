#include "tools/obx-server/ObxServer.h"

#include <Poco/File.h>
#include <Poco/FileStream.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/URI.h>
#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <iostream>
#include <map>
#include <stdexcept>

#include "host/services/LogManager.h"
#include "host/services/SecurityHelper.h"
#include "host/services/SoapCodec.h"
#include "host/services/ZipHelper.h"
#include "orsa/AnswerSignature.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "tools/obx-server/Console.h"
#include "tools/obx-server/ReportRecords.h"
#include "tools/obx-server/RepositoryPath.h"
#include "tools/obx-server/Wsdl.h"

namespace obxserver {

using Poco::Net::HTTPResponse;
namespace soap = orsahost::soap;

void ServerLog::Line(const std::string& text) {
  // Client text (a computer code, a path, a parser's complaint about a body)
  // reaches these lines; escaped, it cannot pass for lines of its own.
  const std::string line = orsahost::OneLine(text);
  std::lock_guard<std::mutex> lock(mutex_);
  std::cerr << "obx-server: " << line << std::endl;
}

std::string ServiceState::LoadGroups() {
  if (config.groups.empty()) return std::string();
  try {
    PolicyStore check(config.policies);
    check.SetGroups(PolicyGroups::Read(config.groups));
    const std::vector<std::string> missing = check.MissingGroupPolicies();
    if (!missing.empty()) return config.groups + ": " + missing.front();
    policies.SetGroups(PolicyGroups::Read(config.groups));
  } catch (const std::exception& e) {
    return e.what();
  }
  return std::string();
}

namespace {

// A body or an opened `infos` above this size, or an `infos` with more markup
// than this, is a large request: worked on one at a time, and the memory it
// took is handed back to the system afterwards. (A parsed element costs a few
// hundred bytes, so markup weighs far more than text.)
constexpr size_t kLargeRequest = size_t{1} << 20;
constexpr size_t kLargeMarkup = 16384;
// A SOAP envelope of the three operations has a few dozen elements; far more
// markup is a parser bomb, refused before a parser sees it.
constexpr size_t kMaxEnvelopeMarkup = 4096;
// An agent's record has about a hundred; the bound per allowed record.
constexpr size_t kMarkupPerRecord = 128;

// What an XML parser makes nodes of: '<' starts every element, comment and
// other markup, '=' every attribute. Counting both bounds the parsed tree
// whatever the text, at the price of counting such characters in text too.
size_t MarkupCount(const std::string& xml) {
  return static_cast<size_t>(
      std::count_if(xml.begin(), xml.end(), [](char c) { return c == '<' || c == '='; }));
}

HttpReply Xml(HTTPResponse::HTTPStatus status, const std::string& body) {
  HttpReply reply;
  reply.head.setStatusAndReason(status);
  reply.head.setContentType("text/xml; charset=utf-8");
  reply.body = body;
  return reply;
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

// The one range of a "Range: bytes=..." header over a file of `size` bytes:
// "N-", "N-M" or "-N". False for a header that is not one byte range (the
// whole file is sent) or cannot be served (`satisfiable` false: 416).
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

// Routes a complete request and answers it; one per request, on a worker.
class Service {
 public:
  explicit Service(std::shared_ptr<ServiceState> state) : state_(std::move(state)) {}

  HttpReply Handle(HttpRequest& request) {
    std::string operation;
    HttpReply reply = Route(request, operation);
    if (state_->log.Verbose()) {
      const std::string range = request.head.get("Range", "");
      state_->log.Line(request.client.toString() + " " + request.head.getMethod() + " " +
                       request.head.getURI() + (operation.empty() ? "" : " " + operation) + " " +
                       std::to_string(reply.head.getStatus()) +
                       (range.empty() ? "" : " range " + range));
    }
    return reply;
  }

 private:
  HttpReply Route(HttpRequest& request, std::string& operation) {
    const ServerConfig& config = state_->config;
    const std::string& method = request.head.getMethod();
    std::string path;
    std::string query;
    try {
      Poco::URI uri(request.head.getURI());
      path = uri.getPath();  // decoded
      query = uri.getRawQuery();
    } catch (const std::exception&) {
      return TextReply(HTTPResponse::HTTP_BAD_REQUEST, "bad request");
    }
    if (path == config.servicePath) {
      if (method == Poco::Net::HTTPRequest::HTTP_POST) {
        operation = "-";
        std::unique_lock<std::mutex> large(state_->largeRequest, std::defer_lock);
        if (request.body.size() > kLargeRequest) large.lock();
        HttpReply reply = Soap(request, operation, large);
        // Everything the request took is free again; without this the
        // allocator would keep the peak of a large request for good.
        if (large.owns_lock()) malloc_trim(0);
        return reply;
      }
      if (method == Poco::Net::HTTPRequest::HTTP_GET && (query == "wsdl" || query == "WSDL")) {
        return Wsdl(request);
      }
      return NotAllowed("GET, POST", "POST a SOAP request, or GET ?wsdl");
    }
    const std::string& prefix = config.repositoryPrefix;
    if (!config.repository.empty() && path.compare(0, prefix.size(), prefix) == 0) {
      if (method == Poco::Net::HTTPRequest::HTTP_GET ||
          method == Poco::Net::HTTPRequest::HTTP_HEAD) {
        return Repository(request, path.substr(prefix.size()));
      }
      return NotAllowed("GET, HEAD", "GET only");
    }
    return TextReply(HTTPResponse::HTTP_NOT_FOUND, "not found");
  }

  static HttpReply NotAllowed(const std::string& allow, const std::string& text) {
    HttpReply reply = TextReply(HTTPResponse::HTTP_METHOD_NOT_ALLOWED, text);
    reply.head.set("Allow", allow);
    return reply;
  }

  HttpReply Soap(HttpRequest& request, std::string& operation,
                 std::unique_lock<std::mutex>& large) {
    if (MarkupCount(request.body) > kMaxEnvelopeMarkup) {
      return TextReply(HTTPResponse::HTTP_REQUEST_ENTITY_TOO_LARGE, "request too large");
    }
    // A request naming a nonce and a key number has its answer signed; the
    // digest is taken before the body is let go.
    std::string nonce;
    uint32_t keyId = 0;
    std::string requestDigest;
    if (!state_->signer.Empty() &&
        orsa::ws::ParseNonceText(request.head.get(orsa::ws::kNonceHeader, ""), nonce) &&
        orsa::ws::ParseKeyId(request.head.get(orsa::ws::kKeyHeader, ""), keyId)) {
      requestDigest = AnswerSigner::Sha256(request.body);
    }
    try {
      soap::Parsed parsed;
      try {
        parsed = soap::ParseEnvelope(request.body);
      } catch (const std::exception& e) {
        throw soap::Fault("soap:Client", e.what());
      }
      std::string().swap(request.body);
      operation = parsed.wrapper;
      CheckAction(request, operation);
      const soap::Message answer =
          Answer(operation, ItemsOf(parsed.message), request.client.host().toString(), large);
      HttpReply reply =
          Xml(HTTPResponse::HTTP_OK, soap::BuildEnvelope(operation + "Response", answer));
      if (!requestDigest.empty()) {
        // An unknown key number leaves the answer unsigned: the agent refuses it.
        const std::string signature = state_->signer.Sign(keyId, requestDigest, reply.body, nonce);
        if (!signature.empty()) reply.head.set(orsa::ws::kSignatureHeader, signature);
        if (state_->log.Verbose()) {
          state_->log.Line(operation + ": key " + std::to_string(keyId) +
                           (signature.empty() ? " not held, answer unsigned" : ", answer signed"));
        }
      }
      return reply;
    } catch (const soap::Fault& f) {
      return Xml(HTTPResponse::HTTP_INTERNAL_SERVER_ERROR, soap::BuildFault(f.code(), f.what()));
    } catch (const std::exception& e) {
      state_->log.Line(operation + " failed: " + e.what());
      return Xml(HTTPResponse::HTTP_INTERNAL_SERVER_ERROR,
                 soap::BuildFault("soap:Server", e.what()));
    }
  }

  // A SOAPAction naming another operation than the body is a confused client.
  static void CheckAction(const HttpRequest& request, const std::string& operation) {
    if (!request.head.has("SOAPAction")) return;
    std::string action = request.head.get("SOAPAction");
    if (action.size() >= 2 && action.front() == '"' && action.back() == '"') {
      action = action.substr(1, action.size() - 2);
    }
    if (!action.empty() && action != operation) {
      throw soap::Fault("soap:Client", "SOAPAction " + action + " does not match " + operation);
    }
  }

  soap::Message Answer(const std::string& operation,
                       const std::map<std::string, std::string>& items, const std::string& client,
                       std::unique_lock<std::mutex>& large) {
    auto value = [&items](const char* key) {
      auto it = items.find(key);
      return it == items.end() ? std::string() : it->second;
    };
    if (operation == "updatePatchPolicy") {
      const std::string code = value("computerCode");
      const PolicyAnswer policy = state_->policies.Lookup(
          code, value("version"), code.empty() ? "" : state_->reports->HostOf(code),
          value("osVersion"));
      if (state_->log.Verbose()) {
        state_->log.Line("policy for computerCode=" + code + " version=" + value("version") + ": " +
                         (policy.file.empty() ? "none" : policy.file) +
                         (policy.group.empty() ? "" : " (group " + policy.group + ")") +
                         (policy.sealed.empty() ? " (nothing to send)" : " (sent)"));
      }
      SeeMachine(items, client, policy);
      return OneItem("policy", policy.sealed);
    }
    if (operation == "uploadExecuteStatus" || operation == "uploadExecuteResult") {
      return OneItem("result", Record(operation, value("infos"), large) ? "true" : "false");
    }
    throw soap::Fault("soap:Client", "unknown operation " + operation);
  }

  // The inventory is kept beside the answer: a machine whose request cannot
  // be noted still gets its policy, and the failure is logged.
  void SeeMachine(const std::map<std::string, std::string>& items, const std::string& client,
                  const PolicyAnswer& policy) {
    PolicyRequestSeen seen;
    auto value = [&items](const char* key) {
      auto it = items.find(key);
      return it == items.end() ? std::string() : it->second;
    };
    seen.computerCode = value("computerCode");
    while (!seen.computerCode.empty() &&
           std::isspace(static_cast<unsigned char>(seen.computerCode.back()))) {
      seen.computerCode.pop_back();
    }
    if (seen.computerCode.empty()) return;
    seen.userName = value("userName");
    seen.os = value("osVersion");
    seen.heldVersion = value("version");
    seen.address = client;
    seen.group = policy.group;
    const size_t slash = policy.file.rfind('/');
    seen.policyFile = slash == std::string::npos ? policy.file : policy.file.substr(slash + 1);
    seen.policyVersion = policy.version;
    seen.delivered = !policy.sealed.empty();
    try {
      state_->reports->SeePolicyRequest(seen);
    } catch (const std::exception& e) {
      state_->log.Line("updatePatchPolicy: cannot note the machine: " + std::string(e.what()));
    }
  }

  // True when every record of the upload was stored. An upload that breaks a
  // bound is refused whole, like one that does not open.
  bool Record(const std::string& operation, const std::string& infos,
              std::unique_lock<std::mutex>& large) {
    const ServerConfig& config = state_->config;
    std::vector<ReportRecord> records;
    try {
      std::string payload;
      {
        orsahost::SecurityHelper security;
        orsahost::ZipHelper zip(static_cast<uint32_t>(config.maxInflatedBytes));
        payload = orsa::OpenWith(security, zip, orsa::kPassphrase, infos);
      }
      const size_t markup = MarkupCount(payload);
      if (markup > kMarkupPerRecord * config.maxRecords + kMarkupPerRecord) {
        throw std::runtime_error("more markup than " + std::to_string(config.maxRecords) +
                                 " records hold");
      }
      if ((payload.size() > kLargeRequest || markup > kLargeMarkup) && !large.owns_lock()) {
        large.lock();
      }
      records = SplitReportRecords(payload);
      if (records.size() > config.maxRecords) {
        throw std::runtime_error(std::to_string(records.size()) + " records, more than " +
                                 std::to_string(config.maxRecords));
      }
    } catch (const std::exception& e) {
      state_->log.Line(operation + ": infos refused, nothing recorded: " + e.what());
      return false;
    }
    try {
      state_->reports->Add(operation, records);
    } catch (const std::exception& e) {
      state_->log.Line(operation + ": cannot record: " + e.what());
      return false;
    }
    if (state_->log.Verbose()) {
      state_->log.Line(operation + ": recorded " + std::to_string(records.size()) + " record(s)");
    }
    return true;
  }

  HttpReply Wsdl(const HttpRequest& request) {
    // An HTTP/1.0 client may send no Host at all; the listening address serves then.
    std::string authority = request.head.has(Poco::Net::HTTPRequest::HOST)
                                ? request.head.get(Poco::Net::HTTPRequest::HOST)
                                : "";
    if (!IsPlainAuthority(authority)) authority = request.server.toString();
    return Xml(HTTPResponse::HTTP_OK,
               WsdlWithAddress("http://" + authority + state_->config.servicePath));
  }

  HttpReply Repository(const HttpRequest& request, const std::string& relative) {
    std::string file;
    switch (ResolveRepositoryPath(state_->config.repository, relative, file)) {
      case RepositoryLookup::kRefused:
        return TextReply(HTTPResponse::HTTP_FORBIDDEN, "forbidden");
      case RepositoryLookup::kNotFound:
        return TextReply(HTTPResponse::HTTP_NOT_FOUND, "not found");
      case RepositoryLookup::kFound:
        break;
    }
    HttpReply reply;
    reply.head.setContentType("application/octet-stream");
    reply.head.set("Accept-Ranges", "bytes");
    try {
      auto stream = std::make_shared<Poco::FileInputStream>(file);
      const uint64_t size = static_cast<uint64_t>(Poco::File(file).getSize());
      uint64_t first = 0;
      uint64_t last = size == 0 ? 0 : size - 1;
      bool satisfiable = true;
      const std::string range = request.head.get("Range", "");
      if (!range.empty() && ParseByteRange(range, size, first, last, satisfiable)) {
        reply.head.setStatusAndReason(HTTPResponse::HTTP_PARTIAL_CONTENT);
        reply.head.set("Content-Range", "bytes " + std::to_string(first) + "-" +
                                            std::to_string(last) + "/" + std::to_string(size));
      } else if (!range.empty() && !satisfiable) {
        HttpReply refused =
            TextReply(HTTPResponse::HTTP_REQUESTED_RANGE_NOT_SATISFIABLE, "range not satisfiable");
        refused.head.set("Content-Range", "bytes */" + std::to_string(size));
        return refused;
      }
      reply.streamSize = size == 0 ? 0 : last - first + 1;
      reply.bytesPerSecond = state_->config.rateLimit;
      if (request.head.getMethod() == Poco::Net::HTTPRequest::HTTP_HEAD) {
        reply.headOnly = true;
        reply.head.setContentLength64(static_cast<Poco::Int64>(reply.streamSize));
      } else {
        stream->seekg(static_cast<std::streamoff>(first));
        reply.stream = std::move(stream);
      }
    } catch (const Poco::Exception&) {
      return TextReply(HTTPResponse::HTTP_NOT_FOUND, "not found");
    }
    return reply;
  }

  std::shared_ptr<ServiceState> state_;
};

}  // namespace

ObxServer::ObxServer(const ServerConfig& config) : state_(std::make_shared<ServiceState>(config)) {}

ObxServer::~ObxServer() { Stop(); }

namespace {

Poco::Net::ServerSocket Listen(const std::string& listen) {
  Poco::Net::ServerSocket socket;
  try {
    // Reusing the address lets a restarted server bind past connections in
    // TIME_WAIT; sharing the port (SO_REUSEPORT) would let a second server
    // take over the clients of a running one, so it is never asked for.
    socket.bind(Poco::Net::SocketAddress(listen), true, false);
    socket.listen(256);
  } catch (const Poco::Exception& e) {
    throw std::runtime_error("cannot listen on " + listen + ": " +
                             (e.code() == EADDRINUSE ? "address already in use" : e.displayText()));
  }
  return socket;
}

}  // namespace

void ObxServer::Start() {
  const ServerConfig& config = state_->config;
  Poco::Net::ServerSocket socket = Listen(config.listen);
  port_ = socket.address().port();
  if (!config.console.empty()) {
    ConsoleOptions options;
    options.staleDays = config.consoleStaleDays;
    if (!config.consolePasswordFile.empty()) {
      options.password =
          std::make_shared<ConsolePassword>(ConsolePassword::Read(config.consolePasswordFile));
    }
    Poco::Net::ServerSocket consoleSocket = Listen(config.console);
    consolePort_ = consoleSocket.address().port();
    auto console = std::make_shared<Console>(*state_->reports, state_->policies, options);
    std::shared_ptr<ServiceState> state = state_;
    console_ = std::make_unique<HttpFrontEnd>(
        consoleSocket, config.http,
        [console, state](HttpRequest& r) {
          HttpReply reply = console->Handle(r);
          if (state->log.Verbose()) {
            state->log.Line("console " + r.client.toString() + " " + r.head.getMethod() + " " +
                            r.head.getURI() + " " + std::to_string(reply.head.getStatus()));
          }
          return reply;
        },
        [state](const Poco::Net::SocketAddress& client, const std::string& what, int status) {
          if (state->log.Verbose()) {
            state->log.Line("console " + client.toString() + " " + what + " " +
                            std::to_string(status));
          }
        });
    console_->Start();
    state_->log.Line("console listening on " + consoleSocket.address().toString() +
                     (options.password ? " (password required)" : ""));
  }
  const std::string address = socket.address().toString();

  auto service = std::make_shared<Service>(state_);
  std::shared_ptr<ServiceState> state = state_;
  server_ = std::make_unique<HttpFrontEnd>(
      socket, state_->config.http, [service](HttpRequest& r) { return service->Handle(r); },
      [state](const Poco::Net::SocketAddress& client, const std::string& what, int status) {
        if (state->log.Verbose()) {
          state->log.Line(client.toString() + " " + what + " " + std::to_string(status));
        }
      });
  server_->Start();
  state_->log.Line("listening on " + address);

  if (!state_->config.portFile.empty() &&
      !platform::ReplaceFileAtomically(state_->config.portFile, std::to_string(port_) + "\n")) {
    Stop();
    throw std::runtime_error("cannot write the port file " + state_->config.portFile);
  }
}

void ObxServer::Stop() {
  if (console_) console_->Stop();
  console_.reset();
  if (!server_) return;
  // Open keep-alive connections are ended too, so a client cannot hold the
  // server up.
  server_->Stop();
  server_.reset();
}

}  // namespace obxserver
