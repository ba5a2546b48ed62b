import os, sys, time
from fileio_data import fileio_data

path = fileio_data()
with open(path, encoding="utf-8") as f:
    lines = f.read().split("\n")
lines.pop()
out = "/tmp/brm-bench-fileio-out.txt"
t0 = time.perf_counter()
with open(out, "w", encoding="utf-8", newline="") as f:
    for line in lines:
        f.write(line + "\n")
t1 = time.perf_counter()
print(os.path.getsize(out))
os.remove(out)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
