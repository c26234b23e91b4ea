b = []
x = 12345
for i in range(1000000):
    x = (x * 75 + 74) & 65535
    b.append(x)
b.sort()
print(len(b))
