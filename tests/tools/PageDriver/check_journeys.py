#!/usr/bin/python3
"""A user's first clicks through the real main view (journeys.txt), then the
contract: every event a page's script sends, taken from app/ui, is answered
by its page object or the view in each state the page is shown in.

    check_journeys.py <wine-run> <PageDriver.exe> <ScanRun.exe> <OrvaneEngine.dll> <app/ui> <journeys>
"""
import os, re, subprocess, sys, tempfile

WINE, DRIVER, SCANRUN, ENGINE, UI, JOURNEYS = sys.argv[1:7]
DLLS = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\SharedDlls"
OLD = "HKCU\\Software\\QUARN\\Orvane"
# Wine's type library marshaler looks under the neutral locale only.
NEUTRAL = "HKCR\\TypeLib\\{7BAD77B0-1397-4787-B963-DBF7F5C5757A}\\1.0\\0"
GONE = ["C:\\orvane-journey\\%s.dll" % n for n in ("fixed", "ignored", "listed")]
# The ways the main view shows each page: the lines that get there, and
# those that end what an event there may have started (a scan).
ITEM = "view\tOutBarItemClicked\t\t%s"
STOP = ["view\tScan_ScanStop", "pump"]
SCAN = [ITEM % "RegistryScan", "view\tScan_Again", "pump", "view\tScan_ScanCustomStart\t\ti4:4", "pump"]
STATES = {
    "scanStart.htm": [([ITEM % "RegistryScan", "view\tScan_Again", "pump"], STOP)],
    "scanSelectUnions.htm": [([ITEM % "RegistryScan", "view\tScan_Custom", "pump"], STOP)],
    "ScanProgress.htm": [(SCAN, STOP)],
    "scanResults.htm": [(SCAN + ["scanned\t60000", "view\tScan_ViewResult", "pump"], STOP)],
    "undo.htm": [([ITEM % "Undo"], [])],
    "configuration.htm": [([ITEM % "Configuration"], []), ([ITEM % "Ignores"], [])],
    "regBackup.htm": [([ITEM % "RegistryBackup"], [])],
    "orvaneCompact.htm": [([ITEM % "RegistryCompact"], [])],
    "regScheduler.htm": [([ITEM % "Scheduler"], [])],
    "emergency.htm": [([ITEM % "Emergency"], [])],
}
OWN_WINDOW = {"progress.htm"}  # the backup's progress window, not the view
LAST = ["Fix"]  # fixes what the scan found: nothing may follow


def wine(*args):
    return subprocess.run([WINE] + list(args), stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=600)


def windows(path):
    return "Z:" + path.replace("/", "\\")


def drive(events):
    run = wine(DRIVER, windows(events))
    return run.returncode, run.stdout.decode("utf-8", "replace").splitlines()


def page_events(page):
    """Event names the page's own script sends, with the script files it loads."""
    text = open(os.path.join(UI, page), encoding="utf-8").read()
    for src in re.findall(r'<script[^>]*src="([^"]+)"', text):
        text += open(os.path.join(UI, src), encoding="utf-8").read()
    names = set(re.findall(r"(?:extEvent|OnHTMLEvent)\((?:document, *)?'(\w+)'\s*[,)]", text))
    # Functions that pass their first argument on as the event name, and
    # names made from a job name ('RScheduler' + job + 'Options').
    for fn, arg, body in re.findall(r"function (\w+)\((\w+)[^)]*\)\s*\{(.*?)\n\}", text, re.S):
        if re.search(r"extEvent\(%s\b" % arg, body):
            names |= set(re.findall(r"\b%s\('(\w+)'" % fn, text))
    jobs = re.findall(r"\['(\w+)'", "".join(re.findall(r"Jobs = \[(.*?)\];", text)))
    for head, tail in re.findall(r"extEvent\('(\w+)' \+ \w+(?: \+ '(\w+)')?", text):
        names |= {head + job + tail for job in jobs}
    return names


def contract_lines():
    lines, expected, problems = ["answers\t7"], [], []
    pages = sorted(p for p in os.listdir(UI) if p.endswith(".htm"))
    plan = []
    for page in pages:
        names = page_events(page)
        # The side bar is the view's and answered in every state tried here.
        if names - {"OutBarItemClicked"} and page not in STATES and page not in OWN_WINDOW:
            problems.append("%s sends %s but no state shows it" % (page, sorted(names)))
        for reach, cleanup in STATES.get(page, []):
            for name in sorted(names):
                plan.append((name in LAST, page, reach, name, cleanup))
    for _, page, reach, name, cleanup in sorted(plan, key=lambda p: p[0]):
        for line in reach + [None, "pump"] + cleanup:
            lines.append(line or "view\t" + name)
            if line is None or line.startswith("view\t"):
                expected.append(None if line else (page, name))
    return lines, expected, problems


def check_contract(out, expected):
    problems, shown, at, last = [], None, -1, None
    for line in out:
        if line.startswith("show "):
            shown = line[5:].split("#")[0]
        elif line.startswith("event view: "):
            at += 1
            last = expected[at] if at < len(expected) else None
            if last and shown != last[0]:
                problems.append("%s sent on %s, not %s" % (last[1], shown, last[0]))
        elif line.startswith("unhandled view: ") or line.startswith("timeout"):
            problems.append("%s (after %s)" % (line, last))
    return problems


def main():
    wine("regsvr32", "/s", windows(ENGINE))
    wine("reg", "add", NEUTRAL + "\\win64", "/ve", "/d", windows(ENGINE), "/f")
    for name in GONE:
        wine("reg", "add", DLLS, "/v", name, "/t", "REG_DWORD", "/d", "1", "/f")
    old = [("SetupSchedule", "REG_DWORD", "1"), ("SetupNotify", "REG_DWORD", "1"),
           ("NotifyEmail", "REG_SZ", "journey@example.com"), ("AutoBackup", "REG_DWORD", "0")]
    problems = []
    try:
        # An earlier run of the program: one fix session and one ignored record.
        wine(SCANRUN, "--mask", "4", "--filter", "ignored.dll", "--ignore")
        wine(SCANRUN, "--mask", "4", "--filter", "fixed.dll", "--no-undo")
        for value, kind, data in old:
            wine("reg", "add", OLD, "/v", value, "/t", kind, "/d", data, "/f")
        code, out = drive(JOURNEYS)
        text = "\n".join(out)
        for want in ["show scanStart.htm#", "script view: ShowNews();", "show undo.htm#", "script view: AddUndoItem(",
                     "show configuration.htm#settings", "document.getElementById('bkpPath').value='C:",
                     "show configuration.htm#ignore", "ignored.dll", "show regBackup.htm#", " NewBackup();",
                     "show orvaneCompact.htm#-", "show regScheduler.htm#-", 'mailAddress.value="journey@example.com";',
                     "show emergency.htm#", "help ", "about: ", "open open: "]:
            if want not in text:
                problems.append("journeys: missing " + want)
        problems += ["journeys: " + l for l in out if l.startswith(("unhandled", "timeout", "error"))]
        if code != 0:
            problems.append("journeys: driver exit code %d" % code)
        lines, expected, found = contract_lines()
        problems += found
        with tempfile.NamedTemporaryFile("w", suffix=".txt", delete=False, encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        code, contract = drive(f.name)
        os.unlink(f.name)
        problems += ["contract: " + p for p in check_contract(contract, expected)]
        print("contract: %d events sent in %d states" % (sum(1 for e in expected if e), len(STATES)))
    finally:
        for name in GONE:
            wine("reg", "delete", DLLS, "/v", name, "/f")
        for value, _, _ in old:
            wine("reg", "delete", OLD, "/v", value, "/f")
        wine("reg", "delete", NEUTRAL, "/f")
        wine("regsvr32", "/s", "/u", windows(ENGINE))
    if problems:
        print("\n".join(out))
        print("\n".join(problems))
        sys.exit(1)
    print("journeys and contract: every page shown with stored values, every event answered")


if __name__ == "__main__":
    main()
