#include "launcher/library_lifecycle.h"

#include <condition_variable>
#include <mutex>

#include "files/sequential_file.h"
#include "prefs/ini_file.h"
#include "system/console.h"
#include "system/program_runner.h"
#include "xml/xml_library.h"

namespace qg {

namespace {

// The end routine can be reached from the launcher's own thread and from the
// console's close event at the same moment. The first caller does the work;
// any other waits until it is done, so no library is used after release.
std::mutex shutdownMutex;
std::condition_variable shutdownDone;
enum class Stage { Running, ShuttingDown, Done } stage = Stage::Done;
// The end routine has been entered: no settings update may start.
bool closing = false;
// A settings update is using the libraries.
bool updating = false;

constexpr unsigned kUpdatePollMilliseconds = 10;

// Waits until no settings update runs; false when one still runs after the
// limit. The pauses are the console's, which raise the timer resolution, so
// the limit is not stretched by coarse 15.6 ms ticks.
bool UpdateFinished() {
  for (unsigned waited = 0;; waited += kUpdatePollMilliseconds) {
    {
      std::lock_guard<std::mutex> lock(shutdownMutex);
      if (!updating) return true;
    }
    if (waited >= kUpdateWaitMilliseconds) return false;
    SleepMilliseconds(kUpdatePollMilliseconds);
  }
}

}  // namespace

void StartLibraries() {
  InitFileLibrary();
  InitPreferenceLibrary();
  InitProgramRunner();
  InitXmlLibrary();
  {
    std::lock_guard<std::mutex> lock(shutdownMutex);
    stage = Stage::Running;
    closing = false;
    updating = false;
  }
  SetConsoleCloseRoutine(ShutDownLibraries);
  ConsoleStartup(nullptr);
}

bool BeginSettingsUpdate() {
  std::lock_guard<std::mutex> lock(shutdownMutex);
  if (closing || stage != Stage::Running) return false;
  updating = true;
  return true;
}

void EndSettingsUpdate() {
  std::lock_guard<std::mutex> lock(shutdownMutex);
  updating = false;
}

void ShutDownLibraries() {
  {
    std::lock_guard<std::mutex> lock(shutdownMutex);
    closing = true;
  }
  // The close event runs this on a thread of its own, possibly while the
  // launcher's thread is in the middle of the settings update. Past the
  // limit the system is about to end the process: releasing the libraries
  // under the update could only corrupt what it writes.
  if (!UpdateFinished()) return;
  {
    std::unique_lock<std::mutex> lock(shutdownMutex);
    if (stage == Stage::ShuttingDown) {
      shutdownDone.wait(lock, [] { return stage == Stage::Done; });
      return;
    }
    if (stage == Stage::Done) return;
    stage = Stage::ShuttingDown;
  }
  ReleaseXmlLibrary();
  CloseIniFile();
  CloseAllFiles();
  {
    std::lock_guard<std::mutex> lock(shutdownMutex);
    stage = Stage::Done;
  }
  shutdownDone.notify_all();
}

}  // namespace qg
