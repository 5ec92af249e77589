#!/usr/bin/python3
"""Reads the UI package (a FilePack file) without the program's own code.

  qna.py list    <package>            names and sizes
  qna.py extract <package> <folder>   every entry below folder
  qna.py compare <package> <folder>   the package holds exactly the folder's
                                      non-hidden files, byte for byte

Layout, little-endian: uint32 CRC-32/BZIP2 of every byte from offset 8 on
(0 when empty), int32 entry count, then per entry: int32 name byte count,
UTF-16LE name (backslash-separated relative path), int32 data length, data.
"""
import os
import struct
import sys


def _crc_table():
    table = []
    for i in range(256):
        c = i << 24
        for _ in range(8):
            c = ((c << 1) ^ 0x04C11DB7) if c & 0x80000000 else (c << 1)
        table.append(c & 0xFFFFFFFF)
    return table


_TABLE = _crc_table()


def crc32_bzip2(data):
    if not data:
        return 0
    crc = 0xFFFFFFFF
    table = _TABLE
    for b in data:
        crc = ((crc << 8) & 0xFFFFFFFF) ^ table[(crc >> 24) ^ b]
    return crc ^ 0xFFFFFFFF


class PackError(Exception):
    pass


def read_pack(path):
    """Returns [(name, bytes)] in stored order; raises PackError when damaged."""
    with open(path, 'rb') as f:
        data = f.read()
    if len(data) < 8:
        raise PackError('%s: shorter than its header' % path)
    stored, count = struct.unpack_from('<Ii', data, 0)
    actual = crc32_bzip2(data[8:])
    if actual != stored:
        raise PackError('%s: CRC %08x, header says %08x' % (path, actual, stored))
    entries = []
    pos = 8
    for _ in range(count):
        if pos + 4 > len(data):
            raise PackError('%s: entry %d cut short' % (path, len(entries)))
        (name_bytes,) = struct.unpack_from('<i', data, pos)
        pos += 4
        if name_bytes <= 0 or name_bytes % 2 or pos + name_bytes + 4 > len(data):
            raise PackError('%s: bad name length %d' % (path, name_bytes))
        name = data[pos:pos + name_bytes].decode('utf-16-le')
        pos += name_bytes
        (length,) = struct.unpack_from('<i', data, pos)
        pos += 4
        if length < 0 or pos + length > len(data):
            raise PackError('%s: bad data length of %s' % (path, name))
        entries.append((name, data[pos:pos + length]))
        pos += length
    if pos != len(data):
        raise PackError('%s: %d bytes after the last entry' % (path, len(data) - pos))
    return entries


def safe_parts(name):
    parts = name.replace('/', '\\').split('\\')
    if not name or name.startswith('\\') or ':' in name or any(p in ('', '.', '..') for p in parts):
        raise PackError('unsafe entry name %r' % name)
    return parts


def extract(path, folder):
    entries = read_pack(path)
    for name, _ in entries:
        safe_parts(name)
    for name, body in entries:
        target = os.path.join(folder, *safe_parts(name))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, 'wb') as f:
            f.write(body)
    return entries


def folder_files(folder):
    """Relative backslash names of the folder's files, hidden ones left out
    (Wine shows dot-files as hidden)."""
    found = {}
    for root, dirs, files in os.walk(folder):
        dirs[:] = [d for d in dirs if not d.startswith('.')]
        for f in files:
            if f.startswith('.'):
                continue
            full = os.path.join(root, f)
            found[os.path.relpath(full, folder).replace(os.sep, '\\')] = full
    return found


def compare(path, folder):
    entries = dict((n.lower(), b) for n, b in read_pack(path))
    wanted = folder_files(folder)
    problems = []
    for name, full in sorted(wanted.items()):
        with open(full, 'rb') as f:
            body = f.read()
        packed = entries.pop(name.lower(), None)
        if packed is None:
            problems.append('missing from the package: ' + name)
        elif packed != body:
            problems.append('differs from app/ui: ' + name)
    problems.extend('not in the folder: ' + n for n in sorted(entries))
    return problems


def main(argv):
    if len(argv) < 3 or argv[1] not in ('list', 'extract', 'compare'):
        sys.stderr.write(__doc__)
        return 2
    try:
        if argv[1] == 'list':
            for name, body in read_pack(argv[2]):
                print('%8d %s' % (len(body), name))
        elif argv[1] == 'extract':
            extract(argv[2], argv[3])
        else:
            problems = compare(argv[2], argv[3])
            for p in problems:
                print(p)
            print('%d passed, %d failed' % (0 if problems else 1, 1 if problems else 0))
            return 1 if problems else 0
    except (PackError, OSError) as e:
        sys.stderr.write('qna.py: %s\n' % e)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main(sys.argv))
