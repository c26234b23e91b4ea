local Point = {}
Point.__index = Point
function Point:move(dx, dy)
  self.x = self.x + dx
  self.y = self.y + dy
end
local p = setmetatable({x = 0, y = 0}, Point)
for i = 1, 3000000 do
  p.x = p.x + 1
  p:move(1, 2)
end
print(p.x, p.y)
