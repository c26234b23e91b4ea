def unique(a):
    return list(dict.fromkeys(a))

def union(a, b):
    return list(dict.fromkeys(a + b))

def intersect(a, b):
    s = set(b)
    return list(dict.fromkeys(v for v in a if v in s))

def difference(a, b):
    s1, s2 = set(a), set(b)
    return list(dict.fromkeys([v for v in a if v not in s2] + [v for v in b if v not in s1]))

n = 200000
a, b, sa, sb = [], [], [], []
x = 12345
for i in range(1, n + 1):
    x = (x + 1) * 75 % 65537 - 1
    a.append(x)
    b.append(i)
    sa.append("k" + str(x))
    sb.append("k" + str(i))
print(len(unique(a)), len(union(a, b)), len(intersect(a, b)), len(difference(a, b)),
      len(unique(sa)), len(union(sa, sb)), len(intersect(sa, sb)), len(difference(sa, sb)))
