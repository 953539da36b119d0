#!/usr/bin/env python3
"""A skipped case counts, by its reason, on the stage lines of tools/test-all.sh:
a GoogleTest skip in a CTest JUnit file and a skip of launcher_e2e.py, in the
JUnit file it writes and in its output as CTest keeps it."""

import importlib.util
import pathlib
import subprocess
import sys
import tempfile

REPO = pathlib.Path(__file__).resolve().parents[2]
COUNTS = REPO / "tools" / "junit-counts.py"

CTEST = """<?xml version="1.0" encoding="UTF-8"?>
<testsuite name="(empty)" tests="4" failures="1" skipped="2">
  <testcase name="A.Passes" status="run"/>
  <testcase name="A.Fails" status="fail"><failure message="Failed"/></testcase>
  <testcase name="A.NeedsCorpus" status="notrun"><skipped message="SKIP_REGULAR_EXPRESSION_MATCHED"/>
    <system-out>[ RUN      ] A.NeedsCorpus
/src/a_test.cpp:12: Skipped
need ../shared/corpus
[  SKIPPED ] A.NeedsCorpus (0 ms)</system-out></testcase>
  <testcase name="wine.real" status="notrun"><skipped message="SKIP_RETURN_CODE=77"/>
    <system-out>SKIP real (0.0 s): need ../shared/corpus
0 passed, 0 failed, 1 skipped (1 need ../shared/corpus)</system-out></testcase>
</testsuite>
"""


def counts(*args):
    return subprocess.run([sys.executable, str(COUNTS), *map(str, args)], check=True,
                          stdout=subprocess.PIPE, text=True).stdout.strip()


def main():
    spec = importlib.util.spec_from_file_location("e2e", REPO / "tests" / "wine" / "launcher_e2e.py")
    e2e = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(e2e)
    with tempfile.TemporaryDirectory() as folder:
        ctest = pathlib.Path(folder) / "ctest.xml"
        ctest.write_text(CTEST)
        own = pathlib.Path(folder) / "e2e.xml"
        e2e.write_junit(own, [("a", "pass", 1.0, ""), ("b", "skip", 0.0, "need X"),
                              ("c", "skip", 0.0, "need X"), ("d", "fail", 2.0, "broke")])
        got = [counts(ctest), counts(own), counts("--total", ctest, own)]
    want = ["4 tests, 1 failed, 2 skipped: 2 need ../shared/corpus",
            "4 tests, 1 failed, 2 skipped: 2 need X",
            "4 cases: 2 need ../shared/corpus, 2 need X"]
    for line, expected in zip(got, want):
        if line != expected:
            print(f"got {line!r}, expected {expected!r}")
            return 1
    print("skips counted by reason")
    return 0


if __name__ == "__main__":
    sys.exit(main())
