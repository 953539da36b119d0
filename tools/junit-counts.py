#!/usr/bin/env python3
"""The test counts of CTest JUnit files, for the lines tools/test-all.sh ends with.

    junit-counts.py FILE           "N tests, F failed, K skipped: K need ../shared/corpus"
    junit-counts.py --total FILE...  "K cases: K need ../shared/corpus" (the cases of all
                                     the files that could not run), or "none"

A skipped case's reason is the text GoogleTest printed below "Skipped", or
what a "SKIP CASE (T s): REASON" line of tests/wine/launcher_e2e.py says, or
else the file's own skip message.
"""

import collections
import re
import sys
import xml.etree.ElementTree as ElementTree

E2E_SKIP = re.compile(r"^SKIP \S+(?: \([0-9.]+ s\))?: (.+)$")


def skip_reason(case):
    lines = (case.findtext("system-out") or "").splitlines()
    for at, line in enumerate(lines):
        if line.endswith(": Skipped") and at + 1 < len(lines) and lines[at + 1].strip():
            return lines[at + 1].strip()
        found = E2E_SKIP.match(line)
        if found:
            return found.group(1).strip()
    skipped = case.find("skipped")
    message = skipped.get("message", "") if skipped is not None else ""
    if message and not message.startswith("SKIP_"):
        return message
    return "no reason given"


def read(path):
    """(tests, failures, Counter of skip reasons) of one file."""
    suite = ElementTree.parse(path).getroot()
    if suite.tag != "testsuite":
        suite = suite.find("testsuite")
    reasons = collections.Counter()
    tests = failures = 0
    for case in suite.iter("testcase"):
        tests += 1
        if case.find("failure") is not None or case.find("error") is not None:
            failures += 1
        elif case.get("status") == "notrun" or case.find("skipped") is not None:
            reasons[skip_reason(case)] += 1
    return tests, failures, reasons


def reasons_text(reasons):
    return ", ".join(f"{n} {reason}" for reason, n in sorted(reasons.items(),
                                                             key=lambda item: (-item[1], item[0])))


def main(argv):
    if argv[:1] == ["--total"]:
        total = collections.Counter()
        for path in argv[1:]:
            total += read(path)[2]
        print(f"{sum(total.values())} cases: {reasons_text(total)}" if total else "none")
        return 0
    tests, failures, reasons = read(argv[0])
    line = f"{tests} tests, {failures} failed, {sum(reasons.values())} skipped"
    print(line + (f": {reasons_text(reasons)}" if reasons else ""))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
