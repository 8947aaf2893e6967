// The command line of the quiltbench program: each command fills a dialog's controls
// and presses its buttons, so the dialogs' own handlers do the work and their messages
// reach the console.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the command in `args` (without the program name). Returns 0 when the command
// succeeded, 1 when the program reported a failure, 2 for a usage error (written to `err`).
int runQuiltbench(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The --help text.
std::string quiltbenchUsage();
