import sys, time

t0 = time.perf_counter()
s = 0
i = 1
while i <= 20000000:
    s += i % 7
    i += 1
t1 = time.perf_counter()
print(s)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
