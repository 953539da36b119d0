// The launcher's whole run, from library start-up to the end routine.
#pragma once

namespace qg {

// Starts the libraries, hides the console, and, unless the editor already
// runs, brings the bundle's settings up to date, runs the editor until it
// exits and tidies up after it; then releases the libraries. When an editor
// already runs it only answers (second_start.h). Returns the exit code,
// always 0.
int LauncherMain();

}  // namespace qg
