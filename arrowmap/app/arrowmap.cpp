// The Arrowmap program: the viewer's main form in a window when started without a command
// on a desktop, else driven from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "arrowmap/app/console_commands.h"
#include "arrowmap/app/desktop_start.h"
#include "platform/desktop/desktop.h"
#include "platform/forms/window/form_windows.h"

int main(int argc, char** argv) {
  if (platform::desktop::desktopWanted(argc)) {
    platform::desktop::startDesktop("Arrowmap");
    forms::window::FormWindows windows;
    return arrowmap::RunArrowmapForms();
  }
  const std::vector<std::string> args(argv + 1, argv + argc);
  return arrowmap::RunArrowmap(args, std::cout, std::cerr);
}
