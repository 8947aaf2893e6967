// The console front end of the viewer: builds the main form, drives its handlers as a
// user would, and writes what the chart shows as PNG files.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace arrowmap {

// Runs one command line (without the program name). Returns the exit status: 0 when done,
// 1 when a formula was rejected or a picture could not be written, 2 for a usage error.
// Usage texts go to `err`, help to `out`; the form's messages go through platform::ui().
int RunArrowmap(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace arrowmap
