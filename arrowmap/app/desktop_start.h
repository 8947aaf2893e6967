// The viewer started on a desktop: the main form and the About form, shown by whatever
// screen the program installed, until the main form is closed.
#pragma once

namespace arrowmap {

// Returns the exit status (0).
int RunArrowmapForms();

}  // namespace arrowmap
