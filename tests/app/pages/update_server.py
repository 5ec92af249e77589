#!/usr/bin/python3
"""The maker's update server for the tests, on 127.0.0.1 at a free port.

    update_server.py <command> [arguments...]

starts the server, runs the command with ORVANE_UPDATE_PORT (the port),
ORVANE_UPDATE_LOG (the request-line log, a Windows path) and
ORVANE_CLOSED_PORT (a loopback port nobody listens on) in its environment,
stops the server and exits with the command's status.

The site base a test sets picks the reply: the path's first part names it
(none: "plain"). /<reply>/vertest/orvane.php?ver=NNN answers
  plain    a sentence and a bracketed download address
  hostile  a bracketed target that would break out of the link
  reversed a "]x[" reply
  huge     50 MB of "x"
  slow     1 KiB, then the rest once /release is asked for (at most 30 s
           later; the log then says "slow released" or "slow timed out")
  404      a not-found status with a text body
  gone     nothing: the connection closes before any status
  silent   nothing ever: the request is read and never answered; the log says
           "silent closed" once the client closes the connection (at most
           300 s later, else "silent timed out")
/query?<query> answers the query's parse_qs fields, one "key=value" a line.
"""
import http.server
import os
import socket
import socketserver
import subprocess
import sys
import tempfile
import threading
import urllib.parse

REPLIES = {
    "plain": b"Version 9.9 is out. Get it at [http://127.0.0.1/download?x=1&y=2] today.",
    "hostile": b"Get it [x');alert(1);//] or [http://x\" onmouseover=\"alert(1)]",
    "reversed": b"Read this ]x[ http://127.0.0.1/",
}
HUGE_BYTES = 50 * 1024 * 1024
SILENT_SECONDS = 300
RELEASED = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    log_path = None

    def log_message(self, *args):
        pass

    def send_text(self, status, body):
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def note(self, line):
        with open(self.log_path, "a", encoding="utf-8") as log:
            log.write(line + "\n")

    def do_GET(self):
        self.note(self.requestline)
        path, _, query = self.path.partition("?")
        if path == "/release":
            RELEASED.set()
            self.send_text(200, b"released")
            return
        if path == "/query":
            fields = urllib.parse.parse_qs(query, keep_blank_values=True)
            lines = "".join("%s=%s\n" % (k, v[0]) for k, v in fields.items())
            self.send_text(200, lines.encode("utf-8"))
            return
        parts = path.strip("/").split("/")
        if parts[-2:] != ["vertest", "orvane.php"]:
            self.send_text(404, b"no such page")
            return
        reply = parts[0] if len(parts) == 3 else "plain"
        try:
            if reply in REPLIES:
                self.send_text(200, REPLIES[reply])
            elif reply == "404":
                self.send_text(404, b"Not here [http://127.0.0.1/missing]")
            elif reply == "gone":
                self.connection.shutdown(socket.SHUT_RDWR)
            elif reply == "silent":
                self.connection.settimeout(SILENT_SECONDS)
                try:
                    closed = self.connection.recv(1) == b""
                except ConnectionResetError:
                    closed = True
                except socket.timeout:
                    closed = False
                self.note("silent closed" if closed else "silent timed out")
            elif reply == "huge":
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(HUGE_BYTES))
                self.end_headers()
                chunk = b"x" * (1024 * 1024)
                for _ in range(HUGE_BYTES // len(chunk)):
                    self.wfile.write(chunk)
            elif reply == "slow":
                self.send_response(200)
                self.send_header("Content-Type", "text/plain")
                self.send_header("Content-Length", str(2 * 1024))
                self.end_headers()
                self.wfile.write(b"." * 1024)
                self.wfile.flush()
                released = RELEASED.wait(30)
                RELEASED.clear()
                self.note("slow released" if released else "slow timed out")
                self.wfile.write(b"." * 1024)
            else:
                self.send_text(404, b"unknown reply")
        except (BrokenPipeError, ConnectionResetError):
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    work = tempfile.mkdtemp(prefix="orvane-update-")
    Handler.log_path = os.path.join(work, "requests.log")
    open(Handler.log_path, "w").close()
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    env = dict(os.environ)
    env["ORVANE_UPDATE_PORT"] = str(server.server_address[1])
    env["ORVANE_UPDATE_LOG"] = windows_path(Handler.log_path)
    env["ORVANE_CLOSED_PORT"] = str(closed_port())
    try:
        status = subprocess.call(sys.argv[1:], env=env, timeout=540)
    except subprocess.TimeoutExpired:
        print("update_server.py: the test program did not end within 540 s; stopped it", file=sys.stderr)
        status = 1
    finally:
        server.shutdown()
        os.remove(Handler.log_path)
        os.rmdir(work)
    sys.exit(status)


if __name__ == "__main__":
    main()
