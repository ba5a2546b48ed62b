local n = tonumber(os.getenv("MAP_KEYS") or "") or 1000000
local t0 = os.clock()
local m, count = {}, 0
for i = 1, n do
  local k = "key" .. i
  if m[k] == nil then count = count + 1 end
  m[k] = i
end
local found = 0
for i = 1, n do
  found = found + m["key" .. i]
end
local seen, total = 0, 0
for k, v in pairs(m) do
  seen = seen + 1
  total = total + v
end
local a = {}
for i = 1, n do
  a[#a + 1] = i
end
local sum = 0
for _, x in ipairs(a) do
  sum = sum + x
end
local t1 = os.clock()
print(string.format("%d %d %d %d %d", count, found, seen, total, sum))
io.stderr:write(string.format("time %d\n", math.floor((t1 - t0) * 1000 + 0.5)))
