#!/usr/bin/python3
"""The launcher of every test program (scripts/wine-run): its output ends when
its program ends, whatever the program leaves running, and carries the
program's output, order and status whole. Arguments: the wine-run script and
output_probe.exe."""
import os
import select
import signal
import subprocess
import sys
import tempfile
import time

WINE_RUN, PROBE = sys.argv[1], sys.argv[2]
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED:", what)


def read_to_end(command, limit):
    """Runs command with stdout and stderr on one pipe that is read to its end,
    as CTest reads a test's; returns the output, the seconds until the pipe
    closed (None when it was still open after limit) and the status."""
    read, write = os.pipe()
    start = time.monotonic()
    process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=write, stderr=write)
    os.close(write)
    output, seconds = b"", None
    while seconds is None and time.monotonic() - start < limit:
        if select.select([read], [], [], max(0, limit - (time.monotonic() - start)))[0]:
            data = os.read(read, 65536)
            output += data
            if not data:
                seconds = time.monotonic() - start
    os.close(read)
    try:
        status = process.wait(timeout=30)
    except subprocess.TimeoutExpired:
        status = None
    shown = output.decode(errors="replace")
    shown = shown if len(shown) < 2000 else shown[:1000] + "\n[...]\n" + shown[-500:]
    print("$ %s\n%s[output closed after %s s, status %s]" % (
        " ".join(command), shown, seconds and round(seconds, 1), status))
    return output, seconds, status


def chunk(stream, i):
    # What output_probe writes.
    return bytes((j * 7 + i * 31 + stream * 101) & 255 for j in range(256)) * 256


def processes():
    """pid -> (parent, process group) of every process."""
    found = {}
    for name in os.listdir("/proc"):
        try:
            with open("/proc/%s/stat" % name) as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
            if fields[0] != "Z":
                found[int(name)] = (int(fields[1]), int(fields[2]))
        except (OSError, ValueError, IndexError):
            pass
    return found


def children(parent):
    return [pid for pid, (up, _) in processes().items() if up == parent]


def wait_until(condition, seconds):
    end = time.monotonic() + seconds
    while not condition() and time.monotonic() < end:
        time.sleep(0.2)
    return condition()


# A child the program leaves running (as the desktop, a service or a program of
# its own would) neither holds the reader until it ends nor goes unmentioned.
output, seconds, status = read_to_end([WINE_RUN, "cmd", "/c", "start /b ping -n 40 127.0.0.1"], 30)
check(seconds is not None, "the output was still open 30 s after the start, though cmd ends at once "
      "(the ping it started held it)")
check(b"wine-run: a process started by cmd outlived it and still holds its output" in output,
      "the log says that a process outlived cmd")
check(status == 0, "cmd's status 0 came back (%s)" % status)

# Binary output in quantity on both streams at once, and the program's status.
try:
    run = subprocess.run([WINE_RUN, PROBE, "chunks", "48", "5"], stdin=subprocess.DEVNULL,
                         capture_output=True, timeout=180)
    status_line = ("wine-run: %s ended with status 5\n" % PROBE).encode()
    check(run.stdout == b"".join(chunk(1, i) for i in range(48)),
          "stdout holds the program's 3 MiB byte for byte (%d bytes came)" % len(run.stdout))
    check(run.stderr == b"".join(chunk(2, i) for i in range(48)) + status_line,
          "stderr holds the program's 3 MiB and the status line (%d bytes came, ending %r)" % (
              len(run.stderr), run.stderr[-80:]))
    check(run.returncode == 5, "the program's status 5 came back (%d)" % run.returncode)
except subprocess.TimeoutExpired:
    check(False, "the program writing 3 MiB to each stream ended within 180 s")

# Lines written to stdout and stderr in turns keep their order in one log.
output, seconds, status = read_to_end([WINE_RUN, PROBE, "lines", "400"], 120)
check(output == b"".join(b"line %d\n" % i for i in range(400)), "the 400 lines came in order")

# The program's arguments arrive as they were given, quotes, spaces and
# backslashes included.
given = ["plain", "two words", 'a"quote', 'back\\"slash', "trailing\\", "", "tab\there"]
run = subprocess.run([WINE_RUN, PROBE, "args"] + given, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
came = run.stdout.decode(errors="replace").replace("\r", "").split("\n")[:-1]
check(came == given, "the arguments came as given (%r)" % came)

# A program the keeper cannot start is started under wine64 alone, which
# says why and fails.
output, seconds, status = read_to_end([WINE_RUN, "no-such-program.exe"], 60)
check(b"the status keeper could not start no-such-program.exe" in output and status not in (0, None),
      "a missing program is tried under wine64 alone and fails (status %s)" % status)

# The host's loader aborts wine64 at its exit after the program has ended
# (wine64 ends with 127, the program's own status lost): the program's status
# comes back, and the program neither runs again nor repeats its output.
work = tempfile.mkdtemp(prefix="wine-run-test-")
aborting = os.path.join(work, "wine64")
with open(aborting, "w") as script:
    script.write('#!/bin/sh\n/usr/lib/wine/wine64 "$@"\n'
                 'echo "Inconsistency detected by ld.so: dl-fini.c: 87: _dl_fini: Assertion failed!" >&2\n'
                 'exit 127\n')
os.chmod(aborting, 0o755)
runs = os.path.join(work, "runs.txt")
run = subprocess.run([WINE_RUN, PROBE, "runs", "Z:" + runs.replace("/", "\\")], stdin=subprocess.DEVNULL,
                     capture_output=True, timeout=120, env=dict(os.environ, ORVANE_WINE64=aborting))
print("$ %s runs (wine64 aborting at exit)\n%s%s[status %d]" % (
    PROBE, run.stdout.decode(errors="replace"), run.stderr.decode(errors="replace"), run.returncode))
check(run.stdout.replace(b"\r", b"") == b"run 1\n", "the program's output came once (%r)" % run.stdout)
check(os.path.exists(runs) and open(runs).read() == "run\n", "the program ran once")
check(run.returncode == 1, "the program's own status 1 came back (%d)" % run.returncode)
os.unlink(aborting)
os.unlink(runs)
os.rmdir(work)


def program_group(launcher, name):
    """The launcher's program, once started, and the processes of its group
    that run the program called name."""
    check(wait_until(lambda: children(launcher.pid), 60), "the launcher started its program within 60 s")
    time.sleep(5)
    program = children(launcher.pid)
    group = [pid for pid, (_, pgid) in processes().items() if program and pgid == program[0] and pgid != own_group]
    named = [pid for pid in group if program_name(pid) == name]
    print("program %s, its process group %s, %s in it: %s" % (program, group, name, named))
    return program, group, named


def program_name(pid):
    """"cmd" for a Wine process whose command line starts with cmd,
    cmd.exe or C:\\windows\\system32\\cmd.exe."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as cmdline:
            words = cmdline.read().replace(b"\0", b" ").decode(errors="replace").split()
    except OSError:
        return ""
    name = words[0].replace("/", "\\").rsplit("\\", 1)[-1].lower() if words else ""
    return name[:-4] if name.endswith(".exe") else name


own_group = os.getpgid(0)

# A launcher killed outright (CTest's time limit) takes the program with it.
launcher = subprocess.Popen([WINE_RUN, "cmd", "/c", "ping -n 61 127.0.0.1"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
program, group, named = program_group(launcher, "cmd")
check(named, "cmd runs in the launcher's program's process group")
launcher.kill()
launcher.wait()
left = lambda: [pid for pid in program + named if pid in processes()]
check(wait_until(lambda: not left(), 15), "the program ended within 15 s of the launcher's SIGKILL "
      "(still running: %s)" % left())
for pid in group:
    if pid in processes():
        os.kill(pid, signal.SIGKILL)

# A signal to the launcher ends the program and what it started.
launcher = subprocess.Popen([WINE_RUN, "cmd", "/c", "ping -n 60 127.0.0.1"], stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
program, group, named = program_group(launcher, "cmd")
launcher.send_signal(signal.SIGTERM)
try:
    launcher.wait(timeout=30)
except subprocess.TimeoutExpired:
    check(False, "the launcher ended within 30 s of SIGTERM")
left = lambda: [pid for pid in program + group if pid in processes()]
check(wait_until(lambda: not left(), 15), "the program and its process group ended within 15 s of "
      "the launcher's SIGTERM (still running: %s)" % left())
for pid in left():
    os.kill(pid, signal.SIGKILL)

if FAILURES:
    print("%d check(s) failed" % len(FAILURES))
    sys.exit(1)
print("all checks passed")
