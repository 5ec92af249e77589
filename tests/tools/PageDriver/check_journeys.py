#!/usr/bin/python3
"""A user's first clicks through the real main view from a fresh start, then
the contract: every event a page's script in app/ui sends is answered by its
page object or the view in each state the view shows the page in.

    check_journeys.py <wine-run> <PageDriver.exe> <ScanRun.exe> <OrvaneEngine.dll> <app/ui>
"""
import os, re, subprocess, sys, time

WINE = DRIVER = SCANRUN = ENGINE = UI = None  # from the command line
DLLS = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"
OLD = "HKCU\\Software\\QUARN\\Orvane"
# Wine's type library marshaler looks under the neutral locale only.
NEUTRAL = "HKCR\\TypeLib\\{7BAD77B0-1397-4787-B963-DBF7F5C5757A}\\1.0\\0"
# Fixed and ignored by an earlier run; the third is what the results list.
GONE = ["C:\\orvane-journey\\%s.dll" % n for n in ("fixed", "ignored", "listed")]
OLD_VALUES = [("SetupSchedule", "REG_DWORD", "1"), ("SetupNotify", "REG_DWORD", "1"),
              ("NotifyEmail", "REG_SZ", "journey@example.com"), ("AutoBackup", "REG_DWORD", "0"),
              ("SiteBase", "REG_SZ", "http://127.0.0.1:9")]  # an update site that refuses at once
ITEM = "view\tOutBarItemClicked\t\t"
# Each side-bar item in turn, with the event its page sends once loaded.
JOURNEY = [ITEM + "RegistryScan", "view\tShowNews"] + [ITEM + i + (e and "\nview\t" + e) for i, e in [
    ("Undo", "pageLoaded"), ("Configuration", "pageLoaded"), ("Ignores", "pageLoaded"),
    ("RegistryBackup", "Backup_OnLoad"), ("RegistryCompact", "PageLoaded"), ("Scheduler", "pageLoaded"),
    ("Emergency", "Emergency_OnLoad"), ("Help", ""), ("RegisterAbout", ""), ("Bonus", "")]] + ["pump"]
SHOWN = ["show scanStart.htm#", "script view: ShowNews();", "show undo.htm#", "script view: AddUndoItem(",
         "show configuration.htm#settings", "getElementById('bkpPath').value='C:", "show configuration.htm#ignore",
         "ignored.dll", "show regBackup.htm#", " NewBackup();", "show orvaneCompact.htm#-", "show regScheduler.htm#-",
         'mailAddress.value="journey@example.com";', "show emergency.htm#", "help ", "about: ", "open open: "]
# The lines that show a page in each of its states, and those that end what
# an event there may have started (a scan).
START = [ITEM + "RegistryScan", "view\tScan_Again", "pump"]
SCAN = START + ["view\tScan_ScanCustomStart\t\ti4:4", "pump"]
STOP = ["view\tScan_ScanStop", "pump"]
STATES = {
    "scanStart.htm": [(START, STOP)], "scanSelectUnions.htm": [(START + ["view\tScan_Custom", "pump"], STOP)],
    "ScanProgress.htm": [(SCAN, STOP)],
    "scanResults.htm": [(SCAN + ["scanned\t60000", "view\tScan_ViewResult", "pump"], STOP)],
    "undo.htm": [([ITEM + "Undo"], [])], "regBackup.htm": [([ITEM + "RegistryBackup"], [])],
    "configuration.htm": [([ITEM + "Configuration"], []), ([ITEM + "Ignores"], [])],
    "orvaneCompact.htm": [([ITEM + "RegistryCompact"], [])], "regScheduler.htm": [([ITEM + "Scheduler"], [])],
    "emergency.htm": [([ITEM + "Emergency"], [])],
}
OWN_WINDOW = {"progress.htm"}  # the backup's progress window, not the view
# Clicks that once broke the view's state, as (name, driver switches, events,
# what the driver prints in this order); "!text" must not show up before the
# next line, or to the end when it is last. The program log's lines count
# only where a "log: " line is expected.
BUSY = "Another operation is running"
EXPRESS = START[:1] + ["pump", "view\tScan_Express"]
RESULTS = EXPRESS + ["pump", "scanned\t60000", "view\tScan_ViewResult", "pump"]
FIXED = "log: [info] Scheduled scan found * problems; fixed."
# The scheduler page's automatic fix, stored at once; no mail from the job.
AUTOFIX = [ITEM + "Scheduler", "view\tpageLoaded", "view\tAutoFix\ttrue\tbool:%s", "view\tMailSwitch\t\tbool:false",
           "view\tconfigurationChanged\t\tapply"]
MOVED = "C:\\orvane-journey-undo"
FAULTS = [
    ("second start", [], EXPRESS + ["pump", ITEM + "RegistryScan", "pump", "view\tScan_Express", "pump",
     "scanned\t60000", "view\tScan_ViewResult", "pump", "view\tFix", ITEM + "Undo", "wait\tview\tFixFinish\t120000"],
     ["show ScanProgress.htm#", "!show", "script view: WaitAndGo();", "show scanResults.htm#", "show Fixing.htm#",
      "!show", BUSY, "!show", "script view: OnFixFinish(0);"]),
    ("stale ends", [], EXPRESS + ["sleep\t1500", "view\tScan_ScanStop", "view\tScan_Custom",
     "view\tScan_ScanCustomStart\t\ti4:4", "scanned\t60000"],
     ["show ScanProgress.htm#unions=4", "!OnScanFinish(1)", "!OnScanFinish(64)", "script view: WaitAndGo();"]),
    ("stop and start with automatic fix", ["/browser"], START[:1] + ["pump", "view\tScan_Express\t\tautofix", "pump",
     "sleep\t300", "view\tScan_ScanStop", "view\tScan_Express\t\tautofix", "pump", "scanned\t60000",
     "wait\tview\tFixFinish\t120000"],
     ["posted view: Scan_ScanStop", "show scanStart.htm#", "posted view: Scan_Express autofix",
      "show ScanProgress.htm#", "!show", "posted view: Fix EXPRESS", "!DisableToolbars", "show Fixing.htm#",
      "script view: OnFixFinish(0);"]),
    ("late stop and update answer", ["/browser"], START[:1] + ["pump", "view\tCheckUpdates", "view\tScan_Express", "pump",
     "wait\tview\tShowUpdate\t60000", "scanned\t60000", "view\tScan_ViewResult", "view\tScan_ScanStop", "pump",
     "view\tScan_Again", "pump"],
     ["show ScanProgress.htm#", "!license_middle", "posted view: ShowUpdate", "!license_middle",
      "show scanResults.htm#", "!StopButton", "show scanStart.htm#", "license_middle.innerHTML = \"Can"]),
    ("backup holds the lock", [], [ITEM + "RegistryBackup", "view\tBackup_OnLoad",
     "view\tRBackupNew\t\t0C:\\orvane-journey.bkp", ITEM + "RegistryScan", "view\tScan_Express",
     "wait\tview\tRBackupFinish\t60000", "view\tScan_Express", "scanned\t60000"],
     ["show scanStart.htm#", "!show", BUSY, "!show",
      "posted view: RBackupFinish", "show ScanProgress.htm#", "script view: WaitAndGo();"]),
    # While the fixing page loads (its fix not started yet), a second Fix is
    # the same fix and the side bar stays on the page.
    ("clicks while the fixing page loads", ["/loadpump"], RESULTS + [
     "click\tview\tFix", "click\tview\tOutBarItemClicked\t\tUndo", "view\tFix", "wait\tview\tFixFinish\t120000"],
     ["show Fixing.htm#", "!show", "!" + BUSY, "log: [info] Fix refused: a fix is running.", "!show", BUSY, "!show",
      "loaded Fixing.htm", "!show", "script view: OnFixFinish(0);"]),
    # The settings page, reached meanwhile, would move the undo folder away
    # from the fix writing there.
    ("settings applied while the fixing page loads", ["/loadpump"], ["answers\t6", "folder\t" + MOVED,
     "settings\tpageLoaded", "settings\tBrowseForFolder\t\tundoPath"] + RESULTS + [
     "click\tview\tOutBarItemClicked\t\tConfiguration", "click\tsettings\tconfigurationChanged\t\tapply",
     "view\tFix", "wait\tview\tFixFinish\t120000"],
     ["show Fixing.htm#", "!show", "!moved successfully", BUSY, "!show", "!moved successfully", BUSY, "!show",
      "!moved successfully", "script view: OnFixFinish(0);"]),
    # A page's load holds the operation lock, as the view's does: an Apply
    # handled meanwhile moves nothing.
    ("settings applied while a page loads", ["/loadpump"], ["answers\t6", "folder\t" + MOVED,
     "settings\tpageLoaded", "settings\tBrowseForFolder\t\tundoPath",
     "click\tsettings\tconfigurationChanged\t\tapply", ITEM + "RegistryScan"],
     ["show scanStart.htm#", "!moved successfully", BUSY, "!moved successfully", "loaded scanStart.htm",
      "!moved successfully"]),
    # A job in the open window reads what the scheduler page stored, and the
    # results it fixed are not shown again.
    ("scheduled fix after the scheduler page", [], [l % "true" if "%" in l else l for l in AUTOFIX] + RESULTS + [
     "job\t3"] + [l % "false" if "%" in l else l for l in AUTOFIX],
     ["show scanResults.htm#", "job 3", "show backgroundOper.htm#3", FIXED, "!show scanResults",
      "show scanStart.htm#", "!show scanResults", "job 3 ended"]),
]


def wine(*args):
    run = subprocess.run([WINE] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=240)
    return run.returncode, run.stdout.decode("utf-8", "replace").splitlines()


def set_up(*args):
    """Runs a set-up command; one that fails is a problem of its own, with
    its exit code and output, since the journeys after it cannot tell why
    they go wrong."""
    code, out = wine(*args)
    name = os.path.basename(args[0].replace("\\", "/"))
    return ["set-up %s %s: exit %d: %s" % (name, " ".join(args[1:]), code, " | ".join(out[-20:]))] * (code != 0)


def out_of_order(out, expected):
    """The first expected line missing from out, in order, or a forbidden one found."""
    at, banned = 0, []
    for want in expected:
        if want.startswith("!"):
            banned.append(want[1:])
            continue
        while at < len(out) and (not matches(out[at], want) or log_line(out[at], want)):
            if not log_line(out[at], want) and any(b in out[at] for b in banned):
                return "%r before %r" % (out[at], want)
            at += 1
        if at == len(out):
            return "missing %r" % want
        banned, at = [], at + 1
    rest = [line for line in out[at:] if not log_line(line, "") and any(b in line for b in banned)]
    return rest and "%r at the end" % rest[0]


def matches(line, want):
    """Whether the line holds the wanted text; "*" stands for any text."""
    return re.search(".*".join(re.escape(part) for part in want.split("*")), line) is not None


def log_line(line, want):
    """A line of the program log where the journey expects none."""
    return line.startswith("log: ") and not want.startswith("log: ")


ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER", "HKCR": "HKEY_CLASSES_ROOT"}


EXPORT_TRIES, EXPORT_PAUSE = 4, 1.0


def exported(key):
    """The key as reg export writes it (UTF-16). reg.exe now and then fails
    while other tests start and stop programs in the prefix, so a failed
    export is tried again; one that keeps failing (a key that is not there)
    would compare equal to another failed one, so it ends the check instead."""
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "orvane-export-%d.reg" % os.getpid())
    root, _, rest = key.partition("\\")
    header = ("[%s\\%s]" % (ROOTS.get(root, root), rest)).lower()
    failures = []
    for attempt in range(EXPORT_TRIES):
        if attempt:
            time.sleep(EXPORT_PAUSE)
        code, out = wine("reg", "export", key, "Z:" + path.replace("/", "\\"), "/y")
        try:
            with open(path, encoding="utf-16") as f:
                lines = f.read().splitlines()
            os.unlink(path)
        except OSError as e:
            lines = [str(e)]
        if code == 0 and header in (l.strip().lower() for l in lines):
            return lines
        failures.append("exit %d: %s" % (code, " | ".join(out + lines[:3])))
    raise RuntimeError("reg export of %s failed %d times; %s" % (key, EXPORT_TRIES, "; ".join(failures)))


def drive(lines, name, *switches):
    path = os.path.join(os.environ.get("TMPDIR", "/tmp"), "orvane-%s-%d.txt" % (name, os.getpid()))
    with open(path, "w", encoding="utf-8") as f:
        f.write("\n".join(lines) + "\n")
    try:
        return wine(DRIVER, *(list(switches) + ["Z:" + path.replace("/", "\\")]))
    finally:
        os.unlink(path)


def page_events(page):
    """Event names the page's script sends, its script files included."""
    text = open(os.path.join(UI, page), encoding="utf-8").read()
    for src in re.findall(r'<script[^>]*src="([^"]+)"', text):
        text += open(os.path.join(UI, src), encoding="utf-8").read()
    names = set(re.findall(r"(?:extEvent|OnHTMLEvent)\((?:document, *)?'(\w+)'\s*[,)]", text))
    # Functions that pass an argument on as the event name, and names made
    # from a job's name ('RScheduler' + job + 'Options').
    for fn, arg, body in re.findall(r"function (\w+)\((\w+)[^)]*\)\s*\{(.*?)\n\}", text, re.S):
        if re.search(r"extEvent\(%s\b" % arg, body):
            names |= set(re.findall(r"\b%s\('(\w+)'" % fn, text))
    jobs = re.findall(r"\['(\w+)'", "".join(re.findall(r"Jobs = \[(.*?)\];", text)))
    for head, tail in re.findall(r"extEvent\('(\w+)' \+ \w+(?: \+ '(\w+)')?", text):
        names |= {head + job + tail for job in jobs}
    return names


def contract():
    """The driver's lines and, for each "view" line, the (page, event) it checks."""
    plan, problems = [], []
    for page in sorted(p for p in os.listdir(UI) if p.endswith(".htm")):
        names = page_events(page)
        # The side bar is the view's, answered in every state tried here.
        if names - {"OutBarItemClicked"} and page not in STATES and page not in OWN_WINDOW:
            problems.append("%s sends %s but no state shows it" % (page, sorted(names)))
        plan += [(n == "Fix", page, s, n) for s in STATES.get(page, []) for n in sorted(names)]
    lines, expected = ["answers\t7"], []
    # Fixing comes last, and its session is undone after the run.
    for last, page, (reach, cleanup), name in sorted(plan, key=lambda p: p[0]):
        for line in reach + [None, "pump"] + (["wait\tview\tFixFinish\t120000"] if last else cleanup):
            lines.append(line or "view\t" + name)
            if line is None or line.startswith("view\t"):
                expected.append(None if line else (page, name))
    return lines, expected, problems


def unanswered(out, expected):
    problems, shown, sent = [], None, iter(expected)
    for line in out:
        if line.startswith("show "):
            shown = line[5:].split("#")[0]
        elif line.startswith("event view: "):
            last = next(sent, None)
            if last and shown != last[0]:
                problems.append("%s sent on %s, not %s" % (last[1], shown, last[0]))
        elif line.startswith(("unhandled", "timeout", "error")):
            problems.append(line)
    return problems


def main():
    setup = [["regsvr32", "/s", "Z:" + ENGINE.replace("/", "\\")],
             ["reg", "add", NEUTRAL + "\\win64", "/ve", "/d", "Z:" + ENGINE.replace("/", "\\"), "/f"]]
    setup += [["reg", "add", DLLS, "/v", n, "/t", "REG_DWORD", "/d", "1", "/f"] for n in GONE]
    problems = []
    for command in setup:
        problems += set_up(*command)
    try:
        # An earlier run of the program leaves a fix session and an ignored record,
        # an older version its settings.
        problems += set_up(SCANRUN, "--mask", "4", "--filter", "ignored.dll", "--ignore")
        problems += set_up(SCANRUN, "--mask", "4", "--filter", "fixed.dll", "--no-undo")
        for value, kind, data in OLD_VALUES:
            problems += set_up("reg", "add", OLD, "/v", value, "/t", kind, "/d", data, "/f")
        code, out = drive("\n".join(JOURNEY).split("\n"), "journey")
        problems += ["journey: missing " + s for s in SHOWN if s not in "\n".join(out)]
        problems += ["journey: " + p for p in unanswered(out, [])] + ["journey: exit %d" % code] * (code != 0)
        wine("cmd", "/c", "mkdir", MOVED)
        for name, switches, events, expected in FAULTS:
            before = exported(DLLS)
            code, got = drive(["answers\t1"] + events, "fault", *switches)
            wrong = out_of_order(got, expected)
            wrong = [wrong] * bool(wrong) + ["exit %d" % code] * (code != 0)
            # Every fix of a journey is undone, exactly.
            if any((l.startswith("show Fixing.htm#") and not l.endswith("#0")) or "problems; fixed." in l for l in got):
                wine(SCANRUN, "--undo-newest")
                wrong += ["the undo left %s other than before" % DLLS] * (exported(DLLS) != before)
            problems += ["%s: %s" % (name, p) for p in unanswered(got, []) + wrong]
            if wrong:
                print("%s, as the driver ran it:\n  %s" % (name, "\n  ".join(l[:160] for l in got)))
        wine("cmd", "/c", "rmdir", MOVED)
        wine("cmd", "/c", "del", "C:\\orvane-journey.bkp")
        lines, expected, problems_found = contract()
        problems += problems_found
        # Without a browser and as the program runs, whose control's browser makes the view defer.
        for switches in [], ["/browser"]:
            code, table = drive(lines, "contract", *switches)
            wine(SCANRUN, "--undo-newest")
            problems += ["contract%s: %s" % (" ".join([""] + switches), p) for p in unanswered(table, expected)]
            problems += ["contract: exit %d" % code] * (code != 0)
        print("contract: %d events in %d states" % (len([e for e in expected if e]), len(STATES)))
    finally:
        for name in GONE:
            wine("reg", "delete", DLLS, "/v", name, "/f")
        for value, _, _ in OLD_VALUES:
            wine("reg", "delete", OLD, "/v", value, "/f")
        wine("reg", "delete", NEUTRAL, "/f")
        wine("regsvr32", "/s", "/u", "Z:" + ENGINE.replace("/", "\\"))
    if problems:
        print("\n".join(out + problems))
        sys.exit(1)
    print("journey and contract: every page shows stored values, every event is answered")


if __name__ == "__main__":
    WINE, DRIVER, SCANRUN, ENGINE, UI = sys.argv[1:6]
    main()
