// From start to editor: the time from starting the launcher in a bundle to
// the stand-in editor's first instruction, for a bundle that has not moved
// and for one that has (the settings are rewritten first), against the floor:
// a minimal program that only starts the same stand-in and waits. The three
// are measured in alternating rounds in one run.
//
//   launcher_start_bench [rounds]
//
// php.ini is Debian's php.ini-development when installed; config.xml is a
// real Notepad++ configuration from the shared corpus when present.
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;

namespace {

long long Now() {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Spill(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Runs `argv` in `folder` to its end; the stand-in's start time minus the
// moment the program was started.
long long Measure(const fs::path& folder, std::vector<std::string> argv) {
  fs::remove(folder / "editor-started.txt");
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = 0;
  long long start = Now();
  if (posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ) != 0) std::exit(1);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  waitpid(child, &status, 0);
  long long stamp = 0;
  std::ifstream(folder / "editor-started.txt") >> stamp;
  if (stamp == 0) {
    std::fprintf(stderr, "the stand-in did not run for %s\n", argv[0].c_str());
    std::exit(1);
  }
  return stamp - start;
}

double MedianMs(std::vector<long long> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2] / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 15;
  fs::path here = fs::canonical("/proc/self/exe").parent_path();
  fs::path source = QG_SOURCE_DIR;
  fs::path launcher = here.parent_path().parent_path() / "launcher" / "quillgate";
  fs::path editor = here / "qg_stand_in_editor", starter = here / "qg_minimal_starter";

  std::string php = Slurp("/usr/lib/php/8.2/php.ini-development");
  const char* phpName = "php.ini-development";
  if (php.empty()) {
    php = Slurp(source / "tools" / "demo" / "php.ini");
    phpName = "the demo php.ini";
  }
  std::string config =
      Slurp(source / ".." / "shared" / "corpus" / "npp" / "kocurc_Configs__Notepad++_config.xml");
  const char* configName = "a Notepad++ config.xml from the corpus";
  if (config.empty()) {
    config = Slurp(source / "tools" / "demo" / "config.xml");
    configName = "the demo config.xml";
  }

  fs::path bundle = fs::temp_directory_path() / ("quillgate-bench-" + std::to_string(getpid()));
  fs::create_directories(bundle / "server" / "notepad");
  fs::create_directories(bundle / "server" / "modules" / "php" / "PHP-5.6-5.7");
  fs::create_directories(bundle / "server" / "domains");
  fs::copy_file(editor, bundle / "server" / "notepad" / "notepad++.exe");
  fs::path ini = bundle / "server" / "modules" / "php" / "PHP-5.6-5.7" / "php.ini";
  fs::path xml = bundle / "server" / "notepad" / "config.xml";
  fs::path state = bundle / "server" / "notepad" / "state.txt";
  std::string root = fs::canonical(bundle).string() + "/";

  std::vector<long long> floor, still, moved;
  for (int round = 0; round < rounds; ++round) {
    floor.push_back(
        Measure(bundle, {starter.string(), (bundle / "server/notepad/notepad++.exe").string()}));
    Spill(ini, php);
    Spill(xml, config);
    Spill(state, root);
    still.push_back(Measure(bundle, {launcher.string()}));
    Spill(state, "/somewhere/else/");
    moved.push_back(Measure(bundle, {launcher.string()}));
  }
  fs::remove_all(bundle);

  std::printf("start to editor, median of %d rounds (%s, %s):\n", rounds, phpName, configName);
  std::printf("  floor (start and wait only)  %8.3f ms\n", MedianMs(floor));
  std::printf("  launcher, bundle not moved   %8.3f ms  = %.2fx the floor\n", MedianMs(still),
              MedianMs(still) / MedianMs(floor));
  std::printf("  launcher, bundle moved       %8.3f ms  = %.2fx the floor\n", MedianMs(moved),
              MedianMs(moved) / MedianMs(floor));
  return 0;
}
