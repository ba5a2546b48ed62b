class P:
    def __init__(self, x, y):
        self.x = x
        self.y = y

    def add(self, o):
        return P(self.x + o.x, self.y + o.y)


s = P(0, 0)
step = P(1, 2)
for _ in range(2000000):
    s = s.add(step)
print(s.x, s.y)
