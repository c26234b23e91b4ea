#!/usr/bin/env python3
"""The README's tour: every example under examples/ runs and prints exactly
its .out file; the window example is driven by keys in a tmux pane, the
HTTP example reads from a local server. The README's tour must show each
example's code and output as the files hold them.

usage: examples.py path/to/kem path/to/examples path/to/README.md
"""
import http.server
import os
import re
import subprocess
import sys
import tempfile
import threading

KEM, EXAMPLES, README = sys.argv[1:4]
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "terminal"))
import editor  # noqa: E402  (the pane helpers)

editor.KEM = os.path.abspath(KEM)

failures = []


def check(name, got, wanted):
    if got != wanted:
        failures.append(f"{name}: got\n{got}\nwanted\n{wanted}")


def body(path):
    """The example without its header line and the blank lines after it."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    assert lines[0].startswith("Kem ["), f"{path}: no header on its first line"
    rest = lines[1:]
    while rest and not rest[0].strip():
        rest.pop(0)
    return "\n".join(rest)


def run(path, *args, cwd):
    done = subprocess.run([KEM, path, *args], capture_output=True, text=True, cwd=cwd, timeout=60,
                          env=dict(os.environ, HOME=cwd))
    return done.returncode, done.stdout + done.stderr


class Quiet(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve(folder):
    handler = lambda *a, **k: Quiet(*a, directory=folder, **k)  # noqa: E731
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def window(path):
    """Types a name, greets, closes; gives the lines the script printed."""
    pane = editor.Pane(body(path), width=60, height=12)
    try:
        pane.wait_text("Greet")
        pane.type("=Ann", "Tab", "Enter")
        pane.wait_text("Hello, Ann!")
        pane.type("Tab", "Enter")
        status = pane.wait_exit()
        pane.check_restored()
        # The window's last frame may stay on the screen above what the
        # script printed after it closed.
        lines = [line.rstrip() for line in pane.screen(joined=True) if line.strip()]
        return status, lines[-1] + "\n"
    finally:
        pane.close()


def main():
    names = sorted(f[:-4] for f in os.listdir(EXAMPLES) if f.endswith(".kem"))
    assert names, "no examples"
    with tempfile.TemporaryDirectory() as work:
        with open(os.path.join(work, "hello.txt"), "w") as f:
            f.write("Hello from the web\n")
        server = serve(work)
        try:
            for name in names:
                path = os.path.abspath(os.path.join(EXAMPLES, name + ".kem"))
                with open(os.path.join(EXAMPLES, name + ".out"), encoding="utf-8") as f:
                    wanted = f.read()
                if name.endswith("-window"):
                    status, got = window(path)
                elif name.endswith("-http"):
                    url = f"http://127.0.0.1:{server.server_address[1]}/hello.txt"
                    status, got = run(path, url, cwd=work)
                else:
                    status, got = run(path, cwd=work)
                check(name + " status", status, 0)
                check(name, got, wanted)
        finally:
            server.shutdown()
    check_readme(names)


def check_readme(names):
    """Each `<!-- example: NAME -->` marker is followed by a code block that
    is the example's body, and, when the marker says `output`, by one that
    is its output."""
    with open(README, encoding="utf-8") as f:
        text = f.read()
    shown = set()
    for m in re.finditer(r"<!-- example: (\S+)( output)? -->\n```[a-z]*\n(.*?)```\n", text, re.S):
        name, output, block = m.group(1), m.group(2), m.group(3)
        if name not in names:
            failures.append(f"README names example {name}, which examples/ does not have")
            continue
        if output:
            with open(os.path.join(EXAMPLES, name + ".out"), encoding="utf-8") as f:
                check(f"README output of {name}", block, f.read())
        else:
            shown.add(name)
            check(f"README code of {name}", block.rstrip("\n"), body(os.path.join(EXAMPLES, name + ".kem")).rstrip("\n"))
    for name in names:
        if name not in shown:
            failures.append(f"README does not show example {name}")


main()
if failures:
    print("\n\n".join(failures))
    sys.exit(1)
print("all examples match")
