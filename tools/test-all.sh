#!/usr/bin/env bash
# Installs what is missing, builds and runs every test of Quillgate:
#   1. the Windows builds (MinGW cross compilers): the 32-bit release program,
#      checked for its imports, size and resources, and the x86_64 test build
#      whose suites run under Wine
#   2. the debug build's suites (ctest), with the end-to-end tests of the
#      Windows program under Wine
#   3. the same suites built with AddressSanitizer + UndefinedBehaviorSanitizer
#   4. the shut-down race and the console close event under ThreadSanitizer
#   5. a short run of every fuzz target
# Set QG_SKIP_WINDOWS=1 or QG_SKIP_FUZZ=1 to leave a stage out while working.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)

want_windows=1
[[ "${QG_SKIP_WINDOWS:-0}" == 1 ]] && want_windows=0
if ((want_windows)); then bash tools/install-deps.sh windows || exit 1
else bash tools/install-deps.sh || exit 1; fi

passed=0
failed=0
failures=()
# Runs ctest in a build folder and adds its counts to the totals.
run_ctest() {
  local label=$1
  shift
  local log
  log=$(mktemp)
  ctest "$@" 2>&1 | tee "$log"
  local line
  line=$(grep -E '[0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [[ -z "$line" ]]; then
    failures+=("$label: ctest ran no test")
    failed=$((failed + 1))
  else
    local bad all
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")
    all=$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")
    passed=$((passed + all - bad))
    failed=$((failed + bad))
    ((bad)) && failures+=("$label: $bad failed")
  fi
  rm -f "$log"
}
stage_failed() {
  failures+=("$1")
  failed=$((failed + 1))
}

wine_tests=OFF
if ((want_windows)); then
  echo "== Windows builds: the 32-bit release program and the test build"
  if bash tools/build-expat.sh i686 build/expat-i686 && bash tools/build-expat.sh x86_64 build/expat-x86_64 &&
     bash tools/build-gtest.sh x86_64 build/gtest-x86_64; then
    if cmake --preset windows-release >/dev/null && cmake --build --preset windows-release -j "$jobs" &&
       bash tests/wine/check-release-exe.sh build/win-release/launcher/quillgate.exe; then
      passed=$((passed + 1))
    else
      stage_failed "windows release build and its checks"
    fi
    if cmake --preset windows-test >/dev/null && cmake --build --preset windows-test -j "$jobs"; then
      echo "== the Windows test build's suites under Wine"
      run_ctest windows --preset windows-test
      wine_tests=ON
    else
      stage_failed "windows test build"
    fi
  else
    stage_failed "cross-built dependencies (expat, GoogleTest)"
  fi
fi

echo "== debug build and tests (with the Windows program's end-to-end tests under Wine: $wine_tests)"
if cmake --preset debug -DQG_WINE_TESTS=$wine_tests >/dev/null && cmake --build --preset debug -j "$jobs"; then
  run_ctest debug --preset debug -j "$jobs"
else
  stage_failed "debug build"
fi

echo "== sanitizer build (ASan+UBSan) and tests"
if cmake --preset asan -DQG_WINE_TESTS=OFF >/dev/null && cmake --build --preset asan -j "$jobs"; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_ctest asan --preset asan -j "$jobs"
else
  stage_failed "asan build"
fi

echo "== ThreadSanitizer: the shut-down race"
if cmake --preset tsan >/dev/null && cmake --build --preset tsan -j "$jobs" --target launcher_test system_test; then
  TSAN_OPTIONS=halt_on_error=1 run_ctest tsan --preset tsan -R 'ShutDownLibraries|Console'
else
  stage_failed "tsan build"
fi

if [[ "${QG_SKIP_FUZZ:-0}" != 1 && -x tools/fuzz.sh ]]; then
  echo "== fuzz targets, short run"
  if bash tools/fuzz.sh 60; then passed=$((passed + 1)); else stage_failed "fuzzing"; fi
fi

echo
for f in "${failures[@]}"; do echo "FAILED: $f"; done
echo "total: $passed passed, $failed failed"
((failed == 0))
