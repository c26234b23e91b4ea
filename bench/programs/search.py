parts = []
for i in range(100000):
    parts.append("words before the needle and words after it, ")
text = "".join(parts)
hits = 0
for _ in range(5):
    out = []
    pos = 0
    while True:
        hit = text.find("needle", pos)
        if hit < 0:
            break
        out.append(text[pos:hit])
        out.append("pin")
        pos = hit + 6
        hits = hits + 1
    out.append(text[pos:])
    out = "".join(out)
print(hits, len(text), len(out))
