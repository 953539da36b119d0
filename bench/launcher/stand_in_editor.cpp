// Stands in for the editor: writes the monotonic time at which it started
// running (nanoseconds) to the file named by its first argument, or to
// "editor-started.txt" in its current folder when it is given none (as when
// the launcher starts it), and exits.
#include <time.h>

#include <cstdio>

int main(int argc, char** argv) {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  std::FILE* out = std::fopen(argc >= 2 ? argv[1] : "editor-started.txt", "w");
  if (!out) return 1;
  std::fprintf(out, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  return std::fclose(out) == 0 ? 0 : 1;
}
