#!/usr/bin/env bash
# own-pid-namespace.sh PROGRAM [ARGS...]
#
# Runs PROGRAM (a test, or an emulator followed by the test) in a PID
# namespace of its own with its own /proc: it sees and can signal only the
# processes it starts itself, so a test that looks for or stops programs by
# name (php.exe, notepad++.exe, ...) can never reach one on the machine, and
# suites can run side by side. CTest puts this script in front of every
# native test program.
#
# The namespace's first process is a bash that starts PROGRAM, collects the
# orphans reparented to it (a program left running by a launcher under test
# would otherwise stay behind as a zombie of its name) and exits with
# PROGRAM's status. When the namespace ends, the kernel ends whatever still
# runs in it. QG_OWN_PID_NAMESPACE=1 is set inside; the tests check it
# together with /proc.
#
# Where the machine refuses namespaces (unshare needs root here), PROGRAM
# runs as it is with QG_PID_NAMESPACE_REFUSED set to the reason; the tests
# that look for processes by name then skip and print that reason.
set -u
if (($# == 0)); then
  echo "usage: $0 PROGRAM [ARGS...]" >&2
  exit 2
fi

unshare_args=(--pid --fork --mount-proc --kill-child)
if ! command -v unshare >/dev/null 2>&1; then
  refused="the unshare program is not installed"
elif ! refused=$(unshare "${unshare_args[@]}" true 2>&1); then
  refused=${refused:-unshare failed}
else
  refused=
fi

if [[ -n $refused ]]; then
  QG_PID_NAMESPACE_REFUSED="${refused//$'\n'/ }" exec "$@"
fi

# Standard input is handed on explicitly: bash would give a program it
# starts in the background /dev/null instead.
exec unshare "${unshare_args[@]}" -- env QG_OWN_PID_NAMESPACE=1 \
  bash -c '"$@" <&0 & wait "$!"' own-pid-namespace "$@"
