#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "files/sequential_file.h"
#include "launcher/launcher.h"
#include "launcher/shutdown.h"
#include "system/console.h"
#include "tests/support/forwarding_platform.h"
#include "tests/support/platform_scope.h"
#include "tests/support/temp_dir.h"

namespace qg {
namespace {

// Writes that take a while, so that the second caller surely arrives while
// the first is still writing the files out.
class SlowWrites final : public testing::ForwardingPlatform {
 public:
  using ForwardingPlatform::ForwardingPlatform;
  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return inner_.WriteFile(file, buffer, count, written);
  }
};

// Whoever returns from the end routine first, the pending output of every
// open file must already be on disk: a caller that arrives while another is
// shutting down waits for it.
TEST(ShutDownLibraries, RunsOnceAndEveryCallerReturnsOnlyWhenItIsDone) {
  testing::TempDir dir;
  SlowWrites slow(NativePlatform());
  testing::PlatformScope scope(slow);
  for (int round = 0; round < 20; ++round) {
    StartLibraries();
    std::vector<std::string> paths;
    for (int n = 0; n < 8; ++n) {
      paths.push_back(dir.Path("file" + std::to_string(n)));
      ASSERT_NE(OpenNumberedFile(n, paths.back().c_str()), 0);
      WriteFileText(n, "pending output", Ascii);  // stays in the buffer until close
    }
    std::atomic<int> sawComplete{0};
    auto caller = [&](bool viaConsole) {
      if (viaConsole)
        ConsoleCloseHandler(CTRL_CLOSE);
      else
        ShutDownLibraries();
      bool complete = true;
      for (const auto& p : paths) complete &= testing::ReadWholeFile(p) == "pending output";
      sawComplete += complete;
    };
    std::thread launcherThread(caller, false), consoleThread(caller, true);
    launcherThread.join();
    consoleThread.join();
    EXPECT_EQ(sawComplete.load(), 2) << "round " << round;
    for (int n = 0; n < 8; ++n) EXPECT_EQ(FilePosition(n), -1);  // closed
    ShutDownLibraries();                                         // a third call is harmless
  }
}

}  // namespace
}  // namespace qg
