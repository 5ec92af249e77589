"""Mail and DNS responders for the mail tests, on loopback addresses only.

Usage: responder.py ANSWERDIR MODE ADDRESS [SECONDS]
  smtp    aiosmtpd on ADDRESS:25; each message received is written as
          message-N.txt in ANSWERDIR (see describe()).
  silent  accepts on ADDRESS:25 and never says a word.
  mute354 greets and accepts every command, then stays silent after the 354
          of DATA.
  dns     a DNS server on ADDRESS:53 (UDP) answering MX queries from the
          table below.
Writes ANSWERDIR/ready once listening, stops after SECONDS (default 60) or
when ANSWERDIR/stop appears. Whatever a raw responder receives goes to
ANSWERDIR/received.bin.
"""
import email
import email.header
import os
import socket
import sys
import threading
import time

answer_dir, mode, address = sys.argv[1], sys.argv[2], sys.argv[3]
seconds = float(sys.argv[4]) if len(sys.argv) > 4 else 60.0


def write_answer(name, text):
    path = os.path.join(answer_dir, name)
    with open(path + ".part", "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(path + ".part", path)


def wait_for_stop():
    end = time.time() + seconds
    while time.time() < end and not os.path.exists(os.path.join(answer_dir, "stop")):
        time.sleep(0.05)


def describe(envelope):
    """Lines "field=value": envelope, decoded headers, the header forms, the
    text part's charset and its bytes in hex, the longest line of the data."""
    raw = envelope.original_content
    lines = ["mailfrom=" + envelope.mail_from]
    lines += ["rcpt=" + r for r in envelope.rcpt_tos]
    message = email.message_from_bytes(raw)
    for name in ("From", "To", "Subject", "Date"):
        value = message.get(name)
        if value is None:
            continue
        raw_value = str(value)
        decoded = str(email.header.make_header(email.header.decode_header(raw_value)))
        lines.append("%s=%s" % (name.lower(), decoded.replace("\r", "").replace("\n", "")))
        form = "B" if "?B?" in raw_value else "Q" if "?Q?" in raw_value else "plain"
        lines.append("%s.form=%s" % (name.lower(), form))
    lines.append("charset=%s" % message.get_content_charset())
    payload = message.get_payload(decode=True)
    # The CRLF before the final dot belongs to the protocol, not the text.
    if payload.endswith(b"\r\n"):
        payload = payload[:-2]
    lines.append("body=%s" % payload.hex())
    lines.append("longest=%d" % max(len(l) for l in raw.split(b"\r\n")))
    lines.append("headers=%s" % ",".join(message.keys()))
    return "\n".join(lines) + "\n"


def run_smtp():
    from aiosmtpd.controller import Controller

    class Handler:
        count = 0

        async def handle_DATA(self, server, session, envelope):
            Handler.count += 1
            write_answer("message-%d.txt" % Handler.count, describe(envelope))
            return "250 OK"

    controller = Controller(Handler(), hostname=address, port=25)
    controller.start()
    write_answer("ready", "smtp")
    wait_for_stop()
    controller.stop()
    write_answer("received.bin", "")


def run_raw(speak):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, 25))
    listener.listen(8)
    listener.settimeout(0.1)
    received = bytearray()
    held = []

    def serve(conn):
        conn.settimeout(0.1)
        buffer = b""
        if speak:
            conn.sendall(b"220 mute ready\r\n")
        silent = not speak
        end = time.time() + seconds
        while time.time() < end:
            try:
                data = conn.recv(4096)
            except socket.timeout:
                continue
            except OSError:
                return
            if not data:
                return
            received.extend(data)
            if silent:
                continue
            buffer += data
            while b"\r\n" in buffer:
                line, buffer = buffer.split(b"\r\n", 1)
                if line.upper().startswith(b"DATA"):
                    conn.sendall(b"354 go on\r\n")
                    silent = True
                    break
                conn.sendall(b"250 ok\r\n")

    write_answer("ready", mode)
    end = time.time() + seconds
    while time.time() < end and not os.path.exists(os.path.join(answer_dir, "stop")):
        try:
            conn, _ = listener.accept()
        except socket.timeout:
            continue
        held.append(conn)
        threading.Thread(target=serve, args=(conn,), daemon=True).start()
    with open(os.path.join(answer_dir, "received.bin"), "wb") as out:
        out.write(bytes(received))


# Domain: MX records as (preference, exchange); an empty list answers with none.
# Wine's DnsQuery rejects an answer whose exchange name is not compressed, so
# every exchange is named within the queried domain: the domain "127.0.0.2"
# has the better exchange "127.0.0.2" (its own name, a numeric address) after
# a worse one that no resolver knows.
MX_TABLE = {
    "127.0.0.2.": [(20, "worse.127.0.0.2"), (10, "127.0.0.2")],
    "none.test.": [],
}


def run_dns():
    from dnslib import DNSRecord, MX, QTYPE, RR, RCODE

    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, 53))
    sock.settimeout(0.1)
    write_answer("ready", "dns")
    end = time.time() + seconds
    while time.time() < end and not os.path.exists(os.path.join(answer_dir, "stop")):
        try:
            data, peer = sock.recvfrom(4096)
        except socket.timeout:
            continue
        request = DNSRecord.parse(data)
        reply = request.reply()
        name = str(request.q.qname).lower()
        if name not in MX_TABLE:
            reply.header.rcode = RCODE.NXDOMAIN
        elif request.q.qtype == QTYPE.MX:
            for preference, exchange in MX_TABLE[name]:
                reply.add_answer(RR(request.q.qname, QTYPE.MX, ttl=60, rdata=MX(exchange, preference)))
        sock.sendto(reply.pack(), peer)
    write_answer("received.bin", "")


if mode == "smtp":
    run_smtp()
elif mode == "dns":
    run_dns()
else:
    run_raw(speak=(mode == "mute354"))
