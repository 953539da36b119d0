#include <algorithm>

#include "launcher/launcher.h"
#include "launcher/process_control.h"
#include "system/console.h"
#include "system/platform.h"

namespace qg {

// Every pass searches afresh from the top of the window list, so a window
// that takes longer than the pause to close is asked again.
int CloseCommandWindows(WindowFilter accept, const void* context, int* asked) {
  Window seen[kMaxCloseWindowPasses];
  int different = 0;
  int passes = 0;
  while (passes < kMaxCloseWindowPasses) {
    Window window = FindWindowByTitle(kCommandWindowText, accept, context);
    if (!window) break;
    ++passes;
    if (std::find(seen, seen + different, window) == seen + different) seen[different++] = window;
    Sys().PostMessageA(window, WM_CLOSE_MSG, 0, 0);
    SleepMilliseconds(100);
  }
  if (asked) *asked = different;
  return passes;
}

}  // namespace qg
