// The emulator that runs this build's programs on a machine that cannot run
// them itself (a 32-bit build where the kernel has no 32-bit support). CMake
// gives it to the tests in QG_EMULATOR, its words separated by blanks; it is
// empty or unset where the programs run natively.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace qg::testing {

// The emulator's words; none when this build's programs run natively.
inline std::vector<std::string> Emulator() {
  std::vector<std::string> words;
  const char* value = std::getenv("QG_EMULATOR");
  std::istringstream in(value ? value : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// The command that starts `program`, a program of this build: the emulator's
// words first when there is one.
inline std::vector<std::string> BuiltProgramCommand(const std::string& program) {
  std::vector<std::string> command = Emulator();
  command.push_back(program);
  return command;
}

// Death tests of the calling test run in fresh processes ("threadsafe"
// style: the child starts the test program anew), through the emulator when
// there is one, since a machine that cannot run the program cannot start it
// directly either.
inline void UseFreshProcessDeathTests() {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
#if GTEST_HAS_DEATH_TEST
  std::vector<std::string> command = Emulator();
  if (command.empty()) return;
  for (const std::string& word : ::testing::internal::GetArgvs()) command.push_back(word);
  ::testing::internal::SetInjectableArgvs(command);
#endif
}

}  // namespace qg::testing

// Skips a test that cannot hold under user-mode emulation, saying why.
#define QG_SKIP_UNDER_EMULATION(reason)   \
  if (!::qg::testing::Emulator().empty()) \
  GTEST_SKIP() << "skipped under the emulator " << std::getenv("QG_EMULATOR") << ": " << (reason)
