s = 0
i = 1
while i <= 20000000:
    s += i % 7
    i += 1
print(s)
