// A start while an editor already runs: no file is touched and nothing is
// tidied up, but the user who double-clicked is answered. The bundle's own
// editor is brought to the front (restored first when it is minimised, shown
// first when it has hidden its main window into the notification area); an
// editor from elsewhere, which keeps the bundle's from starting, is named,
// with its folder, in a message box that the launcher waits on, and so is
// the bundle's own editor when it has no main window at all.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "launcher/bundle_paths.h"
#include "system/platform.h"

namespace qg {

// What a second start found and did.
struct SecondStartAnswer {
  enum class Found {
    OwnEditor,     // the bundle's notepad++.exe runs
    OtherEditor,   // only editors from elsewhere, `folder` the first one's
    NotToldApart,  // no snapshot, no root, or no running editor's path read
  };
  Found found = Found::NotToldApart;
  std::uint32_t editorId = 0;  // OwnEditor: the process whose window counts
  Window window = 0;           // its main window; 0 when it has none
  bool shown = false;          // the window was hidden and is shown
  bool restored = false;       // the window was minimised and is restored
  bool inFront = false;        // the system brought it to the front
  std::u16string folder;       // OtherEditor: ending with its separator
  std::u16string text;         // the message box's text; empty when a window counts
  bool boxShown = false;       // the box was shown and has been closed
};

// The box's text: the folder the running editor comes from, when known.
std::u16string AlreadyRunningText(std::u16string_view folder);

// Looks at the running notepad++.exe processes, told by their wide long
// paths as the tidy-up tells the bundle's programs (against `keys`), and
// answers: the bundle's own editor's main window shown, restored and in
// front, or the message box captioned `caption`, returning when it is
// closed. The main window is the editor's first visible one
// (FindMainWindowOf); without one, its window of the editor's class, which
// the editor hides while it sits in the notification area. Showing it
// leaves the editor's icon there, as the editor put it.
SecondStartAnswer AnswerSecondStart(const BundleKeys& keys, std::u16string_view caption);

}  // namespace qg
