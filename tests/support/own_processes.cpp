#include "tests/support/own_processes.h"

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <unistd.h>

#include <fstream>
#include <iterator>
#endif

namespace qg::testing {

#ifdef _WIN32

// Under Wine every run has a prefix, and with it a process table, of its own.
std::string WhyProcessesAreNotOurOwn() { return {}; }

#else

namespace {

const char kMarker[] = "QG_OWN_PID_NAMESPACE=1";

std::string ReadProcFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

std::string WhyProcessesAreNotOurOwn() {
  const char* marker = std::getenv("QG_OWN_PID_NAMESPACE");
  if (!marker || std::string(marker) != "1") {
    const char* refused = std::getenv("QG_PID_NAMESPACE_REFUSED");
    if (refused) return std::string("this machine refused a PID namespace: ") + refused;
    return "not started in a PID namespace of its own (run it through ctest, or "
           "tools/own-pid-namespace.sh): it would see every process on the machine";
  }
  // /proc must be the namespace's own: there, "self" is the id getpid gives.
  char self[32] = {};
  ssize_t length = ::readlink("/proc/self", self, sizeof self - 1);
  if (length <= 0 ||
      std::string(self, static_cast<std::size_t>(length)) != std::to_string(::getpid()))
    return "/proc is not the one of this process's PID namespace";
  // And the namespace must be the wrapper's: its first process carries the
  // marker in the environment it was started with.
  // Entries of /proc/N/environ each end with a NUL.
  std::string environment = '\0' + ReadProcFile("/proc/1/environ");
  if (environment.find('\0' + std::string(kMarker) + '\0') == std::string::npos)
    return "the first process of this PID namespace is not the test wrapper";
  return {};
}

#endif

}  // namespace qg::testing
