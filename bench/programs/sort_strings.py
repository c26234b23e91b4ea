syllables = ["ka", "lo", "mi", "ne", "ru", "sa", "ti", "vo", "be", "du", "fe", "go", "hu", "ji", "pa", "ze"]
b = []
for i in range(1, 200001):
    x = i * 7919 % 200003
    b.append(syllables[x & 15] + syllables[(x >> 4) & 15] + str(x))
for _ in range(5):
    s = sorted(b)
print(len(s), s[0], s[-1])
