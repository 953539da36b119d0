#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "files/sequential_file.h"
#include "launcher/bundle_paths.h"
#include "launcher/library_lifecycle.h"
#include "launcher/relocation.h"
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

// The settings update's writes, slowed or held at a gate; the end routine's
// pauses counted instead of slept when `countPauses` is set.
class UpdateUnderClose final : public testing::ForwardingPlatform {
 public:
  UpdateUnderClose(bool gated, bool countPauses)
      : ForwardingPlatform(NativePlatform()), gated_(gated), countPauses_(countPauses) {}

  bool WriteFile(Handle file, const void* buffer, std::uint32_t count,
                 std::uint32_t* written) override {
    if (std::this_thread::get_id() == updater) {
      std::unique_lock<std::mutex> lock(mutex_);
      writing_ = true;
      changed_.notify_all();
      if (gated_)
        changed_.wait(lock, [this] { return open_; });
      else
        changed_.wait_for(lock, std::chrono::milliseconds(30));
    }
    return inner_.WriteFile(file, buffer, count, written);
  }
  void Sleep(std::uint32_t milliseconds) override {
    if (!countPauses_) return inner_.Sleep(milliseconds);
    paused += milliseconds;
  }
  void WaitForTheFirstWrite() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return writing_; });
  }
  void OpenGate() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

  std::atomic<std::thread::id> updater{};
  std::atomic<std::uint32_t> paused{0};

 private:
  const bool gated_, countPauses_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool writing_ = false, open_ = false;
};

// The console's close event in the middle of the settings update: the end
// routine waits for the update (at most its limit) before it releases
// anything, and an update the close event came before does not start.
TEST(ShutDownLibraries, CloseEventWaitsForTheSettingsUpdate) {
  struct Case {
    const char* name;
    bool closeFirst;     // the event comes before the update begins
    bool outlastsLimit;  // the update is held until the event handler returned
  } cases[] = {
      {"update ends while the close event waits", false, false},
      {"update outlasts the limit", false, true},
      {"close event before the update", true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::TempDir dir;
    std::string php = dir.Write("server/modules/php/PHP-5.6-5.7/php.ini", "[PHP]\r\n");
    dir.Write("server/notepad/config.xml",
              "<NotepadPlus><FileBrowser><root foldername=\"x\"/></FileBrowser></NotepadPlus>");
    BundlePaths paths = BundlePathsFor(dir.Root().string());
    UpdateUnderClose platform(c.outlastsLimit, c.outlastsLimit);
    testing::PlatformScope scope(platform);
    StartLibraries();
    // A file with pending output shows whether the libraries were released.
    std::string witness = dir.Path("witness");
    ASSERT_NE(OpenNumberedFile(9, witness.c_str()), 0);
    WriteFileText(9, "pending", Ascii);

    if (c.closeFirst) {
      ConsoleCloseHandler(CTRL_CLOSE);
      UpdateBundleIfMoved(paths);
      EXPECT_FALSE(dir.Exists("server/notepad/state.txt"));
      EXPECT_EQ(testing::ReadWholeFile(php), "[PHP]\r\n");
      EXPECT_EQ(FilePosition(9), -1);
      continue;
    }

    std::thread update([&] {
      platform.updater = std::this_thread::get_id();
      UpdateBundleIfMoved(paths);
    });
    platform.WaitForTheFirstWrite();
    std::atomic<bool> handled{false};
    std::string stateWhenHandled;
    std::thread close([&] {
      ConsoleCloseHandler(CTRL_CLOSE);
      stateWhenHandled = dir.Read("server/notepad/state.txt");
      handled = true;
    });
    close.join();
    if (c.outlastsLimit) {
      EXPECT_EQ(FilePosition(9), 7);  // nothing released
      EXPECT_GE(platform.paused.load(), kUpdateWaitMilliseconds);
      platform.OpenGate();
      update.join();
      ShutDownLibraries();  // the launcher's own end still releases
    } else {
      update.join();
      EXPECT_EQ(stateWhenHandled, paths.rootDir);  // the update had ended
    }
    EXPECT_TRUE(handled.load());
    EXPECT_EQ(FilePosition(9), -1);
    EXPECT_EQ(testing::ReadWholeFile(witness), "pending");
    EXPECT_EQ(dir.Read("server/notepad/state.txt"), paths.rootDir);
  }
}
}  // namespace
}  // namespace qg
