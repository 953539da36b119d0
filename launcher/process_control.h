// Looking at and acting on other programs of the same desktop.
#pragma once

#include "system/platform.h"

namespace qg {

// 1 when a process of that executable name runs (letter case ignored).
int IsProcessRunning(const char* name);
// Terminates, with exit code 9, the first process of that name in snapshot
// order; 1 when it could be opened and was told to end.
int KillProcessByName(const char* name);
// The first top-level window whose title contains `text` (letter case
// ignored), or 0.
Window FindWindowByTitle(const char* text);

}  // namespace qg
