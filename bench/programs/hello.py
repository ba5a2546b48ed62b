import sys
print("hello")
print("time 0", file=sys.stderr)
