#!/usr/bin/env python3
"""Kem's load-json over a corpus of must-accept and must-reject files.

    json_corpus.py KEM_ZPIPE CORPUS_DIR

Every file under accept/ must load, every file under reject/ must not (an
error value or a raised error: broken surrogate pairs and bytes that are no
UTF-8 raise). Python's json gives the same verdict on each file, apart from
the literals NaN and Infinity, which it accepts beyond the JSON grammar.
"""
import json
import os
import subprocess
import sys

ZPIPE, CORPUS = sys.argv[1], sys.argv[2]
PYTHON_LENIENT = {"nan.json", "infinity.json"}
CODE = 'either error? try [v: load-json to string! data] ["reject"] [either error? :v ["reject"] ["accept"]]'
failures = []
for verdict in ("accept", "reject"):
    folder = os.path.join(CORPUS, verdict)
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            text = f.read()
        run = subprocess.run([ZPIPE, CODE], input=text, capture_output=True)
        got = run.stdout.decode() if run.returncode == 0 else "failed: " + run.stderr.decode().strip()
        if got != verdict:
            failures.append("%s/%s: kem says %s" % (verdict, name, got))
        try:
            json.loads(text.decode("utf-8"))
            python = "accept"
        except (ValueError, UnicodeDecodeError):
            python = "reject"
        # Python keeps a lone surrogate escape as a character; Kem raises for a broken pair.
        if python != verdict and name not in PYTHON_LENIENT and "surrogate" not in name:
            failures.append("%s/%s: python says %s" % (verdict, name, python))
if failures:
    print("\n".join(failures))
    sys.exit(1)
print("every corpus file gets its verdict")
