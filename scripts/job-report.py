#!/usr/bin/python3
"""Helpers of scripts/main-job: a local SMTP server and readers that show
what a scheduled run left behind.

  job-report.py smtp DIR ADDRESS     aiosmtpd on ADDRESS:25; each message goes
                                     to DIR/message-N.eml; DIR/ready once
                                     listening; ends when DIR/stop appears
  job-report.py mail DIR             prints the messages received (exit 1: none)
  job-report.py catalogue FILE DRIVE_C
                                     prints the backup catalogue's entries and
                                     the hive files inside each backup (exit 1:
                                     no entry, or a listed file is missing)
  job-report.py log FILE             prints the program log (UTF-16) as text
"""
import email
import email.header
import email.policy
import os
import struct
import sys
import time
import zlib


def write_atomically(path, data):
    with open(path + ".part", "wb") as out:
        out.write(data)
    os.replace(path + ".part", path)


def run_smtp(folder, address):
    from aiosmtpd.controller import Controller

    class Handler:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Handler.count += 1
            write_atomically(os.path.join(folder, "message-%d.eml" % Handler.count), envelope.original_content)
            return "250 OK"

    controller = Controller(Handler(), hostname=address, port=25)
    controller.start()
    write_atomically(os.path.join(folder, "ready"), b"")
    # A forgotten server must not outlive its job by much.
    end = time.time() + 900
    while time.time() < end and not os.path.exists(os.path.join(folder, "stop")):
        time.sleep(0.1)
    controller.stop()


def decoded(value):
    return str(email.header.make_header(email.header.decode_header(str(value)))) if value else ""


def show_mail(folder):
    names = sorted((n for n in os.listdir(folder) if n.endswith(".eml")), key=lambda n: int(n[8:-4]))
    for name in names:
        with open(os.path.join(folder, name), "rb") as raw:
            message = email.message_from_bytes(raw.read())
        for field in ("From", "To", "Subject", "Date"):
            print("  %-8s %s" % (field + ":", decoded(message.get(field))))
        payload = message.get_payload(decode=True) or b""
        text = payload.decode(message.get_content_charset() or "ascii", "replace")
        print()
        for line in text.replace("\r\n", "\n").rstrip("\n").split("\n"):
            print("  | " + line)
        print()
    if not names:
        print("  (no message arrived)")
    return 0 if names else 1


def read_string(data, at):
    (length,) = struct.unpack_from("<i", data, at)
    return data[at + 4:at + 4 + length].decode("utf-16-le"), at + 4 + length


def filetime_text(value):
    seconds = value / 10_000_000 - 11644473600
    return time.strftime("%Y-%m-%d %H:%M:%S UTC", time.gmtime(seconds))


def pack_entries(data):
    count = struct.unpack_from("<I", data, 4)[0]
    at, entries = 8, []
    for _ in range(count):
        name, at = read_string(data, at)
        (length,) = struct.unpack_from("<I", data, at)
        entries.append((name, length))
        at += 4 + length
    return entries


def show_catalogue(path, drive_c):
    if not os.path.exists(path):
        print("  (no catalogue)")
        return 1
    with open(path, "rb") as source:
        data = source.read()
    marker, _, count = struct.unpack_from("<iIi", data, 0)
    if marker != 2048:
        print("  (unknown catalogue layout)")
        return 1
    at, status = 12, 0 if count else 1
    for index in range(count):
        (kind,) = struct.unpack_from("<I", data, at)
        file, at = read_string(data, at + 4)
        comment, at = read_string(data, at)
        (stamp,) = struct.unpack_from("<Q", data, at)
        at += 8
        print("  %d. %s" % (index + 1, file))
        print("     %s, \"%s\", %s" % ("all hives" if kind else "current user", comment, filetime_text(stamp)))
        local = file
        if file[:3].upper() == "C:\\":
            local = os.path.join(drive_c, *file[3:].split("\\"))
        if not os.path.isfile(local):
            print("     MISSING on disk")
            status = 1
            continue
        with open(local, "rb") as backup:
            packed = backup.read()
        entries = pack_entries(zlib.decompress(packed))
        print("     %d bytes compressed; saved hives:" % len(packed))
        for name, length in entries:
            print("       %-60s %9d bytes" % (name, length))
    return status


def show_log(path):
    if not os.path.exists(path):
        print("  (no log file)")
        return 1
    with open(path, "rb") as source:
        text = source.read().decode("utf-16")
    for line in text.replace("\r\n", "\n").rstrip("\n").split("\n"):
        print("  " + line.replace("\t", "  "))
    return 0


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "smtp" and len(argv) == 4:
        run_smtp(argv[2], argv[3])
        return 0
    if command == "mail" and len(argv) == 3:
        return show_mail(argv[2])
    if command == "catalogue" and len(argv) == 4:
        return show_catalogue(argv[2], argv[3])
    if command == "log" and len(argv) == 3:
        return show_log(argv[2])
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
