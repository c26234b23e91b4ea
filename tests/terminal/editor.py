#!/usr/bin/env python3
"""The line editor in a real terminal: `kem` runs a script that calls `ask`
in a tmux pane; the tests type with send-keys and read the screen and the
cursor. Each pane has its own tmux server socket, so runs never collide.

usage: editor.py path/to/kem [test-name ...]
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

KEM = None
# Seconds for anything to appear; a pass takes far less. A build that
# collects every few safe points lays out a window many times slower, and on
# a loaded two-core machine that can pass 15 seconds.
TIMEOUT = 60 if os.environ.get("KEM_GC_PERIOD") else 15

# A loop that numbers each line read: "3 {mold of the line}".
ASK_LOOP = """
n: 0
forever [
    s: ask ">> "
    n: n + 1
    print [n mold s]
    if s = "end" [break]
]
"""


class Pane:
    serial = 0

    def __init__(self, code, width=40, height=12, shell_prefix="", folder=None, args="", leftover=False):
        """Runs kem on a script of the code, or with the command-line args
        (shell words) when code is None; in a folder of its own (also HOME),
        or in the one given, which outlives the pane. With leftover, what kem
        left unread on the terminal's input goes to the file `leftover` (as
        cat -v shows it)."""
        Pane.serial += 1
        self.own_dir = folder is None
        self.dir = tempfile.mkdtemp(prefix="kem-editor-") if folder is None else folder
        self.socket = f"kem-editor-{os.getpid()}-{Pane.serial}"
        self.results = 0
        for name in ("status", "before", "after", "modes", "leftover"):
            if os.path.exists(os.path.join(self.dir, name)):
                os.remove(os.path.join(self.dir, name))
        script = args
        if code is not None:
            script = "case.kem"
            with open(os.path.join(self.dir, script), "w", encoding="utf-8") as f:
                f.write("Kem []\n" + code + "\n")
        with open(os.path.join(self.dir, "tmux.conf"), "w") as f:
            f.write("set -g status off\n")
        # The terminal's modes are saved before kem runs and after it ends.
        # Unread input is whatever arrives within 0.3 s of a raw read.
        unread = "stty -icanon -echo min 0 time 3; cat -v > leftover; " if leftover else ""
        command = (f"{shell_prefix} stty -g > before; '{KEM}' {script}; echo $? > status.tmp; "
                   f"stty -g > after; stty -a > modes; {unread}mv status.tmp status; sleep 60")
        # The console keeps its settings and history under HOME.
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", HOME=self.dir)
        self.tmux("-f", os.path.join(self.dir, "tmux.conf"), "new-session", "-d", "-x", str(width),
                  "-y", str(height), "-c", self.dir, "sh", "-c", command, env=env)

    def tmux(self, *args, env=None):
        return subprocess.run(["tmux", "-L", self.socket, *args], capture_output=True, text=True,
                              env=env, check=False).stdout

    def close(self):
        self.tmux("kill-server")
        if self.own_dir:
            shutil.rmtree(self.dir, ignore_errors=True)

    # ---- looking

    def screen(self, joined=False):
        # -N keeps the spaces written at the ends of rows (the prompt's); -J
        # joins the rows of a wrapped line.
        return self.tmux("capture-pane", "-p", "-J" if joined else "-N").split("\n")[:-1]

    def cursor(self):
        x, y = self.tmux("display", "-p", "#{cursor_x} #{cursor_y}").split()
        return int(x), int(y)

    def wait(self, condition, what, timeout=TIMEOUT):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if condition():
                return
            time.sleep(0.02)
        raise AssertionError(f"timed out waiting for {what}; screen:\n" + "\n".join(self.screen()))

    def prompt_row(self, prompt=">> "):
        """The row of the last prompt on the screen."""
        rows = [i for i, line in enumerate(self.screen()) if line.startswith(prompt)]
        return rows[-1]

    def wait_text(self, text, timeout=TIMEOUT):
        self.wait(lambda: any(text in line for line in self.screen()), repr(text), timeout)

    def wait_cursor(self, at):
        self.wait(lambda: self.cursor() == at, f"cursor at {at}, not {self.cursor()}")

    def file(self, name):
        try:
            with open(os.path.join(self.dir, name), encoding="utf-8") as f:
                return f.read().strip()
        except FileNotFoundError:
            return None

    def wait_exit(self):
        self.wait(lambda: self.file("status") is not None, "kem to end")
        return int(self.file("status"))

    # ---- typing: items starting with "=" are literal text, others key names

    def type(self, *items):
        for item in items:
            if item.startswith("="):
                self.tmux("send-keys", "-l", item[1:])
            else:
                self.tmux("send-keys", item)
            if item == "Escape":
                time.sleep(0.25)  # an Escape alone, not the start of a sequence

    def enter(self, *items, prompt=">> "):
        """Types, presses Enter (unless a key that ends the line came last)
        and returns the next line the loop reports, once the next prompt is
        there (keys typed before it would meet a terminal not yet raw)."""
        ending = items and (items[-1] in ("Escape", "C-c") or items == ("C-d",))
        self.type(*items, *([] if ending else ["Enter"]))
        return self.result(prompt)

    def result(self, prompt=">> "):
        self.results += 1
        prefix = f"{self.results} "
        found = []

        def reported():
            found[:] = [line[len(prefix):] for line in self.screen(joined=True) if line.startswith(prefix)]
            return bool(found)
        self.wait(reported, f"result {self.results}")
        if prompt:
            self.wait_prompt(prompt, below=self.result_row(prefix))
        return found[-1]

    def wait_prompt(self, prompt, below=-1):
        """Until the cursor stands on a prompt's row: the editor has started."""
        self.wait(lambda: self.cursor()[1] > below and self.screen()[self.cursor()[1]].startswith(prompt),
                  f"the prompt {prompt!r}")

    def result_row(self, prefix):
        return max(i for i, line in enumerate(self.screen()) if line.startswith(prefix))

    def check_restored(self):
        status = self.wait_exit()
        assert status == 0, f"kem ended with status {status}"
        assert self.file("before") == self.file("after"), "terminal modes changed"
        modes = self.file("modes").split()
        assert "icanon" in modes and "echo" in modes and "isig" in modes, modes


def expect(got, wanted, what=""):
    assert got == wanted, f"{what}: expected {wanted!r}, got {got!r}"


# ---- the tests

def test_editing_keys():
    """Every editing key, on a line that fits one row."""
    cases = [
        (["=abc"], '"abc"'),
        (["=hello", "Left", "Left", "=X"], '"helXlo"'),
        (["=world", "Home", "=A", "End", "=Z"], '"AworldZ"'),
        (["=abc", "C-a", "=X", "C-e", "=Y"], '"XabcY"'),
        (["=abcd", "C-b", "C-b", "C-f", "=X"], '"abcXd"'),
        (["=abcd", "BSpace", "Left", "Left", "BSpace"], '"bc"'),
        (["=abcd", "C-h"], '"abc"'),
        (["=abcd", "Home", "Delete", "Right", "C-d"], '"bd"'),
        (["=abcdef", "Left", "Left", "Left", "C-k"], '"abc"'),
        (["=ab", "Insert", "PageUp", "PageDown", "F1", "F5", "=c"], '"abc"'),
        (["=abc", "C-Left", "=X", "S-Right", "=Y"], '"abXcY"'),
        (["=a", "M-b"], '"ab"'),
        (["=日本語", "Left", "=x"], '"日本x語"'),
        (["=abc", "Escape"], '"abc^["'),
        (["=abc", "Left", "C-c"], '"q"'),
        (["C-d"], '"q"'),
        (["=abc", "C-n"], '""'),
    ]
    pane = Pane(ASK_LOOP)
    try:
        pane.wait_text(">> ")
        for keys, wanted in cases:
            expect(pane.enter(*keys), wanted, " ".join(keys))
        # Tab with no completion is a character, drawn as four spaces.
        pane.type("=1", "Tab", "=b")
        pane.wait_text(">> 1    b")
        expect(pane.enter(), '"1^-b"', "Tab")
        pane.enter("=end", prompt=None)
        pane.check_restored()
    finally:
        pane.close()


def test_history():
    """Up and Down through the history; a line equal to the newest is stored once."""
    pane = Pane(ASK_LOOP)
    try:
        pane.wait_text(">> ")
        for line in ["one", "two", "two", "Two"]:
            pane.enter("=" + line)
        cases = [
            (["Up"], '"Two"'),            # history: Two two one
            (["Up", "Up"], '"two"'),      # two goes to the head again: two Two two one
            (["C-p", "C-p", "C-p", "C-p", "Up"], '""'),  # past the oldest: empty
            (["Up", "Up", "Up", "Up", "Up", "Down"], '"one"'),
            (["Up", "Up", "Down", "Down"], '"one"'),  # Down shows the entry again first
            (["Up", "C-n", "C-n"], '""'),
        ]
        for keys, wanted in cases:
            expect(pane.enter(*keys), wanted, " ".join(keys))
        pane.enter("=end", prompt=None)
        pane.check_restored()
    finally:
        pane.close()


def test_hidden_input():
    """ask/hide shows stars and keeps the line out of the history."""
    code = """
        print mold ask "> "
        print mold ask/hide "Password: "
        print mold ask/hide "Again: "
        print mold ask "> "
    """
    pane = Pane(code)
    try:
        pane.wait_text("> ")
        pane.type("=visible", "Enter")
        pane.wait_text('"visible"')
        pane.wait_text("Password: ")
        pane.type("=sécret")
        pane.wait_text("Password: ******")
        pane.type("Left", "Left", "=X", "Enter")
        pane.wait_text('"sécrXet"')
        pane.wait_text("Again: ")
        pane.type("=日本")
        pane.wait_text("Again: **")
        pane.wait_cursor((9, pane.prompt_row("Again: ")))
        pane.type("Enter")
        pane.wait_text('"日本"')
        # The newest entry is the line typed before the hidden ones.
        pane.wait_prompt("> ", below=pane.prompt_row("Again: "))
        pane.type("Up", "Enter")
        pane.wait(lambda: sum(line == '"visible"' for line in pane.screen()) == 2, "the visible line again")
        assert not any("sécr" in line.split('"')[0] for line in pane.screen())
        pane.check_restored()
    finally:
        pane.close()


def test_type_ahead():
    """Lines typed while kem is busy between two asks are read as typed."""
    code = """
        print mold ask ">> "
        wait 1
        print mold ask ">> "
        print mold ask ">> "
    """
    pane = Pane(code)
    try:
        pane.wait_text(">> ")
        # The rest is typed once "one" is printed: echoed by the terminal
        # before it, it would share its row.
        pane.type("=one", "Enter")
        pane.wait_text('"one"')
        pane.type("=two", "Left", "Enter", "=three", "Enter")
        pane.wait_text('"three"')
        lines = [line for line in pane.screen() if line.startswith('"')]
        expect(lines, ['"one"', '"two"', '"three"'], "lines read")
        pane.check_restored()
    finally:
        pane.close()


def test_wrapping():
    """A line longer than the terminal wraps; the cursor moves across rows."""
    pane = Pane(ASK_LOOP, width=20, height=12)
    try:
        pane.wait_text(">> ")
        text = "abcdefghijklmnopqrstuvwxyz0123"
        pane.type("=" + text)
        pane.wait_text("rstuvwxyz0123")
        screen = pane.screen()
        expect(screen[0:2], [">> abcdefghijklmnopq", "rstuvwxyz0123"], "wrapped rows")
        pane.wait_cursor((13, 1))
        pane.type("Home")
        pane.wait_cursor((3, 0))
        pane.type(*["Right"] * 17)
        pane.wait_cursor((0, 1))
        pane.type("Left")
        pane.wait_cursor((19, 0))
        pane.type("Home", "=X")
        pane.wait_text(">> Xabcdefghijklmnop")
        expect(pane.screen()[1], "qrstuvwxyz0123", "redrawn second row")
        expect(pane.enter(), '"X' + text + '"')

        # A line that ends at the end of a row puts the cursor on the next row.
        pane.type("=" + "b" * 17)
        pane.wait_text(">> " + "b" * 17)
        row = pane.prompt_row()
        pane.wait_cursor((0, row + 1))
        expect(pane.enter(), '"' + "b" * 17 + '"')

        # A wide character that would start in the last column starts the next row.
        pane.type("=" + "c" * 16 + "日")
        pane.wait_text("日")
        row = pane.prompt_row()
        expect(pane.screen()[row:row + 2], [">> " + "c" * 16, "日"], "wide character on the next row")
        pane.wait_cursor((2, row + 1))
        pane.type("Left")
        pane.wait_cursor((0, row + 1))
        expect(pane.enter(), '"' + "c" * 16 + '日"')
        pane.enter("=end", prompt=None)
        pane.check_restored()
    finally:
        pane.close()


def test_wrapping_at_the_bottom():
    """Typing at the bottom scrolls; later redraws start at the moved prompt row."""
    code = 'loop 5 [print "filler"] ' + ASK_LOOP
    pane = Pane(code, width=20, height=6)
    try:
        pane.wait_text(">> ")
        text = "x" * 40
        pane.type("=" + text)
        pane.wait(lambda: pane.screen()[-1] == "x" * 3, "the line to scroll the screen")
        pane.type("Home", "=Y", "End", "=Z")
        pane.wait(lambda: pane.screen()[-3:] == [">> Y" + "x" * 16, "x" * 20, "xxxxZ"], "redraw after scrolling")
        expect(pane.enter(), '"Y' + text + 'Z"')
        pane.enter("=end", prompt=None)
        pane.check_restored()
    finally:
        pane.close()


def test_prompt_placement():
    """Colour sequences in the prompt take no columns; a prompt may start mid-row."""
    code = """
        print mold ask "^[[32m>> ^[[0m"
        prin "Name? " print mold ask "> "
    """
    pane = Pane(code, width=20)
    try:
        pane.wait_text(">> ")
        pane.type("=ab")
        pane.wait_cursor((5, 0))
        pane.type("Enter")
        pane.wait_text("Name? > ")
        pane.type("=" + "n" * 15)
        pane.wait_cursor((3, 3))
        expect(pane.screen()[2:4], ["Name? > " + "n" * 12, "nnn"], "rows")
        pane.type("Home", "=A")
        pane.wait_text("Name? > A" + "n" * 11)
        pane.type("Enter")
        pane.wait_text('"A' + "n" * 15 + '"')
        pane.check_restored()
    finally:
        pane.close()


def test_completion():
    """Tab calls the console's completion; errors in it are no candidates."""
    code = """
        kem-complete-ctx: make object! [
            complete-input: func [str console? /local text] [
                text: copy/part head str (index? str) - 1
                case [
                    text = "ap" [reduce [tail copy "append"]]
                    text = "s" [reduce [tail copy "s" "set" "some"]]
                    text = "boom" [1 / 0]
                    text = "jump" [throw 'out]
                    text = "clr" [clear head str copy []]
                    text = "hist" [clear system/console/history copy []]
                    true [copy []]
                ]
            ]
        ]
    """ + ASK_LOOP
    pane = Pane(code)
    try:
        pane.wait_text(">> ")
        pane.type("=ap", "Tab")
        pane.wait_text(">> append")
        expect(pane.enter("=!"), '"append!"', "one candidate")
        # Several: the candidates are listed, the line is empty, and the
        # completed text comes back at the next prompt.
        pane.type("=s", "Tab")
        pane.wait_text(">> set some")
        expect(pane.result(), '""', "the line of several candidates")
        pane.wait(lambda: pane.screen()[pane.cursor()[1]] == ">> s", "the completed text at the next prompt")
        expect(pane.enter("=et"), '"set"', "after several candidates")
        expect(pane.enter("=boom", "Tab"), '"boom^-"', "an error in completion")
        expect(pane.enter("=jump", "Tab"), '"jump^-"', "a throw out of completion")
        expect(pane.enter("=x", "Tab", "Left", "=y"), '"xy^-"', "no candidates")
        # Completion may change the line it is given, and the history.
        pane.type("=clr", "Tab")
        pane.wait_cursor((7, pane.prompt_row()))
        expect(pane.enter(), '"^-"', "a completion that clears the line")
        expect(pane.enter("=hist", "Tab", "Up"), '""', "a completion that clears the history")
        pane.enter("=end", prompt=None)
        pane.check_restored()
    finally:
        pane.close()


def test_resize():
    """A resize while the editor waits updates system/console/size."""
    code = 'print system/console/size print mold ask ">> " print system/console/size'
    pane = Pane(code, width=40, height=12)
    try:
        pane.wait_text("40x12")
        pane.wait_text(">> ")
        pane.tmux("resize-window", "-x", "30", "-y", "8")
        pane.type("=a", "Enter")
        pane.wait_text("30x8")
        pane.check_restored()
    finally:
        pane.close()


def test_signals_restore_the_terminal():
    """A signal that ends kem in the middle of an edit leaves the terminal as it was."""
    cases = [
        (signal.SIGTERM, 128 + signal.SIGTERM, None),
        (signal.SIGHUP, 128 + signal.SIGHUP, None),
        (signal.SIGSEGV, 1, "*** Runtime Error 1: access violation"),
    ]
    for sig, status, report in cases:
        pane = Pane('ask ">> "')
        try:
            pane.wait_text(">> ")
            shell = int(pane.tmux("display", "-p", "#{pane_pid}"))
            kem = int(subprocess.run(["ps", "--ppid", str(shell), "-o", "pid="], capture_output=True,
                                     text=True).stdout.split()[0])
            os.kill(kem, sig)
            expect(pane.wait_exit(), status, f"status after {sig.name}")
            expect(pane.file("after"), pane.file("before"), f"modes after {sig.name}")
            if report:
                pane.wait_text(report)
        finally:
            pane.close()


def test_hang_up_ends_input():
    """A terminal that goes away ends the edit as end of input; nothing spins."""
    # HUP ignored, so the failed read and not the signal ends the edit.
    pane = Pane('a: ask ">> " b: ask ">> " print "after"', shell_prefix="trap '' HUP;")
    try:
        pane.wait_text(">> ")
        pane.type("=typed")
        pane.wait_text(">> typed")
        pane.tmux("kill-server")
        deadline = time.time() + TIMEOUT
        while pane.file("status") is None and time.time() < deadline:
            time.sleep(0.05)
        expect(pane.file("status"), "0", "kem's status after the hang-up")
    finally:
        pane.close()


TESTS = [value for name, value in sorted(globals().items()) if name.startswith("test_")]


def run_tests(tests, argv):
    """Runs the tests against the kem named by argv[1], or those of them named
    after it; 1 when any failed."""
    global KEM
    KEM = os.path.abspath(argv[1])
    wanted = argv[2:]
    failures = 0
    for test in tests:
        if wanted and test.__name__ not in wanted:
            continue
        start = time.time()
        try:
            test()
            print(f"ok   {test.__name__} ({time.time() - start:.1f}s)")
        except AssertionError as e:
            failures += 1
            print(f"FAIL {test.__name__}: {e}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(run_tests(TESTS, sys.argv))
