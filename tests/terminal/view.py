#!/usr/bin/env python3
"""Windows made with view and VID in a real terminal: the script runs in a
tmux pane, the tests type with send-keys and read the screen and what the
script prints once its window is closed; the terminal must be as it was
after every way a window closes.

usage: view.py path/to/kem
"""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import editor  # noqa: E402  (the pane helpers)

HELLO = """
n: 0
view [text "Hello" button "OK" [n: n + 1 unview]]
print ["after view" n]
"""

FORM = """
result: none
view [
    title "Order"
    below
    text "Name:"
    name: field 20
    urgent: check "Urgent"
    sizes: text-list data ["small" "medium" "large"] 20x4
    across
    button "OK" [
        result: reduce [copy name/text urgent/data pick sizes/data any [sizes/selected 0]]
        unview
    ]
    button "Cancel" [result: 'cancelled unview]
]
print ["result:" mold result]
"""


def run(code, *keys, wait_for):
    """Runs the code, waits for the window, types the keys and gives the
    line the script printed that starts with `prints`."""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text(wait_for)
        pane.type(*keys)
        editor.expect(pane.wait_exit(), 0, "exit status")
        pane.check_restored()
        return [line for line in pane.screen(joined=True) if line.strip()]
    finally:
        pane.close()


def printed(lines, prefix):
    found = [line for line in lines if line.startswith(prefix)]
    assert found, f"no line starting {prefix!r} in {lines}"
    return found[-1]


def test_enter_clicks_the_focused_button():
    """The button has the focus first; Enter clicks it once, its action
    closes the window and the script goes on after view."""
    editor.expect(printed(run(HELLO, "Enter", wait_for="OK"), "after view"), "after view 1")


def test_escape_closes_the_window():
    editor.expect(printed(run(HELLO, "Escape", wait_for="OK"), "after view"), "after view 0")


def test_ctrl_c_ends_the_loop():
    editor.expect(printed(run(HELLO, "C-c", wait_for="OK"), "after view"), "after view 0")


def test_tab_moves_the_focus_once():
    """From the field, one Tab reaches the check box (Space toggles it), the
    next the list, the next OK."""
    lines = run(FORM, "=Ann", "Tab", "Space", "Tab", "Tab", "Enter", wait_for="Cancel")
    got = printed(lines, "result:")
    assert got.startswith('result: ["Ann" true "'), got


def test_cancel_and_escape():
    lines = run(FORM, "Tab", "Tab", "Tab", "Tab", "Enter", wait_for="Cancel")
    editor.expect(printed(lines, "result:"), "result: cancelled")
    lines = run(FORM, "=x", "Escape", wait_for="Cancel")
    editor.expect(printed(lines, "result:"), "result: none")


def test_reaction_follows_typing():
    code = """
view [f: field 10 t: text 12 react [t/text: uppercase form any [f/text ""]] button "Done" [unview]]
print ["mirror:" t/text]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text("Done")
        pane.type("=hey")
        pane.wait_text("HEY")
        pane.type("Escape")
        editor.expect(pane.wait_exit(), 0, "exit status")
        pane.check_restored()
        editor.expect(printed(pane.screen(joined=True), "mirror:"), "mirror: HEY")
    finally:
        pane.close()


def test_no_wait_returns_at_once():
    code = """
r: view/no-wait [text "Hello"]
n: length? system/view/screens/1/pane
unview
print ["no-wait" mold r n length? system/view/screens/1/pane]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        editor.expect(pane.wait_exit(), 0, "exit status")
        pane.check_restored()
        editor.expect(printed(pane.screen(joined=True), "no-wait"), "no-wait false 1 0")
    finally:
        pane.close()


LOG = """
log-file: clean-path %log.txt
log: func [x] [write/append log-file rejoin [form reduce x newline]]
"""


def log(pane):
    return [line for line in (pane.file("log.txt") or "").split("\n") if line]


def wait_log(pane, lines):
    pane.wait(lambda: log(pane) == lines, f"the log {lines}, not {log(pane)}")


def test_enter_in_fields_runs_their_actor():
    """Enter, and Ctrl-J, in a field run its enter actor (given as a bare
    block too); in a drop-down too; on a button Enter clicks it once."""
    code = LOG + """
view [
    f: field 10 [log ["field" f/text]]
    d: drop-down 6 on-enter [log "drop-down"]
    button "x" [log "x" unview]
]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text("x")
        pane.type("=ab", "Enter")
        wait_log(pane, ["field ab"])
        pane.type("=c", "C-j")
        wait_log(pane, ["field ab", "field abc"])
        pane.type("Tab", "Enter")
        wait_log(pane, ["field ab", "field abc", "drop-down"])
        pane.type("Tab", "Enter")
        wait_log(pane, ["field ab", "field abc", "drop-down", "x"])
        pane.check_restored()
    finally:
        pane.close()


def test_a_second_window_over_one_made_without_waiting():
    """A window opened with view over one made by view/no-wait is drawn and
    takes the keys; when it closes the first is drawn again where it was. A
    group box there (it once read a screen of no cells) draws its frame."""
    code = LOG + """
view/no-wait [text "first"]
view [group-box "G" 12x3 [] button "x" [log "x" unview]]
log ["after" length? system/view/screens/1/pane]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text("x")
        screen = "\n".join(pane.screen())
        assert "┌G" in screen and "first" not in screen, screen
        pane.type("Enter")
        wait_log(pane, ["x", "after 1"])
        pane.check_restored()
        screen = "\n".join(pane.screen())
        assert "first" in screen and "┌G" not in screen, screen
    finally:
        pane.close()


def test_the_first_drag_drops():
    """A loose face pressed, moved one cell and released runs on-drop at its
    new place, on the very first drag, inside a panel with room to spare."""
    code = LOG + """
view [panel 20x4 [base 3x1 "L" loose on-drop [log ["drop" face/offset]]]]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text("L")
        pane.type("=\x1b[<0;3;3M\x1b[<32;4;3M\x1b[<0;4;3m")
        wait_log(pane, ["drop 2x1"])
        pane.type("Escape")
        pane.check_restored()
    finally:
        pane.close()


def test_no_position_answer_is_left_for_the_shell():
    """An actor that prints makes the GUI ask where the cursor is; when the
    window closes at once, the terminal's answer is read, not left for the
    shell that ran the script."""
    code = """
view [button "x" [print "bye" unview]]
"""
    pane = editor.Pane(code, width=60, height=16, leftover=True)
    try:
        pane.wait_text("x")
        pane.type("Enter")
        pane.check_restored()
        editor.expect(pane.file("leftover"), "", "input left unread")
    finally:
        pane.close()


def test_timers_run_through_a_wait():
    """A timer of a window made without waiting runs while the script waits,
    and its face is drawn anew; a wait in an actor keeps the window's timers
    (which cannot fire while an actor runs otherwise) and drawing going."""
    code = LOG + """
n: 0
view/no-wait [t: text "tick 0" rate 20 on-time [n: n + 1 t/text: rejoin ["tick " n]]]
loop 100 [wait 0.05 if n > 3 [break]]
log n
ask "next? "
unview
m: 0
view [
    s: text "step 0" rate 20 on-time [m: m + 1 s/text: rejoin ["step " m]]
    button "go" [m0: m loop 100 [wait 0.05 if m > (m0 + 3) [break]] log [m - m0 > 3 m] unview]
]
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait(lambda: log(pane), "the first count")
        n = log(pane)[0]
        assert int(n) > 3, n
        pane.wait_text(f"tick {n}")
        pane.wait_text("next? ")
        pane.type("Enter")
        pane.wait_text("go")
        pane.type("Enter")
        pane.wait(lambda: len(log(pane)) == 2, "the second count")
        grew, m = log(pane)[1].split()
        editor.expect(grew, "true", "the timer fired in the actor's wait")
        pane.wait_text(f"step {m}")
        pane.check_restored()
    finally:
        pane.close()


def test_ctrl_c_ends_a_wait():
    """Ctrl-C during a wait that shows a window ends the wait at once and
    closes the GUI; the script goes on with the terminal as it was."""
    code = LOG + """
view/no-wait [text "waiting"]
wait 30
log "after"
wait 0.1
log "slept"
"""
    pane = editor.Pane(code, width=60, height=16)
    try:
        pane.wait_text("waiting")
        pane.type("C-c")
        wait_log(pane, ["after", "slept"])
        pane.check_restored()
    finally:
        pane.close()


def test_request_file_and_dir_by_keys():
    """The requesters are windows of the GUI: Down and Enter in the folder
    list enter a sub-folder, Right goes to the files, Enter takes a name,
    and the action button gives the file; the folder requester the same
    way gives the folder."""
    code = LOG + """
make-dir/deep %pick/sub/
write %pick/a.txt "" write %pick/sub/c.txt ""
change-dir %pick/
log ["file" mold find request-file %pick/]
log ["dir" mold find request-dir %pick/]
"""
    # The requesters are large layouts: collecting at every tenth safe point
    # a build takes half a minute to lay out each, so this pane collects at
    # every fiftieth, as the rest of the suite does, and waits longer.
    stress = "KEM_GC_PERIOD=50; export KEM_GC_PERIOD;" if os.environ.get("KEM_GC_PERIOD") else ""
    pane = editor.Pane(code, width=80, height=36, shell_prefix=stress)
    slow = 4 * editor.TIMEOUT
    try:
        pane.wait_text(" Open ", slow)
        pane.type("Down", "Enter", "Right", "Enter")
        pane.wait_text("Selected:  c.txt")
        pane.type("Tab", "Tab", "Enter")
        wait_log(pane, ["file %pick/sub/c.txt"])
        pane.wait_text(" OK ", slow)
        pane.type("Down", "Enter", "Tab", "Tab", "Enter")
        wait_log(pane, ["file %pick/sub/c.txt", "dir %pick/sub/"])
        pane.check_restored()
    finally:
        pane.close()


if __name__ == "__main__":
    sys.exit(editor.run_tests([t for n, t in list(globals().items()) if n.startswith("test_")], sys.argv))
