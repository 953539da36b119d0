#include "launcher/launcher.h"
#include "launcher/process_control.h"
#include "system/console.h"
#include "system/platform.h"

namespace qg {

// Every pass searches afresh from the top of the window list, so a window
// that takes longer than the pause to close is asked again.
int CloseCommandWindows() {
  int passes = 0;
  while (passes < kMaxCloseWindowPasses) {
    Window window = FindWindowByTitle(kCommandWindowText);
    if (!window) break;
    ++passes;
    Sys().PostMessageA(window, WM_CLOSE_MSG, 0, 0);
    SleepMilliseconds(100);
  }
  return passes;
}

}  // namespace qg
