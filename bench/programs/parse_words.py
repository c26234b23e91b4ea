line = "the quick brown fox jumps over the lazy dog while Kem splits its text\n"
text = line * 140000
lines = text.split("\n")
words = text.split(" ")
print(len(text), len(lines), len(words))
