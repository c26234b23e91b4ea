class Point:
    def __init__(self):
        self.x = 0
        self.y = 0

    def move(self, dx, dy):
        self.x = self.x + dx
        self.y = self.y + dy


p = Point()
for i in range(1, 3000001):
    p.x = p.x + 1
    p.move(1, 2)
print(p.x, p.y)
