#!/usr/bin/python3
"""The journeys' registry export with a reg.exe that fails now and then: two
failures are tried again and the key's lines come back; a key that is not
there still ends the check, naming every failure.

    check_export_retry.py <wine-run>
"""
import os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_journeys as journeys

journeys.WINE = sys.argv[1]
journeys.EXPORT_PAUSE = 0.1
real = journeys.wine
exports = []


def failing_twice(*args):
    """reg as it fails while other tests start and stop programs in the prefix."""
    if args[:2] == ("reg", "export"):
        exports.append(args[2])
        if len(exports) <= 2:
            return 1, ["reg: simulated failure %d" % len(exports)]
    return real(*args)


journeys.wine = failing_twice
key = "HKCU\\Software\\OrvaneExportRetry%d" % os.getpid()
problems = []
code, out = real("reg", "add", key, "/v", "Kept", "/d", "value", "/f")
if code != 0:
    sys.exit("reg add %s failed (exit %d): %s" % (key, code, " | ".join(out)))
try:
    lines = journeys.exported(key)
    if '"Kept"="value"' not in lines or len(exports) != 3:
        problems.append("flaky reg: %d exports, lines %r" % (len(exports), lines))
    del exports[:]
    try:
        lines = journeys.exported(key + "\\Missing")
        problems.append("missing key exported: %r" % lines)
    except RuntimeError as e:
        text = str(e)
        print(text)
        if len(exports) != journeys.EXPORT_TRIES or "simulated failure 2" not in text or "nable to find" not in text:
            problems.append("missing key: %d exports, %s" % (len(exports), text))
finally:
    real("reg", "delete", key, "/f")
print("\n".join(problems) or "a flaky export is tried again; a missing key fails after %d tries" % journeys.EXPORT_TRIES)
sys.exit(1 if problems else 0)
