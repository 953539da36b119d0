// Start-and-wait cost: the program runner's StartProgram with RunWait
// against the floor, a bare posix_spawn and waitpid of the same program,
// measured in alternating rounds in one run.
//
//   start_wait_bench [rounds] [stand-in editor path]
//
// The stand-in is looked for beside this program when no path is given.
// Printed per way: the median time from the call to the stand-in's first
// instruction (start latency) and to the return of the call (round trip),
// then the runner's medians as ratios of the floor's.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "system/program_runner.h"

extern char** environ;

namespace {

long long Now() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

long long ReadStamp(const std::string& path) {
  std::ifstream in(path);
  long long stamp = 0;
  in >> stamp;
  return stamp;
}

double Median(std::vector<long long> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? 0 : static_cast<double>(values[values.size() / 2]);
}

struct Samples {
  std::vector<long long> latency, roundTrip;
};

bool FloorRound(const std::string& editor, const std::string& stamp, Samples* samples) {
  std::vector<char*> argv = {const_cast<char*>(editor.c_str()), const_cast<char*>(stamp.c_str()),
                             nullptr};
  long long start = Now();
  pid_t pid = 0;
  if (posix_spawn(&pid, editor.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return false;
  int status = 0;
  waitpid(pid, &status, 0);
  long long end = Now();
  samples->latency.push_back(ReadStamp(stamp) - start);
  samples->roundTrip.push_back(end - start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool RunnerRound(const std::string& editor, const std::string& stamp, Samples* samples) {
  long long start = Now();
  std::intptr_t result = qg::StartProgram(editor.c_str(), stamp.c_str(), "", qg::RunWait);
  long long end = Now();
  samples->latency.push_back(ReadStamp(stamp) - start);
  samples->roundTrip.push_back(end - start);
  return result == 1;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 200;
  namespace fs = std::filesystem;
  std::string editor =
      argc > 2 ? argv[2] : (fs::absolute(argv[0]).parent_path() / "qg_stand_in_editor").string();
  std::string stamp =
      (fs::temp_directory_path() / ("quillgate-bench-" + std::to_string(getpid()) + ".stamp"))
          .string();
  qg::InitProgramRunner();

  Samples floor, runner;
  for (int i = 0; i < rounds; ++i) {
    if (!FloorRound(editor, stamp, &floor) || !RunnerRound(editor, stamp, &runner)) {
      std::fprintf(stderr, "the stand-in editor %s could not be run\n", editor.c_str());
      return 1;
    }
  }
  fs::remove(stamp);

  auto report = [](const char* name, const Samples& s) {
    std::printf("%-22s start latency %8.1f us   round trip %8.1f us\n", name,
                Median(s.latency) / 1000.0, Median(s.roundTrip) / 1000.0);
  };
  std::printf("%d rounds, medians\n", rounds);
  report("floor (spawn+waitpid)", floor);
  report("StartProgram RunWait", runner);
  std::printf("ratio runner/floor: start latency %.2f, round trip %.2f\n",
              Median(runner.latency) / Median(floor.latency),
              Median(runner.roundTrip) / Median(floor.roundTrip));
  return 0;
}
