import re, sys, time

total = 0
t0 = time.perf_counter()
for i in range(1, 200001):
    m = re.search(r"(\w+)=(\d+)", "key" + str(i) + "=" + str(i))
    if m:
        total += len(m.group(2))
t1 = time.perf_counter()
print(total)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
