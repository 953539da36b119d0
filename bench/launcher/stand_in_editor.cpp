// Stands in for the editor: writes the monotonic time at which it started
// running (nanoseconds) to the file named by its first argument, and exits.
#include <time.h>

#include <cstdio>

int main(int argc, char** argv) {
  struct timespec now {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  if (argc < 2) return 2;
  std::FILE* out = std::fopen(argv[1], "w");
  if (!out) return 1;
  std::fprintf(out, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
  return std::fclose(out) == 0 ? 0 : 1;
}
