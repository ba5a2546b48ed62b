# StrReplace over a 10 MB text: every "fox" becomes "wolf", and the count is kept; five times over.
import sys, time

text = "The quick brown fox jumps over the lazy dog. "
while len(text) < 10485760:
    text += text
t0 = time.perf_counter()
for _ in range(5):
    n = text.count("fox")
    r = text.replace("fox", "wolf")
t1 = time.perf_counter()
print(len(text), len(r), n)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
