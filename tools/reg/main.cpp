// orsa-reg: the registry of the state root from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "tools/reg/RegCommand.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  orsareg::RegCommand command;
  return command.Run(args, std::cout, std::cerr);
}
