#include "host/HostOptions.h"

#include "platform/File.h"
#include "platform/SharedLibrary.h"

namespace orsahost {
namespace {

const char kComponentName[] = "obxconsole";

// The folder part of `path` and the separator it ends at ("/" on Linux; a
// Windows path may have "\" too).
std::string FolderOf(const std::string& path, char* separator) {
  std::string::size_type slash = path.find_last_of(platform::kPathSeparators);
  *separator = slash == std::string::npos ? '/' : path[slash];
  if (slash == std::string::npos) return ".";
  if (slash == 0) return path.substr(0, 1);
  return path.substr(0, slash);
}

// A word of a Windows command line, quoted where it has to be: blanks or
// quotes inside, or empty. Backslashes before a quote are doubled.
std::string Quote(const std::string& word) {
  if (!word.empty() && word.find_first_of(" \t\"") == std::string::npos) return word;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : word) {
    if (c == '\\') {
      ++backslashes;
    } else {
      if (c == '"') backslashes = backslashes * 2 + 1;
      out.append(backslashes, '\\');
      backslashes = 0;
      out += c;
    }
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
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
    } else if (a == "--foreground") {
      o.foreground = true;
      continue;
    } else if (a == "--install-service") {
      o.installService = true;
      continue;
    } else if (a == "--uninstall-service") {
      o.uninstallService = true;
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
  if (o.installService + o.uninstallService + !o.makeComposite.empty() + o.foreground > 1) {
    *error =
        "--install-service, --uninstall-service, --make-composite and --foreground exclude "
        "each other";
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
         "                 [--verbose] [--foreground]\n"
         "       orsa-host --install-service [--root DIR] [--component PATH] [--log FILE]\n"
         "                 [--log-level LEVEL]\n"
         "       orsa-host --uninstall-service\n"
         "       orsa-host --make-composite OUT --library LIB [--service TYPE]...\n"
         "                 [--passphrase TEXT]\n"
         "       orsa-host --help | --version\n"
         "\n"
         "Loads a component library, starts its console object and stops it on SIGTERM\n"
         "or SIGINT. On Windows it runs as the service orsa-host, or with --foreground\n"
         "in the console until Ctrl+C.\n"
         "  --root DIR         state root (sets ORSA_ROOT); default $ORSA_ROOT, else\n"
         "                     /var/lib/orsa for root and $XDG_STATE_HOME/orsa otherwise;\n"
         "                     on Windows %ProgramData%\\orsa\n"
         "  --component PATH   component library; default libobxconsole.so\n"
         "                     (obxconsole.dll) beside the executable or in ../lib\n"
         "  --log FILE         log file; default <root>/logs/orsa-host.log\n"
         "  --log-level LEVEL  error, warning, information (default), debug, or 1..8\n"
         "  --verbose          log to the terminal too\n"
         "  --foreground       Windows: run in this console, not as the service\n"
         "  --install-service  Windows: register the service orsa-host (LocalSystem,\n"
         "                     automatic start, restart on failure) with the options\n"
         "                     given beside it\n"
         "  --uninstall-service  Windows: stop and remove the service\n"
         "  --make-composite   write a composite sealed with the passphrase (default: the\n"
         "                     agent's) naming library LIB and the services it registers;\n"
         "                     LIB must load and export OrsaExportClass\n"
         "Exit codes: 0 clean stop, 1 failure, 2 usage error or a component\n"
         "that cannot be loaded, 3 another orsa-host runs on the same state root.\n";
}

std::string DefaultComponentPath(const std::string& executable) {
  char sep = '/';
  std::string folder = FolderOf(executable, &sep);
  const std::string file = platform::SharedLibraryFileName(kComponentName);
  std::string beside = folder + sep + file;
  if (platform::PathExists(beside)) return beside;
  std::string lib = folder + sep + ".." + sep + "lib" + sep + file;
  if (platform::PathExists(lib)) return lib;
  return beside;
}

std::string ServiceCommandLine(const std::string& executable, const HostOptions& options) {
  std::string line = Quote(executable);
  const std::pair<const char*, const std::string*> kept[] = {{"--root", &options.root},
                                                             {"--component", &options.component},
                                                             {"--log", &options.logFile},
                                                             {"--log-level", &options.logLevel}};
  for (const auto& option : kept)
    if (!option.second->empty())
      line += std::string(" ") + option.first + " " + Quote(*option.second);
  return line;
}

}  // namespace orsahost
