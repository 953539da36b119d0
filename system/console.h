// The console: its title, printed lines, the close event, and delays.
#pragma once

#include <cstdint>

namespace qg {

// The routine the close event runs before the process ends (the program's
// end routine); installed by the program before ConsoleStartup.
void SetConsoleCloseRoutine(void (*routine)());
// Takes standard output and installs ConsoleCloseHandler; sets the title when
// one is given. Always 1.
int ConsoleStartup(const char* title);
// Non-zero when the title was set.
int SetConsoleTitleText(const char* text);
void ConsoleShutdown();
// Writes the text and CR LF; non-zero when handed to the output.
int PrintLine(const char* text);
// Writes to the console, or to the file standard output was redirected to.
int WriteConsoleText(const void* bytes, std::uint32_t count);
// Sleeps; the first call raises the timer resolution to 1 ms for good.
void SleepMilliseconds(std::uint32_t milliseconds);
// Called by the system on a console event: the close event shuts the
// libraries down first. Always 0 (not handled).
int ConsoleCloseHandler(std::uint32_t event);

}  // namespace qg
