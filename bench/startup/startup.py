# Start-up time: kem running an empty script against the real Python
# executable running `-c pass` (not a version-manager shim), best of many
# runs since each takes a few milliseconds.
import subprocess
import sys
import time


def best(cmd, runs):
    fastest = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
        fastest = min(fastest, time.perf_counter() - start)
    return fastest


kem, script = sys.argv[1], sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 100
k = best([kem, script], runs)
p = best([sys.executable, "-c", "pass"], runs)
print(f"kem {k * 1000:.2f} ms | python {p * 1000:.2f} ms (x{k / p:.2f})")
