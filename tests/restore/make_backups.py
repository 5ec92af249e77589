#!/usr/bin/env python3
"""Writes backup files for the restore tests with a writer of its own: the
pack bytes, their CRC-32/BZIP2 and the zlib stream are made here, apart from
the program's code, so both sides must agree on the format to pass.

Usage: make_backups.py <output folder>. Writes <name>.bkp files and, under
entries\\, the data of every entry the good backups carry."""
import os
import struct
import sys
import zlib


def crc32_bzip2(data):
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7) if crc & 0x80000000 else (crc << 1)
            crc &= 0xFFFFFFFF
    return crc ^ 0xFFFFFFFF


def crc_fast(data):
    # The same CRC through a table: the bit-wise one above checks it on the
    # check value, this one carries the megabytes.
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)
        table.append(c & 0xFFFFFFFF)
    crc = 0xFFFFFFFF
    for byte in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ table[(crc >> 24) ^ byte]
    return crc ^ 0xFFFFFFFF


assert crc32_bzip2(b"123456789") == 0xFC891918
assert crc_fast(b"123456789") == 0xFC891918


def entry(name, data):
    raw = name.encode("utf-16-le")
    return struct.pack("<i", len(raw)) + raw + struct.pack("<I", len(data)) + data


def pack(entries, count=None):
    body = b"".join(entry(n, d) for n, d in entries)
    n = len(entries) if count is None else count
    return struct.pack("<II", crc_fast(body), n) + body


def hive_bytes(name, size):
    # A real hive, a base block with its checksum and one bin, distinct per
    # name and with every byte value, so a swapped or cut hive shows.
    seed = (name + " saved hive\n").encode("utf-8")
    bins = max(4096, (size - 4096 + 4095) // 4096 * 4096)
    data = b"hbin" + struct.pack("<II", 0, bins) + (seed + bytes(range(256))) * (bins // 256)
    base = bytearray(b"regf" + struct.pack("<II", 1, 1) + bytes(28) + struct.pack("<I", bins) + bytes(4052))
    total = 0
    for word in struct.unpack_from("<127I", base):
        total ^= word
    struct.pack_into("<I", base, 0x1FC, {0: 1, 0xFFFFFFFF: 0xFFFFFFFE}.get(total, total))
    return bytes(base) + data[:bins]


def main(out):
    os.makedirs(os.path.join(out, "entries"), exist_ok=True)
    names = ["HKLM_SOFTWARE.dat", "HKLM_SYSTEM.dat", "HKLM_SAM.dat", "HKLM_SECURITY.dat",
             "HKU_.DEFAULT.dat", "S-1-5-21-7-8-9-1000.dat", "S-1-5-21-7-8-9-1000_Classes.dat"]
    sizes = [700000, 300000, 40000, 50000, 60000, 70000, 20000]
    full = [(n, hive_bytes(n, s)) for n, s in zip(names, sizes)]
    for n, d in full:
        with open(os.path.join(out, "entries", n), "wb") as f:
            f.write(d)
    sam = full[2]

    def write(name, data):
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)

    full_pack = pack(full)
    full_bkp = zlib.compress(full_pack)
    write("full.bkp", full_bkp)
    write("full_raw.bkp", full_pack)
    write("no_sam.bkp", zlib.compress(pack(full[:2])))
    write("hku_only.bkp", zlib.compress(pack(full[4:])))
    write("empty_pack.bkp", zlib.compress(pack([])))
    write("empty.bkp", b"")

    # Not hives: zeros, a base block one bit off, a hive cut short.
    system = full[1][1]
    for label, data in (("zeros", bytes(200000)), ("bad_sum", system[:8] + b"\2" + system[9:]),
                        ("cut_hive", system[:8192])):
        write(label + ".bkp", zlib.compress(pack([sam, ("HKLM_SYSTEM.dat", data)])))
    odd = ["HKLM_SYSTEM .dat", "HKLM_BCD00000000.dat", "hklm_sys-tem.dat", "HKLM_Caf\u00e9.dat"]
    write("names.bkp", zlib.compress(pack([sam] + [(n, hive_bytes(n, 9000)) for n in odd] + full[4:5])))
    # Device names, which Windows finds in every folder, beside a real hive.
    devices = ["HKLM_NUL.dat", "HKLM_com1.dat", "HKLM_Aux.dat", "HKLM_LPT9.dat"]
    write("devices.bkp", zlib.compress(pack([sam] + [(n, hive_bytes(n, 9000)) for n in devices])))
    # Full-width letters, which an ANSI code page's best fit turns into "SYSTEM",
    # after the real hive of that name.
    write("fullwidth.bkp", zlib.compress(pack([sam, full[1], ("HKLM_\uff33\uff39\uff33\uff34\uff25\uff2d.dat",
                                                              hive_bytes("full-width", 9000))])))
    write("components.bkp", zlib.compress(pack([("HKLM_COMPONENTS.dat", hive_bytes("C", 9000))])))

    for label, hostile in (("dotdot", "..\\..\\x.dat"), ("drive", "C:\\x.dat"), ("rooted", "\\x.dat"),
                           ("stream", "HKLM_SAM.dat:s")):
        write(label + ".bkp", zlib.compress(pack([sam, (hostile, b"hostile")])))

    write("cut_half.bkp", full_bkp[:len(full_bkp) // 2])
    write("cut_2.bkp", full_bkp[:2])
    flipped = bytearray(full_bkp)
    flipped[len(flipped) // 2] ^= 0x55
    write("flip_zlib.bkp", bytes(flipped))
    flipped = bytearray(full_pack)
    flipped[len(flipped) // 2] ^= 0x55
    write("flip_pack.bkp", zlib.compress(bytes(flipped)))
    write("flip_raw.bkp", bytes(flipped))  # its CRC's first byte, 0x93, is no zlib header
    write("count_up.bkp", zlib.compress(pack(full, len(full) + 1)))
    write("count_down.bkp", zlib.compress(pack(full, len(full) - 1)))
    # The last name's length runs past the end; the CRC is made to match, so
    # only the length check can catch it.
    body = b"".join(entry(n, d) for n, d in full[:-1])
    body += struct.pack("<i", 0x7FFFFFF0) + "HKLM_X.dat".encode("utf-16-le")
    write("name_length.bkp", zlib.compress(struct.pack("<II", crc_fast(body), len(full)) + body))


if __name__ == "__main__":
    main(sys.argv[1])
