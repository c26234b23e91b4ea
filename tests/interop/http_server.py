#!/usr/bin/env python3
"""HTTP against a local server: a small handler on 127.0.0.1, a free port.

    http_server.py KEM_SCRIPT_TESTS HTTP_KEM KEM

Starts the server, runs the HTTP script cases with its port in KEM_HTTP_PORT
and a private HOME (the download cache goes there), then checks that an
interrupt ends a request that hangs and that a server that never answers
ends a request with an error, and stops the server. The
server answers nothing but the paths below; no case reaches any other address.
"""
import http.server
import os
import subprocess
import sys
import tempfile
import signal
import socket
import threading
import time

RUNNER, SCRIPT, KEM = sys.argv[1:4]
BIG = bytes((i * 7) % 251 for i in range(3 * 1024 * 1024 + 5))
hits = {"counter": 0}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    # The request as received: the method, the headers the client chose
    # (Host and Content-Length are the transport's), a blank line, the body.
    def echo(self):
        length = int(self.headers.get("Content-Length", 0))
        body = self.rfile.read(length) if length else b""
        lines = [self.command]
        lines += ["%s: %s" % (k, v) for k, v in self.headers.items() if k not in ("Host", "Content-Length")]
        text = "\n".join(lines).encode() + b"\n\n" + body
        self.reply(200, text, [("Content-Type", "text/plain; charset=utf-8"), ("X-Method", self.command)])

    def route(self):
        path = self.path
        if path == "/echo":
            self.echo()
        elif path == "/info":
            self.reply(201, b"made", [("X-Dup", "one"), ("X-Dup", "two"), ("X-Single", "s")])
        elif path == "/missing":
            self.reply(404, b"not here", [("Content-Type", "text/plain")])
        elif path == "/redirect":
            self.reply(302, b"", [("Location", "/echo")])
        elif path == "/big":
            self.reply(200, BIG, [("Content-Type", "application/octet-stream")])
        elif path == "/lines":
            self.reply(200, "a\u00e9\U0001F600\r\nb\nc".encode())
        elif path == "/counter":
            hits["counter"] += 1
            self.reply(200, str(hits["counter"]).encode())
        elif path == "/hang":
            time.sleep(20)
            self.reply(200, b"late")
        elif path == "/data":
            self.reply(200, b"[1 2 three]")
        elif path == "/doc":
            self.reply(200, b'{"a": [1, 2.5, "x"]}', [("Content-Type", "application/json; charset=utf-8")])
        elif path == "/d.json":
            self.reply(200, b'{"on": false, "off": null, "list": [1], "s": "x"}', [("Content-Type", "application/json")])
        elif path == "/one.json":
            self.reply(200, b"[true]", [("Content-Type", "application/json")])
        elif path == "/array":
            self.reply(200, b"[1, null]", [("Content-Type", "text/plain")])
        elif path == "/script":
            self.reply(200, b'Kem [Title: "cached script"]\nthru-ran: system/script/header/title\n1 + 2\n')
        else:
            self.reply(404, b"none")

    do_GET = do_HEAD = do_POST = do_PUT = do_DELETE = route


def interrupt_ends_hanging_request(env, site, home):
    """SIGINT ends a read that waits on a silent server, well before its reply."""
    script = os.path.join(home, "hang.kem")
    with open(script, "w") as f:
        f.write("Kem []\nread %s/hang\nprint {not interrupted}\n" % site)
    child = subprocess.Popen([KEM, script], env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    time.sleep(1.5)
    started = time.monotonic()
    child.send_signal(signal.SIGINT)
    try:
        out, _ = child.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        child.kill()
        child.communicate()
        print("FAIL an interrupt did not end a hanging request")
        return 1
    # Ended by the signal itself, or by an exit status that reports it.
    if child.returncode not in (-signal.SIGINT, 128 + signal.SIGINT) or b"not interrupted" in out or time.monotonic() - started > 5:
        print("FAIL interrupt of a hanging request: status %d, output %r" % (child.returncode, out))
        return 1
    return 0


def silent_server_ends_with_an_error(env, home):
    """A server that takes the connection and never answers: read and write
    end with no-connect once the idle limit has passed (shortened here to a
    second through KEM_HTTP_IDLE_SECONDS)."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(8)
    taken = []

    def take():
        while True:
            try:
                taken.append(listener.accept()[0])
            except OSError:
                return
    threading.Thread(target=take, daemon=True).start()
    silent = "http://127.0.0.1:%d/" % listener.getsockname()[1]
    failed = 0
    try:
        for code in ("read %s" % silent, 'write %s "x"' % silent):
            script = os.path.join(home, "silent.kem")
            with open(script, "w") as f:
                f.write("Kem []\n%s\nprint {answered}\n" % code)
            started = time.monotonic()
            try:
                run = subprocess.run([KEM, script], env=dict(env, KEM_HTTP_IDLE_SECONDS="1"), capture_output=True,
                                     timeout=30)
            except subprocess.TimeoutExpired:
                print("FAIL %s on a silent server: no end within 30 seconds" % code)
                failed = 1
                continue
            out = run.stdout.decode(errors="replace")
            report = "*** Access Error: cannot connect: %s reason: timeout\n" % silent
            if run.returncode != 254 or not out.startswith(report) or time.monotonic() - started > 10:
                print("FAIL %s on a silent server: status %d, output %r" % (code, run.returncode, out))
                failed = 1
    finally:
        listener.close()
        for connection in taken:
            connection.close()
    return failed


def main():
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    thread = threading.Thread(target=server.serve_forever, daemon=True)
    thread.start()
    try:
        with tempfile.TemporaryDirectory() as home:
            env = dict(os.environ, KEM_HTTP_PORT=str(server.server_address[1]), HOME=home)
            env.pop("http_proxy", None)
            env.pop("HTTP_PROXY", None)
            env.pop("all_proxy", None)
            env.pop("ALL_PROXY", None)
            run = subprocess.run([RUNNER, SCRIPT], env=env, timeout=240)
            site = "http://127.0.0.1:%d" % server.server_address[1]
            return (run.returncode or interrupt_ends_hanging_request(env, site, home)
                    or silent_server_ends_with_an_error(env, home))
    finally:
        server.shutdown()
        server.server_close()


if __name__ == "__main__":
    sys.exit(main())
