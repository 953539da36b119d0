// Quillgate: keeps a portable bundle's settings pointed at where the bundle
// lives, starts its editor, waits for it and tidies up after it. It reads no
// command line and always ends with exit code 0.
#include "launcher/launcher.h"
#include "system/platform.h"

int main() { qg::Sys().ExitProcess(static_cast<std::uint32_t>(qg::LauncherMain())); }
