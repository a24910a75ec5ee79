#!/usr/bin/env python3
"""What a run does at the system-call level to keep its files through a power cut:

    tests/durability_trace.py TOOL

runs TOOL on the default simulated drive with --json, --history and --metrics under strace and
reads the trace. Every output file (the report, the health log, the dumps, the manifest, the JSON
report, the metrics file) must be written under a temporary name, that temporary synced, then
renamed over its final name, then its folder synced; nothing is written under a final name. The
history file gets exactly one write, under an exclusive lock taken on the same descriptor and
still held, and is synced after it.

Exit status: 0 passed, 1 a check failed (each failure names the file), 77 skipped: strace is
missing or may not trace here (never counted as passed).
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile

SYSCALLS = "openat,write,fsync,fdatasync,rename,renameat,renameat2,flock"
# "1234 name(args) = result" as strace -f -y prints it; other lines (exits, signals) are skipped.
CALL = re.compile(r"^(?:\d+\s+)?(\w+)\((.*)\)\s+=\s+(-?\d+)")
DESCRIPTOR = re.compile(r"^(?:\d+|AT_FDCWD)<([^>]*)>")
QUOTED = re.compile(r'"((?:[^"\\]|\\.)*)"')


def skip(why):
    print(f"**** DURABILITY TRACE SKIPPED (not passed): {why}", file=sys.stderr)
    return 77


def events_of(trace, cwd):
    """The calls in order: (kind, path, extra), paths absolute. Failed calls are left out, but
    for a sync: some file systems cannot sync a folder, and asking is all a program can do."""
    events = []
    with open(trace, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            m = CALL.match(line.strip())
            if not m:
                continue
            name, args = m.group(1), m.group(2)
            if int(m.group(3)) < 0 and name not in ("fsync", "fdatasync"):
                continue
            fd = DESCRIPTOR.match(args)
            if name == "write" and fd:
                events.append(("write", fd.group(1), None))
            elif name in ("fsync", "fdatasync") and fd:
                events.append(("sync", fd.group(1), None))
            elif name == "flock" and fd:
                events.append(("lock", fd.group(1), args.split(",", 1)[1].strip()))
            elif name.startswith("rename"):
                names = QUOTED.findall(args)
                folders = re.findall(r"(?:\d+|AT_FDCWD)<([^>]*)>", args)
                if len(names) < 2:
                    continue
                if len(folders) < 2:
                    folders = [cwd, cwd]
                src = os.path.join(folders[0], names[0])
                dst = os.path.join(folders[1], names[1])
                events.append(("rename", dst, (src, folders[1])))
    return events


def check_output(events, final):
    """What is wrong with how `final` came to be; None when nothing is."""
    renames = [i for i, e in enumerate(events) if e[0] == "rename" and e[1] == final]
    if not renames:
        return "never renamed into place"
    at = renames[-1]
    temp, folder = events[at][2]
    if any(e[0] == "write" and e[1] == final for e in events):
        return "written under its final name"
    writes = [i for i, e in enumerate(events[:at]) if e[0] == "write" and e[1] == temp]
    if not writes:
        return f"its temporary {os.path.basename(temp)} was never written"
    if not any(e[0] == "sync" and e[1] == temp for e in events[writes[-1] + 1 : at]):
        return f"its temporary {os.path.basename(temp)} was not synced between its last write " \
            "and the rename"
    if not any(e[0] == "sync" and e[1] == folder for e in events[at + 1 :]):
        return f"its folder {folder} was not synced after the rename"
    return None


def check_history(events, path):
    writes = [i for i, e in enumerate(events) if e[0] == "write" and e[1] == path]
    if len(writes) != 1:
        return f"{len(writes)} writes, not one"
    at = writes[0]
    locks = [e for e in events[:at] if e[0] == "lock" and e[1] == path]
    if not locks or "LOCK_EX" not in locks[-1][2]:
        return "written without an exclusive lock held"
    if not any(e[0] == "sync" and e[1] == path for e in events[at + 1 :]):
        return "not synced after its write"
    return None


def main():
    if len(sys.argv) != 2:
        print(f"usage: {sys.argv[0]} TOOL", file=sys.stderr)
        return 2
    tool = os.path.realpath(sys.argv[1])
    strace = shutil.which("strace")
    if strace is None:
        return skip("strace is missing (Debian package strace)")
    with tempfile.TemporaryDirectory() as work:
        work = os.path.realpath(work)
        trace = os.path.join(work, "trace")
        command = [strace, "-f", "-y", "-qq", "-o", trace, "-e", "trace=" + SYSCALLS, tool,
                   "--sim", "0y", "--output-dir", "out", "--json", "--history", "h.jsonl",
                   "--metrics", "mon/t.prom"]
        run = subprocess.run(command, cwd=work, stdin=subprocess.DEVNULL, capture_output=True,
                             text=True, timeout=300)
        if run.returncode != 0 and "ptrace" in run.stderr.lower():
            return skip("strace may not trace here: " + run.stderr.strip())
        if run.returncode != 0:
            print(f"the run ended with status {run.returncode}:\n{run.stderr}", file=sys.stderr)
            return 1
        events = events_of(trace, work)
        out = os.path.join(work, "out")
        outputs = [os.path.join(out, name) for name in sorted(os.listdir(out))]
        outputs.append(os.path.join(work, "mon", "t.prom"))
        failures = []
        for final in outputs:
            problem = check_output(events, final)
            if problem:
                failures.append(f"{os.path.relpath(final, work)}: {problem}")
        problem = check_history(events, os.path.join(work, "h.jsonl"))
        if problem:
            failures.append(f"--history h.jsonl: {problem}")
        for failure in failures:
            print("DURABILITY: " + failure, file=sys.stderr)
        if failures:
            return 1
        print(f"durability trace: {len(outputs)} outputs and the history written, synced and "
              f"renamed in order ({len(events)} calls)")
        return 0


if __name__ == "__main__":
    sys.exit(main())
