local P = {}
P.__index = P
function P.new(x, y)
  return setmetatable({x = x, y = y}, P)
end
function P:add(o)
  return P.new(self.x + o.x, self.y + o.y)
end
local t0 = os.clock()
local s = P.new(0, 0)
local step = P.new(1, 2)
for _ = 1, 2000000 do
  s = s:add(step)
end
local t1 = os.clock()
print(s.x .. " " .. s.y)
io.stderr:write(string.format("time %d\n", math.floor((t1 - t0) * 1000 + 0.5)))
