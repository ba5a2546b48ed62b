import re, sys, time

line = "user=alice id=1234 mail=alice@example.com; user=bob id=99 mail=bob@example.org\n"
text = ""
while len(text) < 1048576:
    text += line
t0 = time.perf_counter()
r, n = re.subn(r"(\w+)=(\w+)(?: id=(\d+))?", r"\2<\3>\1", text)
t1 = time.perf_counter()
print(len(text), len(r), n)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
