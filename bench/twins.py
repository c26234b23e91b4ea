# Times each Kem program of bench/programs beside its Python, Lua and Perl
# twins and prints the ratios Kem/CPython and Kem/Lua.
#
# The runs alternate (kem, python, lua, perl, kem, ...) so that a change in
# the machine's load touches every interpreter alike; each time is the best
# of the rounds. Python is this script's own executable: run it with the real
# interpreter, not a version manager's shim that adds its own start-up.
import os
import shutil
import subprocess
import sys
import time

ROUNDS = 5


def timed(cmd):
    """Wall-clock and processor (user + system) seconds of one run."""
    start = time.perf_counter()
    child = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, _, usage = os.wait4(child.pid, 0)
    return time.perf_counter() - start, usage.ru_utime + usage.ru_stime


def result(cmd):
    """The words a program prints: twins that disagree time different work."""
    out = subprocess.run(cmd, capture_output=True, text=True, check=False).stdout
    return [number(word) for word in out.split()]


def number(word):
    # Kem integers are 32-bit: a sum past them is a float with the same value.
    try:
        return float(word)
    except ValueError:
        return word


def main():
    kem = sys.argv[1]
    folder = sys.argv[2]
    only = set(sys.argv[3:])
    runners = [("kem", ".kem", kem), ("python", ".py", sys.executable)]
    for name, ext, exe in (("lua", ".lua", "lua5.4"), ("perl", ".pl", "perl")):
        path = shutil.which(exe)
        if path:
            runners.append((name, ext, path))
    names = sorted(f[:-4] for f in os.listdir(folder) if f.endswith(".kem"))
    print(f"load average {os.getloadavg()[0]:.1f}; wall-clock seconds, best of {ROUNDS}, alternating;")
    print("the last two columns: the same ratios of processor time, steadier on a loaded machine")
    print(f"{'program':16} {'kem':>7} {'python':>7} {'lua':>7} {'perl':>7}  kem/python  kem/lua  cpu:python  cpu:lua")
    for name in names:
        if only and name not in only:
            continue
        cmds = {}
        for who, ext, exe in runners:
            src = os.path.join(folder, name + ext)
            if os.path.exists(src):
                cmds[who] = [exe, src]
        expected = result(cmds["kem"])
        for who, cmd in cmds.items():
            got = result(cmd)
            if got != expected:
                print(f"{name}: {who} prints {got}, kem {expected}")
        best = {who: float("inf") for who in cmds}
        cpu = {who: float("inf") for who in cmds}
        for _ in range(ROUNDS):
            for who, cmd in cmds.items():
                w, c = timed(cmd)
                best[who] = min(best[who], w)
                cpu[who] = min(cpu[who], c)

        def cell(who):
            return f"{best[who]:7.3f}" if who in best else f"{'-':>7}"

        def ratio(who, times):
            return f"x{times['kem'] / times[who]:.2f}" if who in times else "-"

        print(f"{name:16} {cell('kem')} {cell('python')} {cell('lua')} {cell('perl')}"
              f"  {ratio('python', best):>10} {ratio('lua', best):>8}"
              f"  {ratio('python', cpu):>10} {ratio('lua', cpu):>7}")


main()
