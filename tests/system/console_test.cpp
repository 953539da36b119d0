#include "system/console.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "tests/support/emulator.h"
#include "tests/support/faulty_platform.h"
#include "tests/support/simulated_platform.h"
#include "tests/support/test_names.h"

namespace qg {
namespace {

using testing::PlatformScope;
using testing::SimulatedPlatform;

std::atomic<int> closeRoutineRuns{0};
void CountCloseRoutine() { ++closeRoutineRuns; }

TEST(ConsoleTest, StartupTakesStandardOutputAndInstallsTheHandler) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_EQ(ConsoleStartup(nullptr), 1);
  EXPECT_TRUE(sim.Titles().empty());
  ASSERT_EQ(sim.CtrlRoutines().size(), 1u);
  EXPECT_EQ(sim.CtrlRoutines()[0], &ConsoleCloseHandler);
  EXPECT_EQ(ConsoleStartup("Quillgate"), 1);
  EXPECT_EQ(sim.Titles(), std::vector<std::string>{"Quillgate"});
  ConsoleShutdown();
}

TEST(ConsoleTest, TitleResultIsThePlatformsResult) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  EXPECT_NE(SetConsoleTitleText("Quillgate by Dalvenor"), 0);
  sim.SetTitleResult(false);
  EXPECT_EQ(SetConsoleTitleText("again"), 0);
  EXPECT_EQ(sim.Titles(), (std::vector<std::string>{"Quillgate by Dalvenor", "again"}));
}

struct LineCase {
  const char* text;
  std::string bytes;
};

void PrintTo(const LineCase& c, std::ostream* out) {
  *out << (c.text ? ::testing::PrintToString(std::string(c.text)) : "(none)");
}

class PrintLineTest : public ::testing::TestWithParam<std::tuple<LineCase, bool>> {};

TEST_P(PrintLineTest, WritesTheTextAndCrLfToConsoleOrFile) {
  const auto& [line, attached] = GetParam();
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.SetConsoleAttached(attached);
  ConsoleStartup(nullptr);
  EXPECT_NE(PrintLine(line.text), 0);
  EXPECT_EQ(attached ? sim.ConsoleText() : sim.FileText(), line.bytes);
  EXPECT_EQ(attached ? sim.FileText() : sim.ConsoleText(), "");
  EXPECT_EQ(sim.OutputFlushes(), 1);
  EXPECT_EQ(sim.OutstandingBlocks(), 0);
  ConsoleShutdown();
}

INSTANTIATE_TEST_SUITE_P(Lines, PrintLineTest,
                         ::testing::Combine(::testing::Values(LineCase{nullptr, "\r\n"},
                                                              LineCase{"", "\r\n"},
                                                              LineCase{"abc", "abc\r\n"},
                                                              LineCase{"????????????? ???????",
                                                                       "????????????? ???????\r\n"},
                                                              LineCase{"a\nb\xE9", "a\nb\xE9\r\n"}),
                                            ::testing::Bool()),
                         [](const auto& info) {
                           return testing::NameFromText(std::get<0>(info.param).text) +
                                  (std::get<1>(info.param) ? "_ToConsole" : "_ToFile");
                         });

TEST(ConsoleTest, PrintLineWithoutHeapWritesNothing) {
  SimulatedPlatform sim;
  FaultyPlatform faulty(sim);
  PlatformScope scope(faulty);
  ConsoleStartup(nullptr);
  faulty.FailAt(1, FaultyPlatform::Fault::Fail, FaultyPlatform::HeapCalls);
  EXPECT_EQ(PrintLine("abc"), 0);
  EXPECT_EQ(sim.ConsoleText(), "");
  EXPECT_EQ(sim.OutputFlushes(), 0);
  ConsoleShutdown();
}

TEST(ConsoleTest, WriteConsoleTextReportsTheLastCall) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  ConsoleStartup(nullptr);
  EXPECT_EQ(WriteConsoleText("xy", 2), 1);
  EXPECT_EQ(sim.ConsoleText(), "xy");
  ConsoleShutdown();
  // Without standard output both writes fail.
  EXPECT_EQ(WriteConsoleText("z", 1), 0);
  EXPECT_EQ(sim.ConsoleText(), "xy");
  EXPECT_EQ(sim.FileText(), "");
}

TEST(ConsoleTest, CloseEventRunsTheRoutineOncePerEventAndOnlyForClose) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  SetConsoleCloseRoutine(CountCloseRoutine);
  ConsoleStartup(nullptr);
  closeRoutineRuns = 0;
  for (std::uint32_t event : {CTRL_C, CTRL_BREAK, CTRL_LOGOFF, CTRL_SHUTDOWN}) {
    EXPECT_FALSE(sim.RaiseConsoleEvent(event));  // handed on to the default
  }
  EXPECT_EQ(closeRoutineRuns, 0);
  EXPECT_FALSE(sim.RaiseConsoleEvent(CTRL_CLOSE));
  EXPECT_EQ(closeRoutineRuns, 1);
  EXPECT_FALSE(sim.RaiseConsoleEvent(CTRL_CLOSE));
  EXPECT_EQ(closeRoutineRuns, 2);
  SetConsoleCloseRoutine(nullptr);
  EXPECT_EQ(ConsoleCloseHandler(CTRL_CLOSE), 0);  // no routine: nothing to run
  EXPECT_EQ(closeRoutineRuns, 2);
  ConsoleShutdown();
}

// The timer resolution is raised once per process, so this runs in a fresh
// one: the statement below is executed in a child that starts the test
// program anew.
void SleepTwiceInAFreshProcess() {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  SleepMilliseconds(0);
  bool raisedOnFirst = sim.TimerPeriods() == std::vector<std::uint32_t>{1};
  SleepMilliseconds(1000);
  SleepMilliseconds(100);
  bool raisedOnce = sim.TimerPeriods() == std::vector<std::uint32_t>{1};
  bool slept = sim.Sleeps() == std::vector<std::uint32_t>{0, 1000, 100};
  std::exit(raisedOnFirst && raisedOnce && slept ? 0 : 1);
}

TEST(ConsoleDeathTest, SleepRaisesTheTimerResolutionOnce) {
  testing::UseFreshProcessDeathTests();
  EXPECT_EXIT(SleepTwiceInAFreshProcess(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace qg
