#!/usr/bin/python3
"""Runs the page driver on the sample events against the local update
server (update_server.py runs this) and checks the lines that matter.

    check_page_driver.py <wine-run> <PageDriver.exe> <OrvaneEngine.dll> <events>
"""
import os
import subprocess
import sys
import time

# The driver's version resource says 2.1.0.0.
EXPECTED = [
    'script start: license_middle.innerHTML = "Please wait...',
    "posted start: ShowUpdate ",
    "script start: checkStr.innerHTML = ",
    "GoUpdateOnline(\\'http://127.0.0.1/download?x=1&amp;y=2\\');\\\">http://127.0.0.1/download?x=1&amp;y=2</a>] today.\"",
    "script start: checking = false",
    ("open open: http://127.0.0.1/support?name=", "&product=OV210&winver=", "&platform=64"),
    # Other tests in the prefix may have left fix sessions: the first one is
    # selected and shown, or with none the list is empty and showing fails.
    "script undo: SelectUndoItem(",
    "script undo: handsOn();",
    "dialog folder: C:\\windows",
    "script settings: document.getElementById('undoPath').value='C:\\\\windows\\\\';",
    'box 0x00000023 "QUARN Orvane" -> 7: Settings have been modified.<LF>Do you want to save changes?',
    "dialog print",
    "print document: Text Document",
    "print page 1",
    "print end",
    "script ignore: DelAllIgnore();",
    'box 0x00000023 "QUARN Orvane" -> 2: Ignore list has been modified.',
    "event ignore: configurationChanged",
    "dialog print",
    "print end",
    "script results: InitCounters(0, 0);",
    "unhandled results: NoSuchEvent",
]


def windows(path):
    return "Z:" + path.replace("/", "\\")


def main():
    wine, driver, engine, events = sys.argv[1:5]
    port = os.environ["ORVANE_UPDATE_PORT"]
    key = "HKCU\\Software\\QUARN\\Orvane"
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # reg.exe now and then fails while other tests start and stop programs in
    # the prefix: try again before giving up.
    for attempt in range(5):
        added = subprocess.run([wine, "reg", "add", key, "/v", "SiteBase", "/d", "http://127.0.0.1:" + port, "/f"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=60)
        if added.returncode == 0:
            break
        print("reg add failed (%d): %s" % (added.returncode, added.stdout.decode("utf-8", "replace").strip()))
        time.sleep(1)
    else:
        sys.exit(1)
    try:
        run = subprocess.run([wine, driver, "/engine", windows(engine), windows(events)], stdout=subprocess.PIPE,
                             timeout=240)
    finally:
        subprocess.call([wine, "reg", "delete", key, "/v", "SiteBase", "/f"], timeout=60, **quiet)
    lines = run.stdout.decode("utf-8", "replace").splitlines()
    problems = []
    if run.returncode != 0:
        problems.append("driver exit code %d" % run.returncode)
    # Each expected text (or group of texts) in a line of its own, in this order.
    at = 0
    for texts in EXPECTED:
        texts = (texts,) if isinstance(texts, str) else texts
        found = next((i for i in range(at, len(lines)) if all(t in lines[i] for t in texts)), None)
        if found is None:
            problems.append("missing (in order): " + " ... ".join(texts))
        else:
            at = found + 1
    # The blocked support address opens nothing: one address opened in all.
    if sum(line.startswith("open ") for line in lines) != 1:
        problems.append("expected exactly one opened address")
    log_path = os.environ["ORVANE_UPDATE_LOG"][2:].replace("\\", "/")
    with open(log_path, encoding="utf-8") as log:
        requests = log.read().splitlines()
    if requests != ["GET /vertest/orvane.php?ver=210 HTTP/1.1"]:
        problems.append("requests: %r" % requests)
    if problems:
        print("\n".join(lines))
        print("\n".join(problems))
        sys.exit(1)
    print("page driver: %d lines, all expected ones present" % len(lines))


if __name__ == "__main__":
    main()
