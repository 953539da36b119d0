// Tests that start the launcher, or look for or stop processes by name, run
// only where they see nothing but the processes they start themselves: in a
// PID namespace of their own (tools/own-pid-namespace.sh, which CTest puts in
// front of every native test program). Such a test begins with
// QG_REQUIRE_OWN_PROCESSES(); anywhere else it is skipped, with the reason.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace qg::testing {

// Empty when this process runs in a PID namespace of its own, set up by the
// wrapper, with that namespace's /proc; otherwise why not.
std::string WhyProcessesAreNotOurOwn();

}  // namespace qg::testing

#define QG_REQUIRE_OWN_PROCESSES()                                                       \
  do {                                                                                   \
    if (std::string qg_why = ::qg::testing::WhyProcessesAreNotOurOwn(); !qg_why.empty()) \
      GTEST_SKIP() << qg_why;                                                            \
  } while (false)
