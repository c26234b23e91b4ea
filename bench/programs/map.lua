local m = {}
for i = 1, 300000 do m["key" .. i] = i end
local s = 0
for i = 1, 300000 do s = s + m["key" .. i] end
print(s)
