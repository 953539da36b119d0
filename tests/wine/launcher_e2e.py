#!/usr/bin/env python3
"""End-to-end tests of the Windows launcher under Wine.

Each case lays out a bundle in a fresh folder, maps it to drive E: of a fresh
Wine prefix, and runs the cross-built quillgate.exe in it through the harness
(tests/wine/standins/harness.cpp), beside stand-ins for the editor, PHP,
ConEmu and command-prompt windows. The harness reports what the launcher did
to the other programs; this script checks that and the bundle's files.

    launcher_e2e.py --build WINDOWS_TEST_BUILD [--launcher EXE] [--template DIR]
                    [--junit FILE] [CASE ...]
    launcher_e2e.py --list

Without cases every case runs; --list names them, one a line. --launcher runs
another quillgate.exe (the release program) beside the test build's
stand-ins; --template names the Wine prefix template to use; --junit writes
the results as a JUnit file too. The bundles are made from the project's own
files in tests/fixtures/bundle (see its README.md). The cases about real
editor files read them from the corpus folder named by QG_CORPUS (by default
../shared/corpus, relative to the repository): without that folder they are
skipped, and with it a file they name that is missing fails them. The last
line counts the cases passed, failed and skipped, with the skips' reasons;
the exit status is 0 when none failed, 1 when one did, and 77 when every case
run was skipped.
"""

import argparse
import collections
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile
import time
import traceback
import xml.etree.ElementTree as ElementTree
from xml.sax.saxutils import escape, quoteattr

REPO = pathlib.Path(__file__).resolve().parents[2]
FIXTURES = REPO / "tests" / "fixtures" / "bundle"
# The folder of real editor files, as named (for the skips' reason) and as found.
CORPUS_NAME = os.environ.get("QG_CORPUS") or "../shared/corpus"
CORPUS = REPO / CORPUS_NAME
WINE_RUN = REPO / "tools" / "wine-run.sh"
TEMPLATE = REPO / "build" / "win-wine-template"
# The program under test: the test build's, unless --launcher names another.
LAUNCHER = None

OLD_ROOT = "D:\\old place\\bundle\\"
STILL_ACTIVE = "259"
# What CTest takes for a skipped case (SKIP_RETURN_CODE).
SKIP_STATUS = 77


class Failure(Exception):
    pass


class Skip(Exception):
    """A case that cannot run here; its text is the reason."""


def fixture(name, old_root=OLD_ROOT):
    """tests/fixtures/bundle/`name` with each {ROOT} replaced by `old_root`
    (the rest of such a value keeps its backslashes, as under Windows)."""
    return (FIXTURES / name).read_bytes().replace(b"{ROOT}", old_root.encode("ascii"))


def corpus_file(folder, name):
    """The bytes of a real editor file of the corpus; skips the case when
    there is no corpus folder, fails it when the folder lacks the file."""
    if not CORPUS.is_dir():
        raise Skip(f"need {CORPUS_NAME}")
    path = CORPUS / folder / name
    check(path.is_file(), f"corpus file missing: {path}")
    return path.read_bytes()


PHP_INI = fixture("php.ini")


def check(condition, message):
    if not condition:
        raise Failure(message)


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


# --- bundle ------------------------------------------------------------------


# Where each fixture goes in a bundle.
FIXTURE_PLACES = {
    "php.ini": "server/modules/php/PHP-5.6-5.7",
    "config.xml": "server/notepad",
    "session.xml": "server/notepad",
}


class Bundle:
    """A bundle folder and the Windows root it is reached by, with the
    fixtures named laid out in it, their {ROOT} filled with `old_root`."""

    def __init__(self, folder, root, drive_folder, fixtures, old_root, with_editor, state):
        self.folder = folder
        self.root = root  # ends with a backslash
        self.drive_folder = drive_folder  # the folder mapped to E:
        server = folder / "server"
        self.notepad = server / "notepad"
        self.php_dir = server / "modules" / "php" / "PHP-5.6-5.7"
        for d in (self.notepad, self.php_dir, server / "domains" / "mysite.local"):
            d.mkdir(parents=True)
        self.php_ini = self.php_dir / "php.ini"
        self.config = self.notepad / "config.xml"
        self.state = self.notepad / "state.txt"
        self.log = self.notepad / "quillgate.log"
        self.old_root = old_root
        self.originals = {}
        for name in fixtures:
            self.originals[name] = fixture(name, old_root)
            (folder / FIXTURE_PLACES[name] / name).write_bytes(self.originals[name])
        self.config_original = self.originals.get("config.xml")
        if state is not None:
            self.state.write_bytes(state.encode("cp1252"))
        self.with_editor = with_editor
        self.share_folder = None  # the folder served as \\NAS\share, for a bundle there

    def install(self, build):
        shutil.copy2(LAUNCHER or build / "launcher" / "quillgate.exe",
                     self.folder / "quillgate.exe")
        standins = build / "tests" / "wine" / "standins"
        if self.with_editor:
            shutil.copy2(standins / "notepad++.exe", self.notepad)
        # The bundle's own auxiliary programs, which the harness starts from here.
        shutil.copy2(standins / "php.exe", self.php_dir)
        tools = self.folder / "server" / "ConEmu"
        tools.mkdir(exist_ok=True)
        for name in ("ConEmu.exe", "cmdwindow.exe", "stubbornwindow.exe", "browserwindow.exe"):
            shutil.copy2(standins / name, tools)

    def snapshot(self):
        return {p: p.read_bytes() if p.exists() else None
                for p in (self.php_ini, self.config, self.state)}


def make_bundle(work, name="bundle", drive_root=False, fixtures=("php.ini", "config.xml"),
                old_root=OLD_ROOT, with_editor=True, state=OLD_ROOT):
    if drive_root:
        folder = work / "drive_e"
        drive_folder = folder
        root = "E:\\"
    else:
        drive_folder = work / "drive_e"
        folder = drive_folder / name
        root = "E:\\" + name + "\\"
    if state == "ROOT":
        state = root
    return Bundle(folder, root, drive_folder, fixtures, old_root, with_editor, state)


# --- running -------------------------------------------------------------------


def run_harness(build, work, bundle, options, template=None, env_extra=None, records="records",
                wrapper=()):
    template = template or TEMPLATE
    records = work / records
    records.mkdir()
    bundle.install(build)
    workdir = bundle.root if bundle.root.endswith(":\\") else bundle.root[:-1]
    shares = [f"--share=NAS/share:{bundle.share_folder}"] if bundle.share_folder else []
    command = list(wrapper) + [str(WINE_RUN), f"--template={template}", "--timeout=150",
               f"--drive=e:{bundle.drive_folder}"] + shares + [
               str(build / "tests" / "wine" / "standins" / "harness.exe"),
               bundle.root + "quillgate.exe", workdir] + options
    env = dict(os.environ)
    env["QG_RECORDS"] = windows_path(records)
    env.pop("DISPLAY", None)  # a virtual display of its own for each run
    env.update(env_extra or {})
    started = time.monotonic()
    result = subprocess.run(command, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            timeout=280)
    elapsed = time.monotonic() - started
    output = result.stdout.decode("utf-8", "replace")
    check(result.returncode == 0,
          f"harness ended with {result.returncode} after {elapsed:.0f} s:\n{output}")
    report_file = records / "harness.txt"
    check(report_file.exists(), f"the harness wrote no report:\n{output}")
    report = {}
    for line in report_file.read_text().splitlines():
        key, _, value = line.partition("=")
        report[key] = value
    editor_file = records / "editor.txt"
    runs = []
    if editor_file.exists():
        for line in editor_file.read_text("cp1252").splitlines():
            parts = line.split("|")
            check(len(parts) == 3 and parts[0] == "run", f"odd editor record: {line!r}")
            runs.append((parts[1], parts[2]))
    report["editor_wide_runs"] = []
    wide_file = records / "editor-wide.txt"
    if wide_file.exists():
        for line in wide_file.read_text("utf-8").splitlines():
            parts = line.split("|")
            check(len(parts) == 4 and parts[0] == "run", f"odd editor record: {line!r}")
            report["editor_wide_runs"].append(tuple(parts[1:]))
    return report, runs, output


# --- checks ------------------------------------------------------------------------


def ini_groups(data):
    """The key/value pairs of each group of an INI text, comments left out."""
    groups = {"": []}
    current = ""
    for raw in data.decode("cp1252").split("\r\n"):
        line = raw.strip()
        if not line or line.startswith(";"):
            continue
        if line.startswith("[") and line.endswith("]"):
            current = line[1:-1]
            groups.setdefault(current, [])
            continue
        key, _, value = line.partition("=")
        groups[current].append((key.strip(), value.strip()))
    return groups


def check_php_ini(bundle, written):
    value = '"' + bundle.root + "server\\modules\\php\\PHP-5.6-5.7\\header.php" + '"'
    check(b"\r\n" in written and b"\n" not in written.replace(b"\r\n", b""),
          "php.ini is not written with CR LF line ends")
    groups = ini_groups(written)
    expected = ini_groups(PHP_INI)
    expected["PHP"] = [(k, value if k == "auto_prepend_file" else v) for k, v in expected["PHP"]]
    check(groups == expected, f"php.ini holds {groups}, expected {expected}")


def parse_xml(data):
    """The document, read as the editor reads it: each pair of references to
    UTF-16 surrogates ("&#xD83C;&#xDF89;", as the editor writes a character
    beyond U+FFFF) is turned into the one reference first, since Python's
    parser, like libexpat, rejects a reference to a surrogate."""
    if isinstance(data, str):
        data = data.encode("utf-8")
    number = lambda r: int(r[3:-1], 16) if r[2:3] in b"xX" else int(r[2:-1])
    refs = list(re.finditer(rb"&#(x[0-9A-Fa-f]+|[0-9]+);", data))
    out, at = [], 0
    for m, n in zip(refs, refs[1:] + [None]):
        if m.start() < at or not n or n.start() != m.end():
            continue
        high, low = number(m.group()), number(n.group())
        if 0xD800 <= high < 0xDC00 and 0xDC00 <= low < 0xE000:
            code = 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00)
            out += [data[at:m.start()], b"&#x%X;" % code]
            at = n.end()
    return ElementTree.fromstring(b"".join(out) + data[at:])


def check_config(bundle, written):
    folder = bundle.root + "server\\domains\\mysite.local"
    try:
        new_root = parse_xml(written)
    except ElementTree.ParseError as error:
        raise Failure(f"config.xml no longer parses: {error}")
    node = new_root.find("./FileBrowser/root")
    check(node is not None, "config.xml lost /NotepadPlus/FileBrowser/root")
    check(node.get("foldername") == folder,
          f"foldername is {node.get('foldername')!r}, expected {folder!r}")
    # The values inside the old root moved with the bundle, and nothing else
    # changed.
    moved_values(bundle.config_original, written, bundle.old_root, bundle.root)
    check(written.count(b"\r\n") == bundle.config_original.count(b"\r\n"),
          "config.xml line ends changed")
    # Characters beyond U+FFFF, as the editor writes them (the references to
    # their surrogates): the find folder follows, the search text stays.
    if b"&#xD83C;&#xDF89; party" in bundle.config_original:
        party = bundle.root + "server\\domains\\\U0001F389 party\\\U00020BB7"
        paths = [e.get("name") for e in new_root.iter("Path") if "\U0001F389" in e.get("name")]
        check(paths == [party], f"the find folder with an emoji reads {paths}, expected {party!r}")
    find = b'<Find name="&#xD83C;&#xDF89; release &#xD842;&#xDFB7;"'
    check(find not in bundle.config_original or find in written,
          "the search text with an emoji changed")


def check_state(bundle, written):
    check(written == bundle.root.encode("cp1252"),
          f"state.txt holds {written!r}, expected {bundle.root!r}")


def check_no_doubled_backslash(bundle, after):
    for path in (bundle.php_ini, bundle.config, bundle.state):
        check(b"\\\\" not in after[path], f"{path.name} holds a doubled backslash")


def check_updated(bundle, after):
    check_php_ini(bundle, after[bundle.php_ini])
    check_config(bundle, after[bundle.config])
    check_state(bundle, after[bundle.state])
    if "session.xml" in bundle.originals:
        moved_values(bundle.originals["session.xml"], (bundle.notepad / "session.xml").read_bytes(),
                     bundle.old_root, bundle.root)


def check_editor_run(bundle, runs, report):
    check(len(runs) == 1, f"the editor ran {len(runs)} times: {runs}")
    command_line, directory = runs[0]
    expected = '"' + bundle.root + "server\\notepad\\notepad++.exe" + '"'
    check(command_line == expected, f"editor command line {command_line!r}, expected {expected!r}")
    workdir = bundle.root if bundle.root.endswith(":\\") else bundle.root[:-1]
    check(directory.lower() == workdir.lower(),
          f"editor working directory {directory!r}, expected {workdir!r}")
    check(report.get("launcher_waited_for_editor") == "1",
          "the launcher did not wait for the editor")


def check_launcher_ended(report, limit_ms=30000):
    check(report.get("launcher_started") == "1", "the launcher did not start")
    check(report.get("launcher_ended") == "1", f"the launcher did not end: {report}")
    check(report.get("launcher_exit") == "0", f"launcher exit code {report.get('launcher_exit')}")
    ms = int(report.get("after_release_ms", report.get("launcher_ms", "0")))
    check(ms < limit_ms, f"the launcher took {ms} ms")


def config_updated(bundle):
    """The record's line for a config.xml saved with its values inside the
    old root (the file-browser root among them) moved."""
    inside = [value for element in parse_xml(bundle.config_original).iter()
              for value in element.attrib.values()
              if value.lower().startswith(bundle.old_root.lower())]
    if not inside:
        return "config.xml: updated"
    return f"config.xml: updated, {len(inside)} value(s) naming places in the old root moved"


def check_record(bundle, *lines):
    """The run's record holds each of `lines` (none: there is no record)."""
    if not lines:
        check(not bundle.log.exists(), "a record was written although nothing happened")
        return
    record = bundle.log.read_bytes().decode("cp1252") if bundle.log.exists() else ""
    for line in lines:
        check(f"  {line}\r\n" in record, f"the record lacks {line!r}: {record!r}")


def check_cleanup(report, php_count, conemu=True, cmd_window=True):
    php_exits = sorted(report.get(f"php{i}_exit") for i in range(1, php_count + 1))
    expected = sorted(["9"] + [STILL_ACTIVE] * (php_count - 1)) if php_count else []
    check(php_exits == expected, f"php.exe exit codes {php_exits}, expected {expected}")
    if conemu:
        check(report.get("conemu_exit") == "9", f"ConEmu.exe exit code {report.get('conemu_exit')}")
    if cmd_window:
        check(report.get("cmd_window_ready") == "1", "the command window did not appear")
        check(report.get("cmd_window_exit") == "0",
              f"command window exit code {report.get('cmd_window_exit')} (259: still open)")


# --- cases ---------------------------------------------------------------------------


def case_moved(build, work):
    bundle = make_bundle(work)
    report, runs, _ = run_harness(build, work, bundle,
                                  ["--php", "2", "--conemu", "--cmd-window"])
    after = bundle.snapshot()
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_updated(bundle, after)
    check_record(bundle, f'bundle moved: recorded root "{OLD_ROOT}", present root "{bundle.root}"',
                 "php.ini: updated", config_updated(bundle), "editor: ended")
    check_cleanup(report, 2)


def case_not_moved(build, work):
    bundle = make_bundle(work, state="ROOT")
    before = bundle.snapshot()
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1"])
    after = bundle.snapshot()
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    for path, data in before.items():
        check(after[path] == data, f"{path.name} changed although the bundle did not move")
    check_cleanup(report, 1, conemu=False, cmd_window=False)
    # The settings gave nothing to report: the record names the stopped
    # php.exe and, beside it, the editor's end, nothing else.
    record = bundle.log.read_bytes().decode("cp1252") if bundle.log.exists() else ""
    events = [line.split("  ", 1)[-1] for line in record.splitlines()]
    check(len(events) == 2 and events[0] == "editor: ended" and
          events[1].startswith("tidy-up: stopped php.exe (process "),
          f"the record should name only the editor's end and the stopped php.exe: {record!r}")


def case_editor_running(build, work):
    bundle = make_bundle(work)
    before = bundle.snapshot()
    report, runs, _ = run_harness(build, work, bundle,
                                  ["--editor-running", "--php", "1", "--cmd-window"])
    after = bundle.snapshot()
    check(report.get("running_editor_ready") == "1", "the running editor did not start")
    check_launcher_ended(report, limit_ms=10000)
    check(report.get("editor_runs_started") == "0", "the launcher started an editor")
    check(len(runs) == 1, f"editor runs: {runs}")
    for path, data in before.items():
        check(after[path] == data, f"{path.name} was touched while the editor ran")
    check(report.get("php1_exit") == STILL_ACTIVE, "php.exe was stopped")
    check(report.get("cmd_window_exit") == STILL_ACTIVE, "the command window was closed")


def case_editor_missing(build, work):
    bundle = make_bundle(work, with_editor=False)
    report, runs, _ = run_harness(build, work, bundle,
                                  ["--php", "2", "--conemu", "--cmd-window"])
    after = bundle.snapshot()
    check_launcher_ended(report)
    check(report.get("editor_runs_started") == "0" and not runs, "an editor ran")
    check_updated(bundle, after)
    check_record(bundle, "php.ini: updated", config_updated(bundle))
    check("  editor: could not be started: " in bundle.log.read_bytes().decode("cp1252"),
          "the record does not say why the editor did not start")
    check_cleanup(report, 2)


def case_drive_root(build, work):
    bundle = make_bundle(work, drive_root=True)
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1", "--cmd-window"])
    after = bundle.snapshot()
    check(bundle.root == "E:\\", bundle.root)
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_updated(bundle, after)
    check_no_doubled_backslash(bundle, after)
    check_cleanup(report, 1, conemu=False)


def case_blanks_and_ampersand(build, work):
    bundle = make_bundle(work, name="web & dev bundle")
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1", "--conemu"])
    after = bundle.snapshot()
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_updated(bundle, after)
    check_no_doubled_backslash(bundle, after)
    check_cleanup(report, 1, cmd_window=False)


def case_stubborn_window(build, work):
    bundle = make_bundle(work, state="ROOT")
    report, runs, _ = run_harness(build, work, bundle, ["--stubborn-window", "--php", "1"])
    check(report.get("stubborn_window_ready") == "1", "the stubborn window did not appear")
    check_launcher_ended(report, limit_ms=30000)
    check_editor_run(bundle, runs, report)
    check(report.get("stubborn_window_exit") == STILL_ACTIVE, "the stubborn window closed")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


RUSSIAN_LOCALE = "ru_RU.UTF-8"


def ensure_locale(name):
    """Makes the system locale `name` (language_TERRITORY.UTF-8) when missing."""
    wanted = name.lower().replace("utf-8", "utf8")
    listed = subprocess.run(["locale", "-a"], stdout=subprocess.PIPE, text=True).stdout
    if wanted in listed.lower().split():
        return
    language = name.split(".")[0]
    made = subprocess.run(["localedef", "-i", language, "-f", "UTF-8", name],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    check(made.returncode == 0, f"cannot make the locale {name}: {made.stdout}")


# Find history as the editor writes it: every character beyond ASCII as a
# character reference (Cyrillic, Chinese, a typographic quote, a tab).
REFERENCE_HISTORY = (
    b'\r\n        <Find name="D:\\&#x0420;&#x0430;&#x0431;&#x043E;&#x0447;&#x0438;&#x0435;'
    b' &#x0444;&#x0430;&#x0439;&#x043B;&#x044B;\\npp" />'
    b'\r\n        <Find name="F:\\&#x6587;&#x672C;\\&#x8D44;&#x6599;\\git.txt" />'
    b'\r\n        <Find name="&#x201C;x&#x201D;&#x0009;y" />')


def case_cyrillic_folder(build, work):
    """A bundle in E:\\Проекты under the ANSI code page 1251: the launcher's
    paths are CP1251 bytes, and config.xml (labelled Windows-1252) must still
    name the folder for any reader that honours the label, and keep the
    Cyrillic and Chinese history the editor wrote as references."""
    ensure_locale(RUSSIAN_LOCALE)
    bundle = make_bundle(work, name="Проекты")
    history = bundle.config_original.index(b">", bundle.config_original.index(b"<FindHistory")) + 1
    bundle.config_original = (bundle.config_original[:history] + REFERENCE_HISTORY +
                              bundle.config_original[history:])
    bundle.config.write_bytes(bundle.config_original)
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1"],
                                  template=TEMPLATE.with_name(TEMPLATE.name + "-cp1251"),
                                  env_extra={"LC_ALL": RUSSIAN_LOCALE})
    after = bundle.snapshot()
    check_launcher_ended(report)
    check(len(runs) == 1, f"the editor ran {len(runs)} times")
    # The root as the launcher got it: CP1251 bytes (CF F0 EE E5 EA F2 FB).
    check(after[bundle.state] == bundle.root.encode("cp1251"),
          f"state.txt holds {after[bundle.state]!r}, expected the root in CP1251")
    header = '"' + bundle.root + "server\\modules\\php\\PHP-5.6-5.7\\header.php" + '"'
    check(("auto_prepend_file = " + header + "\r\n").encode("cp1251") in after[bundle.php_ini],
          "php.ini does not hold the header path in CP1251")
    check(after[bundle.config].startswith(b'<?xml version="1.0" encoding="Windows-1252"?>'),
          f"config.xml starts {after[bundle.config][:60]!r}")
    check_config(bundle, after[bundle.config])  # read back through its declaration
    check(b"&#x041F;&#x0440;&#x043E;&#x0435;&#x043A;&#x0442;&#x044B;" in after[bundle.config],
          "the folder is not written as character references")
    written = after[bundle.config]
    check(all(byte < 0x80 for byte in written), "config.xml is no longer pure ASCII")
    for reference in (b"&#x0420;&#x0430;", b"&#x6587;&#x672C;", b"&#x201C;x&#x201D;&#9;y"):
        check(reference in written, f"config.xml lost the history entry with {reference!r}")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


def check_started_by_long_path(bundle, report):
    """The editor ran once, from its long path, and was named by a long
    path: absolute, or relative to its working folder, never a short form."""
    runs = report["editor_wide_runs"]
    check(len(runs) == 1, f"the editor ran {len(runs)} times: {runs}")
    command_line, directory, program = runs[0]
    editor = bundle.root + "server\\notepad\\notepad++.exe"
    check(program.lower() == editor.lower(), f"the editor runs from {program!r}, not {editor!r}")
    named = command_line.strip().strip('"')
    if named[1:3] != ":\\":
        named = directory.rstrip("\\") + "\\" + named
    check(named.lower() == editor.lower() and "~" not in command_line and "?" not in command_line,
          f"the editor was started as {command_line!r} in {directory!r}, not by its long path")
    check(report.get("launcher_waited_for_editor") == "1", "the launcher did not wait for the editor")


def case_folder_outside_code_page(build, work, name):
    """A bundle in E:\\<name> under the ANSI code page 1252, which cannot
    hold the name (Cyrillic), or holds it only by a look-alike (best fit):
    the editor starts by its long path, php.ini gets the root's short form,
    config.xml the exact long path, state.txt both, and a second start
    changes nothing."""
    bundle = make_bundle(work, name=name)
    (bundle.php_dir / "header.php").write_bytes(b"<?php\r\n")
    template = TEMPLATE.with_name(TEMPLATE.name + "-cp1252")
    env = {"LC_ALL": "C.UTF-8"}  # Wine's ANSI code page is then 1252
    report, _, _ = run_harness(build, work, bundle,
                               ["--php", "1", "--conemu", "--open-php-ini-value"],
                               template=template, env_extra=env)
    after = bundle.snapshot()
    check_launcher_ended(report)
    check_started_by_long_path(bundle, report)

    tail = "server\\modules\\php\\PHP-5.6-5.7\\header.php"
    groups = ini_groups(after[bundle.php_ini])
    value = dict(groups.get("PHP", [])).get("auto_prepend_file", "")
    check(value.isascii() and "?" not in value and value.startswith('"E:\\') and
          value.endswith("\\" + tail + '"') and value != '"' + bundle.root + tail + '"',
          f"auto_prepend_file is {value!r}, not the root's short form in plain ASCII")
    expected = ini_groups(PHP_INI)
    expected["PHP"] = [(k, value if k == "auto_prepend_file" else v) for k, v in expected["PHP"]]
    check(groups == expected, f"php.ini holds {groups}, expected {expected}")
    check(report.get("php_ini_value_opens") == "1",
          f"php.ini's value {value!r} does not open through the ANSI API")
    check_config(bundle, after[bundle.config])

    short_root = value[1:-len(tail) - 1]
    state = after[bundle.state]
    check(b"?" not in state, f"state.txt holds a question mark: {state!r}")
    expected_state = (b"\xef\xbb\xbf" + bundle.root.encode("utf-8") + b"\r\n" +
                      short_root.encode("ascii"))
    check(state == expected_state, f"state.txt holds {state!r}, expected {expected_state!r}")
    check_record(bundle, "php.ini: updated", config_updated(bundle), "editor: ended")
    check("???" not in bundle.log.read_bytes().decode("utf-8", "replace"),
          "the record names the folder with question marks")
    check_cleanup(report, 1, cmd_window=False)

    # Nothing moved: the second start leaves every file as it is.
    report, _, _ = run_harness(build, work, bundle, ["--php", "1"], template=template,
                               env_extra=env, records="records-again")
    check_launcher_ended(report)
    check_started_by_long_path(bundle, report)
    again = bundle.snapshot()
    for path, data in after.items():
        check(again[path] == data, f"the second start changed {path.name}")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


def case_foreign_programs(build, work):
    """What the user started from elsewhere survives, a browser window with
    "cmd" in its title too; the bundle's php.exe and command window do not."""
    bundle = make_bundle(work, state="ROOT")
    report, runs, _ = run_harness(build, work, bundle,
                                  ["--foreign-php", "--foreign-conemu", "--foreign-cmd-window",
                                   "--php", "1", "--cmd-window", "--browser-window"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    for key in ("foreign_cmd_window", "browser_window"):
        check(report.get(f"{key}_ready") == "1", f"{key} did not appear")
    for key in ("foreign_php", "foreign_conemu", "foreign_cmd_window", "browser_window"):
        check(report.get(f"{key}_exit") == STILL_ACTIVE,
              f"{key} exit code {report.get(f'{key}_exit')}, expected it still running")
    check_cleanup(report, 1, conemu=False)


def case_editor_leftovers(build, work):
    """A ConEmu.exe from outside the bundle that the editor left behind is
    stopped; one the user started from the same folder keeps running."""
    bundle = make_bundle(work, state="ROOT")
    report, runs, _ = run_harness(build, work, bundle,
                                  ["--foreign-conemu", "--editor-leaves-conemu"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check(report.get("editor_conemu_started") == "1", "the editor left no ConEmu.exe behind")
    check(report.get("editor_conemu_exit") == "9",
          f"the editor's ConEmu.exe exit code {report.get('editor_conemu_exit')}")
    check(report.get("foreign_conemu_exit") == STILL_ACTIVE,
          f"the user's ConEmu.exe exit code {report.get('foreign_conemu_exit')}")


def moved_values(before, after, old_root, new_root):
    """The number of attribute values of `before` that name a place inside
    `old_root` (ASCII letter case ignored, as on Windows) and read back from
    `after` moved into `new_root`; raises when any value reads otherwise, or
    anything else differs."""
    def low(text):
        return "".join(c.lower() if "A" <= c <= "Z" else c for c in text)

    def bare(root):
        root = root[:-1]
        return "" if not root or root.endswith(":") else root

    def moved(value):
        if low(value).startswith(low(new_root)) or (bare(new_root) and
                                                      low(value) == low(bare(new_root))):
            return value
        if low(value).startswith(low(old_root)):
            return new_root + value[len(old_root):]
        if bare(old_root) and low(value) == low(bare(old_root)):
            return bare(new_root) or new_root
        return value

    count = 0
    old_tree, new_tree = parse_xml(before), parse_xml(after)
    for x, y in zip(old_tree.iter(), new_tree.iter()):
        check((x.tag, x.text, x.tail, list(x.attrib)) == (y.tag, y.text, y.tail, list(y.attrib)),
              f"<{x.tag}> changed beyond its values")
        for key, value in x.attrib.items():
            if x.tag == "root" and key == "foldername":
                continue
            want = moved(value)
            check(y.get(key) == want, f"<{x.tag} {key}> reads {y.get(key)!r}, expected {want!r}")
            count += want != value
    check(len(list(old_tree.iter())) == len(list(new_tree.iter())), "elements came or went")
    return count


# A session whose paths the user typed in several ways.
TYPED_SESSION = (
    '<?xml version="1.0" encoding="UTF-8" ?>\r\n<NotepadPlus>\r\n'
    '    <Session activeView="0">\r\n        <mainView activeIndex="0">\r\n'
    '            <File filename="E:\\work\\bundle\\server\\domains\\mysite.local\\index.php"'
    ' backupFilePath="" />\r\n'
    '            <File filename="new 1" backupFilePath="E:\\work\\bundle\\server\\notepad\\backup'
    '\\new 1@2025-10-27_192511" />\r\n'
    '            <File filename="e:\\WORK\\bundle\\notes &amp; &quot;todo&quot;.txt" />\r\n'
    '            <File filename="E:\\work\\bundle2\\other.txt" />\r\n'
    '            <File filename="C:\\Users\\me\\&#x0444;&#x0430;&#x0439;&#x043B;.txt" />\r\n'
    '        </mainView>\r\n    </Session>\r\n</NotepadPlus>\r\n').encode("ascii")

def case_editor_paths(build, work, old_root, session, config=None, code_page=None, expected=()):
    """The bundle moved from `old_root`: every value of session.xml (and of
    config.xml) inside it names the same place in the bundle, read back
    through the files' declarations, and nothing else changed."""
    env, template, encoding = {}, None, "cp1252"
    if code_page == 1251:
        ensure_locale(RUSSIAN_LOCALE)
        env, encoding = {"LC_ALL": RUSSIAN_LOCALE}, "cp1251"
        template = TEMPLATE.with_name(TEMPLATE.name + "-cp1251")
    bundle = make_bundle(work, state=None)
    bundle.state.write_bytes(old_root.encode(encoding))
    session_file = bundle.notepad / "session.xml"
    session_file.write_bytes(session)
    if config is not None:
        bundle.config_original = config
        bundle.config.write_bytes(config)
    report, _, _ = run_harness(build, work, bundle, ["--php", "1"], template=template,
                               env_extra=env)
    after = bundle.snapshot()
    check_launcher_ended(report)
    check(after[bundle.state] == bundle.root.encode(encoding),
          f"state.txt holds {after[bundle.state]!r}, expected the new root")
    moved = [moved_values(session, session_file.read_bytes(), old_root, bundle.root),
             moved_values(bundle.config_original, after[bundle.config], old_root, bundle.root)]
    check(tuple(moved) == expected,
          f"values moved in session.xml and config.xml: {moved}, expected {expected}")
    check_record(bundle, f"session.xml: updated, {expected[0]} value(s) naming places in the "
                 "old root moved")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


def check_second_start_changed_nothing(bundle, before, report):
    """A second start touched no file, wrote no record, started no editor
    and left the bundle's php.exe and command window running."""
    after = bundle.snapshot()
    for path, data in before.items():
        check(after[path] == data, f"{path.name} was touched by a second start")
    check(not bundle.log.exists(), "a second start wrote a record")
    check(report.get("editor_runs_started") == "0", "the second start started an editor")
    check(report.get("php1_exit") == STILL_ACTIVE, "php.exe was stopped")
    check(report.get("cmd_window_exit") == STILL_ACTIVE, "the command window was closed")


def case_second_start_own_editor(build, work):
    """The bundle's own editor runs, minimised: a second start restores its
    window and brings it to the front, shows no box and changes nothing."""
    bundle = make_bundle(work)
    before = bundle.snapshot()
    report, _, _ = run_harness(build, work, bundle,
                               ["--bundle-editor-running", "--php", "1", "--cmd-window"])
    check(report.get("bundle_editor_ready") == "1",
          f"the bundle's editor did not come up minimised: {report}")
    check_launcher_ended(report, limit_ms=10000)
    check(report.get("bundle_editor_iconic_after") == "0", "the editor's window is still minimised")
    check(report.get("bundle_editor_foreground_before") == "0" and
          report.get("bundle_editor_foreground_after") == "1",
          "the editor's window was not brought to the front: "
          f"before {report.get('bundle_editor_foreground_before')}, "
          f"after {report.get('bundle_editor_foreground_after')}")
    check("box_shown" not in report, "a message box was shown")
    check_second_start_changed_nothing(bundle, before, report)


def case_second_start_other_editor(build, work):
    """An editor from another folder runs: a second start names that folder
    in a message box, waits until the box is closed, and changes nothing."""
    bundle = make_bundle(work)
    before = bundle.snapshot()
    report, _, _ = run_harness(build, work, bundle, ["--editor-running", "--php", "1",
                                                     "--cmd-window"])
    check(report.get("running_editor_ready") == "1", "the running editor did not start")
    check(report.get("box_shown") == "1", f"no message box was shown: {report}")
    check(report.get("launcher_waited_on_box") == "1", "the launcher did not wait on its box")
    check_launcher_ended(report, limit_ms=15000)
    text = (work / "records" / "box.txt").read_text("utf-8").rstrip("\n")
    folder = windows_path(build / "tests" / "wine" / "standins") + "\\"
    expected = (f"The editor is already running from {folder}. Close it, then start the "
                "bundle's editor again.")
    check(text.lower() == expected.lower(), f"the box says {text!r}, expected {expected!r}")
    check_second_start_changed_nothing(bundle, before, report)



# --- the bundle's editor in the notification area --------------------------------


def tray_icon_record(work):
    """The editor stand-in's record of its notification-area icon: whether
    it could be added, and whether it was still there when the editor exited."""
    record = work / "records" / "editor-tray.txt"
    check(record.exists(), "the editor wrote no record of its notification-area icon")
    return dict(line.partition("=")[::2] for line in record.read_text().splitlines())


def tray_second_start(build, work, how):
    """The bundle's editor runs with its main window hidden into the
    notification area (`how`: "tray", or "tray-minimised" when it was
    minimised too), below a hidden window of another class: a second start
    shows the main window, not minimised, brings it to the front, leaves the
    other window hidden and the icon in place, shows no box and changes
    nothing."""
    bundle = make_bundle(work)
    before = bundle.snapshot()
    report, _, _ = run_harness(build, work, bundle,
                               ["--bundle-editor-running", "--bundle-editor-window", how,
                                "--php", "1", "--cmd-window"])
    check(report.get("bundle_editor_ready") == "1",
          f"the bundle's editor did not come up hidden ({how}): {report}")
    check(report.get("bundle_editor_helper_above") == "1",
          f"the editor's window of another class is not above its main window: {report}")
    check_launcher_ended(report, limit_ms=10000)
    check(report.get("bundle_editor_visible_after") == "1",
          f"the editor's main window is still hidden: {report}")
    check(report.get("bundle_editor_iconic_after") == "0", "the editor's window is minimised")
    check(report.get("bundle_editor_foreground_before") == "0" and
          report.get("bundle_editor_foreground_after") == "1",
          f"the editor's window was not brought to the front: {report}")
    check(report.get("bundle_editor_helper_visible_after") == "0",
          f"the editor's window of another class was shown or is gone: {report}")
    check("box_shown" not in report, "a message box was shown")
    check_second_start_changed_nothing(bundle, before, report)
    # Showing the window leaves the editor's icon where the editor put it,
    # until the editor takes it away itself.
    icon = tray_icon_record(work)
    check(icon.get("added") == "1", f"the editor could not put its icon in place: {icon}")
    check(icon.get("present") == "1", f"the editor's notification-area icon is gone: {icon}")


def case_tray_hidden(build, work):
    tray_second_start(build, work, "tray")


def case_tray_hidden_minimised(build, work):
    tray_second_start(build, work, "tray-minimised")


# The Run menu as the editor writes it (no declaration, raw quotes): a PHP
# lint from the bundle and a browser from elsewhere.
SHORTCUTS = (
    '<NotepadPlus>\r\n    <InternalCommands />\r\n    <UserDefinedCommands>\r\n'
    '        <Command name="PHP lint" Ctrl="no" Alt="no" Shift="no" Key="0">"' + OLD_ROOT +
    'server\\modules\\php\\PHP-5.6-5.7\\php.exe" -l "$(FULL_CURRENT_PATH)"</Command>\r\n'
    '        <Command name="Browser" Ctrl="no" Alt="no" Shift="no" Key="0">"C:\\Program Files'
    '\\Mozilla Firefox\\firefox.exe" "$(FULL_CURRENT_PATH)"</Command>\r\n'
    '    </UserDefinedCommands>\r\n</NotepadPlus>\r\n').encode("ascii")


def case_shortcuts_moved(build, work):
    """The bundle moved: the Run command into the bundle names the bundle's
    php.exe, the one outside it stays, the quotes stay raw."""
    bundle = make_bundle(work)
    shortcuts = bundle.notepad / "shortcuts.xml"
    shortcuts.write_bytes(SHORTCUTS)
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_updated(bundle, bundle.snapshot())
    written = shortcuts.read_bytes()
    commands = [c.text for c in parse_xml(written).iter("Command")]
    expected = [c.text.replace(OLD_ROOT, bundle.root)
                for c in parse_xml(SHORTCUTS).iter("Command")]
    check(commands == expected and expected[0] != parse_xml(SHORTCUTS)[1][0].text,
          f"the commands read {commands}, expected {expected}")
    check(b'php.exe" -l "$(FULL_CURRENT_PATH)"</Command>' in written,
          f"the command's quotes are no longer raw: {written!r}")
    check_record(bundle, "shortcuts.xml: updated, 1 value(s) naming places in the old root moved")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


# php.ini's own places, in several groups, typed in several ways.
PHP_INI_PATHS = PHP_INI + (
    '[Session]\r\nsession.save_path = "2;' + OLD_ROOT + 'server\\userdata\\temp"\r\n'
    '[custom]\r\ninclude_path = ".;' + OLD_ROOT.replace("\\", "/") +
    'server/PEAR;C:\\php\\pear"\r\nerror_log = ' + OLD_ROOT.upper() + 'logs\\php.log\r\n'
    'extension_dir = "D:\\old place\\bundle2\\ext"\r\n').encode("ascii")


def case_php_paths_cp1252(build, work):
    """A bundle in E:\\Проекты under code page 1252, moved: php.ini's places
    inside the old root name the bundle by its short form, as
    auto_prepend_file does (which opens through the ANSI API), with each
    place's own separators; the rest stays."""
    bundle = make_bundle(work, name="Проекты")
    bundle.php_ini.write_bytes(PHP_INI_PATHS)
    (bundle.php_dir / "header.php").write_bytes(b"<?php\r\n")
    template = TEMPLATE.with_name(TEMPLATE.name + "-cp1252")
    report, _, _ = run_harness(build, work, bundle, ["--php", "1", "--open-php-ini-value"],
                               template=template, env_extra={"LC_ALL": "C.UTF-8"})
    check_launcher_ended(report)
    groups = ini_groups(bundle.php_ini.read_bytes())
    tail = "server\\modules\\php\\PHP-5.6-5.7\\header.php"
    value = dict(groups.get("PHP", [])).get("auto_prepend_file", "")
    short = value[1:-len(tail) - 1]
    check(short.isascii() and short.startswith("E:\\") and short != bundle.root and
          report.get("php_ini_value_opens") == "1",
          f"auto_prepend_file is {value!r}, not an opening short form")
    expected = ini_groups(PHP_INI_PATHS)
    expected["PHP"] = [(k, value if k == "auto_prepend_file" else v) for k, v in expected["PHP"]]
    expected["Session"] = [("session.save_path", '"2;' + short + 'server\\userdata\\temp"')]
    expected["custom"] = [
        ("include_path", '".;' + short.replace("\\", "/") + 'server/PEAR;C:\\php\\pear"'),
        # A short form's '~' is an operator in a bare value: the place is quoted.
        ("error_log", '"' + short + 'logs\\php.log"'),
        ("extension_dir", '"D:\\old place\\bundle2\\ext"')]
    check(groups == expected, f"php.ini holds {groups}, expected {expected}")
    check_record(bundle, "php.ini: updated, 3 value(s) naming places in the old root moved")
    check_cleanup(report, 1, conemu=False, cmd_window=False)

# --- a bundle on a network share ----------------------------------------------

# The share the cases serve a folder as (tools/wine-run.sh --share).
SHARE = "\\\\NAS\\share\\"

# PHP reads "\\" between double quotes as one backslash: a share's place
# written there as it is reads "\NAS\share\...". While php.ini's values are
# written so, the check of what PHP reads of places on the share is
# expected to fail, and only in that way; set this to True once they are
# written so that PHP reads them whole, and the check must pass.
PHP_READS_SHARE_PLACES = True


def make_share_bundle(work, name="bundle", old_root=OLD_ROOT, fixtures=("php.ini", "config.xml")):
    """A bundle in folder `name` of the share (at its root when `name` is
    empty), its state.txt holding `old_root`."""
    share_folder = work / "nas_share"
    folder = share_folder / name if name else share_folder
    root = SHARE + name + "\\" if name else SHARE
    drive = work / "drive_e"
    drive.mkdir(parents=True)
    bundle = Bundle(folder, root, drive, fixtures, old_root, True, old_root)
    bundle.share_folder = share_folder
    return bundle


def php_ini_settings(path):
    """php.ini's groups as PHP itself reads them: {group: {key: value}}."""
    php = shutil.which("php")
    if not php:
        raise Skip("need php (tools/install-deps.sh installs it)")
    read = subprocess.run(
        [php, "-n", "-r", "echo json_encode(parse_ini_file($argv[1], true, INI_SCANNER_NORMAL));",
         str(path)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    check(read.returncode == 0, f"php cannot read {path}: {read.stdout!r}")
    return json.loads(read.stdout)


def check_php_reads(original, written, expected, share_places=False):
    """PHP reads `written` as it read `original`, but for the values
    `expected` gives ({(group, key): what PHP must read}). With
    `share_places`, while PHP_READS_SHARE_PLACES is False, the check must
    fail, and only by reading each share's place with one leading backslash."""
    before = php_ini_settings(original)
    after = php_ini_settings(written)
    want = {group: dict(values) for group, values in before.items()}
    for (group, key), value in expected.items():
        want.setdefault(group, {})[key] = value
    if after == want:
        check(not share_places or PHP_READS_SHARE_PLACES,
              "PHP now reads the share's places whole: set PHP_READS_SHARE_PLACES = True")
        return

    def escaped(value):
        return value.replace(SHARE, SHARE[1:])

    only_escaping = after.keys() == want.keys() and all(
        after[group].keys() == values.keys() and
        all(after[group][key] in (value, escaped(value)) for key, value in values.items())
        for group, values in want.items())
    if share_places and not PHP_READS_SHARE_PLACES and only_escaping:
        print("  expected failure: PHP reads the share's places in php.ini with one leading "
              "backslash (PHP_READS_SHARE_PLACES is False)")
        return
    raise Failure(f"PHP reads php.ini as {after}, expected {want}")


def editor_split(line):
    """A command line split as the editor splits it: the program up to the
    first blank outside double quotes, then each argument so, quotes removed."""
    words, word, quoted, in_word = [], "", False, False
    for c in line:
        if c == '"':
            quoted, in_word = not quoted, True
        elif c == " " and not quoted:
            if in_word:
                words.append(word)
            word, in_word = "", False
        else:
            word, in_word = word + c, True
    if in_word:
        words.append(word)
    return words


def check_share_run(bundle, report, runs, php_count=2):
    """The editor ran once from the share folder and was waited for; the
    record names the move; the bundle's php.exe, ConEmu.exe and command
    window were ended."""
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_state(bundle, bundle.state.read_bytes())
    check_record(bundle, f'bundle moved: recorded root "{bundle.old_root}", present root '
                 f'"{bundle.root}"', config_updated(bundle), "editor: ended")
    check_cleanup(report, php_count)


# php.ini's own places on a drive, before the bundle moved to the share.
SHARE_PHP_INI = PHP_INI_PATHS


def share_php_expected(new_root):
    """What PHP must read of SHARE_PHP_INI's places, moved to `new_root`."""
    header = new_root + "server\\modules\\php\\PHP-5.6-5.7\\header.php"
    return {("PHP", "auto_prepend_file"): header,
            ("Session", "session.save_path"): "2;" + new_root + "server\\userdata\\temp",
            ("custom", "include_path"): ".;" + new_root.replace("\\", "/") +
            "server/PEAR;C:\\php\\pear",
            ("custom", "error_log"): new_root + "logs\\php.log"}


def case_share_from_drive(build, work):
    """The bundle moved from a drive into a share's folder: php.ini,
    config.xml, session.xml and shortcuts.xml follow, state.txt records the
    share's root, the editor starts there, the launcher waits for the
    updater the editor left running, and the tidy-up knows the bundle's
    programs on the share."""
    bundle = make_share_bundle(work, fixtures=("php.ini", "config.xml", "session.xml"))
    bundle.php_ini.write_bytes(SHARE_PHP_INI)
    shortcuts = bundle.notepad / "shortcuts.xml"
    shortcuts.write_bytes(SHORTCUTS)
    updater = bundle.notepad / "updater"
    updater.mkdir()
    shutil.copy2(build / "tests" / "wine" / "standins" / "php.exe", updater / "gup.exe")
    report, runs, _ = run_harness(build, work, bundle, ["--php", "2", "--conemu", "--cmd-window",
                                                        "--editor-starts-updater"])
    check_share_run(bundle, report, runs)
    check_config(bundle, bundle.config.read_bytes())
    moved_values(bundle.originals["session.xml"], (bundle.notepad / "session.xml").read_bytes(),
                 bundle.old_root, bundle.root)
    commands = [c.text for c in parse_xml(shortcuts.read_bytes()).iter("Command")]
    check(editor_split(commands[0])[0] == bundle.root + "server\\modules\\php\\PHP-5.6-5.7\\php.exe"
          and commands[1] == parse_xml(SHORTCUTS)[1][1].text,
          f"the commands read {commands}")
    check(report.get("updater_started") == "1" and report.get("launcher_waited_for_updater") == "1",
          f"the launcher did not wait for the updater on the share: {report}")
    record = bundle.log.read_bytes().decode("cp1252")
    waited = re.escape(bundle.root + "server\\notepad\\updater\\gup.exe")
    check(re.search(rf"  editor: waited for {waited} \(process \d+\) to end before the tidy-up\r\n",
                    record, re.IGNORECASE),
          f"the record does not name the updater on the share: {record!r}")
    original = work / "php-original.ini"
    original.write_bytes(SHARE_PHP_INI)
    check_php_reads(original, bundle.php_ini, share_php_expected(bundle.root), share_places=True)


# A bundle's Run menu and command interpreter on the share, typed without
# quotes, as they work there.
SHARE_SHORTCUTS = (
    '<NotepadPlus>\r\n    <UserDefinedCommands>\r\n'
    '        <Command name="PHP lint" Ctrl="no" Alt="no" Shift="no" Key="0">' + SHARE +
    'bundle\\server\\modules\\php\\PHP-5.6-5.7\\php.exe -l "$(FULL_CURRENT_PATH)"</Command>\r\n'
    '        <Command name="Prompt" Ctrl="no" Alt="no" Shift="no" Key="0">cmd /k cd /d ' + SHARE +
    'bundle\\server\\domains</Command>\r\n'
    '        <Command name="Browser" Ctrl="no" Alt="no" Shift="no" Key="0">"C:\\Program Files'
    '\\Mozilla Firefox\\firefox.exe" "$(FULL_CURRENT_PATH)"</Command>\r\n'
    '    </UserDefinedCommands>\r\n</NotepadPlus>\r\n').encode("ascii")
INTERPRETER = re.compile(rb'<GUIConfig name="commandLineInterpreter">[^<]*</GUIConfig>')


def case_share_to_drive(build, work):
    """The bundle moved from a share's folder to E:\\web bundle: every place
    on the share follows (ASCII letters in any case), the Run commands and
    the command interpreter typed without quotes get them, so that the
    editor's split gives the moved paths, and php.ini reads the drive."""
    old_root = "\\\\nas\\SHARE\\bundle\\"
    bundle = make_bundle(work, name="web bundle", old_root=SHARE + "bundle\\",
                         fixtures=("php.ini", "config.xml", "session.xml"))
    bundle.state.write_bytes(old_root.encode("ascii"))
    interpreter = (b'<GUIConfig name="commandLineInterpreter">' + SHARE.encode() +
                   b"bundle\\server\\ConEmu\\ConEmu.exe -Dir " + SHARE.encode() +
                   b"bundle</GUIConfig>")
    at = bundle.config_original.index(b"<GUIConfigs>") + len(b"<GUIConfigs>")
    bundle.config_original = (bundle.config_original[:at] + b"\r\n        " + interpreter +
                              bundle.config_original[at:])
    bundle.config.write_bytes(bundle.config_original)
    shortcuts = bundle.notepad / "shortcuts.xml"
    shortcuts.write_bytes(SHARE_SHORTCUTS)
    # Places on the share, unquoted (which PHP reads whole) and quoted.
    php_ini = PHP_INI + (
        "[Share]\r\nextension_dir = " + SHARE + "bundle\\server\\ext\r\n"
        'error_log = "' + SHARE + 'bundle\\logs\\php.log"\r\n').encode("ascii")
    bundle.php_ini.write_bytes(php_ini)
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check_state(bundle, bundle.state.read_bytes())
    written = bundle.config.read_bytes()
    texts = [e.text for e in parse_xml(written).iter("GUIConfig")
             if e.get("name") == "commandLineInterpreter"]
    words = editor_split(texts[0]) if len(texts) == 1 else []
    check(words == [bundle.root + "server\\ConEmu\\ConEmu.exe", "-Dir", bundle.root[:-1]],
          f"the command interpreter reads {texts}, split {words}")
    bundle.config_original = INTERPRETER.sub(b"", bundle.config_original)
    check_config(bundle, INTERPRETER.sub(b"", written))
    moved_values(bundle.originals["session.xml"], (bundle.notepad / "session.xml").read_bytes(),
                 bundle.old_root, bundle.root)
    commands = [editor_split(c.text) for c in parse_xml(shortcuts.read_bytes()).iter("Command")]
    expected = [[bundle.root + "server\\modules\\php\\PHP-5.6-5.7\\php.exe", "-l",
                 "$(FULL_CURRENT_PATH)"],
                ["cmd", "/k", "cd", "/d", bundle.root + "server\\domains"],
                ["C:\\Program Files\\Mozilla Firefox\\firefox.exe", "$(FULL_CURRENT_PATH)"]]
    check(commands == expected, f"the commands split as {commands}, expected {expected}")
    check_record(bundle, f'bundle moved: recorded root "{old_root}", present root "{bundle.root}"',
                 "shortcuts.xml: updated, 2 value(s) naming places in the old root moved")
    original = work / "php-original.ini"
    original.write_bytes(php_ini)
    check_php_reads(original, bundle.php_ini, {
        ("PHP", "auto_prepend_file"): bundle.root + "server\\modules\\php\\PHP-5.6-5.7\\header.php",
        ("Share", "extension_dir"): bundle.root + "server\\ext",
        ("Share", "error_log"): bundle.root + "logs\\php.log"})
    check_cleanup(report, 1, conemu=False, cmd_window=False)


def case_share_root(build, work):
    """A bundle at the share's own root, \\\\NAS\\share\\, moved there from a
    drive: the root keeps its one separator everywhere."""
    bundle = make_share_bundle(work, name="")
    report, runs, _ = run_harness(build, work, bundle, ["--php", "2", "--conemu", "--cmd-window"])
    check(bundle.root == SHARE, bundle.root)
    check_share_run(bundle, report, runs)
    check_config(bundle, bundle.config.read_bytes())
    for path in (bundle.php_ini, bundle.config, bundle.state):
        check(b"share\\\\" not in path.read_bytes(), f"{path.name} doubles the root's separator")
    original = work / "php-original.ini"
    original.write_bytes(bundle.originals["php.ini"])
    check_php_reads(original, bundle.php_ini, {
        ("PHP", "auto_prepend_file"): SHARE + "server\\modules\\php\\PHP-5.6-5.7\\header.php"},
        share_places=True)


def case_share_not_moved(build, work):
    """A bundle on the share that has not moved: nothing changes, the
    bundle's php.exe is stopped."""
    bundle = make_share_bundle(work, old_root=SHARE + "bundle\\")
    before = bundle.snapshot()
    report, runs, _ = run_harness(build, work, bundle, ["--php", "1"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    after = bundle.snapshot()
    for path, data in before.items():
        check(after[path] == data, f"{path.name} changed although the bundle did not move")
    check_cleanup(report, 1, conemu=False, cmd_window=False)



# --- php.ini read back by PHP ----------------------------------------------------------

# php.ini's places in each form a value comes in: (group, key, value, what
# PHP must read), "@" standing for the root. The last setting is none of the
# bundle's: PHP must still read it after all the others.
PHP_INI_FORMS = [
    ("PHP", "extension_dir", '"@server\\modules\\php\\PHP-5.6-5.7\\ext"',
     "@server\\modules\\php\\PHP-5.6-5.7\\ext"),
    ("PHP", "include_path", '".;@server\\modules\\php\\PHP-5.6-5.7\\PEAR;C:\\php\\pear"',
     ".;@server\\modules\\php\\PHP-5.6-5.7\\PEAR;C:\\php\\pear"),
    ("PHP", "error_log", "@server\\userdata\\logs\\php.log", "@server\\userdata\\logs\\php.log"),
    ("PHP", "user_dir", "'@www'", "@www"),
    ("PHP", "upload_tmp_dir", "@server\\userdata\\temp ; uploads", "@server\\userdata\\temp"),
    ("PHP", "doc_root", '"@server\\domains\\"', "@server\\domains\\"),
    ("PHP", "auto_prepend_file", '"@server\\modules\\php\\PHP-5.6-5.7\\header.php"',
     "@server\\modules\\php\\PHP-5.6-5.7\\header.php"),
    ("Session", "session.save_path", '"2;@server\\userdata\\sessions"',
     "2;@server\\userdata\\sessions"),
    ("Date", "date.timezone", "Europe/Berlin", "Europe/Berlin"),
]


def php_ini_forms(root):
    text, group = "", None
    for line_group, key, value, _ in PHP_INI_FORMS:
        if line_group != group:
            text += f"[{line_group}]\r\n"
            group = line_group
        text += f"{key} = {value.replace('@', root)}\r\n"
    return text


def php_reads(php_ini, keys):
    """What the php on PATH reads from `php_ini` for each of `keys` (None for
    a setting it lacks), and what it writes to its standard error."""
    php = shutil.which("php")
    if not php:
        raise Skip("need php on PATH")
    code = ("foreach (array_slice($argv, 1) as $k) { $v = ini_get($k); "
            "echo $v === false ? '-' : 'v' . bin2hex($v), \"\\n\"; }")
    result = subprocess.run([php, "-n", "-c", str(php_ini), "-r", code, "--"] + keys,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    values = [None if line == "-" else bytes.fromhex(line[1:]).decode("cp1252")
              for line in result.stdout.decode("ascii").split()]
    return values, result.stderr.decode("utf-8", "replace")


def case_php_ini_folder(build, work, name):
    """A bundle moved from a plain folder into E:\\`name`, whose name holds
    what PHP's INI syntax gives a meaning: PHP reads every place in php.ini,
    in every form, as the same place in the new folder, and every setting
    after them."""
    if not shutil.which("php"):
        raise Skip("need php on PATH")
    bundle = make_bundle(work, name=name)
    bundle.php_ini.write_bytes(php_ini_forms(OLD_ROOT).encode("cp1252"))
    report, _, _ = run_harness(build, work, bundle, ["--php", "1"])
    check_launcher_ended(report)
    keys = [key for _, key, _, _ in PHP_INI_FORMS]
    values, errors = php_reads(bundle.php_ini, keys)
    written = bundle.php_ini.read_bytes()
    check(errors == "", f"php says {errors!r} about {written!r}")
    expected = [read.replace("@", bundle.root) for _, _, _, read in PHP_INI_FORMS]
    check(values == expected, f"PHP reads {values}, expected {expected} from {written!r}")
    check(b" ; uploads\r\n" in written, f"the comment after upload_tmp_dir is gone: {written!r}")
    check_record(bundle, "php.ini: updated, 7 value(s) naming places in the old root moved")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


# --- a bundle that cannot be written -------------------------------------------------

# Run inside a mount namespace of its own: the drive's folder is copied
# aside, a tmpfs mounted over it and the copy put back, the tmpfs made
# read-only; then the command (Wine and its server included) runs, and what
# the drive holds afterwards is copied out.
READ_ONLY_DRIVE = """set -e
drive=$1; out=$2; shift 2
mkdir "$out/stage" "$out/after"
cp -a "$drive/." "$out/stage/"
mount -t tmpfs -o size=256m quillgate-read-only "$drive"
cp -a "$out/stage/." "$drive/"
mount -o remount,ro "$drive"
touch "$out/mounted"
set +e
"$@"
status=$?
cp -a "$drive/." "$out/after/"
exit $status
"""


def files_below(folder):
    return {str(p.relative_to(folder)): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file()}


def run_on_read_only_drive(build, work, bundle, options):
    """The harness run with drive E: on a read-only tmpfs, in a mount
    namespace made by `unshare -rm` (as root `unshare -m` does too); skips
    the case, saying why, where neither may mount."""
    if not shutil.which("unshare"):
        raise Skip("the unshare program is not installed")
    out = work / "read-only"
    refusals = []
    for flags in ("-rm", "-m"):
        shutil.rmtree(out, ignore_errors=True)
        out.mkdir()
        wrapper = ["unshare", flags, "sh", "-c", READ_ONLY_DRIVE, "sh",
                   str(bundle.drive_folder), str(out)]
        probe = subprocess.run(wrapper + ["true"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=60)
        if (out / "mounted").exists():
            shutil.rmtree(out)
            out.mkdir()
            result = run_harness(build, work, bundle, options, wrapper=wrapper)
            check((out / "mounted").exists(), "the read-only drive was not mounted for the run")
            return result, out
        refusals.append(f"unshare {flags}: " + probe.stdout.decode("utf-8", "replace").strip())
    raise Skip("a read-only tmpfs cannot be mounted here: " + "; ".join(refusals))


def case_readonly_moved(build, work):
    """A moved bundle on a read-only drive: the editor starts, then a box
    names each settings file with the system's reason; the test reads it and
    closes it, and the launcher waits for the editor. No file changes."""
    bundle = make_bundle(work, fixtures=("php.ini", "config.xml", "session.xml"))
    (report, runs, _), out = run_on_read_only_drive(build, work, bundle, ["--php", "1"])
    check_launcher_ended(report)
    check_editor_run(bundle, runs, report)
    check(files_below(out / "after") == files_below(out / "stage"),
          "a file on the read-only drive changed, or one was added")
    check(report.get("box_shown") == "1", f"no message box was shown: {report}")
    check(report.get("launcher_waited_on_box") == "1", "the launcher did not wait on its box")
    check(report.get("editor_runs_at_box_close") == "1",
          f"the editor was not started before the box was closed: {report}")
    text = (work / "records" / "box.txt").read_text("utf-8").rstrip("\n")
    for name in ("server\\modules\\php\\PHP-5.6-5.7\\php.ini", "server\\notepad\\config.xml",
                 "server\\notepad\\session.xml"):
        reason = re.search(re.escape(name) + r": ([^.]+)\.", text)
        check(reason and reason.group(1).strip() and not reason.group(1).startswith("server\\"),
              f"the box gives no reason for {name}: {text!r}")
    check("keep their old paths" in text, f"the box does not say what follows: {text!r}")
    check_cleanup(report, 1, conemu=False, cmd_window=False)


CASES = {
    "moved": case_moved,
    "not_moved": case_not_moved,
    "editor_running": case_editor_running,
    "editor_missing": case_editor_missing,
    "drive_root": case_drive_root,
    "blanks_and_ampersand": case_blanks_and_ampersand,
    "stubborn_window": case_stubborn_window,
    "foreign_programs": case_foreign_programs,
    "editor_leftovers": case_editor_leftovers,
    "cyrillic_folder": case_cyrillic_folder,
    "cyrillic_folder_cp1252": lambda build, work: case_folder_outside_code_page(
        build, work, "Проекты"),
    "best_fit_folder_cp1252": lambda build, work: case_folder_outside_code_page(
        build, work, "Łódź"),
    "editor_paths_typed": lambda build, work: case_editor_paths(
        build, work, "E:\\work\\bundle\\", TYPED_SESSION, expected=(3, 0)),
    "editor_paths_real_session": lambda build, work: case_editor_paths(
        build, work, "C:\\Users\\Deepak\\",
        corpus_file("npp-session", "Code-Deepak-Code_NotepadPlusPlusSettings__session.xml"),
        expected=(91, 0)),
    "editor_paths_cyrillic_cp1251": lambda build, work: case_editor_paths(
        build, work, "D:\\Рабочие файлы и программы\\npp\\",
        corpus_file("npp-session", "oberhaifisch_npp__session.xml"),
        config=corpus_file("npp-more", "oberhaifisch_npp__config.xml"), code_page=1251,
        expected=(30, 4)),
    "second_start_own_editor": case_second_start_own_editor,
    "second_start_other_editor": case_second_start_other_editor,
    "tray_hidden": case_tray_hidden,
    "tray_hidden_minimised": case_tray_hidden_minimised,
    "shortcuts_moved": case_shortcuts_moved,
    "php_paths_cp1252": case_php_paths_cp1252,
    "share_from_drive": case_share_from_drive,
    "share_to_drive": case_share_to_drive,
    "share_root": case_share_root,
    "share_not_moved": case_share_not_moved,
    "php_ini_parentheses": lambda build, work: case_php_ini_folder(build, work, "bundle (1)"),
    "php_ini_ampersand": lambda build, work: case_php_ini_folder(build, work, "R&D"),
    "php_ini_apostrophe": lambda build, work: case_php_ini_folder(build, work, "Client's files"),
    "php_ini_dollar": lambda build, work: case_php_ini_folder(build, work, "$work"),
    "php_ini_variable_syntax": lambda build, work: case_php_ini_folder(build, work, "${work} = 1!"),
    "readonly_moved": case_readonly_moved,
}


def write_junit(path, results):
    """The results, (name, outcome, seconds, text) each, as a JUnit file in
    the form CTest writes."""
    counts = collections.Counter(outcome for _, outcome, _, _ in results)
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             f'<testsuite name="launcher_e2e" tests="{len(results)}" '
             f'failures="{counts["fail"]}" skipped="{counts["skip"]}">']
    for name, outcome, seconds, text in results:
        lines.append(f'  <testcase name={quoteattr(name)} time="{seconds:.1f}">')
        if outcome == "fail":
            lines.append(f"    <failure message={quoteattr(text)}/>")
        elif outcome == "skip":
            lines.append(f"    <skipped message={quoteattr(text)}/>")
            lines.append(f"    <system-out>{escape(f'SKIP {name}: {text}')}</system-out>")
        lines.append("  </testcase>")
    lines.append("</testsuite>")
    pathlib.Path(path).write_text("\n".join(lines) + "\n", encoding="utf-8")


def run_case(name, build, keep):
    """Runs one case; its outcome ("pass", "fail" or "skip") and the
    failure's text or the skip's reason."""
    work = pathlib.Path(tempfile.mkdtemp(prefix=f"qg-wine-{name}-"))
    try:
        CASES[name](build, work)
        return "pass", ""
    except Skip as reason:
        return "skip", str(reason)
    except (Failure, subprocess.TimeoutExpired) as error:
        return "fail", str(error)
    except Exception:  # a fault of the script or its files: a failure, told in full
        return "fail", traceback.format_exc()
    finally:
        if keep:
            print(f"  kept {work}")
        else:
            shutil.rmtree(work, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--list", action="store_true", help="name every case, one a line")
    parser.add_argument("--build", type=pathlib.Path,
                        help="the Windows test build (windows-test preset)")
    parser.add_argument("--launcher", type=pathlib.Path,
                        help="the quillgate.exe to run (default: the test build's)")
    parser.add_argument("--template", type=pathlib.Path,
                        help="the Wine prefix template (default: build/win-wine-template)")
    parser.add_argument("--junit", type=pathlib.Path, help="also write the results to this file")
    parser.add_argument("--keep", action="store_true", help="keep each case's folder")
    parser.add_argument("cases", nargs="*", metavar="CASE", help=", ".join(CASES))
    args = parser.parse_args()
    if args.list:
        print("\n".join(CASES))
        return 0
    if args.build is None:
        parser.error("--build is required")
    unknown = [name for name in args.cases if name not in CASES]
    if unknown:
        parser.error(f"unknown case {unknown[0]}: one of {', '.join(CASES)}")
    build = args.build.resolve()
    global LAUNCHER, TEMPLATE
    if args.launcher:
        LAUNCHER = args.launcher.resolve()
    if args.template:
        TEMPLATE = args.template.resolve()
    for needed in (LAUNCHER or build / "launcher" / "quillgate.exe",
                   build / "tests" / "wine" / "standins" / "harness.exe"):
        if not needed.is_file():
            print(f"missing {needed}: build the windows-test preset first", file=sys.stderr)
            return 2
    results = []
    for name in args.cases or list(CASES):
        started = time.monotonic()
        outcome, text = run_case(name, build, args.keep)
        seconds = time.monotonic() - started
        results.append((name, outcome, seconds, text))
        label = {"pass": "PASS", "fail": "FAIL", "skip": "SKIP"}[outcome]
        print(f"{label} {name} ({seconds:.1f} s)" + (f": {text}" if text else ""), flush=True)
    if args.junit:
        write_junit(args.junit, results)
    counts = collections.Counter(outcome for _, outcome, _, _ in results)
    reasons = collections.Counter(text for _, outcome, _, text in results if outcome == "skip")
    line = f"{counts['pass']} passed, {counts['fail']} failed, {counts['skip']} skipped"
    if reasons:
        line += " (" + ", ".join(f"{n} {reason}" for reason, n in reasons.items()) + ")"
    print(line)
    if counts["fail"]:
        return 1
    return SKIP_STATUS if counts["skip"] == len(results) else 0


if __name__ == "__main__":
    sys.exit(main())
