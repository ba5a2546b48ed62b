import sys, time

def fib(n):
    if n < 2:
        return n
    return fib(n - 1) + fib(n - 2)

t0 = time.perf_counter()
r = fib(30)
t1 = time.perf_counter()
print(r)
print("time %d" % round((t1 - t0) * 1000), file=sys.stderr)
