// The answer to a start that found the bundle moved but could not write its
// settings back (a write-protected stick or disc, a folder the user may not
// write): the bundle's PHP and editor keep their old paths, and since the
// console is hidden and the run's record may not be writable either, the
// user is told in a message box, once per start. The launcher shows it after
// it has started the editor, so the editor is not held up by it.
#pragma once

#include <string>
#include <string_view>

#include "launcher/relocation.h"

namespace qg {

// The box's text: each settings file that could not be written back, by its
// path below the bundle's root, with the system's reason, and what that
// means for the bundle.
std::u16string SettingsNoticeText(const RelocationReport& report);

// When SettingsLeftBehind(report): shows the box captioned `caption` and
// returns when it is closed; true when it was shown. Otherwise shows nothing.
bool ShowSettingsNotice(const RelocationReport& report, std::u16string_view caption);

}  // namespace qg
