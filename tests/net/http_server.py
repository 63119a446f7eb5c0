#!/usr/bin/env python3
"""Test HTTP server on 127.0.0.1: plain files from a folder, scripted
misbehaving answers under /bad/, under /hold/ a body whose end the test
releases, and under /serve/OPTIONS/FILE a file with ranges, validators and
scripted failures (see serve()). Writes its port to a file once listening.

    http_server.py ROOT PORT_FILE [CERT KEY]

With CERT and KEY it also answers HTTPS (the same routes) on a second port,
written to PORT_FILE.tls before PORT_FILE appears.
"""
import email.utils
import http.server
import os
import re
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

ROOT = sys.argv[1]
PORT_FILE = sys.argv[2]


# Requests seen and bodies cut, per served file.
STATE_LOCK = threading.Lock()
COUNTS = {}
CUT = set()
ACTIVE = {}
PEAK = {}


def pattern(n):
    return bytes((i * 7 + 1) % 251 + 1 for i in range(n))


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def __init__(self, *args, **kwargs):
        super().__init__(*args, directory=ROOT, **kwargs)

    def log_message(self, fmt, *args):
        pass

    def raw(self, head, body=b"", pause=0.0, tail=b""):
        self.wfile.write(head.encode("ascii") + b"\r\n" + body)
        self.wfile.flush()
        if pause:
            time.sleep(pause)
            try:
                self.wfile.write(tail)
                self.wfile.flush()
            except OSError:
                pass
        self.close_connection = True

    def hold(self, gate):
        # pattern(40000): the first half at once, then GATE.started appears in
        # the root, and the body goes on at 50 bytes a second (never silent
        # for a receive time-out, never slow enough for the low-speed limit)
        # until the test creates GATE.release (at most two minutes); then the
        # rest at once. So a test decides when the download ends.
        body = pattern(40000)
        base = os.path.join(ROOT, os.path.basename(gate))
        self.wfile.write(b"HTTP/1.0 200 OK\r\nContent-Length: 40000\r\n\r\n" + body[:20000])
        self.wfile.flush()
        open(base + ".started", "w").close()
        at = 20000
        deadline = time.monotonic() + 120
        try:
            while not os.path.exists(base + ".release") and time.monotonic() < deadline:
                time.sleep(0.5)
                self.wfile.write(body[at:at + 25])
                self.wfile.flush()
                at += 25
            self.wfile.write(body[at:])
            self.wfile.flush()
        except OSError:
            pass
        self.close_connection = True

    def serve(self, rest):
        """/serve/OPTIONS/FILE: FILE from the root, with an ETag, answering
        "Range: bytes=N-" with 206 unless If-Range names another validator.
        OPTIONS, comma-separated ("-" for none):
          fail<code>x<n>  the first n requests answer <code>, no body
          after<s>        those failures carry "Retry-After: <s>"
          afterdate<s>    ... or "Retry-After: <the date s seconds on>"
          cut<pct>        the first body sent stops after pct % of the file
                          and the connection closes
          norange         Range is ignored: always 200 with the whole file
          badrange        a Range is answered 206 with the whole file
                          (Content-Range from 0), not from where it asked
          range416        a Range is answered 416, as if beyond the end
          noetag          no ETag and no Last-Modified
          weak            a weak ETag, and Last-Modified
          peak            counts the requests under way in FILE's folder
                          (each held 30 ms) and keeps the most seen at
                          once in peak.txt there
        Every request appends "range=<Range> if-range=<If-Range>
        status=<code>" to FILE.log ("-" for a header not sent)."""
        opts, _, name = rest.partition("/")
        name = urllib.parse.unquote(name)
        opts = [] if opts == "-" else opts.split(",")
        file = os.path.join(ROOT, *name.split("/"))
        if "peak" not in opts:
            return self.serve_file(opts, file)
        folder = os.path.dirname(file)
        with STATE_LOCK:
            ACTIVE[folder] = ACTIVE.get(folder, 0) + 1
            if ACTIVE[folder] > PEAK.get(folder, 0):
                PEAK[folder] = ACTIVE[folder]
                with open(os.path.join(folder, "peak.txt"), "w") as f:
                    f.write(str(PEAK[folder]))
        try:
            time.sleep(0.03)
            self.serve_file(opts, file)
        finally:
            with STATE_LOCK:
                ACTIVE[folder] -= 1

    def serve_file(self, opts, file):
        with STATE_LOCK:
            count = COUNTS.get(file, 0) + 1
            COUNTS[file] = count
            cuts_done = file in CUT
        fail = next((o for o in opts if re.fullmatch(r"fail\d+x\d+", o)), None)
        after = next((o[5:] for o in opts if re.fullmatch(r"after\d+", o)), None)
        for o in opts:
            if re.fullmatch(r"afterdate-?\d+", o):
                after = email.utils.formatdate(time.time() + int(o[9:]), usegmt=True)
        cut = next((int(o[3:]) for o in opts if re.fullmatch(r"cut\d+", o)), None)
        rng = self.headers.get("Range")
        if_range = self.headers.get("If-Range")

        def log(status):
            with STATE_LOCK, open(file + ".log", "a") as f:
                f.write("range=%s if-range=%s status=%d\n" % (rng or "-", if_range or "-", status))

        if fail:
            code, times = (int(x) for x in fail[4:].split("x"))
            if count <= times:
                log(code)
                head = "HTTP/1.0 %d Scripted\r\nContent-Length: 0\r\n" % code
                if after is not None:
                    head += "Retry-After: %s\r\n" % after
                return self.raw(head)
        try:
            with open(file, "rb") as f:
                data = f.read()
            stamp = os.stat(file).st_mtime
        except OSError:
            log(404)
            return self.raw("HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n")
        etag = '"%x-%x"' % (len(data), int(stamp * 1000))
        modified = email.utils.formatdate(stamp, usegmt=True)
        validators = ""
        if "weak" in opts:
            validators = "ETag: W/%s\r\nLast-Modified: %s\r\n" % (etag, modified)
        elif "noetag" not in opts:
            validators = "ETag: %s\r\n" % etag
        start = 0
        m = re.fullmatch(r"bytes=(\d+)-", rng or "")
        if m and "norange" not in opts and (not if_range or if_range in (etag, modified)):
            start = int(m.group(1))
            if start >= len(data) or "range416" in opts:
                log(416)
                return self.raw("HTTP/1.0 416 Range Not Satisfiable\r\nContent-Range: bytes */%d\r\n"
                                "Content-Length: 0\r\n" % len(data))
        if start and "badrange" in opts:
            start = 0
            status = 206
            head = ("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-%d/%d\r\n"
                    % (len(data) - 1, len(data)))
        elif start:
            status = 206
            head = ("HTTP/1.0 206 Partial Content\r\nContent-Range: bytes %d-%d/%d\r\n"
                    % (start, len(data) - 1, len(data)))
        else:
            status = 200
            head = "HTTP/1.0 200 OK\r\n"
        head += "Content-Length: %d\r\n%s" % (len(data) - start, validators)
        log(status)
        body = data[start:]
        if cut is not None and not cuts_done:
            with STATE_LOCK:
                CUT.add(file)
            body = body[:max(0, len(data) * cut // 100 - start)]
        try:
            self.raw(head, body)
        except OSError:
            pass

    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path.startswith("/serve/"):
            return self.serve(path[len("/serve/"):])
        if path.startswith("/hold/"):
            return self.hold(path[len("/hold/"):])
        if not path.startswith("/bad/"):
            return super().do_GET()
        name = path[len("/bad/"):]
        ok = "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n"
        if name == "404":
            body = b"not here" * 100
            self.raw("HTTP/1.0 404 Not Found\r\nContent-Length: %d\r\n" % len(body), body)
        elif name == "nolength":
            self.raw(ok, pattern(1000))
        elif name == "zero":
            self.raw(ok + "Content-Length: 0\r\n")
        elif name == "longer":
            # Announces 100 bytes and sends 50,000.
            self.raw(ok + "Content-Length: 100\r\n", pattern(50000))
        elif name == "cut":
            # Announces 40,000 bytes and closes after 20,000.
            self.raw(ok + "Content-Length: 40000\r\n", pattern(20000))
        elif name == "slow":
            # Half the body, then a pause longer than the receive time-out,
            # then the rest: a client that waits it out gets the whole body.
            body = pattern(40000)
            self.raw(ok + "Content-Length: 40000\r\n", body[:20000], 12.0, body[20000:])
        elif name == "trickle":
            # Announces 1,000 bytes and sends one every 0.2 s: never silent
            # long enough for a receive time-out, yet never done.
            self.wfile.write((ok + "Content-Length: 1000\r\n\r\n").encode("ascii"))
            try:
                for _ in range(1000):
                    self.wfile.write(b"t")
                    self.wfile.flush()
                    time.sleep(0.2)
            except OSError:
                pass
            self.close_connection = True
        elif name == "huge":
            self.raw(ok + "Content-Length: 4294967295\r\n", pattern(100))
        else:
            self.send_error(404)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def watch_parent(server):
    # The wrapper kills the server on exit; should the wrapper itself be
    # killed, the server follows it instead of lingering.
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)
    os._exit(0)


def main():
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=watch_parent, args=(server,), daemon=True).start()
    if len(sys.argv) > 4:
        # A client that refuses the certificate ends the handshake: accept
        # fails with an SSLError, an OSError the server loop ignores. Without
        # a usable certificate only the HTTPS tests go (they skip).
        try:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(sys.argv[3], sys.argv[4])
            secure = Server(("127.0.0.1", 0), Handler)
            secure.socket = context.wrap_socket(secure.socket, server_side=True)
        except (OSError, ssl.SSLError) as e:
            print("no HTTPS: %s" % e, file=sys.stderr)
        else:
            with open(PORT_FILE + ".tls", "w") as f:
                f.write(str(secure.server_address[1]))
            threading.Thread(target=secure.serve_forever, daemon=True).start()
    tmp = PORT_FILE + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, PORT_FILE)
    server.serve_forever()


if __name__ == "__main__":
    main()
