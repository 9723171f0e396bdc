#pragma once
// The orsa-reg command line: add, query, delete, import and export with the
// arguments of the Windows "reg" tool, against the registry of the state root
// (ORSA_ROOT). Run() never throws; it prints the result to `out`, a single
// "orsa-reg: ..." line naming the key or value to `err`, and returns the exit
// code: 0 on success, 1 on a failure, 2 on a usage error.
//
// Where the Windows tool would ask a question, orsa-reg does not: overwriting
// an existing value needs /f, deleting needs /f, export replaces the file.
#include <ostream>
#include <string>
#include <vector>

#include "platform/Registry.h"

namespace orsareg {

class RegCommand {
 public:
  // `args` without the program name.
  int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

  static std::string Usage();

 private:
  struct Options {
    std::vector<std::string> positional;
    bool hasValueName = false;  // /v
    std::string valueName;
    bool defaultValue = false;  // /ve
    bool allValues = false;     // /va
    bool hasType = false;
    std::string type = "REG_SZ";
    bool hasData = false;
    std::string data;
    bool force = false;      // /f
    bool recursive = false;  // /s
  };

  bool ParseOptions(const std::vector<std::string>& args, Options* options, std::string* error);
  int Add(const Options& options, std::ostream& out, std::ostream& err);
  int Query(const Options& options, std::ostream& out, std::ostream& err);
  int Delete(const Options& options, std::ostream& out, std::ostream& err);
  int Import(const Options& options, std::ostream& out, std::ostream& err);
  int Export(const Options& options, std::ostream& out, std::ostream& err);
};

}  // namespace orsareg
