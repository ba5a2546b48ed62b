local t0 = os.clock()
local s = 0
for i = 1, 20000000 do
    s = s + i % 7
end
local t1 = os.clock()
print(s)
io.stderr:write(string.format("time %d\n", math.floor((t1 - t0) * 1000 + 0.5)))
