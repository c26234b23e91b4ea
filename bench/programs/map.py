m = {}
for i in range(1, 300001):
    m["key" + str(i)] = i
s = 0
for i in range(1, 300001):
    s += m["key" + str(i)]
print(s)
