#include "system/program_runner.h"

#include <gtest/gtest.h>

#include "tests/support/faulty_platform.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/test_names.h"

namespace qg {
namespace {

using testing::PlatformScope;
using testing::SimulatedPlatform;

struct CommandLineCase {
  const char* program;
  const char* parameters;
  const char* commandLine;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) {
  *out << '[' << (c.program ? c.program : "(none)") << "] ["
       << (c.parameters ? c.parameters : "(none)") << ']';
}

class CommandLineTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, QuotesThePathUnlessItIsQuotedAlready) {
  const CommandLineCase& c = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(StartProgram(c.program, c.parameters, nullptr, 0), 1);
  ASSERT_EQ(sim.ProcessStarts().size(), 1u);
  EXPECT_EQ(sim.ProcessStarts()[0].commandLine, c.commandLine);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLineTest,
    ::testing::Values(
        CommandLineCase{"C:\\Program Files\\notepad\\notepad++.exe", "",
                        "\"C:\\Program Files\\notepad\\notepad++.exe\""},
        CommandLineCase{"C:\\Program Files\\x.exe", nullptr, "\"C:\\Program Files\\x.exe\""},
        CommandLineCase{"/opt/bundle/editor", "-n 5", "\"/opt/bundle/editor\" -n 5"},
        CommandLineCase{"\"C:\\a b\\x.exe\"", "", "\"C:\\a b\\x.exe\""},
        CommandLineCase{"\"C:\\a b\\x.exe\" -q", "file", "\"C:\\a b\\x.exe\" -q file"},
        CommandLineCase{"x.exe", "\"a b\"  c\\\"", "\"x.exe\" \"a b\"  c\\\""},
        CommandLineCase{"x.exe", " ", "\"x.exe\"  "}, CommandLineCase{nullptr, nullptr, "\"\""}),
    [](const auto& info) {
      return testing::NameFromText(info.param.program) + "_With_" +
             testing::NameFromText(info.param.parameters);
    });

TEST(ProgramRunnerTest, NormalStartShowsTheWindowAndInheritsNothing) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "", 0), 1);
  ASSERT_EQ(sim.ProcessStarts().size(), 1u);
  const auto start = sim.ProcessStarts()[0];
  EXPECT_FALSE(start.inheritHandles);
  EXPECT_EQ(start.creationFlags, NORMAL_PRIORITY_CLASS_FLAG);
  EXPECT_EQ(start.startup.dwFlags, STARTF_USESHOWWINDOW_FLAG);
  EXPECT_EQ(start.startup.wShowWindow, SW_SHOWNORMAL_CMD);
  EXPECT_FALSE(start.currentDirectory.has_value());  // empty counts as none
  EXPECT_TRUE(sim.Waits().empty());
  EXPECT_EQ(sim.OpenHandles(), 0u);  // process and thread handles closed
}

TEST(ProgramRunnerTest, HiddenStartIsDetached) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "D:\\work", RunHidden), 1);
  const auto start = sim.ProcessStarts().at(0);
  EXPECT_EQ(start.creationFlags, NORMAL_PRIORITY_CLASS_FLAG | DETACHED_PROCESS_FLAG);
  EXPECT_EQ(start.startup.wShowWindow, SW_HIDE_CMD);
  EXPECT_EQ(start.currentDirectory, std::optional<std::string>("D:\\work"));
}

TEST(ProgramRunnerTest, RunWaitWaitsWithoutLimitForTheStartedProcess) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "", RunWait), 1);
  ASSERT_EQ(sim.Waits().size(), 1u);
  EXPECT_EQ(sim.Waits()[0].handle, sim.ProcessStarts().at(0).process);
  EXPECT_EQ(sim.Waits()[0].milliseconds, INFINITE_WAIT);
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

struct ShellCase {
  const char* program;
  const char* workingDirectory;
  std::optional<std::string> directory;
};

void PrintTo(const ShellCase& c, std::ostream* out) {
  *out << '[' << c.program << "] in [" << (c.workingDirectory ? c.workingDirectory : "(none)")
       << ']';
}

class ShellFallbackTest : public ::testing::TestWithParam<ShellCase> {};

TEST_P(ShellFallbackTest, OpensThePathInItsOwnFolder) {
  const ShellCase& c = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  EXPECT_EQ(StartProgram(c.program, "-x", c.workingDirectory, RunWait), 1);
  ASSERT_EQ(sim.ShellStarts().size(), 1u);
  const auto shell = sim.ShellStarts()[0];
  EXPECT_EQ(shell.fMask, 0x540u);
  EXPECT_FALSE(shell.verb.has_value());
  EXPECT_EQ(shell.file, std::optional<std::string>(c.program));
  EXPECT_EQ(shell.parameters, std::optional<std::string>("-x"));
  EXPECT_EQ(shell.directory, c.directory);
  EXPECT_EQ(shell.nShow, SW_SHOWNORMAL_CMD);
  ASSERT_EQ(sim.Waits().size(), 1u);
  EXPECT_EQ(sim.Waits()[0].handle, shell.process);
  EXPECT_EQ(sim.Waits()[0].milliseconds, INFINITE_WAIT);
  EXPECT_EQ(sim.OpenHandles(), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, ShellFallbackTest,
    ::testing::Values(
        ShellCase{"C:\\bundle\\server\\notepad\\readme.txt", "", "C:\\bundle\\server\\notepad\\"},
        ShellCase{"C:\\bundle\\readme.txt", nullptr, "C:\\bundle\\"},
        ShellCase{"C:\\bundle\\readme.txt", "D:\\work", "D:\\work"},
        ShellCase{"\\readme.txt", "", std::nullopt},  // a leading separator does not count
        ShellCase{"readme.txt", "", std::nullopt}, ShellCase{"\\\\readme.txt", "", "\\\\"}
#ifndef _WIN32
        ,
        ShellCase{"/opt/bundle/readme.txt", "", "/opt/bundle/"},
        ShellCase{"/readme.txt", "", std::nullopt}
#endif
        ),
    // Some paths differ only in their separators: the number tells them apart.
    [](const auto& info) {
      return std::to_string(info.index) + "_" + testing::NameFromText(info.param.program) + "_In_" +
             testing::NameFromText(info.param.workingDirectory);
    });

TEST(ProgramRunnerTest, BothStartsFailingReturnZeroWithoutWaiting) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  sim.SetShellExecuteResult(false);
  EXPECT_EQ(StartProgram("C:\\missing\\e.exe", "", "", RunWait), 0);
  EXPECT_EQ(sim.ProcessStarts().size(), 1u);
  EXPECT_EQ(sim.ShellStarts().size(), 1u);
  EXPECT_TRUE(sim.Waits().empty());
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

TEST(ProgramRunnerTest, ShellWithoutProcessLeavesNothingToWaitFor) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  sim.SetShellExecuteResult(true, /*withProcess=*/false);
  EXPECT_EQ(StartProgram("C:\\doc.txt", "", "", RunWait), 1);
  EXPECT_TRUE(sim.Waits().empty());
}

TEST(ProgramRunnerTest, ShellStartWithoutRunWaitDoesNotWait) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  EXPECT_EQ(StartProgram("C:\\doc.txt", "", "", RunHidden), 1);
  EXPECT_TRUE(sim.Waits().empty());
  EXPECT_EQ(sim.ShellStarts().at(0).nShow, SW_HIDE_CMD);
  EXPECT_EQ(sim.OpenHandles(), 0u);
}

TEST(ProgramRunnerTest, NoRoomForTheCommandLineStartsNothing) {
  SimulatedPlatform sim;
  FaultyPlatform faulty(sim);
  PlatformScope scope(faulty);
  faulty.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "", RunWait), 0);
  EXPECT_TRUE(sim.ProcessStarts().empty());
  EXPECT_TRUE(sim.ShellStarts().empty());
}

TEST(ProgramRunnerTest, KeepModeKeepsTheProcessHandleOpen) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  std::intptr_t record = StartProgram("C:\\e.exe", "", "", KeepProgram);
  EXPECT_NE(record, 0);
  EXPECT_NE(record, 1);
  Handle process = sim.ProcessStarts().at(0).process;
  EXPECT_TRUE(sim.IsOpen(process));
  EXPECT_EQ(sim.OpenHandles(), 1u);  // the thread handle is closed
  EXPECT_EQ(sim.PipesCreated(), 0);
}

TEST(ProgramRunnerTest, PipesConnectTheProgramAndKeepOnlyTheRunnersEnds) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  std::intptr_t record = StartProgram("C:\\e.exe", "", "",
                                      KeepProgram | RunHidden | PipeOutput | PipeInput | PipeError);
  EXPECT_NE(record, 0);
  EXPECT_EQ(sim.PipesCreated(), 3);
  EXPECT_EQ(sim.Duplications(), 3);
  const auto start = sim.ProcessStarts().at(0);
  EXPECT_TRUE(start.inheritHandles);
  EXPECT_EQ(start.creationFlags, NORMAL_PRIORITY_CLASS_FLAG);  // not detached
  EXPECT_EQ(start.startup.dwFlags, STARTF_USESHOWWINDOW_FLAG | STARTF_USESTDHANDLES_FLAG);
  // The program's ends went to the program and are closed here.
  EXPECT_NE(start.startup.hStdOutput, 0u);
  EXPECT_FALSE(sim.IsOpen(start.startup.hStdOutput));
  EXPECT_FALSE(sim.IsOpen(start.startup.hStdInput));
  EXPECT_FALSE(sim.IsOpen(start.startup.hStdError));
  EXPECT_EQ(sim.OpenHandles(), 4u);  // the process and the runner's three ends
}

TEST(ProgramRunnerTest, StreamsWithoutAPipeAreTheRunnersOwn) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_NE(StartProgram("C:\\e.exe", "", "", KeepProgram | PipeOutput), 0);
  const auto start = sim.ProcessStarts().at(0);
  EXPECT_EQ(sim.PipesCreated(), 1);
  EXPECT_EQ(start.startup.hStdInput, sim.GetStdHandle(STD_INPUT));
  EXPECT_EQ(start.startup.hStdError, sim.GetStdHandle(STD_ERROR));
  EXPECT_NE(start.startup.hStdOutput, sim.GetStdHandle(STD_OUTPUT));
}

TEST(ProgramRunnerTest, PipeFlagsNeedKeepMode) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "", PipeOutput), 1);
  EXPECT_EQ(sim.PipesCreated(), 0);
  EXPECT_FALSE(sim.ProcessStarts().at(0).inheritHandles);
}

TEST(ProgramRunnerTest, FailedStartWithPipesClosesThemAndSkipsTheShell) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  EXPECT_EQ(StartProgram("C:\\e.exe", "", "", KeepProgram | PipeOutput | PipeError), 0);
  EXPECT_EQ(sim.PipesCreated(), 2);
  EXPECT_TRUE(sim.ShellStarts().empty());
  EXPECT_EQ(sim.OpenHandles(), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

TEST(ProgramRunnerTest, APipeThatCannotBeMadeIsLeftOut) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.FailPipes(true);
  EXPECT_NE(StartProgram("C:\\e.exe", "", "", KeepProgram | PipeOutput), 0);
  const auto start = sim.ProcessStarts().at(0);
  EXPECT_EQ(start.startup.hStdOutput, sim.GetStdHandle(STD_OUTPUT));
  EXPECT_EQ(sim.OpenHandles(), 1u);
}

// A kept program is waited for and then let go of whole: its process
// handle, the runner's pipe ends and its record.
TEST(ProgramRunnerTest, WaitForProgramWaitsAndLetsGoOfTheKeptProgram) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  std::intptr_t record = StartProgram("C:\\e.exe", "", "", KeepProgram | PipeOutput);
  ASSERT_NE(record, 0);
  Handle process = sim.ProcessStarts().at(0).process;
  EXPECT_TRUE(sim.Waits().empty());  // not waited for before it is asked
  EXPECT_TRUE(WaitForProgram(record));
  ASSERT_EQ(sim.Waits().size(), 1u);
  EXPECT_EQ(sim.Waits()[0].handle, process);
  EXPECT_EQ(sim.Waits()[0].milliseconds, INFINITE_WAIT);
  EXPECT_EQ(sim.OpenHandles(), 0u);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
  // Once let go of, the record is no program's any more.
  EXPECT_FALSE(WaitForProgram(record));
  EXPECT_FALSE(WaitForProgram(0));
  EXPECT_FALSE(WaitForProgram(1));  // what a start without keep mode returns
  EXPECT_EQ(sim.Waits().size(), 1u);
}

// The shell may start a program without handing its process: nothing to
// wait for, and the record still goes.
TEST(ProgramRunnerTest, WaitForProgramStartedByTheShellWithoutAProcess) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetCreateProcessResult(false);
  sim.SetShellExecuteResult(true, /*withProcess=*/false);
  std::intptr_t record = StartProgram("C:\\e.exe", "", "", KeepProgram);
  ASSERT_NE(record, 0);
  EXPECT_EQ(LastProgramId(), 0u);
  EXPECT_FALSE(WaitForProgram(record));
  EXPECT_TRUE(sim.Waits().empty());
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
}

// A kept program's record is made before the start: without memory for it
// nothing is started, so a program once running is always waited for.
TEST(ProgramRunnerTest, KeepModeWithoutMemoryForTheRecordStartsNothing) {
  int refused = 0;
  for (std::int64_t n = 1;; ++n) {
    SimulatedPlatform sim;
    FaultyPlatform faulty(sim);
    faulty.FailAt(n, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
    std::intptr_t record;
    {
      PlatformScope scope(faulty);
      record = StartProgram("C:\\e.exe", "", "", KeepProgram);
      if (record) {
        EXPECT_TRUE(WaitForProgram(record));
      }
    }
    if (!faulty.Fired()) {
      EXPECT_NE(record, 0);
      break;
    }
    ++refused;
    EXPECT_EQ(record, 0);
    EXPECT_TRUE(sim.ProcessStarts().empty()) << "allocation " << n;
    EXPECT_EQ(sim.OutstandingBlocks(), 0);
    ASSERT_LT(n, 10);
  }
  EXPECT_EQ(refused, 2);  // the command line and the record
}

}  // namespace
}  // namespace qg
