local P = {}
P.__index = P
function P.new(x, y)
  return setmetatable({x = x, y = y}, P)
end
function P:add(o)
  return P.new(self.x + o.x, self.y + o.y)
end
local s = P.new(0, 0)
local step = P.new(1, 2)
for _ = 1, 2000000 do
  s = s:add(step)
end
print(s.x .. " " .. s.y)
