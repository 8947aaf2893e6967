// The command line of the patchloom program: each command opens its image as a document
// (or takes the document opened last), fills the command's dialog as a user would and
// runs the document's own handler, so its messages reach the console.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// Runs the commands in `args` (without the program name) in one session. Returns 0 when
// every command succeeded, 1 when the program reported a failure or a command had
// nothing to act on, 2 for a usage error (written to `err` with the usage text).
int runPatchloom(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The --help text.
std::string patchloomUsage();
