local t = {}
for i = 1, 300000 do t[#t + 1] = "ab" end
print(#table.concat(t))
