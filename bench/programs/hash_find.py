n = 200000
s = set(i * 7 for i in range(1, n + 1))
hits = 0
for i in range(1, n + 1):
    if i * 3 in s:
        hits += 1
print(hits)
