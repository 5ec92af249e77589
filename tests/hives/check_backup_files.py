#!/usr/bin/env python3
"""The backup files and the catalogue, read and written by a reader of their
own (zlib and a small FilePack parser) against the program's code, run
through wine. Arguments: the backup_probe.exe and the wine-run script."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

PROBE, WINE_RUN = sys.argv[1], sys.argv[2]
FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED:", what)


def crc32_bzip2(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if crc & 0x80000000 else (crc << 1) & 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF


def crc32_bzip2_fast(data):
    # Table form of the above, for hive-sized data.
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) & 0xFFFFFFFF if c & 0x80000000 else (c << 1) & 0xFFFFFFFF
        table.append(c)
    crc = 0xFFFFFFFF
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ table[(crc >> 24) ^ byte]
    return crc ^ 0xFFFFFFFF


def parse_pack(data):
    """Entries of a FilePack as (name, bytes); raises ValueError on damage."""
    if len(data) < 8:
        raise ValueError("short pack")
    stored, count = struct.unpack_from("<Ii", data, 0)
    if crc32_bzip2_fast(data[8:]) != stored:
        raise ValueError("pack CRC")
    at, entries = 8, []
    for _ in range(count):
        (name_len,) = struct.unpack_from("<i", data, at)
        name = data[at + 4:at + 4 + name_len].decode("utf-16-le")
        at += 4 + name_len
        (data_len,) = struct.unpack_from("<I", data, at)
        entries.append((name, data[at + 4:at + 4 + data_len]))
        at += 4 + data_len
    if at != len(data):
        raise ValueError("pack length")
    return entries


def make_pack(entries):
    body = b""
    for name, payload in entries:
        encoded = name.encode("utf-16-le")
        body += struct.pack("<i", len(encoded)) + encoded + struct.pack("<I", len(payload)) + payload
    return struct.pack("<Ii", crc32_bzip2_fast(body), len(entries)) + body


def text(s):
    encoded = s.encode("utf-16-le")
    return struct.pack("<i", len(encoded)) + encoded


def parse_catalogue(data):
    marker, stored, count = struct.unpack_from("<iIi", data, 0)
    assert marker == 2048
    check(crc32_bzip2_fast(data[8:]) == stored, "catalogue CRC")
    at, entries = 12, []
    for _ in range(count):
        (kind,) = struct.unpack_from("<I", data, at)
        at += 4
        strings = []
        for _ in range(2):
            (n,) = struct.unpack_from("<i", data, at)
            strings.append(data[at + 4:at + 4 + n].decode("utf-16-le"))
            at += 4 + n
        (time,) = struct.unpack_from("<Q", data, at)
        at += 8
        entries.append((kind, strings[0], strings[1], time))
    check(at == len(data), "catalogue length")
    return entries


def windows(path):
    return "Z:" + path.replace("/", "\\")


def probe(*args):
    run = subprocess.run([WINE_RUN, PROBE] + list(args), stdout=subprocess.PIPE, timeout=240)
    # The probe ends with 0 whatever it read; any other end (Wine's loader
    # failing, a crash) is said, as its output alone would not tell it.
    check(run.returncode == 0, "probe %s ended with exit code %d" % (" ".join(args[:1]), run.returncode))
    return run.stdout.decode("utf-8").replace("\r", "").splitlines()


def main():
    check(crc32_bzip2(b"123456789") == 0xFC891918, "CRC-32/BZIP2 check value")
    check(crc32_bzip2_fast(b"123456789") == 0xFC891918, "table CRC check value")
    work = tempfile.mkdtemp(prefix="orvane-bkp-")
    try:
        # A full backup with the system's hive functions.
        full = os.path.join(work, "full.bkp")
        check(probe("full", windows(full)) == ["ok"], "full backup made")
        data = open(full, "rb").read()
        check(data[:2] == b"\x78\x9c", "zlib header 78 9C")
        entries = parse_pack(zlib.decompress(data))
        names = sorted(name for name, _ in entries)
        check(names == sorted(["HKLM_Hardware.dat", "HKLM_Software.dat", "HKLM_System.dat", "HKU_.Default.dat",
                               "S-1-5-21-9-9-9-1001.dat", "S-1-5-21-9-9-9-1001_Classes.dat"]),
              "full backup entries: %s" % names)
        for name, payload in entries:
            check(payload.startswith(b"WINE REGISTRY Version 2"), "saved hive %s" % name)

        # Catalogues the program writes.
        empty, two = os.path.join(work, "empty.lst"), os.path.join(work, "two.lst")
        check(probe("catalogue", windows(empty), windows(two)) == ["ok"], "catalogues written")
        check(open(empty, "rb").read() == bytes.fromhex("00080000 8422FB38 00000000".replace(" ", "")),
              "empty catalogue bytes")
        check(parse_catalogue(open(two, "rb").read()) ==
              [(1, "C:\\b\\x.bkp", "Kommentar \u00fc\r\nzwei", 0x01C72E3F12345678), (0, "\\\\srv\\s\\y.bkp", "", 1)],
              "catalogue entries")

        # Catalogues written here, current and older layout, and damaged ones.
        entry = struct.pack("<I", 1) + text("D:\\k\u00e4se.bkp") + text("c") + struct.pack("<Q", 0x0102030405060708)
        body = struct.pack("<i", 1) + entry
        current = struct.pack("<iI", 2048, crc32_bzip2_fast(body)) + body
        path = os.path.join(work, "current.lst")
        open(path, "wb").write(current)
        check(probe("read-catalogue", windows(path)) == ["1|D:\\k\u00e4se.bkp|c|01020304:05060708"], "current layout read")
        older = struct.pack("<i", 1) + struct.pack("<I", 0) + text("D:\\old.bkp") + text("o")
        open(path, "wb").write(older)
        lines = probe("read-catalogue", windows(path))
        check(len(lines) == 1 and lines[0].startswith("0|D:\\old.bkp|o|"), "older layout read: %s" % lines)
        hostile = [
            current[:-1] + bytes([current[-1] ^ 1]),
            struct.pack("<iI", 2048, crc32_bzip2_fast(struct.pack("<i", -1))) + struct.pack("<i", -1),
            struct.pack("<iI", 2048, crc32_bzip2_fast(struct.pack("<i", 1 << 30) + entry)) + struct.pack("<i", 1 << 30) + entry,
            struct.pack("<i", 1) + struct.pack("<I", 0) + struct.pack("<i", 3) + b"abc" + text("o"),
        ]
        for i, bad in enumerate(hostile):
            open(path, "wb").write(bad)
            lines = probe("read-catalogue", windows(path))
            check(len(lines) == 1 and lines[0].startswith("error "), "hostile catalogue %d: %s" % (i, lines))

        # Backup files written here: zlib and plain packs, and damaged ones.
        pack = make_pack([("HKLM_SOFTWARE.dat", b"hive one"), ("S-1-5-21-1-2-3-1000_Classes.dat", b"x" * 70000)])
        expected = ["HKLM_SOFTWARE.dat|8", "S-1-5-21-1-2-3-1000_Classes.dat|70000"]
        bkp = os.path.join(work, "py.bkp")
        open(bkp, "wb").write(zlib.compress(pack))
        check(sorted(probe("read-backup", windows(bkp))) == expected, "zlib pack read")
        open(bkp, "wb").write(pack)
        check(sorted(probe("read-backup", windows(bkp))) == expected, "plain pack read")
        flipped = bytearray(pack)
        flipped[20] ^= 1
        for i, bad in enumerate([zlib.compress(bytes(flipped)), zlib.compress(pack)[:30], bytes(flipped)]):
            open(bkp, "wb").write(bad)
            lines = probe("read-backup", windows(bkp))
            check(len(lines) == 1 and lines[0].startswith("error "), "damaged backup %d: %s" % (i, lines))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d failure(s)" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
