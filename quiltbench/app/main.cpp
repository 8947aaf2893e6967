// Quiltbench: graph-cut texture synthesis, driven from the command line, or from its main
// window when started without a command on a desktop.
#include <iostream>
#include <string>
#include <vector>

#include "platform/desktop/desktop.h"
#include "quiltbench/app/console_driver.h"
#include "quiltbench/app/main_frame.h"

int main(int argc, char** argv) {
  if (platform::desktop::desktopWanted(argc)) return runQuiltbenchDesktop();
  std::vector<std::string> args(argv + 1, argv + argc);
  return runQuiltbench(args, std::cout, std::cerr);
}
