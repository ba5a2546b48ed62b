import os, sys, time
from fileio_data import fileio_data

path = fileio_data()
with open(path, encoding="utf-8") as f:
    text = f.read()
out = "/tmp/brm-bench-fileio-out.txt"
t0 = time.perf_counter()
with open(out, "a", encoding="utf-8", newline="") as f:
    f.write(text)
t1 = time.perf_counter()
print(os.path.getsize(out))
os.remove(out)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
