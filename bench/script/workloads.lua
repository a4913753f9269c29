-- The programs of counter.zrs, fib.zrs and strings.zrs beside them, as a Lua programmer
-- would write them: the same loops, calls and results.
--   lua5.4 workloads.lua NAME RUNS   prints the result and the median CPU milliseconds
local work = {}

function work.counter()
  local i = 0
  while i < 100000 do
    i = i + 1
  end
  return i
end

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end
function work.fib() return fib(25) end

function work.strings()
  local i, s = 0, nil
  while i < 100000 do
    i = i + 1
    s = "<td>" .. i .. "</td>"
  end
  return s
end

-- CPU time rather than wall time: other work on the machine then slows the run less.
local name, runs = arg[1], tonumber(arg[2])
local times, result = {}, nil
for r = 1, runs do
  local start = os.clock()
  result = work[name]()
  times[r] = (os.clock() - start) * 1000
end
table.sort(times)
print(string.format("%s %.3f", result, times[(runs + 1) // 2]))
