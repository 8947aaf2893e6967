// Patchloom: texture synthesis by texture optimisation. Started with a command it runs
// that command line; started without one on a desktop it opens its windows.
#include <iostream>
#include <string>
#include <vector>

#include "patchloom/app/console_driver.h"
#include "patchloom/app/desktop_shell.h"
#include "platform/desktop/desktop.h"

int main(int argc, char** argv) {
  if (platform::desktop::desktopWanted(argc)) return PatchloomDesktop().Run();
  std::vector<std::string> args(argv + 1, argv + argc);
  return runPatchloom(args, std::cout, std::cerr);
}
