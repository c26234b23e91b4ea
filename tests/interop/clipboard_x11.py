#!/usr/bin/env python3
"""The clipboard under a real X server: Xvfb on a free display, xclip.

    clipboard_x11.py KEM_SCRIPT_TESTS CLIPBOARD_KEM KEM_ZPIPE

Runs the clipboard script cases against the X server's clipboard, then holds
Kem against xclip itself: what Kem puts there xclip reads, and what xclip
puts there (text, a file list, a PNG picture, a BMP picture cut short) Kem
reads. Exits 77 (skipped) without Xvfb or xclip.
"""
import os
import shutil
import subprocess
import sys

RUNNER, SCRIPT, ZPIPE = sys.argv[1:4]
failures = []


def start_server():
    """Xvfb on a display it picks itself: its process and display."""
    read_end, write_end = os.pipe()
    server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-noreset"],
                              pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(write_end)
    # The number comes once the server accepts clients.
    with os.fdopen(read_end) as f:
        number = f.readline().strip()
    if not number:
        server.wait()
        raise RuntimeError("Xvfb did not start")
    return server, ":" + number


def xclip_in(env, target, data):
    # xclip serves the clipboard from the background: its streams go nowhere.
    subprocess.run(["xclip", "-selection", "clipboard", "-i", "-t", target], input=data, env=env,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)


def xclip_out(env, target):
    return subprocess.run(["xclip", "-selection", "clipboard", "-o", "-t", target], env=env,
                          capture_output=True).stdout


def kem(env, code, data=b""):
    run = subprocess.run([ZPIPE, code], input=data, env=env, capture_output=True)
    if run.returncode != 0:
        return "error " + run.stderr.decode().strip()
    return run.stdout.decode("utf-8", "replace")


def check(name, got, want):
    if got != want:
        failures.append("%s: got %r, want %r" % (name, got, want))


def main():
    if not shutil.which("Xvfb") or not shutil.which("xclip"):
        print("Xvfb or xclip is not installed: skipped")
        return 77
    server, display = start_server()
    env = dict(os.environ, DISPLAY=display)
    env.pop("WAYLAND_DISPLAY", None)
    try:
        run = subprocess.run([RUNNER, SCRIPT], env=env, capture_output=True, text=True)
        sys.stdout.write(run.stdout)
        if run.returncode != 0:
            failures.append("the clipboard script under X")

        text = "x\U0001F600y \u00e9"
        kem(env, 'write-clipboard "%s" ""' % text)
        check("Kem writes text, xclip reads it", xclip_out(env, "UTF8_STRING").decode(), text)
        check("what Kem offers", xclip_out(env, "TARGETS").decode().split(), ["TARGETS", "UTF8_STRING"])

        xclip_in(env, "UTF8_STRING", text.encode())
        check("xclip writes text, Kem reads it", kem(env, "read-clipboard"), text)

        xclip_in(env, "text/uri-list", b"# a comment\r\nfile:///tmp/a%20b.txt\r\nhttp://x.y/z\r\nfile://host/tmp/c\r\n")
        check("xclip writes files, Kem reads them", kem(env, "mold read-clipboard"), '[%"/tmp/a b.txt" %/tmp/c]')

        kem(env, 'write-clipboard [%/tmp/a.txt %"/tmp/b c"] ""')
        check("Kem writes files, xclip reads them", xclip_out(env, "text/uri-list"),
              b"file:///tmp/a.txt\r\nfile:///tmp/b%20c\r\n")

        png = bytes.fromhex(kem(env, 'i: make image! [2x1 #{010203040506} #{0080}] '
                                     'enbase/base system/codecs/png/encode i none 16'))
        kem(env, "write-clipboard make image! [2x1 #{010203040506} #{0080}] \"\"")
        check("Kem writes a picture as PNG", xclip_out(env, "image/png"), png)
        xclip_in(env, "image/png", png)
        check("xclip writes a PNG picture, Kem reads it", kem(env, "x: read-clipboard x/argb"), kem(
            env, "to binary! make image! [2x1 #{010203040506} #{0080}]"))

        bmp = bytes.fromhex(kem(env, 'enbase/base system/codecs/bmp/encode make image! 4x4 none 16'))
        xclip_in(env, "image/bmp", bmp[:-10])
        check("a BMP picture shorter than its header says is no picture", kem(env, "mold read-clipboard"), "none")
        xclip_in(env, "image/bmp", bmp)
        check("a whole BMP picture", kem(env, "x: read-clipboard mold x/size"), "4x4")

        kem(env, 'write-clipboard none ""')
        check("Kem empties the clipboard", kem(env, "mold read-clipboard"), "none")
        check("nothing usable is offered", xclip_out(env, "UTF8_STRING"), b"")
    finally:
        server.terminate()
        server.wait()
    check("without a display the clipboard is the process's own",
          kem(dict(env, DISPLAY=""), 'write-clipboard "own" read-clipboard'), "own")
    for f in failures:
        print("FAIL", f)
    print("%d failures" % len(failures))
    return 1 if failures else 0


sys.exit(main())
