// Starting the libraries, and the end routine shared by the launcher and the
// console's close event.
#pragma once

namespace qg {

// Starts the libraries in their order: files, preferences, program runner,
// XML, console (whose close event runs ShutDownLibraries). The end routine
// is armed again.
void StartLibraries();

// Releases the XML documents, writes back an open preference file and closes
// every numbered file. Runs once per process: a second caller waits until the
// first has finished and then returns. A settings update in progress on
// another thread is waited for first, at most kUpdateWaitMilliseconds; when
// it is still running then, nothing is released (the console's close event
// has about five seconds before the system ends the process).
void ShutDownLibraries();

inline constexpr unsigned kUpdateWaitMilliseconds = 4000;

// Brackets the settings update, which uses the libraries the end routine
// releases. Begin is false, and the update must not start, once the end
// routine has been entered.
bool BeginSettingsUpdate();
void EndSettingsUpdate();

}  // namespace qg
