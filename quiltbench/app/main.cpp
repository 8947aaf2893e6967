// Quiltbench: graph-cut texture synthesis, driven from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "quiltbench/app/console_driver.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return runQuiltbench(args, std::cout, std::cerr);
}
