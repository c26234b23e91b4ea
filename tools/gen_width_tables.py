# Writes the display-width range tables from Python's unicodedata.
import unicodedata as u
cat = lambda c: u.category(chr(c))
ea = lambda c: u.east_asian_width(chr(c))
assigned = lambda c: cat(c) != 'Cn'
PREPENDED = {0x600,0x601,0x602,0x603,0x604,0x605,0x6DD,0x70F,0x890,0x891,0x8E2,0x110BD,0x110CD}
def zero(c):
    if not assigned(c): return False
    k = cat(c)
    if k in ('Mn','Me'): return True
    if k == 'Cf': return c != 0xAD and c not in PREPENDED
    return 0x1160 <= c <= 0x11FF or 0xD7B0 <= c <= 0xD7FF
def wide(c):
    if 0x20000 <= c <= 0x2FFFD or 0x30000 <= c <= 0x3FFFD: return True
    if 0x3400 <= c <= 0x4DBF or 0x4E00 <= c <= 0x9FFF or 0xF900 <= c <= 0xFAFF: return True
    return assigned(c) and ea(c) in ('W','F')
def ambiguous(c):
    return assigned(c) and ea(c) == 'A' and not zero(c)
def ranges(pred):
    out=[]; start=None
    for cp in range(0x110000):
        if pred(cp):
            if start is None: start=cp
        elif start is not None:
            out.append((start,cp-1)); start=None
    if start is not None: out.append((start,0x10FFFF))
    return out
def emit(name, r):
    print("// %d ranges" % len(r))
    print("constexpr WidthRange %s[] = {" % name)
    line = "   "
    for a,b in r:
        item = " {0x%04X, 0x%04X}," % (a,b)
        if len(line) + len(item) > 110:
            print(line); line = "   "
        line += item
    print(line)
    print("};")
print("// Unicode", u.unidata_version)
emit("zero_width", ranges(zero))
emit("wide", ranges(wide))
emit("ambiguous", ranges(ambiguous))
