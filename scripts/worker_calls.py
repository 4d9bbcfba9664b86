#!/usr/bin/env python3
"""Runs a picture worker over picture files, as the program asks it, one request a file.

    worker_calls.py [--strace] [--only-worker] WORKER [ARGUMENT...] -- FILE_OR_FOLDER...

Without --strace: tells each file whose worker ended or was killed, and by what (a worker
killed by SIGSYS made a system call its filter does not allow); the worker is started afresh
after each. Exit status 1 when any worker died.

With --strace: runs the worker under strace -f and lists the system calls made after its first
request was read (what decoding needs, not what starting Qt needs), with the flags of the calls
the filter looks at. --only-worker leaves out the worker's start-up: the list the filter needs.
"""
import os
import re
import signal
import struct
import subprocess
import sys
import tempfile
from collections import Counter, defaultdict

REQUEST_MAGIC, ANSWER_MAGIC = 0x51505252, 0x41505252


def protocol_version():
    """The version the worker built from this tree speaks (pictures/worker_protocol.h)."""
    header = os.path.join(os.path.dirname(__file__), "..", "pictures", "worker_protocol.h")
    with open(header, encoding="utf-8") as text:
        return int(re.search(r"kVersion = (\d+);", text.read()).group(1))


VERSION = protocol_version()
ANSWER_HEAD = 48
DEADLINE_S = 4


def files_of(targets):
    for target in targets:
        if os.path.isdir(target):
            for folder, _, names in sorted(os.walk(target)):
                for name in sorted(names):
                    yield os.path.join(folder, name)
        else:
            yield target


def read_exactly(stream, size):
    data = b""
    while len(data) < size:
        part = stream.read(size - len(data))
        if not part:
            break
        data += part
    return data


class Worker:
    def __init__(self, command):
        self.process = subprocess.Popen(command, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL)
        self.ticket = 0

    def ask(self, path):
        """True when answered (a picture or "cannot load"), False when the worker failed."""
        self.ticket += 1
        name = os.fsencode(path)
        head = struct.pack("<4Id", REQUEST_MAGIC, VERSION, self.ticket, len(name), 1.0)
        if VERSION >= 2:
            head += struct.pack("<2I", 0, 0)  # the whole picture, however large
        timer = signal.setitimer(signal.ITIMER_REAL, DEADLINE_S)
        try:
            self.process.stdin.write(head + name)
            self.process.stdin.flush()
            answer = read_exactly(self.process.stdout, ANSWER_HEAD)
            if len(answer) != ANSWER_HEAD:
                return False
            magic, _, ticket, status, _, height, _, line = struct.unpack_from("<8I", answer)
            if magic != ANSWER_MAGIC or ticket != self.ticket:
                return False
            if status == 1:
                return len(read_exactly(self.process.stdout, height * line)) == height * line
            return True
        except (BrokenPipeError, TimeoutError):
            return False
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            del timer

    def end(self):
        try:
            self.process.stdin.close()
        except BrokenPipeError:
            pass
        try:
            return self.process.wait(timeout=DEADLINE_S)
        except subprocess.TimeoutExpired:
            self.process.kill()
            return self.process.wait()


def how_ended(status):
    if status is None:
        return "still running"
    if status < 0:
        return "killed by " + signal.Signals(-status).name
    return "exit status %d" % status


def on_alarm(*_):
    raise TimeoutError


def run(command, files):
    signal.signal(signal.SIGALRM, on_alarm)
    worker, died, count = Worker(command), 0, 0
    for path in files:
        count += 1
        if worker.ask(path):
            continue
        worker.process.kill() if worker.process.poll() is None else None
        status = worker.process.wait()
        if status != -signal.SIGKILL:
            died += 1
            print("%s: the worker ended, %s" % (path, how_ended(status)))
        else:
            print("%s: no answer before the deadline" % path)
        worker = Worker(command)
    status = worker.end()
    print("%d files, %d workers died; the last one ended with %s" % (count, died, how_ended(status)))
    return 1 if died or status != 0 else 0


CALL = re.compile(r"^(?:\[pid\s+)?(\d+)\]?\s+(\w+)\((.*)")


def summarise(log, only_worker):
    calls, flags = Counter(), defaultdict(Counter)
    started = not only_worker
    with open(log, encoding="utf-8", errors="replace") as lines:
        for line in lines:
            match = CALL.match(line)
            if not match:
                continue
            name, rest = match.group(2), match.group(3)
            if not started:
                started = name == "read" and rest.startswith("0,")
                if not started:
                    continue
            calls[name] += 1
            arguments = [a.strip() for a in rest.split(",")]
            if name in ("openat",):
                flags[name][arguments[2]] += 1
            elif name in ("ioctl", "fcntl", "prctl", "madvise", "futex"):
                flags[name][arguments[1] if name != "prctl" else arguments[0]] += 1
            elif name in ("write", "writev", "pwrite64", "close_range"):
                flags[name]["fd " + arguments[0]] += 1
            elif name in ("mmap", "mprotect"):
                flags[name][arguments[2]] += 1
            elif name == "clone" or name == "clone3":
                flags[name][re.sub(r".*flags=([A-Z_|]*).*", r"\1", rest)] += 1
    for name in sorted(calls):
        print("%-24s %7d  %s" % (name, calls[name],
                                  "; ".join("%s x%d" % f for f in flags[name].most_common(8))))


def main():
    args = sys.argv[1:]
    trace = "--strace" in args
    only_worker = "--only-worker" in args
    args = [a for a in args if a not in ("--strace", "--only-worker")]
    if "--" not in args or args.index("--") == 0:
        print(__doc__, file=sys.stderr)
        return 2
    split = args.index("--")
    command, files = args[:split], list(files_of(args[split + 1:]))
    if not trace:
        return run(command, files)
    with tempfile.TemporaryDirectory() as work:
        log = os.path.join(work, "strace.log")
        run(["strace", "-f", "-qq", "-s", "0", "-o", log] + command, files)
        summarise(log, only_worker)
    return 0


if __name__ == "__main__":
    sys.exit(main())
