b = []
for i in range(1, 2000001):
    b.append(str(i))
print(len(b))
