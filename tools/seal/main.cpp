// orsa-seal: the operator's way to read or prepare a sealed file (policy,
// task list, report payload) exactly as the agent writes and reads them.
//
//   orsa-seal seal IN OUT   seal the bytes of IN into OUT
//   orsa-seal open IN OUT   open the sealed text of IN into OUT
//
// "-" stands for standard input or output. A file OUT is replaced atomically,
// so a failed run never leaves half a file. Exit status: 0 done; 1 the input
// could not be read, did not open, or the output could not be written (one
// line on standard error says which); 2 usage error.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <iostream>
#include <sstream>
#include <string>

#include "host/services/SecurityHelper.h"
#include "host/services/ZipHelper.h"
#include "orsa/Seal.h"
#include "platform/File.h"
#include "platform/StateRoot.h"
#include "platform/WinError.h"
#include "tools/common/InputFile.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: orsa-seal seal|open IN OUT\n"
    "       orsa-seal --help | --version\n"
    "  seal  compress, encrypt with the agent's passphrase and encode IN into OUT\n"
    "  open  decode, decrypt and uncompress the sealed text of IN into OUT\n"
    "  IN or OUT may be - for standard input or output.\n"
    "Exit status: 0 done, 1 input unreadable, sealed text does not open or output\n"
    "not written, 2 usage error.\n";

// Empty when all of IN was read, else the reason.
std::string ReadInput(const std::string& path, std::string& data) {
  if (path == "-") {
    std::ostringstream buffer;
    buffer << std::cin.rdbuf();
    data = buffer.str();
    return std::cin.bad() ? std::strerror(errno) : "";
  }
  return obxtools::ReadInputFile(path, &data);
}

// False with the reason in *reason when the output is not written.
bool WriteOutput(const std::string& path, const std::string& data, std::string* reason) {
  if (path == "-") {
    std::cout.write(data.data(), static_cast<std::streamsize>(data.size()));
    std::cout.flush();
    if (!std::cout) *reason = std::strerror(errno);
    return static_cast<bool>(std::cout);
  }
  long error = platform::kErrorSuccess;
  if (platform::ReplaceFileAtomically(path, data, &error)) return true;
  *reason = platform::ErrorText(error) + " (error " + std::to_string(error) + ")";
  return false;
}

int Usage(const std::string& problem) {
  std::cerr << "orsa-seal: " << problem << "\n" << kUsage;
  return kExitUsage;
}

int Run(const std::string& command, const std::string& in, const std::string& out) {
  std::string input;
  const std::string unread = ReadInput(in, input);
  if (!unread.empty()) {
    std::cerr << "orsa-seal: cannot read " << in << ": " << unread << "\n";
    return kExitFailure;
  }
  orsahost::SecurityHelper security;
  orsahost::ZipHelper zip;
  std::string output;
  if (command == "seal") {
    try {
      output = orsa::SealWith(security, zip, orsa::kPassphrase, input.data(), input.size());
    } catch (const std::exception& e) {
      std::cerr << "orsa-seal: cannot seal " << in << ": " << e.what() << "\n";
      return kExitFailure;
    }
  } else {
    // A sealed text never holds whitespace; a line end added by an editor or
    // by echo is not part of it.
    size_t end = input.find_last_not_of(" \t\r\n");
    input.erase(end == std::string::npos ? 0 : end + 1);
    try {
      output = orsa::OpenWith(security, zip, orsa::kPassphrase, input);
    } catch (const std::exception&) {
      // What the decoder choked on means nothing to the operator; the file
      // is either not sealed by this agent or damaged.
      std::cerr << "orsa-seal: " << in
                << " does not open: not a text sealed by this agent, or damaged\n";
      return kExitFailure;
    }
  }
  std::string reason;
  if (!WriteOutput(out, output, &reason)) {
    std::cerr << "orsa-seal: cannot write " << out << ": " << reason << "\n";
    return kExitFailure;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << kUsage;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "orsa-seal " << OBX_VERSION << "\n";
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    if (argv[i][0] == '-' && argv[i][1] != '\0')
      return Usage(std::string("unknown option ") + argv[i]);
  }
  if (argc < 2) return Usage("no command");
  if (std::strcmp(argv[1], "seal") != 0 && std::strcmp(argv[1], "open") != 0)
    return Usage(std::string("unknown command ") + argv[1]);
  if (argc != 4)
    return Usage(std::string(argv[1]) + " takes IN and OUT, not " + std::to_string(argc - 2) +
                 " argument(s)");
  try {
    return Run(argv[1], argv[2], argv[3]);
  } catch (const std::exception& e) {
    std::cerr << "orsa-seal: " << e.what() << "\n";
    return kExitFailure;
  }
}
