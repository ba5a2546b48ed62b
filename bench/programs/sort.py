import sys, time

x = 12345
lines = []
for _ in range(200000):
    x = (x * 1103515245 + 12345) % 2147483648
    lines.append("%08x" % x)
text = "\n".join(lines) + "\n"
t0 = time.perf_counter()
s = "\n".join(sorted(text[:-1].split("\n"))) + "\n"
t1 = time.perf_counter()
print(len(s), s[:8], s[-9:-1])
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
