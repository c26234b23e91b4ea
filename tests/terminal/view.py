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


if __name__ == "__main__":
    sys.exit(editor.run_tests([t for n, t in list(globals().items()) if n.startswith("test_")], sys.argv))
