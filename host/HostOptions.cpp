#include "host/HostOptions.h"

#include "platform/File.h"

namespace orsahost {
namespace {

const char kComponentFile[] = "libobxconsole.so";

std::string FolderOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error) {
  HostOptions o;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    std::string* target = nullptr;
    if (a == "--help" || a == "-h") {
      o.help = true;
      continue;
    } else if (a == "--version") {
      o.version = true;
      continue;
    } else if (a == "--verbose" || a == "-v") {
      o.verbose = true;
      continue;
    } else if (a == "--root") {
      target = &o.root;
    } else if (a == "--component") {
      target = &o.component;
    } else if (a == "--log") {
      target = &o.logFile;
    } else if (a == "--log-level") {
      target = &o.logLevel;
    } else if (a == "--make-composite") {
      target = &o.makeComposite;
    } else if (a == "--library") {
      target = &o.library;
    } else if (a == "--passphrase") {
      target = &o.passphrase;
    } else if (a == "--service") {
      o.services.emplace_back();
      target = &o.services.back();
    } else {
      *error = a.compare(0, 1, "-") == 0 ? "unknown option " + a : "unexpected argument " + a;
      return false;
    }
    if (i + 1 >= args.size() || args[i + 1].empty()) {
      *error = "option " + a + " needs a value";
      return false;
    }
    *target = args[++i];
  }
  if (o.makeComposite.empty() &&
      (!o.library.empty() || !o.services.empty() || !o.passphrase.empty())) {
    *error = "--library, --service and --passphrase belong to --make-composite";
    return false;
  }
  if (!o.makeComposite.empty() && o.library.empty()) {
    *error = "--make-composite needs --library";
    return false;
  }
  *options = o;
  return true;
}

std::string HostUsage() {
  return "usage: orsa-host [--root DIR] [--component PATH] [--log FILE] [--log-level LEVEL]\n"
         "                 [--verbose]\n"
         "       orsa-host --make-composite OUT --library LIB [--service TYPE]...\n"
         "                 [--passphrase TEXT]\n"
         "       orsa-host --help | --version\n"
         "\n"
         "Loads a component library, starts its console object and stops it on SIGTERM\n"
         "or SIGINT.\n"
         "  --root DIR         state root (sets ORSA_ROOT); default $ORSA_ROOT, else\n"
         "                     /var/lib/orsa for root and $XDG_STATE_HOME/orsa otherwise\n"
         "  --component PATH   component library; default libobxconsole.so beside the\n"
         "                     executable or in ../lib\n"
         "  --log FILE         log file; default <root>/logs/orsa-host.log\n"
         "  --log-level LEVEL  error, warning, information (default), debug, or 1..8\n"
         "  --verbose          log to the terminal too\n"
         "  --make-composite   write a composite sealed with the passphrase (default: the\n"
         "                     agent's) naming library LIB and the services it registers;\n"
         "                     LIB must load and export OrsaExportClass\n"
         "Exit codes: 0 clean stop, 1 failure, 2 usage error or a component\n"
         "that cannot be loaded.\n";
}

std::string DefaultComponentPath(const std::string& executable) {
  std::string folder = FolderOf(executable);
  std::string beside = folder + "/" + kComponentFile;
  if (platform::PathExists(beside)) return beside;
  std::string lib = folder + "/../lib/" + kComponentFile;
  if (platform::PathExists(lib)) return lib;
  return beside;
}

}  // namespace orsahost
