#!/usr/bin/env python3
"""Fails one system call at a time in the command-line program and checks what it did.

Each trial runs one command (split --delete-sources over a tape of two recordings
and a one-recording file that is moved whole, the same after a thorough scan, copy,
sheet, bitmaps) under
`strace -e inject=CALL:error=ERRNO:when=N`, in a folder of its own, and checks:
  - no frame lost: every source is either there, byte for byte as it was, or every
    scene of it stands complete under its final name;
  - nothing partial under a final name: every output there equals the output of a
    run without faults (a PDF: reads back with the same pages);
  - no temporary file left;
  - the exit status and the last message agree with what was done: 0 and
    "completed successfully!" only when everything was written (and deleted);
  - a failure names a file and the system's reason for the error injected.
The calls to fail are those of a traced run without faults that touch the trial's
folder, sampled evenly over each kind. Exits 1 when a trial breaks a rule.

  fault_trials.py --cli build/default/quorvandel-cli [--samples N] [--jobs N]
"""
import argparse
import concurrent.futures
import errno
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading

CALLS = {
    # call: the errors that call can really give
    "openat": ["EACCES", "EIO", "ENOSPC"],
    "read": ["EIO"],
    "pread64": ["EIO"],
    "preadv": ["EIO"],
    "pwrite64": ["ENOSPC", "EIO"],
    "pwritev": ["ENOSPC", "EIO"],
    "write": ["ENOSPC", "EIO"],
    "copy_file_range": ["ENOSPC", "EIO", "EXDEV"],
    "fsync": ["EIO", "ENOSPC"],
    "rename": ["EIO", "EACCES", "EXDEV"],
    "renameat2": ["EIO", "EACCES", "EXDEV"],
    "unlink": ["EACCES", "EIO", "EPERM"],
    "utimensat": ["EPERM", "EIO"],
    "newfstatat": ["EIO", "EACCES"],
}

SIGNALS = ["SIGINT", "SIGTERM", "SIGHUP"]

RECORDINGS = [  # name, seconds, recording time
    ("a", "2", "2004-07-14T10:00:00Z"),
    ("b", "1.5", "2004-07-14T11:00:00Z"),
    ("c", "1", "2004-07-15T09:00:00Z"),
]

COMMANDS = {
    "split": ["split", "tape.avi", "one.avi", "--output", "out/scenes.avi",
              "--delete-sources", "--yes"],
    "copy": ["copy", "tape.avi", "--first", "40", "--count", "20", "out/copy.avi"],
    "sheet": ["sheet", "tape.avi", "-o", "out/sheet.pdf"],
    "bitmaps": ["bitmaps", "tape.avi", "one.avi", "-o", "out/pic.bmp"],
    "scan": ["scan", "--optical=2", "tape.avi", "one.avi"],
    # A raw DV tape split into raw DV and AVI scenes.
    "split-dv": ["split", "tape.dv", "--output", "out/scenes.dv", "--delete-sources", "--yes"],
    "copy-dv": ["copy", "tape.dv", "--first", "40", "--count", "20", "out/copy.avi"],
    # Every frame read, by two threads: a read failed in either is the file's error.
    "split-thorough": ["split", "--thorough", "tape.avi", "one.avi", "--output",
                       "out/scenes.avi", "--delete-sources", "--yes"],
}
SOURCES = ["tape.avi", "one.avi", "tape.dv"]
# The outputs of each source carry its recordings' date.
DATE_OF = {"tape.avi": "20040714", "one.avi": "20040715", "tape.dv": "20040714"}
# A run whose outputs are as good as those of COMMANDS: split copies a whole file when
# it cannot move it.
ALTERNATIVES = {"split": ["split", "tape.avi", "one.avi", "--output", "out/scenes.avi"],
                "split-thorough": ["split", "--thorough", "tape.avi", "one.avi", "--output",
                                   "out/scenes.avi"]}
LINE = re.compile(r"^(\d+) +(\w+)\((.*)$")


def run(args, **kw):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                          stdin=subprocess.DEVNULL, text=True, errors="replace", **kw)


def make_sources(folder):
    for name, seconds, recorded in RECORDINGS:
        r = run(["ffmpeg", "-v", "error", "-y", "-nostdin", "-f", "lavfi", "-i",
                 "testsrc=size=720x576:rate=25", "-f", "lavfi", "-i",
                 "sine=frequency=1000:sample_rate=48000", "-t", seconds, "-c:v", "dvvideo",
                 "-pix_fmt", "yuv420p", "-c:a", "pcm_s16le", "-ac", "2", "-ar", "48000",
                 "-metadata", "creation_time=" + recorded, "-f", "dv",
                 os.path.join(folder, name + ".dv")])
        if r.returncode != 0:
            sys.exit("ffmpeg failed: " + r.stderr)
    with open(os.path.join(folder, "tape.dv"), "wb") as tape:
        for name in ("a", "b"):
            with open(os.path.join(folder, name + ".dv"), "rb") as part:
                tape.write(part.read())
    for dv, avi in (("tape.dv", "tape.avi"), ("c.dv", "one.avi")):
        r = run(["ffmpeg", "-v", "error", "-nostdin", "-i", os.path.join(folder, dv), "-c",
                 "copy", os.path.join(folder, avi)])
        if r.returncode != 0:
            sys.exit("ffmpeg failed: " + r.stderr)


def digest(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def pdf_pages(path):
    r = run(["pdfinfo", path])
    m = re.search(r"^Pages:\s+(\d+)", r.stdout, re.M)
    return int(m.group(1)) if r.returncode == 0 and m else -1


class Trials:
    def __init__(self, cli, base):
        self.cli = os.path.abspath(cli)
        self.base = base
        self.sources = os.path.join(base, "sources")
        os.mkdir(self.sources)
        make_sources(self.sources)
        self.count = 0
        self.lock = threading.Lock()
        self.alternative = {}
        self.printed = {}  # what each command prints without faults

    def setup(self):
        with self.lock:
            self.count += 1
            folder = os.path.join(self.base, "t%d" % self.count)
        os.makedirs(os.path.join(folder, "out"))
        for name in SOURCES:
            shutil.copyfile(os.path.join(self.sources, name), os.path.join(folder, name))
        return folder

    def env(self, folder):
        env = dict(os.environ)
        env["QUORVANDEL_SETTINGS"] = os.path.join(folder, "settings.reg")
        env["HOME"] = folder
        env["XDG_CONFIG_HOME"] = os.path.join(folder, "config")
        env["TZ"] = "UTC"
        env["LC_ALL"] = "C"
        # LeakSanitizer cannot run under ptrace; the other sanitizers' checks stay.
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        return env

    def run_command(self, command, folder, strace=None, args=None):
        args = [self.cli] + (args or COMMANDS[command])
        if strace:
            args = ["strace", "-f", "-qq", "-o", os.path.join(self.base, strace[0])] + \
                strace[1:] + ["--"] + args
        return run(args, cwd=folder, env=self.env(folder), timeout=120)

    @staticmethod
    def printable(out, folder):
        """What a run prints, but for its folder and the bytes written (a copy made
        in place of a move is as good, and not as large)."""
        return re.sub(r"\(\d+ bytes\)", "(N bytes)", out.replace(folder, "FOLDER"))

    def state(self, folder):
        """Every file of the folder, by name: its digest (a PDF: its page count) and time."""
        files = {}
        for root, _, names in os.walk(folder):
            for name in names:
                path = os.path.join(root, name)
                rel = os.path.relpath(path, folder)
                if rel == "settings.reg":
                    continue
                kind = pdf_pages(path) if name.endswith(".pdf") else digest(path)
                files[rel] = (kind, int(os.stat(path).st_mtime))
        return files

    def baseline(self, command):
        folder = self.setup()
        r = self.run_command(command, folder)
        if r.returncode != 0:
            sys.exit("%s fails without faults:\n%s" % (command, r.stderr))
        done = self.state(folder)
        self.printed[command] = self.printable(r.stdout, folder)
        if command in ALTERNATIVES:
            shutil.rmtree(folder)
            folder = self.setup()
            r = self.run_command(command, folder, args=ALTERNATIVES[command])
            self.alternative = self.state(folder)
        # The calls made, in order per kind, that touch the trial's folder.
        log = "calls-%s.log" % command
        folder2 = self.setup()
        r = self.run_command(command, folder2,
                             [log, "-y", "-e", "trace=" + ",".join(CALLS)])
        calls = {}
        main = None
        with open(os.path.join(self.base, log), errors="replace") as f:
            for line in f:
                m = LINE.match(line)
                if not m:
                    continue
                pid, call = m.group(1), m.group(2)
                main = main or pid
                if pid != main or call not in CALLS:
                    continue
                calls.setdefault(call, [0, []])
                calls[call][0] += 1
                # A file in the folder: by its path, or by a name relative to it (every
                # call names the current folder itself).
                args = m.group(3)
                if folder2 + "/" in line or re.match(r'"[^/]', args) or (
                        'AT_FDCWD<%s>, "' % folder2 in line and
                        'AT_FDCWD<%s>, "/' % folder2 not in line):
                    calls[call][1].append(calls[call][0])
        shutil.rmtree(folder)
        shutil.rmtree(folder2)
        return done, calls

    def check(self, command, done, folder, r, call, error, log):
        """The rules a trial broke, as texts."""
        broken = []
        after = self.state(folder)
        injected = False
        with open(os.path.join(self.base, log), errors="replace") as f:
            injected = any("(INJECTED)" in line for line in f)
        out = r.stdout + r.stderr
        temporaries = [n for n in after if n.endswith(".part") or ".tmp" in n]
        if temporaries:
            broken.append("temporary files left: %s" % temporaries)
        original = {n: done_n for n, done_n in self.originals.items()}
        for name, value in after.items():
            if name in temporaries:
                continue
            expected = done.get(name) or original.get(name)
            if expected is None:
                broken.append("unexpected file %s" % name)
            elif name in original and name not in done:
                if value[0] != original[name][0]:
                    broken.append("source %s changed" % name)
            elif value[0] != expected[0] and value[0] != self.alternative.get(name, (0,))[0]:
                broken.append("%s is not the complete output" % name)

        def whole(name):
            have = after.get(name, (None,))[0]
            return have == done[name][0] or have == self.alternative.get(name, (0,))[0]
        complete = all(whole(n) for n in done)
        # No frame lost: a source that is gone has all its scenes written.
        for source in SOURCES:
            if source not in after:
                outputs = [n for n in done if n.startswith("out/") and DATE_OF[source] in n]
                missing = [n for n in outputs if not whole(n)]
                if missing or not outputs:
                    broken.append("%s is gone, but not all outputs are there: %s" %
                                  (source, missing))
        dated = all(after.get(n, (None, None))[1] == v[1]
                    for n, v in done.items() if n.endswith(".avi") and n.startswith("out/"))
        said_done = "completed successfully!" in out
        if r.returncode == 0:
            if not complete or not dated or set(after) != set(done):
                broken.append("exit 0 but the files are not those of a run without faults")
            if self.printable(r.stdout, folder) != self.printed[command]:
                broken.append("exit 0, but it printed what a run without faults does not")
            if command == "split" and not said_done:
                broken.append("exit 0 without \"completed successfully!\"")
        else:
            if said_done:
                broken.append("\"completed successfully!\" but exit %d" % r.returncode)
            if not injected:
                broken.append("exit %d with no fault injected" % r.returncode)
            reason = os.strerror(getattr(errno, error))
            if reason not in r.stderr:
                broken.append("the message does not give the reason \"%s\"" % reason)
            if not re.search(r"(/|\.avi|\.dv|\.pdf|\.bmp|\.part|\.reg|\bout\b)", r.stderr):
                broken.append("the message names no file")
        if broken or self.verbose:
            broken.append("exit %d; %s" % (r.returncode, r.stderr.strip()[-1500:]))
        return broken

    def check_signal(self, command, done, folder, r, signo):
        """A run ended by a signal: it exits with 128 + the signal, and leaves no
        temporary and nothing partial."""
        broken = []
        after = self.state(folder)
        if r.returncode != 128 + signo:
            broken.append("exit %d, not %d" % (r.returncode, 128 + signo))
        if "completed successfully!" in r.stdout + r.stderr:
            broken.append("\"completed successfully!\" after a signal")
        for name, value in after.items():
            if name.endswith(".part") or ".tmp" in name:
                broken.append("temporary file left: %s" % name)
            elif name in done and value[0] != done[name][0] and \
                    value[0] != self.alternative.get(name, (0,))[0]:
                broken.append("%s is not the complete output" % name)
            elif name not in done and value[0] != self.originals.get(name, (0,))[0]:
                broken.append("%s is neither a source nor an output" % name)
        for source in SOURCES:
            outputs = [n for n in done if n.startswith("out/") and DATE_OF[source] in n]
            if source not in after and any(
                    after.get(n, (None,))[0] not in (done[n][0], self.alternative.get(n, (0,))[0])
                    for n in outputs):
                broken.append("%s is gone, but not all its outputs are there" % source)
        if broken:
            broken.append("exit %d; %s" % (r.returncode, r.stderr.strip()[-1500:]))
        return broken

    def trial(self, command, done, call, error, n):
        folder = self.setup()
        log = "trial-%s.log" % os.path.basename(folder)
        # An error, or a signal that arrives as the call is made.
        what = "signal=" + error if error.startswith("SIG") else "error=" + error
        # (strace's seccomp filter, which makes the trials fast, loses injected signals.)
        fast = [] if error.startswith("SIG") else ["--seccomp-bpf"]
        r = self.run_command(command, folder,
                             [log, "-y"] + fast + ["-e", "trace=" + call,
                                                   "-e", "inject=%s:%s:when=%d" % (call, what, n)])
        if error.startswith("SIG"):
            broken = self.check_signal(command, done, folder, r, getattr(signal, error))
        else:
            broken = self.check(command, done, folder, r, call, error, log)
        shutil.rmtree(folder)
        os.remove(os.path.join(self.base, log))
        return broken


def full_disk_trials(trials):
    """split, copy, sheet and bitmaps onto a real file system too small for their
    outputs (a 2 MiB tmpfs), where it can be mounted (root): each fails with the
    disk's reason, keeps every source and leaves nothing partial. The rules broken."""
    broken = []
    mount = os.path.join(trials.base, "small")
    os.mkdir(mount)
    if run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mount]).returncode != 0:
        print("full disk: no tmpfs could be mounted here; not tried")
        return broken
    try:
        for command, args in (("split", ["split", "tape.avi", "one.avi", "--output",
                                         mount + "/scenes.avi", "--delete-sources", "--yes"]),
                              ("copy", ["copy", "tape.avi", "--first", "0", "--count", "50",
                                        mount + "/copy.avi"]),
                              ("split-dv", ["split", "tape.dv", "--output", mount + "/s.dv",
                                            "--delete-sources", "--yes"])):
            folder = trials.setup()
            r = trials.run_command(command, folder, args=args)
            left = os.listdir(mount)
            sources = all(os.path.exists(os.path.join(folder, n)) for n in SOURCES)
            if r.returncode != 1 or "No space left on device" not in r.stderr or \
                    any(n.endswith(".part") for n in left) or not sources or \
                    "completed successfully!" in r.stdout + r.stderr:
                broken.append("full disk, %s: exit %d, left %s, sources kept: %s\n  %s" %
                              (command, r.returncode, left, sources, r.stderr.strip()[-800:]))
            for name in left:  # what was written whole stays for the next to fill
                os.remove(os.path.join(mount, name))
            shutil.rmtree(folder)
        print("full disk: 3 trials")
    finally:
        run(["umount", mount])
    return broken


def sample(numbers, k):
    if len(numbers) <= k:
        return numbers
    if k == 1:
        return numbers[:1]
    return sorted({numbers[round(i * (len(numbers) - 1) / (k - 1))] for i in range(k)})


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--cli", required=True)
    parser.add_argument("--samples", type=int, default=5, help="calls failed per kind and error")
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--commands", default=",".join(COMMANDS))
    parser.add_argument("--verbose", action="store_true", help="show every trial's end")
    options = parser.parse_args()
    if shutil.which("strace") is None:
        sys.exit("strace is missing (Debian package strace)")
    base = tempfile.mkdtemp(prefix="qvfaults-")
    failures = 0
    total = 0
    try:
        trials = Trials(options.cli, base)
        trials.verbose = options.verbose
        trials.originals = {n: (digest(os.path.join(trials.sources, n)), 0) for n in SOURCES}
        usage = run([trials.cli, "--help"]).stdout
        for command in options.commands.split(","):
            if not re.search(r"^\s+%s\b" % COMMANDS[command][0], usage, re.M):
                print("%s: not in this build" % command)
                continue
            done, calls = trials.baseline(command)
            jobs = []
            with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
                for call, (_, ours) in sorted(calls.items()):
                    errors = CALLS[call]
                    if call in ("pwrite64", "pwritev", "copy_file_range"):
                        errors = errors + SIGNALS  # interrupted while it writes
                    for error in errors:
                        # Reads decide what a scan finds: sampled twice as densely.
                        k = options.samples * (2 if call in ("pread64", "preadv") else 1)
                        for n in sample(ours, k):
                            jobs.append(((call, error, n),
                                         pool.submit(trials.trial, command, done, call, error, n)))
            counts = {}
            for (call, error, n), job in jobs:
                broken = job.result()
                counts[call] = counts.get(call, 0) + 1
                total += 1
                if broken:
                    failures += 0 if options.verbose and len(broken) == 1 else 1
                    print("FAIL %s, %s %s at call %d:\n  %s" %
                          (command, call, error, n, "\n  ".join(broken)))
            print("%s: %d trials (%s)" % (command, len(jobs),
                                          ", ".join("%s %d" % kv for kv in sorted(counts.items()))),
                  flush=True)
        if os.geteuid() == 0:
            for text in full_disk_trials(trials):
                failures += 1
                print("FAIL " + text)
    finally:
        shutil.rmtree(base, ignore_errors=True)
    print("%d trials, %d broke a rule" % (total, failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
