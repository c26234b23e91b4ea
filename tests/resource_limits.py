#!/usr/bin/env python3
"""kem under resource limits and faults, checked from outside.

usage: resource_limits.py path/to/kem SANITIZED

A write that fails (a file-size limit makes the system refuse it, as a full
disk would) or is killed part way leaves the file it was replacing as it
was; reading or collecting more than the address space allows raises
no-memory. SANITIZED is true for a build whose sanitizer reserves address
space of its own: the address-space cases are skipped there.
"""
import os
import resource
import signal
import subprocess
import sys
import tempfile
import time

KEM = sys.argv[1]
SANITIZED = sys.argv[2].upper() in ("1", "ON", "TRUE", "YES")
OLD = b"Kem []\n" + b"".join(b"old line %d\n" % i for i in range(800))  # about 10 KB
failures = []


def check(ok, what, detail=""):
    if not ok:
        failures.append(f"{what}: {detail}")


def run(folder, code, limits=(), stdin=None, env=None):
    """Runs a script (code after a header), or the console when code is
    None, in the folder (also HOME), with the given resource limits;
    SIGXFSZ ignored, so that a write past the size limit fails with EFBIG."""
    args = [KEM]
    if code is not None:
        with open(os.path.join(folder, "case.kem"), "w", encoding="utf-8") as f:
            f.write("Kem []\n" + code + "\n")
        args.append("case.kem")

    def child():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        for which, value in limits:
            resource.setrlimit(which, (value, value))
    return subprocess.run(args, cwd=folder, input=stdin, capture_output=True, preexec_fn=child, timeout=120,
                          env=dict(os.environ, HOME=folder, **(env or {})))


def contents(path):
    with open(path, "rb") as f:
        return f.read()


def strays(folder, keep):
    return sorted(set(os.listdir(folder)) - set(keep))


def failed_writes_keep_the_file():
    """write and save of more than the size limit: an error, the old file
    byte for byte, and no temporary file left."""
    cases = [
        ("write", 'write %data.txt append/dup copy "" "new text " 12000',
         "*** Access Error: cannot open: %data.txt"),
        ("save", "save %data.txt append/dup copy [] 'new-value 20000",
         "*** Access Error: cannot open: %data.txt"),
    ]
    for name, code, report in cases:
        with tempfile.TemporaryDirectory() as folder:
            target = os.path.join(folder, "data.txt")
            with open(target, "wb") as f:
                f.write(OLD)
            os.chmod(target, 0o640)
            r = run(folder, code, [(resource.RLIMIT_FSIZE, 16384)])
            out = r.stdout.decode(errors="replace")
            check(r.returncode == 254 and out.startswith(report), f"failed {name}: the report",
                  f"status {r.returncode}, output {out!r}")
            check(contents(target) == OLD, f"failed {name}: the old file", f"{len(contents(target))} bytes")
            check(os.stat(target).st_mode & 0o777 == 0o640, f"failed {name}: the permission bits")
            check(strays(folder, ["data.txt", "case.kem", ".kem"]) == [], f"failed {name}: files left",
                  strays(folder, ["data.txt", "case.kem", ".kem"]))


def killed_write_keeps_the_file():
    """kill -9 while a big write is under way leaves the old file."""
    with tempfile.TemporaryDirectory() as folder:
        target = os.path.join(folder, "data.bin")
        with open(target, "wb") as f:
            f.write(OLD)
        with open(os.path.join(folder, "case.kem"), "w") as f:
            f.write("Kem []\nbig: read/binary/part %/dev/zero 30000000  print {made}  write %data.bin big\n")
        child = subprocess.Popen([KEM, "case.kem"], cwd=folder, stdout=subprocess.PIPE, env=dict(os.environ, HOME=folder))
        try:
            child.stdout.readline()
            # The write is under way once a new file shows in the folder or
            # the old one changes.
            deadline = time.time() + 60
            while time.time() < deadline and child.poll() is None:
                if strays(folder, ["data.bin", "case.kem", ".kem"]) or os.path.getsize(target) != len(OLD):
                    break
                time.sleep(0.001)
            child.send_signal(signal.SIGKILL)
        finally:
            child.wait()
        check(child.returncode == -signal.SIGKILL, "killed write: killed while writing", child.returncode)
        check(contents(target) == OLD, "killed write: the old file", f"{len(contents(target))} bytes")


def console_settings_kept_when_quit_cannot_save():
    """The console's settings file, which quit rewrites, stays as it was when
    the rewrite fails; quit reports the failure and ends with its status."""
    with tempfile.TemporaryDirectory() as folder:
        settings_dir = os.path.join(folder, ".kem", "Kem-Console")
        os.makedirs(settings_dir)
        settings = os.path.join(settings_dir, "console-cfg.kem")
        history = " ".join('"a line typed some time ago, number %d"' % i for i in range(150))
        old = ("Kem []\nbuffer-lines: 500 history: [%s]\n" % history).encode()
        with open(settings, "wb") as f:
            f.write(old)
        r = run(folder, None, [(resource.RLIMIT_FSIZE, 1024)], stdin=b"print 1 + 1\nquit\n")
        out = r.stdout.decode(errors="replace")
        check(r.returncode == 0, "settings at quit: status", r.returncode)
        check("\n2\n*** Access Error: cannot open: %" + settings + "\n" in out, "settings at quit: the report", out)
        check(contents(settings) == old, "settings at quit: the old file", f"{len(contents(settings))} bytes")
        check(strays(settings_dir, ["console-cfg.kem"]) == [], "settings at quit: files left",
              strays(settings_dir, ["console-cfg.kem"]))


def address_space_runs_out():
    """More than the address space allows, read from a device or collected
    from a command, raises no-memory as a Kem error that a script can catch."""
    if SANITIZED:
        print("SKIP address-space limits: the sanitizer reserves address space of its own")
        return
    with tempfile.TemporaryDirectory() as folder:
        r = run(folder, "prin read %/proc/self/status")
        size = [line.split()[1] for line in r.stdout.decode().split("\n") if line.startswith("VmSize:")]
        if r.returncode != 0 or not size:
            check(False, "the address space at start", r.stdout + r.stderr)
            return
        limit = (int(size[0]) << 10) + (1 << 28)
        cases = [
            ("read", "read/binary %/dev/zero"),
            ("call", 'call/output "cat /dev/zero" s: make binary! 0'),
        ]
        for name, code in cases:
            r = run(folder, "e: try [%s] print [e/type e/id] print e" % code, [(resource.RLIMIT_AS, limit)])
            out = r.stdout.decode(errors="replace")
            check(r.returncode == 0 and out.startswith("internal no-memory\n*** Internal Error: not enough memory\n"),
                  f"{name} past the address space", f"status {r.returncode}, output {out!r}, "
                  f"error {r.stderr.decode(errors='replace')!r}")


def main():
    failed_writes_keep_the_file()
    killed_write_keeps_the_file()
    console_settings_kept_when_quit_cannot_save()
    address_space_runs_out()
    for f in failures:
        print("FAIL", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
