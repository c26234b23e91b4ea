#!/usr/bin/env python3
"""Writes runtime/lexer/tables.inc: the lexer's byte classes, the recogniser's
transition table and its side tables.

The rows below are the source of truth; edit them and run
    python3 tools/gen_lexer_tables.py > runtime/lexer/tables.inc
"""
import sys

# --- byte classes -------------------------------------------------------------

CLASSES = [
    "blank", "newline", "digit", "zero", "[", "]", "(", ")", "{", "}", '"', "#", "'", ":",
    "x", "T", "h", "e", "E", "hexl", "hexu", "/", "\\", "<", ">", "=", "%", ",", ";", "@",
    ".", "$", "+", "-", "^", "control", "cont", "wordch", "invalid", "end",
]
assert len(CLASSES) == 40
CLS = {name: i for i, name in enumerate(CLASSES)}

FLAGS = {
    "#": 0x00800000, "'": 0x02000000, ":": 0x04000000, "e": 0x01000000, "E": 0x01000000,
    "<": 0x00100000, ">": 0x00080000, "%": 0x00040000, ",": 0x08000000, ".": 0x10000000,
    "+": 0x00200000, "-": 0x00200000, "^": 0x20000000, "end": 0x00400000,
}


def byte_class(b):
    c = chr(b)
    if b in (9, 13, 32):
        return "blank"
    if b == 10:
        return "newline"
    if b == 0:
        return "end"
    if 0x31 <= b <= 0x39:
        return "digit"
    if c in "0":
        return "zero"
    if c in '[](){}"#\':/\\<>=%,;@.$+-^':
        return c
    if c in "xX":
        return "x"
    if c in "ThEe":
        return c
    if c in "abcdf":
        return "hexl"
    if c in "ABCDF":
        return "hexu"
    if 1 <= b <= 8 or b in (11, 12) or 14 <= b <= 31:
        return "control"
    if b == 0x7F or 0x80 <= b <= 0xBF:
        return "cont"
    if b in (0xC0, 0xC1) or b >= 0xF8:
        return "invalid"
    # ! & * ? _ | ~ ` and the other letters, and the UTF-8 lead bytes C2..F7
    assert c in "!&*?_|~`" or c.isalpha() or 0xC2 <= b <= 0xF7, hex(b)
    return "wordch"


def class_entry(b):
    name = byte_class(b)
    flags = FLAGS.get(name, 0)
    if 0xC2 <= b <= 0xEF:
        flags |= 0x40000000
    if 0xF0 <= b <= 0xF7:
        flags |= 0x80000000
    return CLS[name] | flags


# --- token kinds and final states -------------------------------------------------

KINDS = [
    "eof", "error", "block-open", "block-close", "paren-open", "paren-close", "string-open",
    "string-close", "map-open", "path-head", "construct", "comment", "comma", "string", "word",
    "issue", "integer", "refinement", "char", "file", "binary", "percent", "float",
    "float-special", "tuple", "date", "pair", "point", "time", "money", "tag", "url", "email",
    "hex", "rawstring", "ref",
]
assert len(KINDS) == 36
FINAL = {k: 66 + i for i, k in enumerate(KINDS)}

TYPE_IDS = {
    "-": 0, "string!": 7, "file!": 8, "url!": 9, "char!": 10, "integer!": 11, "float!": 12,
    "word!": 15, "set-word!": 16, "refinement!": 19, "issue!": 20, "path!": 25, "error!": 34,
    "pair!": 37, "percent!": 38, "tuple!": 39, "binary!": 41, "time!": 43, "tag!": 44,
    "email!": 45, "date!": 47, "money!": 49, "ref!": 50, "point2D!": 51,
}
KIND_TYPES = {
    "error": "error!", "string-close": "string!", "string": "string!", "word": "word!",
    "issue": "issue!", "integer": "integer!", "refinement": "refinement!", "char": "char!",
    "file": "file!", "binary": "binary!", "percent": "percent!", "float": "float!",
    "float-special": "float!", "tuple": "tuple!", "date": "date!", "pair": "pair!",
    "point": "point2D!", "time": "time!", "money": "money!", "tag": "tag!", "url": "url!",
    "email": "email!", "hex": "integer!", "rawstring": "string!", "ref": "ref!",
}

# The common delimiters.
D = ["blank", "newline", "control", "end", "[", "]", "(", ")", "{", "}", '"', ";"]
HEX_LETTERS = ["x", "T", "h", "e", "E", "hexl", "hexu"]

# state: (error name, [(classes, target), ...], others target)
# A target is a state number or a token kind (its final state).
ROWS = {
    0: ("-", [(["end"], "eof"), (["["], "block-open"), (["]"], "block-close"), (["("], "paren-open"),
              ([")"], "paren-close"), (["{"], "string-open"), ([","], "comma"),
              (["blank", "newline", "control"], 0), ([";"], 1), (['"'], 2), (["%"], 6), (["/"], 13),
              (["#"], 16), (["digit", "zero"], 23), (["$"], 36), (["E", "hexu"], 40), (["<"], 43),
              (["+", "-"], 47), (["."], 49), (["'", ":"], 51), (["@"], 57), (["="], 58),
              (["}", "\\", "cont", "invalid"], "error")], 52),
    1: ("-", [(["newline", "end"], "comment"), (["invalid"], "error")], 1),
    2: ("string!", [(['"'], "string"), (["^"], 3), (["newline", "invalid", "end"], "error")], 2),
    3: ("string!", [(["invalid", "end"], "error")], 2),
    4: ("string!", [(["{"], "string-open"), (["}"], "string-close"), (["^"], 5),
                    (["invalid", "end"], "error")], 4),
    5: ("string!", [(["invalid", "end"], "error")], 4),
    6: ("file!", [(["blank", "newline", "[", "]", "(", ")", "}", ";", "@", "control", "end"], "word"),
                  (['"'], 8), (["%"], 9), (["{"], 10), ([":"], 54), (["invalid"], "error")], 7),
    7: ("file!", [(["blank", "newline", "[", "]", "(", ")", "{", "}", ":", ";", "@", "end"], "file"),
                  (['"', "invalid"], "error")], 7),
    8: ("file!", [(['"'], "file"), (["newline", "invalid", "end"], "error")], 8),
    9: ("file!", [(["blank", "newline", "[", "]", "(", ")", "}", '"', "\\", ";", "control", "end"],
                   "word"), (["%"], 9), (["{"], 10), (["invalid"], "error")], 7),
    10: ("string!", [(["}"], 11), (["invalid", "end"], "error")], 10),
    11: ("string!", [(["}"], 11), (["%"], 12), (["invalid", "end"], "error")], 10),
    12: ("string!", [(["blank", "newline", "[", "]", "(", ")", "{", '"', "<", ";", "control", "end"],
                      "rawstring"), (["%"], 12)], "error"),
    13: ("word!", [(D + ["#", "@"], "word"), (["/"], 15), ([":"], 53), ([",", "invalid"], "error")], 14),
    14: ("refinement!", [(D + ["/", "@"], "refinement"), ([":", ",", "invalid"], "error")], 14),
    15: ("word!", [(D + ["#", "@"], "word"), (["/"], 15), (["%", ",", "$", "invalid"], "error")], 52),
    16: ("issue!", [(["["], "map-open"), ([";", "@", "control", "end"], "issue"), (["{"], 17),
                    (['"'], 19), (["("], 21),
                    (["blank", "newline", "]", ")", "}", ":", "<", ">", ",", "invalid"], "error")], 22),
    17: ("binary!", [(["}"], "binary"),
                     (["blank", "newline", "digit", "zero"] + HEX_LETTERS + ["/", "=", "+", "wordch"], 17),
                     ([";"], 18)], "error"),
    18: ("-", [(["newline"], 17), (["invalid", "end"], "error")], 18),
    19: ("char!", [(['"'], "char"), (["^"], 20), (["invalid", "end"], "error")], 19),
    20: ("char!", [(["invalid", "end"], "error")], 19),
    21: ("-", [([")"], "construct"), (["invalid", "end"], "error")], 21),
    22: ("issue!", [(D + ["@"], "issue"), ([":", "/", "invalid"], "error")], 22),
    23: ("integer!", [(["%"], "percent"), (["#"], 16), (["digit", "zero", "'"], 23), (["."], 24),
                      (["e"], 26), (["E"], 27), (["T", "/", "-"], 30), ([":"], 31), (["x"], 33),
                      (["hexu"], 39), (["h"], 42), (["@"], 56),
                      (["hexl", "\\", ">", "=", "$", "+", "^", "cont", "wordch", "invalid"], "error")],
         "integer"),
    24: ("float!", [(["%"], "percent"), (D + ["/", "<", ","], "float"), (["digit", "zero", "'"], 25),
                    (["e", "E"], 26), (["#"], 28), (["x"], 33)], "error"),
    25: ("float!", [(["%"], "percent"), (["digit", "zero", "'"], 25), (["e", "E"], 26), (["."], 29),
                    (["x"], 33), (["@"], 56),
                    (["#", "T", "h", "hexl", "hexu", "\\", ">", "=", "$", "+", "-", "^", "cont",
                      "wordch", "invalid"], "error")], "float"),
    26: ("float!", [(D + [":", "/", "<", ","], "float"), (["digit", "zero", "+", "-"], 26),
                    (["@"], 56)], "error"),
    27: ("float!", [(["%"], "percent"),
                    (["blank", "newline", "[", "]", "(", ")", "{", "}", '"', ":", "/", "<", ",",
                      "control", "end"], "float"),
                    (["+", "-"], 26), (["digit", "zero"], 27), (["."], 29), (["E", "hexu"], 40),
                    (["h"], 42), (["@"], 56)], "error"),
    28: ("float!", [(["digit"], "float"),
                    (HEX_LETTERS + [">", "=", ".", "+", "-", "cont", "wordch"], 28),
                    (["#", "'", ":", "%", "@", "$", "^", "invalid"], "error")], "float-special"),
    29: ("tuple!", [(D + [":", "/", "<"], "tuple"), (["digit", "zero", "."], 29)], "error"),
    30: ("date!", [(D + ["<", "$"], "date"), (["%", ",", "@", "^", "cont", "invalid"], "error")], 30),
    31: ("time!", [(["digit", "zero"], 32)], "error"),
    32: ("time!", [(D + ["/", "<"], "time"), (["digit", "zero", ":", "."], 32)], "error"),
    33: ("pair!", [(["digit", "zero", "+", "-"], 34), (["@"], 56)], "error"),
    34: ("pair!", [(D + [":", "/", "<"], "pair"), (["digit", "zero", "e", "E", "."], 34), (["@"], 56)],
         "error"),
    35: ("point2D!", [([")"], "point"),
                      (["blank", "digit", "zero", "]", "#", "e", "E", "hexl", "hexu", ",", ".", "+", "-",
                        "wordch"], 35)], "error"),
    36: ("money!", [(["digit", "zero"], 37)], "error"),
    37: ("money!", [(D + ["#", ":", "/", "<"], "money"), (["digit", "zero", "'"], 37), (["."], 38)],
         "error"),
    38: ("money!", [(D + ["#", ":", "/", "<"], "money"), (["digit", "zero", "'"], 38)], "error"),
    39: ("-", [(["digit", "zero", "E", "hexu"], 39), (["h"], 41), (["@"], 56)], "error"),
    40: ("integer!", [(["/"], "path-head"), (["$"], 37), (["digit", "zero", "E", "hexu"], 40), (["h"], 41),
                      (["'", "x", "T", "e", "hexl", "<", ">", "=", ".", "+", "-", "^", "cont", "wordch"], 52),
                      ([":"], 53), (["@"], 56), (["%", ",", "invalid"], "error")], "word"),
    41: ("word!", [(["/"], "path-head"), (D + ["\\"], "hex"), (["$"], 37), ([":"], 53), (["@"], 56),
                   (["#", "%", ",", "invalid"], "error")], 52),
    42: ("integer!", [(["/"], "path-head"), (D + ["\\", "<"], "hex"), (["$"], 37), (["@"], 56)], "error"),
    43: ("tag!", [(D, "word"), (["<"], 43), (["'"], 46), ([">", "=", "-"], 52), ([":"], 53),
                  (["invalid"], "error")], 44),
    44: ("tag!", [([">"], "tag"), (['"'], 45), (["'"], 46), (["invalid", "end"], "error")], 44),
    45: ("tag!", [(['"'], 44), (["invalid", "end"], "error")], 45),
    46: ("tag!", [(["'"], 44), (["invalid", "end"], "error")], 46),
    47: ("word!", [(["/"], "path-head"), (D + ["#", "\\"], "word"), (["digit", "zero"], 23), (["$"], 37),
                   (["."], 49), (["'", "%", "^", "invalid"], "error")], 52),
    48: ("word!", [(["/"], "path-head"), (D + ["#", "\\"], "word"), (["'", "%", "$", "^", "invalid"], "error")],
         52),
    49: ("word!", [(["/"], "path-head"), (D + ["#", "\\"], "word"), (["digit", "zero", "+", "-"], 50),
                   ([":"], 53), (["@"], 56), (["%", ",", "$", "invalid"], "error")], 52),
    50: ("float!", [(["%"], "percent"),
                    (["blank", "newline", "[", "]", "(", ")", "{", "}", '"', ":", "/", "<", "control", "end"],
                     "float"),
                    (["x"], 33), (["digit", "zero", "e", "E", "+", "-"], 50), (["@"], 56)], "error"),
    51: ("word!", [(["/"], 13), (["<"], 43), (["+", "-"], 48),
                   (HEX_LETTERS + [">", ".", "^", "cont", "wordch"], 52), (["%"], 54), (["="], 58)], "error"),
    52: ("word!", [(["/"], "path-head"), (D + ["#", "\\", "<"], "word"), (["$"], 36), ([":"], 53), (["@"], 56),
                   (["%", ",", "invalid"], "error")], 52),
    53: ("set-word!", [(D + ["\\"], "word"), (["<", "invalid"], "error")], 55),
    54: ("word!", [(["blank", "newline", "[", "]", "(", ")", "{", "}", "\\", ";", "control", "end"], "word"),
                   (["%"], 54)], "error"),
    55: ("url!", [(D + ["\\", "<"], "url"), ([">", "^", "invalid"], "error")], 55),
    56: ("email!", [(["digit", "zero"] + HEX_LETTERS + ["%", ".", "+", "-", "cont", "wordch"], 56),
                    (["#", "'", ":", ">", "=", ",", "@", "$", "^", "invalid"], "error")], "email"),
    57: ("ref!", [(D + ["<"], "ref"), (["#", "'", "\\", ">", "=", ",", "@", "$", "^", "invalid"], "error")], 57),
    58: ("word!", [(["/"], "path-head"), (D + [":", "\\"], "word"), (["#", "%", ",", "@", "$", "invalid"], "error")],
         52),
    59: ("path!", [(["("], "paren-open"), ([")"], "paren-close"), (['"'], 2), (["$"], 36), (["<"], 43),
                   (["@"], 57), (["digit", "zero"], 60), (["'", ":"], 61),
                   (HEX_LETTERS + [">", "=", ".", "cont", "wordch"], 62), (["#"], 63), (["+", "-"], 64)],
         "error"),
    60: ("integer!", [(D + [":", "/", "<"], "integer"), (["%"], "percent"), (["."], 24), (["e", "E"], 26),
                      (["x"], 33), (["@"], 56), (["digit", "zero", "'"], 60)], "error"),
    61: ("word!", [(HEX_LETTERS + ["<", ">", "=", ".", "+", "-", "cont", "wordch"], 62)], "error"),
    62: ("word!", [(D + [":", "/", "\\"], "word"), (["$"], 36), (["@"], 56), (["#", "%", ",", "invalid"], "error")],
         62),
    63: ("issue!", [(['"'], 19), (["["], 21),
                    (["blank", "newline", "]", "(", ")", "{", "}", ":", "/", "<", ">", "=", ",", ";", "@",
                      "control", "invalid", "end"], "error")], 22),
    64: ("word!", [(["$"], 36), (["@"], 56), (["digit", "zero"], 60),
                   (HEX_LETTERS + [">", "=", ".", "cont", "wordch"], 62), (["+", "-"], 64),
                   (["#", "'", "<", "%", ",", "^", "invalid"], "error")], "word"),
}
assert sorted(ROWS) == list(range(65))


def target(t):
    return FINAL[t] if isinstance(t, str) else t


def build_transitions():
    table = []
    for state in range(65):
        _, entries, others = ROWS[state]
        row = [None] * 40
        for classes, to in entries:
            for c in classes:
                i = CLS[c]
                if row[i] is not None:
                    sys.exit("state %d: class %s given twice" % (state, c))
                row[i] = target(to)
        row = [target(others) if v is None else v for v in row]
        # The end column is final in every state, so a run always ends.
        if row[CLS["end"]] <= 65:
            sys.exit("state %d: end column not final" % state)
        table.append(row)
    return table


DELIMITER_CLASSES = ["blank", "newline", "[", "]", "(", ")", "{", '"', ":", "<", ";", "wordch", "invalid", "end"]


def point_char(b):
    c = chr(b)
    return b in (9, 32) or c.isdigit() or c in ".+-#" or c in "aefinAEFIN"


def emit_array(name, ctype, values, per_line):
    print("const %s %s[%d] = {" % (ctype, name, len(values)))
    for i in range(0, len(values), per_line):
        print("    " + ", ".join(str(v) for v in values[i:i + per_line]) + ",")
    print("};")


def main():
    print("// Generated by tools/gen_lexer_tables.py; edit the rows there, not here.")
    print("// Included by runtime/lexer/tables.cpp inside namespace kem::lexer.")
    print()
    print("// Byte classes: the class number in the low byte, flag bits above it.")
    entries = ["0x%08X" % class_entry(b) for b in range(256)]
    emit_array("byte_classes", "uint32_t", entries, 8)
    print()
    print("// Next state by (state, class); above 65 a final state (66 + token kind).")
    table = build_transitions()
    print("const uint8_t transitions[STATE_COUNT][CLASS_COUNT] = {")
    for state, row in enumerate(table):
        print("    {" + ", ".join(str(v) for v in row) + "},  // %d" % state)
    print("};")
    print()
    print("// Bytes skipped before a token: counted for every step into state 0.")
    emit_array("skip_counts", "uint8_t", [1 if s == 0 else 0 for s in range(TABLE_STATES)], 26)
    print()
    emit_array("line_increments", "uint8_t", [1 if c == "newline" else 0 for c in CLASSES], 20)
    print()
    print("// By state: the datatype a final state's token makes (0 for none), or the")
    print("// datatype a non-final state names in an invalid error (0: bad-char).")
    types = [0] * TABLE_STATES
    for state in range(65):
        types[state] = TYPE_IDS[ROWS[state][0]]
    for kind, state in FINAL.items():
        types[state] = TYPE_IDS[KIND_TYPES[kind]] if kind in KIND_TYPES else 0
    emit_array("token_datatypes", "uint8_t", types, 26)
    print()
    emit_array("delimiter_classes", "uint8_t", [1 if c in DELIMITER_CLASSES else 0 for c in CLASSES], 20)
    print()
    emit_array("point_chars", "uint8_t", [1 if point_char(b) else 0 for b in range(256)], 32)


TABLE_STATES = 104

if __name__ == "__main__":
    main()
