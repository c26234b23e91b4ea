local parts = {}
for i = 1, 100000 do parts[#parts + 1] = "words before the needle and words after it, " end
local text = table.concat(parts)
local hits = 0
local out
for _ = 1, 5 do
  local acc = {}
  local pos = 1
  while true do
    local hit = string.find(text, "needle", pos, true)
    if not hit then break end
    acc[#acc + 1] = string.sub(text, pos, hit - 1)
    acc[#acc + 1] = "pin"
    pos = hit + 6
    hits = hits + 1
  end
  acc[#acc + 1] = string.sub(text, pos)
  out = table.concat(acc)
end
print(hits, #text, #out)
