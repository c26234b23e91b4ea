m = {}
for i in range(1, 200001):
    m["key" + str(i)] = i
s = 0
for i in range(1, 200001):
    s += m["key" + str(i)]
print(s)
