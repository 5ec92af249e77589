"""Reads Task Scheduler 1.0 .job files on its own, for the scheduler tests.

Usage: read_job.py ANSWER FILE...
Writes to ANSWER, for each job file, lines "name.field=value"; for a job state
file (a FILE given as "state:path"), "name.size=" and "name.time=" with the
FILETIME it holds as a calendar time (the value is local time). The answer file
appears whole through a rename, since the test waits for it.
"""
import datetime
import os
import struct
import sys


def counted_text(data, pos):
    (count,) = struct.unpack_from("<H", data, pos)
    pos += 2
    text = data[pos:pos + count * 2].decode("utf-16-le").rstrip("\0")
    return text, pos + count * 2


def read_job(data):
    fields = {}
    flags, = struct.unpack_from("<I", data, 48)
    fields["flags"] = "0x%X" % flags
    app_offset, trigger_offset = struct.unpack_from("<HH", data, 20)
    pos = app_offset
    for name in ("app", "params", "workdir", "author", "comment"):
        fields[name], pos = counted_text(data, pos)
    (size,) = struct.unpack_from("<H", data, pos)
    fields["data"] = data[pos + 2:pos + 2 + size].hex()
    (count,) = struct.unpack_from("<H", data, trigger_offset)
    fields["triggers"] = str(count)
    for i in range(count):
        t = struct.unpack_from("<HHHHHHHHHHIIIIHHHHHH", data, trigger_offset + 2 + 48 * i)
        (size, _, year, month, day, _, _, _, hour, minute, _, _, _, kind, spec0, spec1) = t[:16]
        fields["trigger%d" % i] = "size=%d type=%d spec0=%d spec1=%d start=%02d:%02d begin=%04d-%02d-%02d" % (
            size, kind, spec0, spec1, hour, minute, year, month, day)
    return fields


def read_state(data):
    fields = {"size": str(len(data))}
    if len(data) == 8:
        (ticks,) = struct.unpack("<Q", data)
        moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=ticks // 10)
        fields["time"] = moment.strftime("%Y-%m-%d %H:%M:%S")
    return fields


def main():
    answer, files = sys.argv[1], sys.argv[2:]
    lines = []
    for path in files:
        reader = read_job
        if path.startswith("state:"):
            path, reader = path[len("state:"):], read_state
        label = os.path.basename(path)
        try:
            with open(path, "rb") as f:
                fields = reader(f.read())
        except (OSError, struct.error, UnicodeDecodeError) as error:
            fields = {"error": type(error).__name__}
        lines += ["%s.%s=%s" % (label, k, v) for k, v in fields.items()]
    with open(answer + ".part", "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    os.replace(answer + ".part", answer)


main()
