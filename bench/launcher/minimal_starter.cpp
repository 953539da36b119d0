// The floor for the launcher: a program that only starts the editor named by
// its first argument, in its own current folder, and waits for it.
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  pid_t child = 0;
  char* childArgv[] = {argv[1], nullptr};
  if (posix_spawn(&child, argv[1], nullptr, nullptr, childArgv, environ) != 0) return 1;
  int status = 0;
  waitpid(child, &status, 0);
  return 0;
}
