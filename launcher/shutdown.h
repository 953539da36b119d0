// The end routine shared by the launcher and the console close event.
#pragma once

namespace qg {

// Releases the XML documents, writes back an open preference file and closes
// every numbered file. Runs once per process: a second caller waits until the
// first has finished and then returns.
void ShutDownLibraries();

}  // namespace qg
