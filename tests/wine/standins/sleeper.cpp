// Stand-in for the bundle's auxiliary processes (built as php.exe and
// ConEmu.exe): it only sleeps, 120 s at most, and exits with code 0.
#include "standin_common.h"

int main() {
  Sleep(120000);
  return 0;
}
