#!/usr/bin/env bash
# Installs what is missing, builds and runs every test of Quillgate, in
# stages:
#   dependencies     the packages (tools/install-deps.sh)
#   windows-deps     expat and GoogleTest cross-built for Windows
#   windows-release  the 32-bit release program, checked for its imports,
#                    size and resources
#   windows-test     the x86_64 test build, its suites run under Wine
#   debug            the debug build's suites, with the end-to-end tests of
#                    the Windows program under Wine, while decoy programs
#                    named php.exe, ConEmu.exe, ConEmu64.exe and notepad++.exe
#                    run elsewhere (tools/decoys.sh: they must survive)
#   asan             the same suites with AddressSanitizer + UBSan
#   tsan             the shut-down race and the console close event under
#                    ThreadSanitizer
#   i386             the 32-bit Linux build's suites (tools/test-i386.sh),
#                    when that script is there
#   wine32           the 32-bit release program from the zip through the Wine
#                    end-to-end cases (tools/test-wine32.sh), where the
#                    kernel runs 32-bit programs; it installs 32-bit Wine
#   fuzz             a short run of every fuzz target (tools/fuzz.sh)
# A stage passes when what it runs exits with status 0; nothing reads their
# output to decide. The end is one line per stage and the line
#   total: N passed, N failed
# which counts stages (a stage left out counts in neither). The test counts
# on the stage lines come from CTest's JUnit files and are for reading only.
# Set QG_SKIP_WINDOWS=1 or QG_SKIP_FUZZ=1 to leave those stages out.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)
want_windows=1
[[ "${QG_SKIP_WINDOWS:-0}" == 1 ]] && want_windows=0

passed=0
failed=0
summary=()
# stage NAME COMMAND...: runs COMMAND and records the stage by its status.
stage() {
  local name=$1
  shift
  echo
  echo "== stage $name"
  rm -f "build/junit-$name.xml"
  "$@"
  local status=$?
  local counts=""
  [[ -f build/junit-$name.xml ]] && counts=" ($(junit_counts "build/junit-$name.xml"))"
  if ((status == 0)); then
    passed=$((passed + 1))
    summary+=("stage $name: passed$counts")
  else
    failed=$((failed + 1))
    summary+=("stage $name: FAILED, exit status $status$counts")
  fi
  return "$status"
}
# leave_out NAME REASON: a stage that does not run.
leave_out() {
  summary+=("stage $1: left out ($2)")
}
# The counts of a CTest JUnit file, for the summary line.
junit_counts() {
  local head
  head=$(tr '\n\t' '  ' <"$1" | grep -m1 -o '<testsuite [^>]*>') || return 0
  local tests failures skipped
  tests=$(sed -n 's/.* tests="\([0-9]*\)".*/\1/p' <<<"$head")
  failures=$(sed -n 's/.* failures="\([0-9]*\)".*/\1/p' <<<"$head")
  skipped=$(sed -n 's/.* skipped="\([0-9]*\)".*/\1/p' <<<"$head")
  echo "${tests:-?} tests, ${failures:-?} failed, ${skipped:-?} skipped"
}
# run_ctest NAME ARGS...: ctest, writing the stage's JUnit file.
run_ctest() {
  local name=$1
  shift
  ctest "$@" --output-junit "$here/build/junit-$name.xml"
}

mkdir -p build
if ((want_windows)); then
  stage dependencies bash tools/install-deps.sh windows
else
  stage dependencies bash tools/install-deps.sh
fi

# The end-to-end tests of the debug stage need this build, even when one of
# its suites fails.
windows_test() {
  cmake --preset windows-test >/dev/null && cmake --build --preset windows-test -j "$jobs" || return
  wine_tests=ON
  run_ctest windows-test --preset windows-test
}
wine_tests=OFF
if ((want_windows)); then
  if stage windows-deps bash -c 'bash tools/build-expat.sh i686 build/expat-i686 &&
                                 bash tools/build-expat.sh x86_64 build/expat-x86_64 &&
                                 bash tools/build-gtest.sh x86_64 build/gtest-x86_64'; then
    stage windows-release bash -c "cmake --preset windows-release >/dev/null &&
      cmake --build --preset windows-release -j $jobs &&
      bash tests/wine/check-release-zip.sh"
    stage windows-test windows_test
  else
    leave_out windows-release "the cross-built dependencies are missing"
    leave_out windows-test "the cross-built dependencies are missing"
  fi
else
  leave_out windows "QG_SKIP_WINDOWS=1"
fi

debug() {
  cmake --preset debug -DQG_WINE_TESTS=$wine_tests >/dev/null && cmake --build --preset debug -j "$jobs" &&
    bash tools/decoys.sh ctest --preset debug -j "$jobs" --output-junit "$here/build/junit-debug.xml"
}
stage debug debug

asan() {
  cmake --preset asan -DQG_WINE_TESTS=OFF >/dev/null && cmake --build --preset asan -j "$jobs" &&
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      run_ctest asan --preset asan -j "$jobs"
}
stage asan asan

tsan() {
  cmake --preset tsan >/dev/null &&
    cmake --build --preset tsan -j "$jobs" --target launcher_test system_test &&
    TSAN_OPTIONS=halt_on_error=1 run_ctest tsan --preset tsan -j "$jobs" -R 'ShutDownLibraries|Console'
}
stage tsan tsan

if [[ -f tools/test-i386.sh ]]; then
  stage i386 bash tools/test-i386.sh
else
  leave_out i386 "tools/test-i386.sh is not there"
fi

# The shipped program needs the zip and the test build's stand-ins, and a
# kernel that runs 32-bit programs: 32-bit Wine cannot be emulated.
if ((want_windows == 0)); then
  leave_out wine32 "QG_SKIP_WINDOWS=1"
elif [[ "$wine_tests" != ON ]]; then
  leave_out wine32 "the Windows test build is missing"
elif ! reason=$(bash tools/test-wine32.sh --probe); then
  leave_out wine32 "$reason"
else
  stage wine32 bash tools/test-wine32.sh
fi

if [[ "${QG_SKIP_FUZZ:-0}" == 1 ]]; then
  leave_out fuzz "QG_SKIP_FUZZ=1"
else
  stage fuzz bash tools/fuzz.sh 60
fi

echo
printf '%s\n' "${summary[@]}"
echo "total: $passed passed, $failed failed"
((failed == 0))
