import sys, time


class P:
    def __init__(self, x, y):
        self.x = x
        self.y = y

    def add(self, o):
        return P(self.x + o.x, self.y + o.y)


t0 = time.perf_counter()
s = P(0, 0)
step = P(1, 2)
for _ in range(2000000):
    s = s.add(step)
t1 = time.perf_counter()
print(s.x, s.y)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
