#!/usr/bin/env python3
"""kem where the libraries it opens on first use cannot be opened.

usage: missing_libraries.py path/to/kem NAME=SONAME...

NAME is curl, crypto, png, jpeg, gif or tiff; SONAME the file kem opens for
it. The dynamic loader looks in LD_LIBRARY_PATH first, so a folder there
holding an empty file of each name makes every one of them fail to open, as
on a system without them. A script that needs none of them runs as usual;
one that needs one ends with the error naming it.
"""
import os
import subprocess
import sys
import tempfile

KEM = sys.argv[1]
SONAMES = dict(arg.split("=", 1) for arg in sys.argv[2:])
failures = []

def cannot_open(library):
    return f'*** Access Error: cannot open: "{SONAMES[library]}"'


def no_codec(library):
    return f'*** Access Error: cannot decode or encode (no codec): "{SONAMES[library]}"'


# The code, and the first line of its report (None: it runs and prints "ok").
CASES = [
    ("print 1 + 1 print checksum \"abc\" 'crc32 print 'ok", None),
    ("print length? system/codecs/bmp/encode make image! 2x2 none print 'ok", None),
    ("read http://127.0.0.1:9/", cannot_open("curl")),
    ("checksum \"abc\" 'sha256", cannot_open("crypto")),
    ("checksum/with \"abc\" 'sha1 \"key\"", cannot_open("crypto")),
] + [
    (f"system/codecs/{codec}/encode make image! 2x2 none",
     no_codec(library))
    for codec, library in (("png", "png"), ("jpeg", "jpeg"), ("gif", "gif"), ("tiff", "tiff"))
] + [
    # A PNG's signature is enough for the codec to be asked for.
    ("system/codecs/png/decode #{89504E470D0A1A0A0000000D49484452}",
     no_codec("png")),
]

with tempfile.TemporaryDirectory(prefix="kem-nolib-") as folder:
    libraries = os.path.join(folder, "lib")
    os.mkdir(libraries)
    for soname in SONAMES.values():
        open(os.path.join(libraries, soname), "wb").close()
    env = dict(os.environ, LD_LIBRARY_PATH=libraries, HOME=folder)
    script = os.path.join(folder, "case.kem")
    for code, report in CASES:
        with open(script, "w", encoding="utf-8") as f:
            f.write("Kem []\n" + code + "\n")
        run = subprocess.run([KEM, script], capture_output=True, text=True, env=env, cwd=folder, timeout=120)
        out = (run.stdout + run.stderr).strip()
        if report is None:
            if run.returncode != 0 or not out.endswith("ok"):
                failures.append(f"{code}: status {run.returncode}, output {out!r}")
        elif run.returncode != 254 or out.splitlines()[:1] != [report]:
            failures.append(f"{code}: status {run.returncode} (want 254), report {out!r}, want {report!r}")

for failure in failures:
    print("FAIL:", failure)
sys.exit(1 if failures else 0)
