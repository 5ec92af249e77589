#!/usr/bin/python3
"""Each resource object in the build's dependency log lists every file that
its script includes, followed through the included scripts (the string
tables of the program, the scheduler and the mail reports among them).
Arguments: the ninja program, the source root and the build folders (the
main one and the i686 build of the restore program)."""
import os
import re
import subprocess
import sys

NINJA, ROOT, BUILDS = sys.argv[1], sys.argv[2], sys.argv[3:]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.MULTILINE)


def ninja(build, *arguments):
    return subprocess.run([NINJA, "-C", build, "-t"] + list(arguments), capture_output=True, text=True,
                          timeout=60, check=True).stdout


def included(script, seen):
    """The files script includes, as the preprocessor finds them (beside the
    including file, then from the source root), and what those include."""
    with open(script, errors="replace") as source:
        names = INCLUDE.findall(source.read())
    for name in names:
        for place in (os.path.dirname(script), ROOT):
            path = os.path.normpath(os.path.join(place, name))
            if os.path.isfile(path):
                if path not in seen:
                    seen.add(path)
                    included(path, seen)
                break
    return seen


objects = [(build, target) for build in BUILDS
           for target in sorted(set(re.findall(r"^(\S+\.rc\.res):", ninja(build, "targets", "all"), re.MULTILINE)))]
failures, strings = [], 0
for build, target in objects:
    listed = [line.strip() for line in ninja(build, "deps", target).splitlines()[1:] if line.strip()]
    listed = {os.path.normpath(os.path.join(build, path)) for path in listed}
    name = os.path.basename(target)[:-len(".res")]
    script = next((path for path in listed if os.path.basename(path) == name), None)
    if script is None:
        failures.append("%s: no dependencies recorded, not even its script %s" % (target, name))
        continue
    wanted = included(script, set())
    strings += any(path.endswith("app/Strings.rc") for path in wanted)
    for path in sorted(wanted - listed):
        failures.append("%s: %s is included but not among its dependencies" % (target, path))
print("%d resource objects, %d including app/Strings.rc" % (len(objects), strings))
for failure in failures:
    print("FAILED:", failure)
if not objects or not strings:
    failures.append("no resource object that includes app/Strings.rc was found")
    print("FAILED:", failures[-1])
sys.exit(1 if failures else 0)
