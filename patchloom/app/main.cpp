// Patchloom: texture synthesis by texture optimisation, driven from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "patchloom/app/console_driver.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return runPatchloom(args, std::cout, std::cerr);
}
