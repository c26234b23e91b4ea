#!/usr/bin/env python3
"""Writes case_python.txt: Python's str.upper and str.lower, the oracle for the
runtime's case mappings.

One line per code point that Python maps to something other than itself:
the code point, its upper case and its lower case in hexadecimal, where "*"
stands for a mapping to several code points (not one-to-one, so not checked).
Every code point not listed maps to itself in both directions.

    python3 tests/unit/data/case_python_gen.py > tests/unit/data/case_python.txt
"""
import sys
import unicodedata


def mapped(text):
    return f"{ord(text):X}" if len(text) == 1 else "*"


def main():
    print(f"# Python {sys.version.split()[0]}, Unicode {unicodedata.unidata_version}")
    for cp in range(0x110000):
        c = chr(cp)
        up, low = c.upper(), c.lower()
        if up != c or low != c:
            print(f"{cp:X} {mapped(up)} {mapped(low)}")


if __name__ == "__main__":
    main()
