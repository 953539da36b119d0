#include "launcher/settings_notice.h"

#include "launcher/bundle_paths.h"
#include "launcher/bundle_root.h"
#include "launcher/run_log.h"
#include "system/paths.h"
#include "system/platform.h"

namespace qg {

namespace {

// An ANSI text (a path below the root, the system's error text) in UTF-16;
// byte for byte where the code page cannot convert it.
std::u16string WideFromAnsi(const std::string& text) {
  std::u16string wide;
  if (WidePathOf(text, &wide)) return wide;
  return std::u16string(text.begin(), text.end());
}

// "path: reason." for a file whose write-back failed.
void AppendFile(std::u16string& text, const std::string& path, const FileOutcome& outcome) {
  if (!outcome.writeBackFailed) return;
  std::string reason = outcome.error ? ErrorText(outcome.error) : "it could not be written";
  if (reason.empty() || reason.back() != '.') reason += '.';
  text.append(u" ").append(WideFromAnsi(path)).append(u": ").append(WideFromAnsi(reason));
}

}  // namespace

std::u16string SettingsNoticeText(const RelocationReport& report) {
  const BundlePaths below = BundlePathsFor("");
  std::u16string text =
      u"The bundle's settings could not be updated for the folder it now lies in.";
  AppendFile(text, below.phpDir + "php.ini", report.phpIni);
  for (const RelocationReport::OtherPhpIni& php : report.otherPhpInis)
    AppendFile(text, below.phpVersionsDir + php.folder + kSep + "php.ini", php.outcome);
  AppendFile(text, below.editorDir + "config.xml", report.configXml);
  AppendFile(text, below.editorDir + "session.xml", report.sessionXml);
  AppendFile(text, below.editorDir + "shortcuts.xml", report.shortcutsXml);
  return text +
         u" The bundle's PHP and editor keep their old paths until the bundle's folder can be "
         u"written.";
}

bool ShowSettingsNotice(const RelocationReport& report, std::u16string_view caption) {
  if (!SettingsLeftBehind(report)) return false;
  std::u16string text = SettingsNoticeText(report);
  std::u16string title(caption);
  return Sys().MessageBoxW(0, text.c_str(), title.c_str(),
                           MB_OK_FLAG | MB_ICONINFORMATION_FLAG | MB_SETFOREGROUND_FLAG) != 0;
}

}  // namespace qg
