# Instructions per unit of work, counted by callgrind: a recursive fib call,
# one pass of the object program (a field read and set, a method call), one
# pass of a while loop. Each program runs at two problem sizes; the difference
# of the two counts over the difference of the units leaves start-up and the
# fixed costs out. Kem and, when present, its CPython and Lua twins.
#
#   python3 bench/callgrind_per_call.py build-bench/kem [fib|object|while ...]
import os
import re
import shutil
import subprocess
import sys
import tempfile


def fib_calls(n):
    # Calls made by fib n: one for each node of the recursion tree.
    a, b = 1, 1
    for _ in range(n):
        a, b = b, a + b + 1
    return a


PROGRAMS = {
    "fib": {
        "sizes": (14, 18),
        "units": fib_calls,
        "kem": "Kem []\nfib: func [n] [if n < 2 [return n] (fib n - 1) + (fib n - 2)]\nprint fib {n}\n",
        "py": "def fib(n):\n    if n < 2:\n        return n\n    return fib(n - 1) + fib(n - 2)\nprint(fib({n}))\n",
        "lua": "local function fib(n)\n  if n < 2 then return n end\n  return fib(n - 1) + fib(n - 2)\nend\nprint(fib({n}))\n",
    },
    "object": {
        "sizes": (2000, 12000),
        "units": lambda n: n,
        "kem": "Kem []\np: make object! [\n    x: 0\n    y: 0\n    move: func [dx dy] [x: x + dx y: y + dy]\n]\n"
               "repeat i {n} [p/x: p/x + 1 p/move 1 2]\nprint [p/x p/y]\n",
        "py": "class Point:\n    def __init__(self):\n        self.x = 0\n        self.y = 0\n\n"
              "    def move(self, dx, dy):\n        self.x = self.x + dx\n        self.y = self.y + dy\n\n\n"
              "p = Point()\nfor i in range(1, {n} + 1):\n    p.x = p.x + 1\n    p.move(1, 2)\nprint(p.x, p.y)\n",
        "lua": "local Point = {{}}\nPoint.__index = Point\nfunction Point:move(dx, dy)\n  self.x = self.x + dx\n"
               "  self.y = self.y + dy\nend\nlocal p = setmetatable({{x = 0, y = 0}}, Point)\n"
               "for i = 1, {n} do\n  p.x = p.x + 1\n  p:move(1, 2)\nend\nprint(p.x, p.y)\n",
    },
    "while": {
        "sizes": (5000, 30000),
        "units": lambda n: n,
        "kem": "Kem []\ns: 0\ni: 0\nwhile [i < {n}] [s: s + (i % 3) i: i + 1]\nprint s\n",
        "py": "s = 0\ni = 0\nwhile i < {n}:\n    s = s + (i % 3)\n    i = i + 1\nprint(s)\n",
        "lua": "local s = 0\nlocal i = 0\nwhile i < {n} do\n  s = s + (i % 3)\n  i = i + 1\nend\nprint(s)\n",
    },
}


def instructions(cmd, folder):
    out = os.path.join(folder, "callgrind.out")
    subprocess.run(["valgrind", "--tool=callgrind", f"--callgrind-out-file={out}"] + cmd,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    with open(out) as f:
        for line in f:
            m = re.match(r"summary: (\d+)", line) or re.match(r"totals: (\d+)", line)
            if m:
                return int(m.group(1))
    raise RuntimeError("no totals in callgrind output")


def per_unit(exe, ext, prog, folder):
    counts = []
    for n in prog["sizes"]:
        src = os.path.join(folder, f"p{n}{ext}")
        with open(src, "w") as f:
            f.write(prog[ext[1:]].format(n=n))
        counts.append(instructions([exe, src], folder))
    units = [prog["units"](n) for n in prog["sizes"]]
    return (counts[1] - counts[0]) / (units[1] - units[0])


def main():
    kem = os.path.abspath(sys.argv[1])
    wanted = sys.argv[2:] or list(PROGRAMS)
    runners = [("kem", ".kem", kem), ("python", ".py", sys.executable)]
    lua = shutil.which("lua5.4")
    if lua:
        runners.append(("lua", ".lua", lua))
    print(f"{'per unit':10}" + "".join(f"{who:>10}" for who, _, _ in runners))
    with tempfile.TemporaryDirectory() as folder:
        for name in wanted:
            prog = PROGRAMS[name]
            row = [per_unit(exe, ext, prog, folder) for _, ext, exe in runners]
            print(f"{name:10}" + "".join(f"{v:10.0f}" for v in row), flush=True)


main()
