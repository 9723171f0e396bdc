#pragma once
// The command line of orsa-host.
#include <string>
#include <vector>

namespace orsahost {

struct HostOptions {
  std::string root;       // --root DIR; empty: ORSA_ROOT, else the default state root
  std::string component;  // --component PATH; empty: found beside the executable
  std::string logFile;    // --log FILE; empty: <root>/logs/orsa-host.log
  std::string logLevel;   // --log-level LEVEL; empty: information
  bool verbose = false;   // --verbose: log lines on the terminal too
  bool help = false;      // --help
  bool version = false;   // --version
  // --foreground: runs in this console instead of under the system's service
  // manager (Windows); on Linux the host always runs in the foreground.
  bool foreground = false;
  // --install-service / --uninstall-service (Windows): registers the host as
  // a service, with the --root, --component, --log and --log-level given
  // beside it, or removes it, and exits.
  bool installService = false;
  bool uninstallService = false;

  // --make-composite OUT --library LIB [--service TYPE]... [--passphrase TEXT]:
  // writes a sealed composite manifest and exits.
  std::string makeComposite;
  std::string library;
  std::vector<std::string> services;
  std::string passphrase;  // empty: the agent's passphrase
};

// Parses the arguments after the program name. False with a one-line reason
// in *error for an unknown option, a missing value, a stray argument or an
// option of --make-composite used without it.
bool ParseHostOptions(const std::vector<std::string>& args, HostOptions* options,
                      std::string* error);

std::string HostUsage();

// The command line the service control manager starts the host with: the
// executable, quoted, and the options of `options` that the host's run takes.
std::string ServiceCommandLine(const std::string& executable, const HostOptions& options);

// The component library to load when none is named: libobxconsole.so
// (obxconsole.dll on Windows) beside the executable, else in ../lib relative
// to it; when neither exists, the one beside the executable (so that the error
// names a sensible path).
// `executable` is the path of the running program.
std::string DefaultComponentPath(const std::string& executable);

}  // namespace orsahost
