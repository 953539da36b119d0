#!/usr/bin/env bash
# Installs what is missing, builds and runs every test of Quillgate, in
# stages:
#   dependencies     the packages (tools/install-deps.sh), for the 32-bit
#                    stages too, so that no stage needs apt-get later
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
# The stages that share no build with the Windows ones (asan, tsan, i386,
# fuzz) run beside them, one after another, while those wait on Wine; their
# output goes to build/logs/STAGE.log and is shown, in order, at the end.
# QG_SERIAL=1 runs every stage one after another.
#
#   tools/test-all.sh --quick   only the debug build's suites with the Wine
#                               end-to-end cases of the x86_64 test build
#                               (which it builds, without running its suites)
#
# A stage passes when what it runs exits with status 0; nothing reads their
# output to decide. The end is one line per stage, with its duration and the
# test counts of CTest's JUnit files (skips counted by their reason), the
# line "not run: K cases: K need ../shared/corpus" (or "not run: none"), and
#   total: N passed, N failed
# which counts stages (a stage left out counts in neither). Set
# QG_SKIP_WINDOWS=1 or QG_SKIP_FUZZ=1 to leave those stages out. The real
# editor files some cases read are in the folder QG_CORPUS names (default
# ../shared/corpus beside the repository); without it those cases skip.
set -uo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"
jobs=$(nproc 2>/dev/null || echo 2)
quick=0
[[ "${1:-}" == --quick ]] && quick=1
want_windows=1
[[ "${QG_SKIP_WINDOWS:-0}" == 1 ]] && want_windows=0
started=$SECONDS

mkdir -p build/logs
rm -f build/logs/*.result build/logs/*.log build/logs/*.done
order=(dependencies windows-deps windows-release windows-test debug asan tsan i386 wine32 fuzz)
# Stages whose output goes only to their log (those running beside others).
quiet=0

# 1h02m03s, 4m05s, 17s
duration() {
  local s=$1
  if ((s >= 3600)); then
    printf '%dh%02dm%02ds' $((s / 3600)) $((s % 3600 / 60)) $((s % 60))
  elif ((s >= 60)); then
    printf '%dm%02ds' $((s / 60)) $((s % 60))
  else
    printf '%ds' "$s"
  fi
}
# stage NAME COMMAND...: runs COMMAND, its output in build/logs/NAME.log
# (and on the terminal unless quiet), and records the stage's line by its
# status in build/logs/NAME.result.
stage() {
  local name=$1
  shift
  local log=build/logs/$name.log
  rm -f "build/junit-$name.xml"
  local begun=$SECONDS status
  if ((quiet)); then
    echo "== stage $name" >"$log"
    "$@" >>"$log" 2>&1
    status=$?
  else
    echo
    echo "== stage $name"
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
  fi
  local took counts=""
  took=$(duration $((SECONDS - begun)))
  [[ -f build/junit-$name.xml ]] &&
    counts=" ($(python3 tools/junit-counts.py "build/junit-$name.xml" 2>/dev/null || echo "counts unreadable"))"
  if ((status == 0)); then
    echo "passed	stage $name: passed in $took$counts" >"build/logs/$name.result"
  else
    echo "failed	stage $name: FAILED, exit status $status, in $took$counts" >"build/logs/$name.result"
  fi
  return "$status"
}
# leave_out NAME REASON: a stage that does not run.
leave_out() {
  echo "left	stage $1: left out ($2)" >"build/logs/$1.result"
}
# run_ctest NAME ARGS...: ctest, writing the stage's JUnit file.
run_ctest() {
  local name=$1
  shift
  ctest "$@" --output-junit "$here/build/junit-$name.xml"
}

# The kernel runs 32-bit programs: the wine32 stage can run (and its
# packages are installed with the others).
wine32_reason=""
if ((want_windows && !quick)) && ! wine32_reason=$(bash tools/test-wine32.sh --probe); then
  [[ -n $wine32_reason ]] || wine32_reason="the probe failed"
fi
dependencies() {
  if ((want_windows == 0)); then
    bash tools/install-deps.sh
    return
  fi
  bash tools/install-deps.sh windows || return
  ((quick)) && return
  if [[ -f tools/test-i386.sh ]]; then bash tools/install-deps.sh i386 || return; fi
  if [[ -z $wine32_reason ]]; then bash tools/install-deps.sh wine32 || return; fi
}
stage dependencies dependencies

# The stages that share no build with the Windows ones.
native_stages() {
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

  if [[ "${QG_SKIP_FUZZ:-0}" == 1 ]]; then
    leave_out fuzz "QG_SKIP_FUZZ=1"
  else
    stage fuzz bash tools/fuzz.sh 60
  fi
}

# The end-to-end tests of the debug stage need this build, even when one of
# its suites fails; --quick builds it without running them.
windows_test() {
  cmake --preset windows-test >/dev/null && cmake --build --preset windows-test -j "$jobs" || return
  touch build/logs/windows-test.done
  ((quick)) && return
  run_ctest windows-test --preset windows-test
}
beside=""
if ((want_windows)); then
  if stage windows-deps bash -c 'bash tools/build-expat.sh i686 build/expat-i686 &&
                                 bash tools/build-expat.sh x86_64 build/expat-x86_64 &&
                                 bash tools/build-gtest.sh x86_64 build/gtest-x86_64'; then
    if ((!quick && ${QG_SERIAL:-0} != 1)); then
      echo
      echo "== stages asan, tsan, i386, fuzz: running beside the others (logs in build/logs/)"
      # A process group of its own, so that an interruption ends all of it.
      set -m
      (quiet=1 native_stages) &
      beside=$!
      set +m
      trap '[[ -n $beside ]] && kill -- -"$beside" 2>/dev/null' EXIT
      trap 'exit 130' INT TERM
    fi
    if ((!quick)); then
      stage windows-release bash -c "cmake --preset windows-release >/dev/null &&
        cmake --build --preset windows-release -j $jobs &&
        bash tests/wine/check-release-zip.sh"
    fi
    stage windows-test windows_test
  else
    leave_out windows-release "the cross-built dependencies are missing"
    leave_out windows-test "the cross-built dependencies are missing"
  fi
else
  leave_out windows-release "QG_SKIP_WINDOWS=1"
  leave_out windows-test "QG_SKIP_WINDOWS=1"
fi
wine_tests=OFF
[[ -f build/logs/windows-test.done ]] && wine_tests=ON

debug() {
  cmake --preset debug -DQG_WINE_TESTS=$wine_tests >/dev/null && cmake --build --preset debug -j "$jobs" &&
    bash tools/decoys.sh ctest --preset debug -j "$jobs" --output-junit "$here/build/junit-debug.xml"
}
stage debug debug

if ((!quick)); then
  # The shipped program needs the zip and the test build's stand-ins, and a
  # kernel that runs 32-bit programs: 32-bit Wine cannot be emulated.
  if ((want_windows == 0)); then
    leave_out wine32 "QG_SKIP_WINDOWS=1"
  elif [[ "$wine_tests" != ON ]]; then
    leave_out wine32 "the Windows test build is missing"
  elif [[ -n $wine32_reason ]]; then
    leave_out wine32 "$wine32_reason"
  else
    stage wine32 bash tools/test-wine32.sh --junit "$here/build/junit-wine32.xml"
  fi

  if [[ -n $beside ]]; then
    wait "$beside"
    beside=""
    for name in asan tsan i386 fuzz; do
      [[ -f build/logs/$name.log ]] || continue
      echo
      cat "build/logs/$name.log"
    done
  else
    native_stages
  fi
fi

echo
passed=0
failed=0
junits=()
for name in "${order[@]}"; do
  [[ -f build/logs/$name.result ]] || continue
  IFS=$'\t' read -r status line <"build/logs/$name.result"
  echo "$line"
  [[ $status == passed ]] && passed=$((passed + 1))
  [[ $status == failed ]] && failed=$((failed + 1))
  [[ $status != left && -f build/junit-$name.xml ]] && junits+=("build/junit-$name.xml")
done
# Every case of the stages that could not run, and why: a green run that
# skipped is not a full one.
if ((${#junits[@]})); then
  echo "not run: $(python3 tools/junit-counts.py --total "${junits[@]}")"
fi
echo "total: $passed passed, $failed failed, in $(duration $((SECONDS - started)))"
((failed == 0))
