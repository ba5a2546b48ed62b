# The 50 MB UTF-8 file the file benchmarks read: made once, the same bytes as fileio_data.brm makes.
import os

def fileio_data():
    path = "/tmp/brm-bench-fileio.txt"
    if not os.path.exists(path) or os.path.getsize(path) == 0:
        with open(path, "w", encoding="utf-8", newline="") as f:
            for i in range(1, 1000001):
                f.write("line %d of the benchmark text, caf\u00e9 na\u00efve \u20ac end\n" % i)
    return path
