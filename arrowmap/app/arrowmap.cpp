// The Arrowmap program: the viewer's main form driven from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "arrowmap/app/console_commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return arrowmap::RunArrowmap(args, std::cout, std::cerr);
}
