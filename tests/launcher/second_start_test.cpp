// A start while an editor already runs, on the simulated platform in a real
// bundle folder whose settings a first start would change: the bundle's own
// editor is brought forward, an editor from elsewhere named in a message
// box, and nothing else happens.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::SimulatedPlatform;
using testing::WriteWholeFile;

constexpr std::uint32_t kLauncher = 100, kEditor = 300, kOther = 400;
constexpr char kOtherEditor[] = "C:\\Program Files\\Notepad++\\notepad++.exe";
// "the bundle's editor" in a case's processes.
constexpr char kOwn[] = "<own>";

struct Proc {
  std::uint32_t pid;
  const char* path;
  bool readable = true;
};
struct Win {
  std::uint32_t owner;
  bool hidden, iconic, ownedByWindow;
  const char* className = "Notepad++";
};
struct Case {
  const char* name;
  std::vector<Proc> processes;  // in snapshot order
  std::vector<Win> windows;     // from the top
  bool secondLookFails;         // the snapshot after the first look
  int front;                    // index of the window brought forward; -1: none
  const char16_t* box;          // the message box's text; null: none
};
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

// Fails every process snapshot after the first: the look that found an
// editor running worked, the one that tells it apart does not.
class LaterSnapshotsFail final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  Handle CreateToolhelp32Snapshot(std::uint32_t flags, std::uint32_t processId) override {
    if (++snapshots_ > 1) return 0;
    return inner_.CreateToolhelp32Snapshot(flags, processId);
  }

 private:
  int snapshots_ = 0;
};

class SecondStartTable : public ::testing::TestWithParam<Case> {};

TEST_P(SecondStartTable, AnswersAndChangesNothing) {
  const Case& c = GetParam();
  testing::TempDir dir;
  const std::string root = fs::canonical(dir.Root()).string() + "/bundle/";
  const std::string editorDir = root + "server/notepad/";
  fs::create_directories(editorDir);
  fs::create_directories(root + "server/modules/php/PHP-5.6-5.7");
  const std::vector<std::string> files = {root + "server/modules/php/PHP-5.6-5.7/php.ini",
                                          editorDir + "config.xml", editorDir + "state.txt"};
  WriteWholeFile(files[0], "[PHP]\r\nauto_prepend_file = \"/old/place/header.php\"\r\n");
  WriteWholeFile(files[1],
                 "<NotepadPlus><FileBrowser><root foldername=\"/old/place/\"/></FileBrowser>"
                 "</NotepadPlus>");
  WriteWholeFile(files[2], "/old/place/");  // a first start would record the move
  std::vector<std::string> before;
  for (const std::string& file : files) before.push_back(ReadWholeFile(file));

  SimulatedPlatform sim;
  sim.SetCurrentProcessId(kLauncher);
  sim.AddProcess(kLauncher, 90, root + "quillgate.exe", 10);
  for (const Proc& p : c.processes) {
    std::string path = p.path == std::string(kOwn) ? editorDir + "notepad++.exe" : p.path;
    sim.AddProcess(p.pid, kLauncher + 1, path, 20, p.readable);
  }
  std::vector<Window> windows;
  for (const Win& w : c.windows) {
    windows.push_back(sim.AddWindow("new 1 - Notepad++", w.hidden, 1, w.owner, w.className));
    sim.SetIconic(windows.back(), w.iconic);
    if (w.ownedByWindow) sim.SetOwnerWindow(windows.back(), windows.front());
  }
  LaterSnapshotsFail secondLookFails(sim);
  fs::path cwd = fs::current_path();
  fs::current_path(root);
  {
    testing::PlatformScope scope(c.secondLookFails ? static_cast<Platform&>(secondLookFails)
                                                   : static_cast<Platform&>(sim));
    EXPECT_EQ(LauncherMain(), 0);
  }
  fs::current_path(cwd);

  Window front = c.front < 0 ? 0 : windows[static_cast<std::size_t>(c.front)];
  EXPECT_EQ(sim.Foreground(), front);
  for (std::size_t i = 0; i < windows.size(); ++i) {
    // Only the window brought forward is shown and restored; the others
    // stay as they were.
    EXPECT_EQ(sim.IsIconic(windows[i]), c.windows[i].iconic && windows[i] != front) << i;
    EXPECT_EQ(sim.IsHidden(windows[i]), c.windows[i].hidden && windows[i] != front) << i;
  }
  auto boxes = sim.MessageBoxes();
  if (c.box) {
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.box);
    EXPECT_EQ(boxes[0].caption, u"Quillgate by Dalvenor");
    EXPECT_EQ(boxes[0].owner, 0u);
    EXPECT_EQ(boxes[0].type, MB_OK_FLAG | MB_ICONINFORMATION_FLAG | MB_SETFOREGROUND_FLAG);
  } else {
    EXPECT_TRUE(boxes.empty());
  }

  // Nothing changed: no file, no record, no program started, stopped or
  // closed, nothing waited for.
  for (std::size_t i = 0; i < files.size(); ++i) EXPECT_EQ(ReadWholeFile(files[i]), before[i]);
  EXPECT_FALSE(fs::exists(editorDir + "quillgate.log"));
  EXPECT_TRUE(sim.ProcessStarts().empty());
  EXPECT_TRUE(sim.Terminations().empty());
  EXPECT_TRUE(sim.PostedMessages().empty());
  EXPECT_TRUE(sim.Sleeps().empty());
  EXPECT_FALSE(sim.IsSubreaper());
  EXPECT_EQ(sim.ConsoleText(), "");
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Desktops, SecondStartTable,
    ::testing::Values(
        // Its hidden window and its dialog (owned by the main window) come
        // first; an editor from elsewhere runs too.
        Case{"OwnEditorMinimisedIsRestoredAndInFront",
             {{kOther, kOtherEditor}, {kEditor, kOwn}},
             {{kOther, false, false, false},
              {kEditor, true, false, false},
              {kEditor, false, false, true},
              {kEditor, false, true, false}},
             false,
             3,
             nullptr},
        Case{"OwnEditorNotMinimisedIsOnlyBroughtToTheFront",
             {{kEditor, kOwn}},
             {{kEditor, false, false, false}},
             false,
             0,
             nullptr},
        Case{"EditorFromElsewhereIsNamedWithItsFolder",
             {{kOther, kOtherEditor}},
             {{kOther, false, true, false}},
             false,
             -1,
             u"The editor is already running from C:\\Program Files\\Notepad++\\. Close it, "
             u"then start the bundle's editor again."},
        Case{"AnEditorWhosePathCannotBeReadIsNotToldApart",
             {{kOther, kOtherEditor, false}, {kEditor + 1, "/usr/bin/php.exe"}},
             {},
             false,
             -1,
             u"The editor is already running. Close it, then start the bundle's editor again."},
        Case{"NoSnapshotToTellTheEditorApart",
             {{kEditor, kOwn}},
             {{kEditor, false, true, false}},
             true,
             -1,
             u"The editor is already running. Close it, then start the bundle's editor again."},
        // The editor in the notification area: its main window hidden, below
        // a hidden window of another class and a hidden dialog it owns.
        Case{"OwnEditorHiddenMainWindowIsShownAndInFront",
             {{kEditor, kOwn}},
             {{kEditor, true, false, false, "MSCTFIME UI"},
              {kEditor, true, false, true},
              {kEditor, true, false, false}},
             false,
             2,
             nullptr},
        Case{"OwnEditorHiddenAndMinimisedIsShownRestoredAndInFront",
             {{kEditor, kOwn}},
             {{kEditor, true, true, false}},
             false,
             0,
             nullptr},
        // Hidden windows of another class, of the editor's class owned by
        // another window, or of another program's editor: none is the
        // bundle's editor's main window.
        Case{"OwnEditorHiddenWindowsOfAnotherKindAreNotTaken",
             {{kOther, kOtherEditor}, {kEditor, kOwn}},
             {{kEditor, true, false, false, "MSCTFIME UI"},
              {kEditor, true, false, true},
              {kOther, true, false, false}},
             false,
             -1,
             u"The editor is already running. Close it, then start the bundle's editor again."},
        Case{"OwnEditorWithoutAnyWindowIsAnsweredByTheBox",
             {{kEditor, kOwn}},
             {},
             false,
             -1,
             u"The editor is already running. Close it, then start the bundle's editor again."}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace qg
