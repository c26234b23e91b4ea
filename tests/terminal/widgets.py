#!/usr/bin/env python3
"""Widgets of the terminal GUI in a real terminal: a window with a field, a
button and a text list is made through the platform's members and run by
its event loop in a tmux pane; the tests type with send-keys, send SGR mouse
reports, and read the screen and the events the script logs.

usage: widgets.py path/to/kem
"""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import editor  # noqa: E402  (the pane helpers)

WINDOW = """
system/view/auto-sync?: false
log: func [x] [write/append %log.txt rejoin [x newline]]
append system/view/handlers reduce ['test func [face event] [
    switch event/type [
        click [log rejoin ["click " face/type]]
        change [log rejoin ["change " face/type " " mold face/text " " mold face/selected]]
    ]
    none
]]
mk: func [spec] [make face! spec]
f: mk [type: 'field offset: 1x1 size: 10x1 text: copy "" flags: [focusable]]
b: mk [type: 'button offset: 1x2 size: 6x1 text: "OK" flags: [focusable]]
l: mk [type: 'text-list offset: 1x3 size: 10x3 data: ["one" "two" "three"] selected: 1 flags: [focusable]]
w: mk [type: 'window offset: 0x0 size: 20x7 pane: reduce [f b l]]
foreach x w/pane [x/parent: w]
h: system/view/platform/make-view w system/view/platform/make-null-handle
w/state: reduce [h 0 none copy [1]]
foreach x w/pane [x/state: reduce [system/view/platform/make-view x h 0 none copy [1]]]
system/view/platform/show-window h
system/view/platform/mouse-event?: true
system/view/platform/do-event-loop false
print ["text:" mold f/text "selected:" l/selected]
"""


def log(pane):
    return (pane.file("log.txt") or "").split("\n")


def wait_log(pane, line):
    pane.wait(lambda: line in log(pane), f"{line!r} in the log, not {log(pane)}")


def test_keys_and_mouse():
    """Typing edits the field (each edit a change event); Tab moves the focus
    to the button, where Enter clicks it; Tab again and Down selects the next
    item; an SGR click on the button clicks it; Ctrl-C ends the loop and the
    terminal is as it was."""
    pane = editor.Pane(WINDOW, width=40, height=12)
    try:
        pane.wait_text("three")
        pane.type("=hi")
        wait_log(pane, 'change field "hi" none')
        pane.wait_text(" hi")
        pane.type("Tab", "Enter")
        wait_log(pane, "click button")
        pane.type("Tab", "Down")
        wait_log(pane, 'change text-list {one^/^[[7mtwo^/^[[27mthree^/} 2')
        before = log(pane).count("click button")
        pane.type("=\x1b[<0;3;3M\x1b[<0;3;3m")
        pane.wait(lambda: log(pane).count("click button") == before + 1, "a click from the mouse")
        pane.type("C-c")
        pane.wait_text('text: "hi" selected: 2')
        pane.check_restored()
    finally:
        pane.close()


def test_error_in_a_handler_keeps_the_loop():
    """An error in an event handler is reported and dropped: the loop goes
    on, and Shift-Tab moves the focus back to the field."""
    code = WINDOW.replace("none\n]]", "if event/type = 'key [1 / 0]\n    none\n]]", 1)
    pane = editor.Pane(code, width=40, height=12)
    try:
        pane.wait_text("three")
        pane.type("=a")
        wait_log(pane, 'change field "a" none')
        pane.type("Tab", "BTab", "=b")
        wait_log(pane, 'change field "ab" none')
        pane.type("C-c")
        pane.wait_text('text: "ab"')
        pane.check_restored()
    finally:
        pane.close()


if __name__ == "__main__":
    sys.exit(editor.run_tests([t for n, t in list(globals().items()) if n.startswith("test_")], sys.argv))
