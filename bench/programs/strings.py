parts = []
for i in range(300000):
    parts.append("ab")
s = "".join(parts)
print(len(s))
