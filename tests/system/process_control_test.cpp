#include "launcher/process_control.h"

#include <gtest/gtest.h>

#include "tests/support/faulty_platform.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/test_names.h"

namespace qg {
namespace {

using testing::PlatformScope;
using testing::SimulatedPlatform;

struct NameCase {
  const char* exeFile;
  const char* name;
  bool matches;
};

void PrintTo(const NameCase& c, std::ostream* out) {
  *out << '[' << c.exeFile << "] ~ [" << c.name << ']';
}

class NameMatchTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameMatchTest, ComparesTheFileNamePartIgnoringCase) {
  const NameCase& c = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddProcess(40, c.exeFile);
  EXPECT_EQ(IsProcessRunning(c.name), c.matches ? 1 : 0) << c.exeFile << " / " << c.name;
  EXPECT_EQ(KillProcessByName(c.name), c.matches ? 1 : 0);
  EXPECT_EQ(sim.Terminations().size(), c.matches ? 1u : 0u);
  EXPECT_EQ(sim.LastEntrySize(), 296u);
  EXPECT_EQ(sim.OpenHandles(), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, NameMatchTest,
    ::testing::Values(NameCase{"notepad++.exe", "notepad++.exe", true},
                      NameCase{"notepad++.exe", "NOTEPAD++.EXE", true},
                      NameCase{"NotePad++.Exe", "notepad++.exe", true},
                      NameCase{"C:\\bundle\\server\\php.exe", "php.exe", true},
                      NameCase{"/opt/bundle/server/php.exe", "php.exe", true},
                      NameCase{"C:/mixed\\dirs/php.exe", "PHP.EXE", true},
                      NameCase{"\"C:\\Program Files\\php.exe\"", "php.exe", true},
                      NameCase{"\"php.exe\" -S localhost", "php.exe", true},
                      NameCase{"php.exe", "php", false}, NameCase{"php", "php.exe", false},
                      NameCase{"php.exe", "hp.exe", false},
                      NameCase{"C:\\php.exe\\other.exe", "php.exe", false},
                      // The part stops at the first quote after its start.
                      NameCase{"C:\\x\\ph\"p.exe", "ph", true},
                      // Letters of the ANSI code page beyond ASCII.
                      NameCase{"\xC4PFEL.EXE", "\xE4pfel.exe", true},
                      NameCase{"notepad++.exe", "", false}),
    [](const auto& info) {
      return testing::NameFromText(info.param.exeFile) +
             (info.param.matches ? "_Matches_" : "_DiffersFrom_") +
             testing::NameFromText(info.param.name);
    });

TEST(ProcessControlTest, NothingRunsInAnEmptyTable) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(IsProcessRunning("php.exe"), 0);
  EXPECT_EQ(KillProcessByName("php.exe"), 0);
  EXPECT_TRUE(sim.OpenProcessCalls().empty());
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

TEST(ProcessControlTest, KillStopsOnlyTheFirstMatchWithExitCodeNine) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddProcess(7, "explorer.exe");
  sim.AddProcess(30, "php.exe");
  sim.AddProcess(20, "C:\\other\\PHP.EXE");
  EXPECT_EQ(KillProcessByName("php.exe"), 1);
  ASSERT_EQ(sim.Terminations().size(), 1u);
  EXPECT_EQ(sim.Terminations()[0].pid, 30u);
  EXPECT_EQ(sim.Terminations()[0].exitCode, 9u);
  EXPECT_TRUE(sim.IsRunning(20));
  EXPECT_TRUE(sim.IsRunning(7));
  EXPECT_EQ(IsProcessRunning("php.exe"), 1);  // the second one still runs

  EXPECT_EQ(KillProcessByName("php.exe"), 1);
  EXPECT_FALSE(sim.IsRunning(20));
  EXPECT_EQ(IsProcessRunning("php.exe"), 0);
  EXPECT_EQ(KillProcessByName("php.exe"), 0);
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

TEST(ProcessControlTest, FirstMatchThatCannotBeOpenedEndsTheSearch) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddProcess(11, "ConEmu.exe", /*canOpen=*/false);
  sim.AddProcess(12, "ConEmu.exe");
  EXPECT_EQ(KillProcessByName("conemu.exe"), 0);
  EXPECT_EQ(sim.OpenProcessCalls(), std::vector<std::uint32_t>{11});
  EXPECT_TRUE(sim.Terminations().empty());
  EXPECT_TRUE(sim.IsRunning(12));
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

TEST(ProcessControlTest, SnapshotFailureFindsAndStopsNothing) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddProcess(5, "notepad++.exe");
  sim.FailSnapshots(true);
  EXPECT_EQ(IsProcessRunning("notepad++.exe"), 0);
  EXPECT_EQ(KillProcessByName("notepad++.exe"), 0);
  EXPECT_TRUE(sim.OpenProcessCalls().empty());
  EXPECT_TRUE(sim.IsRunning(5));
}

TEST(ProcessControlTest, NoHeapMeansNoMatchAndNoLeak) {
  SimulatedPlatform sim;
  FaultyPlatform faulty(sim);
  PlatformScope scope(faulty);
  sim.AddProcess(5, "php.exe");
  faulty.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(KillProcessByName("php.exe"), 0);
  EXPECT_TRUE(sim.IsRunning(5));
  EXPECT_EQ(sim.OpenHandles(), 0u);
  faulty.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(FindWindowByTitle("cmd"), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

TEST(WindowSearchTest, FindsTheHighestMatchIgnoringCaseAndVisibility) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  const std::string top = "Program Manager", prompt = "C:\\Windows\\System32\\CMD.EXE";
  sim.AddWindow(top);
  Window hidden = sim.AddWindow(prompt, true);
  Window second = sim.AddWindow("Administrator: cmd");
  EXPECT_EQ(FindWindowByTitle("cmd"), hidden);
  EXPECT_EQ(FindWindowByTitle("CmD"), hidden);
  EXPECT_EQ(FindWindowByTitle("administrator"), second);
  EXPECT_EQ(FindWindowByTitle("notepad"), 0u);
  // A title is read with room for its length and two more characters.
  std::vector<int> capacities = sim.TitleCapacities();
  ASSERT_GE(capacities.size(), 2u);
  EXPECT_EQ(capacities[0], static_cast<int>(top.size()) + 2);
  EXPECT_EQ(capacities[1], static_cast<int>(prompt.size()) + 2);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

TEST(WindowSearchTest, EmptyTitlesAndTheEmptyTextNeverMatch) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddWindow("");
  Window named = sim.AddWindow("cmd");
  EXPECT_EQ(FindWindowByTitle(""), 0u);
  EXPECT_EQ(FindWindowByTitle(nullptr), 0u);
  EXPECT_EQ(FindWindowByTitle("c"), named);
}

TEST(WindowSearchTest, AnEmptyDesktopHasNoMatch) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(FindWindowByTitle("cmd"), 0u);
}

TEST(WindowSearchTest, SearchesAfreshAfterAWindowCloses) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  Window first = sim.AddWindow("cmd one");
  Window second = sim.AddWindow("cmd two", false, 2);
  ASSERT_EQ(FindWindowByTitle("cmd"), first);
  EXPECT_TRUE(Sys().PostMessageA(first, WM_CLOSE_MSG, 0, 0));
  EXPECT_EQ(FindWindowByTitle("cmd"), second);
  EXPECT_TRUE(Sys().PostMessageA(second, WM_CLOSE_MSG, 0, 0));
  EXPECT_EQ(FindWindowByTitle("cmd"), second);  // it takes two requests
  EXPECT_TRUE(Sys().PostMessageA(second, WM_CLOSE_MSG, 0, 0));
  EXPECT_EQ(FindWindowByTitle("cmd"), 0u);
  EXPECT_FALSE(Sys().PostMessageA(second, WM_CLOSE_MSG, 0, 0));  // gone
}

// The class search takes the whole class name, in any letter case, of a
// window of that process without an owner window, hidden or not.
TEST(WindowSearchTest, ClassSearchTakesTheWholeClassOfTheProcesssOwnWindow) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  constexpr std::uint32_t kEditor = 30, kOther = 31;
  sim.AddWindow("", true, 1, kOther, "Notepad++");
  sim.AddWindow("", true, 1, kEditor, "Notepad++Helper");
  sim.AddWindow("", true, 1, kEditor, "Notepad+");
  Window dialog = sim.AddWindow("Find", true, 1, kEditor, "Notepad++");
  Window main = sim.AddWindow("new 1 - Notepad++", true, 1, kEditor, "NOTEPAD++");
  sim.SetOwnerWindow(dialog, main);
  EXPECT_EQ(FindWindowOfClass(kEditor, "notepad++"), main);
  EXPECT_EQ(FindWindowOfClass(kOther, "Notepad++Helper"), 0u);
  EXPECT_EQ(FindWindowOfClass(kEditor, ""), 0u);
  EXPECT_EQ(FindWindowOfClass(kEditor, nullptr), 0u);
  EXPECT_EQ(FindWindowOfClass(0, "Notepad++"), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

TEST(WindowSearchTest, ClassSearchWithoutHeapFindsNothing) {
  SimulatedPlatform sim;
  FaultyPlatform faulty(sim);
  PlatformScope scope(faulty);
  sim.AddWindow("", true, 1, 30, "Notepad++");
  faulty.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(FindWindowOfClass(30, "Notepad++"), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

}  // namespace
}  // namespace qg
