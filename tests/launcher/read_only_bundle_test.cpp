// The whole launcher run in this process on a bundle that cannot be
// written (a write-protected medium, simulated below the simulated desktop):
// settings that are already right count as done without a write; settings
// that cannot be written back are told in a message box once the editor has
// been started, and the root is not recorded; a state.txt alone that cannot
// be written is only noted in the record.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "launcher/run_log.h"
#include "tests/support/fixtures.h"
#include "tests/support/read_only_platform.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

namespace fs = std::filesystem;
using testing::ReadWholeFile;
using testing::WriteWholeFile;

const char kOldRoot[] = "/the/old/place/";
const char kPhpIni[] =
    "[PHP]\r\nengine = On\r\nauto_prepend_file = \"/the/old/place/header.php\"\r\n"
    "include_path = \".:/the/old/place/PEAR\"\r\n";

// The order in which the editor was started, a box shown and a process
// waited for.
class Sequence final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool CreateProcessA(char* commandLine, bool inheritHandles, std::uint32_t creationFlags,
                      const char* currentDirectory, const StartupInfo& startup,
                      ProcessInformation* info) override {
    events.push_back("start");
    return inner_.CreateProcessA(commandLine, inheritHandles, creationFlags, currentDirectory,
                                 startup, info);
  }
  int MessageBoxW(Window owner, const char16_t* text, const char16_t* caption,
                  std::uint32_t type) override {
    events.push_back("box");
    return inner_.MessageBoxW(owner, text, caption, type);
  }
  std::uint32_t WaitForSingleObject(Handle handle, std::uint32_t milliseconds) override {
    events.push_back("wait");
    return inner_.WaitForSingleObject(handle, milliseconds);
  }
  std::vector<std::string> events;
};

struct Files {
  std::string php, config, session, state;
  bool operator==(const Files&) const = default;
};

class ReadOnlyBundle : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::canonical(dir_.Root()).string() + "/";
    fs::create_directories(root_ + "server/notepad");
    fs::create_directories(root_ + "server/modules/php/PHP-5.6-5.7");
    WriteWholeFile(PhpIni(), kPhpIni);
    WriteWholeFile(root_ + "server/notepad/config.xml",
                   testing::BundleFixture("config.xml", kOldRoot));
    WriteWholeFile(root_ + "server/notepad/session.xml",
                   testing::BundleFixture("session.xml", kOldRoot));
    WriteWholeFile(State(), kOldRoot);
  }

  std::string PhpIni() const { return root_ + "server/modules/php/PHP-5.6-5.7/php.ini"; }
  std::string State() const { return root_ + "server/notepad/state.txt"; }
  std::string Log() const { return root_ + "server/notepad/quillgate.log"; }
  Files Now() const {
    return {ReadWholeFile(PhpIni()), ReadWholeFile(root_ + "server/notepad/config.xml"),
            ReadWholeFile(root_ + "server/notepad/session.xml"), ReadWholeFile(State())};
  }

  // Runs the launcher in the bundle on `media`; the boxes it showed.
  std::vector<testing::SimulatedPlatform::Box> Run(Platform& media) {
    fs::path before = fs::current_path();
    fs::current_path(root_);
    testing::SimulatedPlatform sim(media);
    Sequence sequence(sim);
    int exitCode;
    {
      testing::PlatformScope scope(sequence);
      exitCode = LauncherMain();
    }
    fs::current_path(before);
    EXPECT_EQ(exitCode, 0);
    events_ = sequence.events;
    return sim.MessageBoxes();
  }
  std::vector<testing::SimulatedPlatform::Box> Run() { return Run(NativePlatform()); }

  testing::TempDir dir_;
  std::string root_;
  std::vector<std::string> events_;
};

TEST_F(ReadOnlyBundle, SettingsAlreadyRightAreNotWrittenAndRaiseNothing) {
  // A bundle brought up to date here once; its state.txt still names the
  // old place, as on a medium written before it was made read-only.
  ASSERT_TRUE(Run().empty());
  const Files right = Now();
  ASSERT_EQ(right.state, root_);
  WriteWholeFile(State(), kOldRoot);
  const Files before = Now();
  testing::ReadOnlyPlatform media(NativePlatform());
  EXPECT_TRUE(Run(media).empty());
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(media.Writes(), 0);
  EXPECT_EQ(media.Changes(), 0);
  // The files were opened for writing first, as always; but the only
  // replacements tried were of the root's record and of the run's record.
  int replacements = 0;
  for (const std::string& path : media.Refused()) {
    if (path.find(".quillgate-new") == std::string::npos) continue;
    ++replacements;
    EXPECT_TRUE(path.find("state.txt") != std::string::npos ||
                path.find("quillgate.log") != std::string::npos)
        << path;
  }
  EXPECT_EQ(replacements, 2);
}

TEST_F(ReadOnlyBundle, NotMovedOnAReadOnlyMediumDoesNothing) {
  WriteWholeFile(State(), root_);
  const Files before = Now();
  testing::ReadOnlyPlatform media(NativePlatform());
  EXPECT_TRUE(Run(media).empty());
  EXPECT_EQ(Now(), before);
  EXPECT_EQ(media.Writes(), 0);
  EXPECT_EQ(events_, (std::vector<std::string>{"start", "wait"}));
}

// Moved to a medium that cannot be written: the box names each settings
// file that could not be written with the system's reason, after the editor
// was started and before it is waited for; nothing is recorded.
TEST_F(ReadOnlyBundle, SettingsThatCannotBeWrittenAreToldOnceTheEditorRuns) {
  struct Case {
    const char* name;
    bool stateThere;
  } cases[] = {{"state.txt read, not writable", true},
               {"state.txt missing, cannot be made", false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.stateThere) fs::remove(State());
    const Files before = Now();
    testing::ReadOnlyPlatform media(NativePlatform());
    auto boxes = Run(media);
    EXPECT_EQ(Now(), before);
    EXPECT_FALSE(fs::exists(root_ + "server/notepad/quillgate.log"));
    EXPECT_EQ(media.Writes(), 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, u"Quillgate by Dalvenor");
    EXPECT_EQ(events_, (std::vector<std::string>{"start", "box", "wait"}));
    const std::string reason = ErrorText(ERROR_WRITE_PROTECT_CODE);
    ASSERT_FALSE(reason.empty());
    const std::u16string wideReason(reason.begin(), reason.end());  // ASCII
    for (const char16_t* file :
         {u"server/modules/php/PHP-5.6-5.7/php.ini: ", u"server/notepad/config.xml: "})
      EXPECT_NE(boxes[0].text.find(file + wideReason), std::u16string::npos)
          << std::string(boxes[0].text.begin(), boxes[0].text.end());
    // A first start leaves the session alone: it is named only after a move.
    EXPECT_EQ(boxes[0].text.find(u"session.xml") != std::u16string::npos, c.stateThere);
    EXPECT_NE(boxes[0].text.find(u"keep their old paths"), std::u16string::npos);
  }
}

TEST_F(ReadOnlyBundle, OnlyStateTxtUnwritableIsNotedNotShown) {
  testing::ReadOnlyPlatform media(NativePlatform());
  media.RefuseOnly("state.txt");
  EXPECT_TRUE(Run(media).empty());
  EXPECT_EQ(ReadWholeFile(State()), kOldRoot);
  EXPECT_NE(ReadWholeFile(PhpIni()), kPhpIni);  // the settings were brought up to date
  const std::string record = ReadWholeFile(Log());
  const std::string reason = ErrorText(ERROR_WRITE_PROTECT_CODE);
  EXPECT_NE(record.find("state.txt: could not be opened for writing, read as it is: " + reason),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("state.txt: failed, the next start tries again: " + reason),
            std::string::npos)
      << record;
  // Once state.txt can be written, the next start records the root.
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(ReadWholeFile(State()), root_);
}

// A settings file that is not done for another reason than its write (one
// that does not parse) is the record's matter alone.
TEST_F(ReadOnlyBundle, AFileThatFailsOtherwiseRaisesNoBox) {
  WriteWholeFile(root_ + "server/notepad/config.xml", "<NotepadPlus><unclosed></NotepadPlus>");
  EXPECT_TRUE(Run().empty());
  EXPECT_EQ(ReadWholeFile(State()), kOldRoot);
  EXPECT_NE(ReadWholeFile(Log()).find("config.xml: failed"), std::string::npos);
}

}  // namespace
}  // namespace qg
