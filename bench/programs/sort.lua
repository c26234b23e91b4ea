local b = {}
local x = 12345
for i = 1, 1000000 do x = (x * 75 + 74) & 65535; b[#b + 1] = x end
table.sort(b)
print(#b)
