#include "launcher/second_start.h"

#include "launcher/bundle_processes.h"
#include "launcher/process_control.h"

namespace qg {

namespace {

// The class of the editor's main window.
constexpr char kEditorWindowClass[] = "Notepad++";

// Which running editor is there: the bundle's own, or the first from
// elsewhere whose path could be read.
SecondStartAnswer FindRunningEditor(const BundleKeys& keys) {
  SecondStartAnswer answer;
  // The bundle's first editor with a hidden main window, for when none has
  // a visible one.
  std::uint32_t hiddenOwner = 0;
  Window hidden = 0;
  BundleProcesses processes;
  // Without the root no program can be told to be the bundle's.
  if (keys.root.Empty() || !processes.Take(keys, 0)) return answer;
  for (const ProcessRecord& record : processes.Processes()) {
    if (!ExeFileMatches(record.exeFile, kEditorExe)) continue;
    const PathKey path = processes.PathOf(record);
    if (path.Empty()) continue;  // cannot be told apart
    if (PathKey::Same(path, keys.editor)) {
      answer.found = SecondStartAnswer::Found::OwnEditor;
      answer.folder.clear();
      answer.editorId = record.pid;
      // A second instance may have no window of its own: the first with one counts.
      answer.window = FindMainWindowOf(record.pid);
      if (answer.window) return answer;
      if (!hidden) {
        hidden = FindWindowOfClass(record.pid, kEditorWindowClass);
        hiddenOwner = record.pid;
      }
    } else if (answer.found == SecondStartAnswer::Found::NotToldApart) {
      std::u16string wide = path.Wide();
      answer.found = SecondStartAnswer::Found::OtherEditor;
      answer.folder = wide.substr(0, wide.find_last_of(u"\\/") + 1);
    }
  }
  if (hidden) {
    answer.editorId = hiddenOwner;
    answer.window = hidden;
  }
  return answer;
}

}  // namespace

std::u16string AlreadyRunningText(std::u16string_view folder) {
  std::u16string text = u"The editor is already running";
  if (!folder.empty()) text.append(u" from ").append(folder);
  return text + u". Close it, then start the bundle's editor again.";
}

SecondStartAnswer AnswerSecondStart(const BundleKeys& keys, std::u16string_view caption) {
  SecondStartAnswer answer = FindRunningEditor(keys);
  if (answer.found == SecondStartAnswer::Found::OwnEditor && answer.window) {
    const bool hidden = !Sys().IsWindowVisible(answer.window);
    // Restoring shows a hidden window too; one that is only hidden is shown
    // as it was.
    if (Sys().IsIconic(answer.window)) {
      Sys().ShowWindow(answer.window, SW_RESTORE_CMD);
      answer.restored = !Sys().IsIconic(answer.window);
    } else if (hidden) {
      Sys().ShowWindow(answer.window, SW_SHOW_CMD);
    }
    answer.shown = hidden && Sys().IsWindowVisible(answer.window);
    answer.inFront = Sys().SetForegroundWindow(answer.window);
    return answer;
  }
  // The bundle's editor without any main window cannot be brought forward:
  // the user is told, as when the editor cannot be told apart.
  answer.text = AlreadyRunningText(answer.folder);
  std::u16string title(caption);
  answer.boxShown =
      Sys().MessageBoxW(0, answer.text.c_str(), title.c_str(),
                        MB_OK_FLAG | MB_ICONINFORMATION_FLAG | MB_SETFOREGROUND_FLAG) != 0;
  return answer;
}

}  // namespace qg
