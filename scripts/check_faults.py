#!/usr/bin/env python3
"""Applies each fault of scripts/faults.txt alone to the program's code, rebuilds, runs the tests
and tells which faults the suite catches. The code is always put back, also on Ctrl-C.

Usage: check_faults.sh [--list | --check] [--x11] [--first-failure] [--build DIR]
                       [--expect FILE] [ID ...]
  --list           list the faults and whether each one's text is found exactly once
  --check          the same, and fail when any is not
  --x11            run the tests on a real X server too (slow)
  --first-failure  stop a fault's tests at the first failure (faster, names one catching test)
  --build DIR      the build folder (default build-faults, configured without benchmarks)
  --expect FILE    fail when a fault that FILE lists as caught is missed now (FILE is a results
                   file as the run writes it to BUILD/fault-results.txt)
  ID ...           only these faults, in this order
"""

import argparse
import os
import re
import signal
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
FAULTS = ROOT / "scripts" / "faults.txt"
# The program's code: C and C++ outside the tests and the benchmarks.
CODE = ["*.c", "*.cpp", "*.h", ":!tests/", ":!bench/"]
KEYS = ("id", "what", "find", "replace")
# A fault's tests may hang (a door that never stops): the whole run gets this long.
TEST_RUN_LIMIT = 900


def read_faults():
    faults, current = [], {}
    for number, line in enumerate(FAULTS.read_text(encoding="utf-8").splitlines(), 1):
        if line.startswith("#"):
            continue
        if not line.strip():
            if current:
                faults.append(current)
                current = {}
            continue
        key, sep, value = line.partition(":")
        if not sep or key not in KEYS or key in current:
            sys.exit(f"{FAULTS}:{number}: expected one of {', '.join(KEYS)} once per entry")
        current[key] = value[1:] if value.startswith(" ") else value
        current.setdefault("line", number)
    if current:
        faults.append(current)
    for fault in faults:
        missing = [key for key in KEYS if key not in fault]
        if missing:
            sys.exit(f"{FAULTS}:{fault['line']}: entry without {', '.join(missing)}")
    ids = [fault["id"] for fault in faults]
    if len(set(ids)) != len(ids):
        sys.exit(f"{FAULTS}: an id is used twice")
    return faults


def locate(text):
    """The file that holds `text`, or a reason why there is not exactly one place."""
    found = subprocess.run(["git", "grep", "-c", "-F", "-e", text, "--"] + CODE, cwd=ROOT,
                           capture_output=True, text=True)
    counts = {}
    for line in found.stdout.splitlines():
        path, _, count = line.rpartition(":")
        counts[path] = int(count)
    total = sum(counts.values())
    if total == 0:
        return None, "not found"
    if total > 1:
        return None, f"not unique ({total} places: {', '.join(sorted(counts))})"
    path = ROOT / next(iter(counts))
    # git grep counts lines; make sure the text is not twice on one line.
    if path.read_text(encoding="utf-8").count(text) != 1:
        return None, "not unique (twice on one line)"
    return path, None


def run(command, log, limit=None):
    """Runs a command niced, appending its output to `log`; its exit code, or None on timeout."""
    with open(log, "a", encoding="utf-8") as out:
        out.write(f"$ {' '.join(command)}\n")
        out.flush()
        process = subprocess.Popen(["nice", "-n", "10"] + command, cwd=ROOT, stdout=out,
                                   stderr=subprocess.STDOUT, start_new_session=True)
        try:
            return process.wait(timeout=limit)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            return None
        except BaseException:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            raise


def configure(build):
    # As build/, with the same optimisation, but without benchmarks and debug information: each
    # fault relinks every test program, and debug information makes that several times slower.
    command = ["cmake", "-S", ".", "-B", str(build), "-G", "Ninja",
               "-DCMAKE_BUILD_TYPE=RelWithDebInfo", "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG",
               "-DRORUMO_WERROR=ON",
               "-DRORUMO_BUILD_BENCH=OFF"]
    if subprocess.run(command, cwd=ROOT, stdout=subprocess.DEVNULL).returncode != 0:
        sys.exit("cannot configure " + str(build))


def failed_tests(output):
    """The failing tests in ctest's output: the QtTest functions that failed where the output
    names them, else the test's own name (a crash, a hang, a script)."""
    failed = []
    sections = re.split(r"^\s*\d+/\d+ Test\s+#\d+: ", output, flags=re.MULTILINE)[1:]
    for section in sections:
        name, _, rest = section.partition(" ")
        status = rest.splitlines()[0] if rest else ""
        if "Passed" in status or "Not Run" in status or "Skipped" in status:
            continue
        functions = re.findall(r"^FAIL!  : (\w+::\w+)\(", rest, flags=re.MULTILINE)
        for entry in functions or [name]:
            if entry not in failed:
                failed.append(entry)
    return failed


def test_command(args, build):
    # The Windows sources' check cross-compiles, and the Debian package rebuilds everything from
    # scratch; neither tells anything about these faults that the other tests do not.
    return ["ctest", "--test-dir", str(build), "-j2", "--timeout", "120", "--output-on-failure",
            "-LE", "windows" if args.x11 else "x11|windows", "-E", "^debian_package$"]


def try_fault(fault, args, build, log):
    """Applies one fault, builds and tests; the code is put back whatever happens."""
    path, problem = locate(fault["find"])
    if problem:
        return problem, []
    original = path.read_bytes()
    try:
        changed = original.decode("utf-8").replace(fault["find"], fault["replace"], 1)
        path.write_bytes(changed.encode("utf-8"))
        build_command = ["cmake", "--build", str(build), "-j2"]
        if run(build_command, log) != 0:
            return "caught", ["(build)"]
        start = log.stat().st_size
        command = test_command(args, build)
        if args.first_failure:
            command.append("--stop-on-failure")
        result = run(command, log, TEST_RUN_LIMIT)
        if result is None:
            return "caught", ["(tests hang)"]
        with open(log, encoding="utf-8", errors="replace") as out:
            out.seek(start)
            output = out.read()
        return ("caught", failed_tests(output)) if result != 0 else ("missed", [])
    finally:
        # A second Ctrl-C must not cut the restoring short.
        blocked = signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT, signal.SIGTERM})
        path.write_bytes(original)
        signal.pthread_sigmask(signal.SIG_SETMASK, blocked)


def interrupted(*_):
    raise KeyboardInterrupt


def main():
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--x11", action="store_true")
    parser.add_argument("--first-failure", action="store_true")
    parser.add_argument("--build", default="build-faults")
    parser.add_argument("--expect")
    parser.add_argument("-h", "--help", action="store_true")
    parser.add_argument("ids", nargs="*")
    args = parser.parse_args()
    if args.help:
        print(__doc__.strip())
        return 0

    faults = read_faults()
    unknown = set(args.ids) - {fault["id"] for fault in faults}
    if unknown:
        sys.exit("no such fault: " + ", ".join(sorted(unknown)))
    if args.ids:
        by_id = {fault["id"]: fault for fault in faults}
        faults = [by_id[fault_id] for fault_id in dict.fromkeys(args.ids)]

    if args.list or args.check:
        bad = 0
        for fault in faults:
            path, problem = locate(fault["find"])
            where = problem or str(path.relative_to(ROOT))
            bad += problem is not None
            print(f"{fault['id']:30} {where:34} {fault['what']}")
        print(f"{len(faults)} faults, {bad} whose text is not found exactly once")
        return 1 if args.check and bad else 0

    build = (ROOT / args.build).resolve()
    configure(build)
    log = build / "faults.log"
    log.write_text("")
    # A clean build and test run first, so that a failure can only be the fault's.
    if run(["cmake", "--build", str(build), "-j2"], log) != 0:
        sys.exit(f"the code does not build without faults; see {log}")
    if run(test_command(args, build), log, TEST_RUN_LIMIT) != 0:
        sys.exit(f"the tests fail without faults; see {log}")

    # Ctrl-C and kill both end in try_fault's finally clause, which puts the code back.
    signal.signal(signal.SIGTERM, interrupted)
    results, started = [], time.monotonic()
    try:
        for fault in faults:
            fault_started = time.monotonic()
            outcome, tests = try_fault(fault, args, build, log)
            seconds = time.monotonic() - fault_started
            results.append((fault, outcome, tests, seconds))
            print(f"{fault['id']:30} {outcome:8} {seconds:5.0f} s  {' '.join(tests)}", flush=True)
    except KeyboardInterrupt:
        print("interrupted; the code is as it was", file=sys.stderr)
        return 130
    # Leave the build folder matching the code again.
    run(["cmake", "--build", str(build), "-j2"], log)

    with open(build / "fault-results.txt", "w", encoding="utf-8") as out:
        for fault, outcome, tests, _ in results:
            out.write(f"{fault['id']}\t{outcome}\t{' '.join(tests)}\n")
    caught = sum(outcome == "caught" for _, outcome, _, _ in results)
    missed = [fault["id"] for fault, outcome, _, _ in results if outcome == "missed"]
    broken = [f"{fault['id']} ({outcome})" for fault, outcome, _, _ in results
              if outcome not in ("caught", "missed")]
    print()
    print(f"caught {caught} of {caught + len(missed)}; missed {len(missed)}"
          f"  ({time.monotonic() - started:.0f} s, log in {log})")
    for fault_id in missed:
        print(f"  missed: {fault_id}")
    for entry in broken:
        print(f"  not applied: {entry}")
    lost = []
    if args.expect:
        for line in Path(args.expect).read_text(encoding="utf-8").splitlines():
            fields = line.split("\t")
            if len(fields) >= 2 and fields[1] == "caught" and fields[0] in missed:
                lost.append(fields[0])
        for fault_id in lost:
            print(f"  caught before, missed now: {fault_id}")
    return 1 if broken or lost else 0


if __name__ == "__main__":
    sys.exit(main())
