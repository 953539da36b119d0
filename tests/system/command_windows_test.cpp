// The launcher's closing of command windows, on a simulated desktop.
#include <gtest/gtest.h>

#include "launcher/tidy_up.h"
#include "tests/support/simulated_platform.h"

namespace qg {
namespace {

using testing::PlatformScope;
using testing::SimulatedPlatform;

// The loop's own behaviour, whatever the filter: every titled match counts.
bool AcceptAll(Window, const void*) { return true; }
int CloseAll() { return CloseCommandWindows(AcceptAll, nullptr); }

std::vector<Window> Targets(const SimulatedPlatform& sim) {
  std::vector<Window> targets;
  for (const auto& message : sim.PostedMessages()) {
    EXPECT_EQ(message.message, WM_CLOSE_MSG);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 0);
    targets.push_back(message.window);
  }
  return targets;
}

TEST(CommandWindowsTest, ClosesEveryMatchFromTheTopWithAPauseEach) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  Window prompt = sim.AddWindow("C:\\Windows\\system32\\cmd.exe");
  Window editor = sim.AddWindow("notes.txt - Notepad++");
  Window hidden = sim.AddWindow("CMD", true);
  Window page = sim.AddWindow("cmdlets - Browser");
  EXPECT_EQ(CloseAll(), 3);
  EXPECT_EQ(Targets(sim), (std::vector<Window>{prompt, hidden, page}));
  EXPECT_EQ(sim.Sleeps(), (std::vector<std::uint32_t>{100, 100, 100}));
  EXPECT_TRUE(sim.WindowExists(editor));
  EXPECT_EQ(sim.WindowCount(), 1u);
}

TEST(CommandWindowsTest, ASlowWindowIsAskedAgainUntilItCloses) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  Window slow = sim.AddWindow("cmd", false, 3);
  Window quick = sim.AddWindow("cmd too");
  EXPECT_EQ(CloseAll(), 4);
  EXPECT_EQ(Targets(sim), (std::vector<Window>{slow, slow, slow, quick}));
  EXPECT_EQ(sim.WindowCount(), 0u);
}

TEST(CommandWindowsTest, AWindowThatNeverClosesDoesNotHoldTheLauncher) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  Window stubborn = sim.AddWindow("cmd", false, 0);
  EXPECT_EQ(CloseAll(), kMaxCloseWindowPasses);
  EXPECT_EQ(sim.PostedMessages().size(), static_cast<std::size_t>(kMaxCloseWindowPasses));
  EXPECT_TRUE(sim.WindowExists(stubborn));
  EXPECT_EQ(sim.ElapsedMilliseconds(), 100u * kMaxCloseWindowPasses);
}

TEST(CommandWindowsTest, NoCommandWindowMeansNoPass) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddWindow("Program Manager");
  EXPECT_EQ(CloseAll(), 0);
  EXPECT_TRUE(sim.PostedMessages().empty());
  EXPECT_TRUE(sim.Sleeps().empty());
}

TEST(CommandWindowsTest, AWindowOpenedDuringThePauseIsClosedToo) {
  SimulatedPlatform sim;
  PlatformScope scope(sim);
  sim.AddWindow("cmd");
  bool opened = false;
  sim.OnSleep([&](std::uint32_t) {
    if (!opened) {
      opened = true;
      sim.AddWindow("second cmd");
    }
  });
  EXPECT_EQ(CloseAll(), 2);
  EXPECT_EQ(sim.WindowCount(), 0u);
}

}  // namespace
}  // namespace qg
