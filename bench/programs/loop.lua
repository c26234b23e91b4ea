local s = 0
local i = 0
while i < 10000000 do
  s = s + (i % 3)
  i = i + 1
end
print(s)
