// obx-server: the reference management server of the patch agent.
//
//   obx-server serve [--listen ADDR:PORT] [--port-file F] [--policies DIR]
//                    [--repository DIR] [--repository-prefix PATH]
//                    [--service-path PATH] --db FILE [--verbose] [bounds]
//   obx-server reports --db FILE [--json]
//   obx-server machines --db FILE [--json]
//   obx-server console-password [--user NAME] < password
//   obx-server keygen --out FILE [--key-id N]
//   obx-server policy build SOURCE --repository DIR --out FILE
//                           [--repository-prefix PATH]
//
// Exit codes: 0 success, 1 runtime failure, 2 usage error.
#include <Poco/Exception.h>
#include <Poco/Net/SocketAddress.h>
#include <malloc.h>
#include <pthread.h>
#include <sys/stat.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "orsa/AnswerSignature.h"
#include "tools/common/JsonText.h"
#include "tools/obx-server/AnswerSigner.h"
#include "tools/obx-server/ConsolePassword.h"
#include "tools/obx-server/ObxServer.h"
#include "tools/obx-server/PolicyCheck.h"
#include "tools/obx-server/ReportStore.h"

namespace {

const char kUsage[] =
    "usage: obx-server serve [options]\n"
    "       obx-server reports --db FILE [--json]\n"
    "       obx-server machines --db FILE [--json]\n"
    "       obx-server console-password [--user NAME] < PASSWORD\n"
    "       obx-server keygen --out FILE [--key-id N]\n"
    "       obx-server policy build SOURCE --repository DIR --out FILE\n"
    "                               [--repository-prefix PATH]\n"
    "       obx-server --help | --version\n"
    "\n"
    "serve: answers updatePatchPolicy, uploadExecuteStatus and uploadExecuteResult\n"
    "(SOAP 1.1, namespace urn:obx:patch:1) and serves a download folder.\n"
    "  --listen ADDR:PORT        address to listen on (default 127.0.0.1:7080;\n"
    "                            port 0 picks a free port)\n"
    "  --port-file F             write the port listened on to F once listening\n"
    "  --policies DIR            policy folder: <computerCode>.xml, else default.xml\n"
    "                            (\"/\" and \"+\" of the code written \"_\" and \"-\")\n"
    "  --groups FILE             groups of machines and their policy files, tried\n"
    "                            after <computerCode>.xml and before default.xml;\n"
    "                            read again on SIGHUP\n"
    "  --repository DIR          folder served for download\n"
    "  --repository-prefix PATH  URL path of the download folder (default /download/)\n"
    "  --service-path PATH       URL path of the SOAP service (default /obx/service);\n"
    "                            GET PATH?wsdl returns the service description\n"
    "  --db FILE|URL             where the records and machines are kept: a SQLite\n"
    "                            file, or a PostgreSQL URL (postgresql://...) that\n"
    "                            several servers may share\n"
    "  --verbose                 log every request on stderr\n"
    "  --console ADDR:PORT       serve the read-only web console there (PORT\n"
    "                            alone: 127.0.0.1:PORT); an address other than\n"
    "                            a loopback one needs --console-password-file\n"
    "  --console-password-file F the console asks for the user and password\n"
    "                            whose hash F holds (see console-password)\n"
    "  --console-stale-days D    mark machines not seen for more than D days [7]\n"
    "  --signing-key [N:]FILE    sign the answers to requests naming key number N\n"
    "                            (default: the number FILE states); repeatable,\n"
    "                            one per key number\n"
    "Bounds (defaults in brackets; a request breaking one is refused):\n"
    "  --threads N               requests worked on at once [4]\n"
    "  --max-connections N       open connections [512]\n"
    "  --request-timeout S       seconds from a request's first byte to its last,\n"
    "                            head and body; also for a reply making no progress [10]\n"
    "  --idle-timeout S          seconds a connection may wait for a request [5]\n"
    "  --keep-alive-requests N   requests on one connection [100]\n"
    "  --max-body BYTES          request body [8388608]\n"
    "  --max-buffered BYTES      request bytes held across all connections [268435456]\n"
    "  --max-inflated BYTES      an upload's infos once opened [16777216]\n"
    "  --max-records N           records in one upload [2000]\n"
    "  --rate-limit BYTES        send each download at most this fast [no limit]\n"
    "Prints \"obx-server: listening on ADDR:PORT\" on stderr once listening.\n"
    "Stops cleanly on SIGTERM or SIGINT; SIGHUP reads the groups file again.\n"
    "\n"
    "reports: prints the recorded reports, one per uploaded record\n"
    "  (seq, time, operation, type, id, record), or a JSON array with --json.\n"
    "\n"
    "machines: prints the machines that asked for a policy or uploaded records\n"
    "  (code, host, user, os, address, held and sent policy version, group,\n"
    "  policy file, first and last seen, policy requests), or JSON with --json.\n"
    "\n"
    "console-password: reads a password from the first line of standard input\n"
    "  and prints the console's password file line for user NAME [admin]\n"
    "  (a salted scrypt hash).\n"
    "\n"
    "keygen: writes a new Ed25519 key pair's private key to FILE (readable by its\n"
    "  owner only; an existing file is not replaced), stating key number N\n"
    "  (default 1), and prints the public key and the agent's registry settings.\n"
    "\n"
    "policy build: checks the policy SOURCE (task ids, time windows, deadlines,\n"
    "  every address under the repository prefix [/download/] naming a file of\n"
    "  DIR), fills in the md5 and sha256 of every file and writes it to FILE.\n"
    "  Each problem is printed as FILE: task ID: REASON; nothing is written then.\n";

int Usage(const std::string& problem) {
  std::cerr << "obx-server: " << problem << "\n" << kUsage;
  return 2;
}

// A whole decimal number within [low, high].
bool ParseCount(const std::string& text, unsigned long long low, unsigned long long high,
                unsigned long long& out) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = std::stoull(text);
  return out >= low && out <= high;
}

// Seconds, fractions allowed, from a millisecond up to an hour.
bool ParseSeconds(const std::string& text, std::chrono::milliseconds& out) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  try {
    const double seconds = std::stod(text);
    if (!(seconds >= 0.001 && seconds <= 3600)) return false;
    out = std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// "--name value" pairs and lone flags; false on an unknown or incomplete option.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<std::string>& valued,
                  const std::vector<std::string>& flags, std::map<std::string, std::string>& out,
                  std::string& problem) {
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool known = false;
    for (const std::string& v : valued) {
      if (a == v) {
        if (i + 1 >= args.size()) {
          problem = a + " needs a value";
          return false;
        }
        out[a] = args[++i];
        known = true;
      }
    }
    for (const std::string& f : flags) {
      if (a == f) {
        out[a] = "1";
        known = true;
      }
    }
    if (!known) {
      problem = "unknown argument " + a;
      return false;
    }
  }
  return true;
}

int Reports(const std::map<std::string, std::string>& options) {
  auto db = options.find("--db");
  if (db == options.end()) return Usage("reports needs --db FILE");
  std::vector<obxserver::ReportRow> rows;
  try {
    rows = obxserver::OpenReportStore(db->second, true)->All();
  } catch (const std::exception& e) {
    std::cerr << "obx-server: " << e.what() << "\n";
    return 1;
  }
  if (options.count("--json")) {
    std::cout << "[";
    for (size_t i = 0; i < rows.size(); ++i) {
      const obxserver::ReportRow& r = rows[i];
      std::cout << (i ? ",\n " : "\n ") << "{\"seq\": " << r.seq
                << ", \"time\": " << obxtools::JsonString(r.time)
                << ", \"operation\": " << obxtools::JsonString(r.operation)
                << ", \"type\": " << obxtools::JsonString(r.type)
                << ", \"id\": " << obxtools::JsonString(r.id)
                << ", \"record\": " << obxtools::JsonString(r.record) << "}";
    }
    std::cout << (rows.empty() ? "]\n" : "\n]\n");
  } else {
    std::cout << "SEQ\tTIME\tOPERATION\tTYPE\tID\tRECORD\n";
    for (const obxserver::ReportRow& r : rows) {
      std::cout << r.seq << "\t" << r.time << "\t" << r.operation << "\t" << r.type << "\t" << r.id
                << "\t" << r.record << "\n";
    }
  }
  return std::cout.good() ? 0 : 1;
}

int Machines(const std::map<std::string, std::string>& options) {
  auto db = options.find("--db");
  if (db == options.end()) return Usage("machines needs --db FILE");
  std::vector<obxserver::MachineRow> rows;
  try {
    rows = obxserver::OpenReportStore(db->second, true)->Machines();
  } catch (const std::exception& e) {
    std::cerr << "obx-server: " << e.what() << "\n";
    return 1;
  }
  const char* names[] = {"code",        "host",         "user",         "os",
                         "address",     "held_version", "sent_version", "group",
                         "policy_file", "first_seen",   "last_seen"};
  auto texts = [](const obxserver::MachineRow& m) {
    return std::vector<const std::string*>{
        &m.computerCode, &m.host,  &m.userName,   &m.os,        &m.address, &m.heldVersion,
        &m.sentVersion,  &m.group, &m.policyFile, &m.firstSeen, &m.lastSeen};
  };
  const bool json = options.count("--json") > 0;
  if (json) {
    std::cout << "[";
  } else {
    for (const char* name : names) {
      for (const char* c = name; *c; ++c) std::cout << char(std::toupper(*c));
      std::cout << "\t";
    }
    std::cout << "POLICY_REQUESTS\n";
  }
  for (size_t i = 0; i < rows.size(); ++i) {
    const std::vector<const std::string*> values = texts(rows[i]);
    if (json) std::cout << (i ? ",\n {" : "\n {");
    for (size_t k = 0; k < values.size(); ++k) {
      if (json) {
        std::cout << "\"" << names[k] << "\": " << obxtools::JsonString(*values[k]) << ", ";
      } else {
        // Tabs and line breaks of client text would shift the columns.
        std::string cell = *values[k];
        for (char& c : cell) {
          if (c == '\t' || c == '\n' || c == '\r') c = ' ';
        }
        std::cout << cell << "\t";
      }
    }
    std::cout << (json ? "\"policy_requests\": " : "") << rows[i].policyRequests
              << (json ? "}" : "\n");
  }
  if (json) std::cout << (rows.empty() ? "]\n" : "\n]\n");
  return std::cout.good() ? 0 : 1;
}

int ConsolePasswordLine(const std::map<std::string, std::string>& options) {
  auto user = options.find("--user");
  std::string password;
  if (!std::getline(std::cin, password))
    return Usage("console-password reads the password from standard input");
  if (!password.empty() && password.back() == '\r') password.pop_back();
  if (password.empty()) return Usage("the password is empty");
  try {
    std::cout << obxserver::ConsolePassword::Hash(user == options.end() ? "admin" : user->second,
                                                  password)
              << "\n";
  } catch (const std::exception& e) {
    std::cerr << "obx-server: " << e.what() << "\n";
    return 1;
  }
  return std::cout.good() ? 0 : 1;
}

int Keygen(const std::map<std::string, std::string>& options) {
  auto out = options.find("--out");
  if (out == options.end()) return Usage("keygen needs --out FILE");
  uint32_t keyId = 1;
  auto id = options.find("--key-id");
  if (id != options.end() && !orsa::ws::ParseKeyId(id->second, keyId)) {
    return Usage("--key-id needs a whole number from 1 to 4294967295");
  }
  std::string publicKey;
  try {
    publicKey = obxserver::AnswerSigner::Generate(out->second, keyId);
  } catch (const std::exception& e) {
    std::cerr << "obx-server: " << e.what() << "\n";
    return 1;
  }
  char dword[9];
  std::snprintf(dword, sizeof dword, "%08x", static_cast<unsigned>(keyId));
  std::cout << "private key " << keyId << " written to " << out->second << "\n"
            << "public key " << keyId << ": " << publicKey << "\n"
            << "agent settings (.reg):\n"
            << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kelvor\\QUOR5.0\\Composites\\ZEB\\OBX]\n"
            << "\"ServerKey\"=\"" << publicKey << "\"\n"
            << "\"ServerKeyId\"=dword:" << dword << "\n";
  return std::cout.good() ? 0 : 1;
}

int PolicyBuild(const std::string& source, const std::map<std::string, std::string>& options) {
  auto repository = options.find("--repository");
  auto out = options.find("--out");
  if (repository == options.end() || out == options.end())
    return Usage("policy build needs SOURCE --repository DIR --out FILE");
  obxserver::PolicyCheckOptions check;
  check.repository = repository->second;
  auto prefix = options.find("--repository-prefix");
  if (prefix != options.end()) check.repositoryPrefix = prefix->second;
  if (check.repositoryPrefix.empty() || check.repositoryPrefix[0] != '/')
    return Usage("--repository-prefix must start with /");
  if (check.repositoryPrefix.back() != '/') check.repositoryPrefix += '/';
  const std::vector<std::string> problems = obxserver::BuildPolicy(source, check, out->second);
  for (const std::string& problem : problems) std::cerr << "obx-server: " << problem << "\n";
  return problems.empty() ? 0 : 1;
}

int Serve(const std::map<std::string, std::string>& options,
          const std::vector<std::string>& signingKeys) {
  obxserver::ServerConfig config;
  for (const std::string& key : signingKeys) {
    // "N:FILE" names the number; a plain FILE states its own.
    const size_t colon = key.find(':');
    uint32_t keyId = 0;
    if (colon != std::string::npos && orsa::ws::ParseKeyId(key.substr(0, colon), keyId)) {
      config.signingKeys.emplace_back(keyId, key.substr(colon + 1));
    } else {
      config.signingKeys.emplace_back(0, key);
    }
  }
  auto take = [&options](const char* name, std::string& into) {
    auto it = options.find(name);
    if (it != options.end()) into = it->second;
  };
  take("--listen", config.listen);
  take("--port-file", config.portFile);
  take("--policies", config.policies);
  take("--groups", config.groups);
  take("--console", config.console);
  take("--console-password-file", config.consolePasswordFile);
  take("--repository", config.repository);
  take("--repository-prefix", config.repositoryPrefix);
  take("--service-path", config.servicePath);
  take("--db", config.db);
  config.verbose = options.count("--verbose") > 0;
  obxserver::FrontEndLimits& http = config.http;
  struct Count {
    const char* name;
    unsigned long long low, high;
    std::function<void(unsigned long long)> set;
  };
  const std::vector<Count> counts = {
      {"--threads", 1, 256, [&](unsigned long long v) { http.workers = unsigned(v); }},
      {"--max-connections", 1, 100000,
       [&](unsigned long long v) { http.maxConnections = unsigned(v); }},
      {"--keep-alive-requests", 1, 1000000,
       [&](unsigned long long v) { http.maxRequestsPerConnection = unsigned(v); }},
      {"--max-body", 1, 1ull << 30, [&](unsigned long long v) { http.maxBodyBytes = size_t(v); }},
      {"--max-buffered", 1, 1ull << 40,
       [&](unsigned long long v) { http.maxBufferedBytes = size_t(v); }},
      {"--max-inflated", 1, 1ull << 30,
       [&](unsigned long long v) { config.maxInflatedBytes = size_t(v); }},
      {"--max-records", 1, 10000000, [&](unsigned long long v) { config.maxRecords = size_t(v); }},
      {"--rate-limit", 1, 1ull << 40, [&](unsigned long long v) { config.rateLimit = v; }},
  };
  for (const Count& c : counts) {
    auto it = options.find(c.name);
    if (it == options.end()) continue;
    unsigned long long value = 0;
    if (!ParseCount(it->second, c.low, c.high, value)) {
      return Usage(std::string(c.name) + " needs a whole number from " + std::to_string(c.low) +
                   " to " + std::to_string(c.high));
    }
    c.set(value);
  }
  for (auto seconds : {std::make_pair("--request-timeout", &http.requestTimeout),
                       std::make_pair("--idle-timeout", &http.idleTimeout)}) {
    auto it = options.find(seconds.first);
    if (it != options.end() && !ParseSeconds(it->second, *seconds.second)) {
      return Usage(std::string(seconds.first) + " needs seconds from 0.001 to 3600");
    }
  }
  if (config.db.empty()) return Usage("serve needs --db FILE");
  if (!config.groups.empty() && config.policies.empty()) return Usage("--groups needs --policies");
  if (config.console.find_first_not_of("0123456789") == std::string::npos &&
      !config.console.empty()) {
    config.console = "127.0.0.1:" + config.console;
  }
  if (!config.console.empty()) {
    try {
      const Poco::Net::SocketAddress console(config.console);
      if (!console.host().isLoopback() && config.consolePasswordFile.empty()) {
        return Usage("--console on " + config.console +
                     " (not a loopback address) needs --console-password-file");
      }
    } catch (const Poco::Exception& e) {
      return Usage("--console " + config.console + ": " + e.displayText());
    }
  }
  auto stale = options.find("--console-stale-days");
  if (stale != options.end()) {
    char* end = nullptr;
    config.consoleStaleDays = std::strtod(stale->second.c_str(), &end);
    if (stale->second.empty() || *end != '\0' || !(config.consoleStaleDays > 0) ||
        config.consoleStaleDays > 36500) {
      return Usage("--console-stale-days needs days from more than 0 to 36500");
    }
  }
  if (config.servicePath.empty() || config.servicePath[0] != '/') {
    return Usage("--service-path must start with /");
  }
  if (config.repositoryPrefix.empty() || config.repositoryPrefix[0] != '/') {
    return Usage("--repository-prefix must start with /");
  }
  // The prefix names a folder: "/download" and "/download/" both serve
  // "/download/<file>", never "/downloadX".
  if (config.repositoryPrefix.back() != '/') config.repositoryPrefix += '/';
  // A mistyped folder would otherwise look like "no policy" or "no file" to
  // every client; refuse to start instead.
  for (const std::string* folder : {&config.policies, &config.repository}) {
    struct stat st {};
    if (!folder->empty() && (::stat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
      std::cerr << "obx-server: " << *folder << " is not a folder\n";
      return 1;
    }
  }

  // A policy the agent would misread is refused here rather than at the
  // first machine that asks for it.
  if (!config.policies.empty()) {
    const std::vector<std::string> problems = obxserver::CheckPolicyFolder(config.policies);
    for (const std::string& problem : problems) std::cerr << "obx-server: " << problem << "\n";
    if (!problems.empty()) return 1;
  }

  // Buffers of a request's size (bodies, opened uploads) come straight from
  // the system and go back to it when freed. Left to itself the allocator
  // raises this threshold after the first large free and from then on keeps
  // such memory in its heap for good.
  mallopt(M_MMAP_THRESHOLD, 256 * 1024);

  // The signals are taken by sigwait below; blocked before any server thread
  // exists, so every thread inherits the mask and none is interrupted.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  try {
    obxserver::ObxServer server(config);
    server.Start();
    int signal = 0;
    while (sigwait(&stopSignals, &signal) == 0 && signal == SIGHUP) {
      if (config.groups.empty()) continue;
      const std::string problem = server.ReloadGroups();
      std::cerr << "obx-server: "
                << (problem.empty() ? "groups read again from " + config.groups
                                    : problem + "; the groups in use stay")
                << std::endl;
    }
    if (config.verbose) std::cerr << "obx-server: stopping on signal " << signal << std::endl;
    server.Stop();
  } catch (const Poco::Exception& e) {
    std::cerr << "obx-server: " << e.displayText() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "obx-server: " << e.what() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return Usage("no command");
  if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (args[0] == "--version") {
    std::cout << "obx-server " << OBX_VERSION << "\n";
    return 0;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  for (const std::string& a : args) {
    if (a == "--help") {
      std::cout << kUsage;
      return 0;
    }
  }
  std::map<std::string, std::string> options;
  std::string problem;
  if (command == "serve") {
    // The one option that may be given more than once.
    std::vector<std::string> signingKeys;
    for (size_t i = 0; i < args.size();) {
      if (args[i] != "--signing-key") {
        ++i;
        continue;
      }
      if (i + 1 >= args.size()) return Usage("--signing-key needs a value");
      signingKeys.push_back(args[i + 1]);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i + 2));
    }
    if (!ParseOptions(args,
                      {"--listen",
                       "--port-file",
                       "--policies",
                       "--groups",
                       "--console",
                       "--console-password-file",
                       "--console-stale-days",
                       "--repository",
                       "--repository-prefix",
                       "--service-path",
                       "--db",
                       "--threads",
                       "--max-connections",
                       "--request-timeout",
                       "--idle-timeout",
                       "--keep-alive-requests",
                       "--max-body",
                       "--max-buffered",
                       "--max-inflated",
                       "--max-records",
                       "--rate-limit"},
                      {"--verbose"}, options, problem)) {
      return Usage(problem);
    }
    return Serve(options, signingKeys);
  }
  if (command == "machines") {
    if (!ParseOptions(args, {"--db"}, {"--json"}, options, problem)) return Usage(problem);
    return Machines(options);
  }
  if (command == "console-password") {
    if (!ParseOptions(args, {"--user"}, {}, options, problem)) return Usage(problem);
    return ConsolePasswordLine(options);
  }
  if (command == "keygen") {
    if (!ParseOptions(args, {"--out", "--key-id"}, {}, options, problem)) return Usage(problem);
    return Keygen(options);
  }
  if (command == "reports") {
    if (!ParseOptions(args, {"--db"}, {"--json"}, options, problem)) return Usage(problem);
    return Reports(options);
  }
  if (command == "policy") {
    if (args.size() < 2 || args[0] != "build") return Usage("policy needs build SOURCE");
    const std::string source = args[1];
    args.erase(args.begin(), args.begin() + 2);
    if (!ParseOptions(args, {"--repository", "--out", "--repository-prefix"}, {}, options, problem))
      return Usage(problem);
    return PolicyBuild(source, options);
  }
  return Usage("unknown command " + command);
}
