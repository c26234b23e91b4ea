local b = {}
for i = 1, 2000000 do b[#b + 1] = tostring(i) end
print(#b)
