import os, sys, time

n = int(os.environ.get("MAP_KEYS") or 1000000)
t0 = time.perf_counter()
m = {}
for i in range(1, n + 1):
    m["key" + str(i)] = i
found = 0
for i in range(1, n + 1):
    found += m["key" + str(i)]
seen = 0
total = 0
for k, v in m.items():
    seen += 1
    total += v
a = []
for i in range(1, n + 1):
    a.append(i)
s = 0
for x in a:
    s += x
t1 = time.perf_counter()
print(len(m), found, seen, total, s)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
