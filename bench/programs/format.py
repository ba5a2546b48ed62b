import sys, time

t0 = time.perf_counter()
total = 0
for i in range(1, 1000001):
    s = "{:.2f}|{:6d}".format(i / 7, i)
    total += len(s)
t1 = time.perf_counter()
print(total, s)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
