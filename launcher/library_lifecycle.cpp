// Starting the libraries, and the end routine that releases them once.
#include <condition_variable>
#include <mutex>

#include "files/sequential_file.h"
#include "launcher/launcher.h"
#include "launcher/shutdown.h"
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

}  // namespace

void StartLibraries() {
  InitFileLibrary();
  InitPreferenceLibrary();
  InitProgramRunner();
  InitXmlLibrary();
  {
    std::lock_guard<std::mutex> lock(shutdownMutex);
    stage = Stage::Running;
  }
  SetConsoleCloseRoutine(ShutDownLibraries);
  ConsoleStartup(nullptr);
}

void ShutDownLibraries() {
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
