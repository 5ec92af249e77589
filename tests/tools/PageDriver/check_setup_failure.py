#!/usr/bin/python3
"""The journeys check with a ScanRun that fails while it sets up the earlier
run's fix session: the check fails and names the call, its exit code and
its output, whatever the journeys after it show.

    check_setup_failure.py <app/ui>
"""
import contextlib, io, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_journeys as journeys

journeys.WINE, journeys.DRIVER, journeys.SCANRUN, journeys.ENGINE = "wine", "PageDriver.exe", "C:\\t\\ScanRun.exe", "e.dll"
journeys.UI = sys.argv[1]


def wine(*args):
    """Every command succeeds but the set-up scan that leaves the fix session."""
    if args[0] == journeys.SCANRUN and "fixed.dll" in args:
        return 1, ["Cannot create OrvaneEngine.Crawler (0x80040154); is OrvaneEngine.dll registered?"]
    return 0, []


journeys.wine = wine
journeys.drive = lambda lines, name, *switches: (0, [])
journeys.exported = lambda key: []
printed = io.StringIO()
with contextlib.redirect_stdout(printed):
    try:
        journeys.main()
        code = 0
    except SystemExit as e:
        code = e.code
want = ("set-up ScanRun.exe --mask 4 --filter fixed.dll --no-undo: exit 1: "
        "Cannot create OrvaneEngine.Crawler (0x80040154)")
lines = printed.getvalue().splitlines()
named = [l for l in lines if l.startswith(want)]
others = [l for l in lines if l.startswith("set-up ") and not l.startswith(want)]
if code != 1 or not named or others:
    print("exit %r; set-up lines %r" % (code, named + others))
    sys.exit(1)
print(named[0])
