class Word:
    __slots__ = ("name",)

    def __init__(self, name):
        self.name = name


def valid(data):
    if not data or len(data) % 4:
        return False
    fields = iter(data)
    return all(type(a) is int and type(b) is str and type(c) is Word and type(d) is float
               for a, b, c, d in zip(fields, fields, fields, fields))


record = [1, "name", Word("word"), 2.5]
data = record * 16384
print(len(data), sum(1 for _ in range(50) if valid(data)))
