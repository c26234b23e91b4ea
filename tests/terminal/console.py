#!/usr/bin/env python3
"""The console in a real terminal: `kem` without a script in a tmux pane,
typed at with send-keys (the panes and helpers of editor.py).

usage: console.py path/to/kem [test-name ...]
"""
import os
import shutil
import sys
import tempfile
import time

import editor
from editor import Pane, expect


def console(folder=None, width=60, height=20, shell_prefix="", args=""):
    # The shell that runs kem must outlive a Ctrl-C: a trap (not an ignore,
    # which kem would inherit) keeps it.
    pane = Pane(None, width=width, height=height, folder=folder, shell_prefix=shell_prefix + " trap : INT;",
                args=args)
    pane.wait_prompt(">> ")
    return pane


def enter(pane, *keys, prompt=">> "):
    """Types the keys and Enter, then waits for the next prompt below."""
    row = pane.cursor()[1]
    pane.type(*keys, "Enter")
    pane.wait_prompt(prompt, below=row)


def rows(pane):
    return [line.rstrip() for line in pane.screen()]


# ---- the tests

def test_banner_errors_help_and_quit_return():
    """What a person meets first: the banner, an error report, help, and
    quit/return, whose status comes back with the terminal as it was."""
    pane = console(height=30)
    try:
        expect(rows(pane)[:3], ["--== Kem 0.6.6 ==--", "Type HELP for starting information.", ""], "the banner")
        enter(pane, "=foo")
        enter(pane, "=help first")
        expect(rows(pane)[3:18], [">> foo", "*** Script Error: foo has no value", "*** Where: catch",
                                  "*** Near : foo", "*** Stack:", "", ">> help first", "USAGE:", "     FIRST s", "",
                                  "DESCRIPTION:", "     Returns the first value in a series.",
                                  "     FIRST is a function! value.", "", "ARGUMENTS:"], "the screen")
        enter(pane, "=print 1 +", prompt="")
        pane.wait_text("*** Script Error: + is missing its value2 argument")
        pane.type("=quit/return 3", "Enter")
        expect(pane.wait_exit(), 3, "status")
        expect(pane.file("after"), pane.file("before"), "terminal modes")
    finally:
        pane.close()

def test_lines_results_and_open_input():
    """Results, input left open with its cue, Escape, and quit back to the shell."""
    pane = console()
    try:
        enter(pane, "=1 + 2")
        enter(pane, "=[", prompt="[    ")
        enter(pane, "=4", prompt="[    ")
        enter(pane, "=]")
        enter(pane, "=(", prompt="(    ")
        row = pane.cursor()[1]
        pane.type("=1", "Escape")
        pane.wait_prompt(">> ", below=row)
        enter(pane, "=print {a", prompt="{    ")
        enter(pane, "=b}")
        expect(rows(pane)[3:17], [">> 1 + 2", "== 3", ">> [", "[    4", "[    ]", "== [", "    4", "]",
                                  ">> (", "(    1", "(escape)", ">> print {a", "{    b}", "a"], "the screen")
        pane.type("=q", "Enter")
        pane.check_restored()
    finally:
        pane.close()


def test_history_across_restarts():
    """Lines entered are kept in the settings file and come back with Up."""
    folder = tempfile.mkdtemp(prefix="kem-console-")
    try:
        pane = console(folder)
        try:
            enter(pane, "=x: 41")
            enter(pane, "=x + 1")
            pane.type("=q", "Enter")
            pane.check_restored()
        finally:
            pane.close()
        settings = os.path.join(folder, ".kem", "Kem-Console", "console-cfg.kem")
        with open(settings, encoding="utf-8") as f:
            assert 'history: ["q" "x + 1" "x: 41"]' in f.read(), "the saved history"
        pane = console(folder)
        try:
            pane.type("Up", "Up")
            pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> x + 1", "the newest line of the last run")
            pane.type("Up")
            pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> x: 41", "the line before it")
            enter(pane)
            pane.wait_text("== 41")
            pane.type("C-d")
            pane.check_restored()
        finally:
            pane.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def test_debug_prompt():
    """The debugger's prompt: Enter and n step to the next event, :word shows
    a value, watch shows a word at each stop, a line that does not load is
    reported and asked again, c goes on to the end, the lines typed at the
    prompt leave the history, and q halts the debugged code."""
    pane = console(width=80, height=60)
    try:
        enter(pane, "=f: func [n] [n * 2]")
        enter(pane, "=debug [x: f 3 y: x + 1]", prompt="debug> ")
        expect(rows(pane)[6:10], ["-----> EVAL x:", "Input: x: f 3 y: x + 1", "", "-empty stack-"], "the first stop")
        enter(pane, prompt="debug> ")
        pane.wait_text("-----> PUSH x:")
        enter(pane, "=n", prompt="debug> ")
        pane.wait_text("-----> EVAL f")
        enter(pane, "=:f", prompt="debug> ")
        pane.wait_text("  > n         : ")
        enter(pane, "=watch x", prompt="debug> ")
        enter(pane, "=next", prompt="debug> ")
        pane.wait_text("Watch: x: unset")
        enter(pane, "=:[", prompt="debug> ")
        pane.wait_text("*** Syntax Error: (line 1) missing ] at [")
        enter(pane, "=c")
        enter(pane, "=y")
        pane.wait_text("== 7")
        pane.type("Up", "Up")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> debug [x: f 3 y: x + 1]", "the history without the prompt's lines")
        pane.type("C-a", "C-k")
        enter(pane, "=debug [print 1 print 2]", prompt="debug> ")
        enter(pane, "=q")
        pane.wait_text("(halted)")
        expect([line for line in rows(pane) if line in ("1", "2")], [], "nothing printed after q")
        pane.type("C-d")
        pane.check_restored()
    finally:
        pane.close()


def test_completion():
    """Tab with one candidate completes; with several it lists them and the
    completed text comes back, also inside input left open, where the listing
    adds no line to the input."""
    pane = console()
    try:
        pane.type("=appe", "Tab")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> append", "one candidate completed")
        pane.type("=/on", "Tab")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> append/only", "a refinement completed")
        pane.type("C-a", "C-k")
        row = pane.cursor()[1]
        pane.type("=prin", "Tab")
        pane.wait(lambda: pane.cursor()[1] > row and rows(pane)[pane.cursor()[1]] == ">> prin", "the listing")
        expect(rows(pane)[row], ">> prin print", "the candidates")
        enter(pane, "=t 7")
        pane.wait_text("7")
        enter(pane, "=s: {", prompt="{    ")
        row = pane.cursor()[1]
        pane.type("=prin", "Tab")
        pane.wait(lambda: pane.cursor()[1] > row and rows(pane)[pane.cursor()[1]] == "{    prin", "the cue again")
        enter(pane, "=t}")
        enter(pane, "=length? s")
        pane.wait_text("== 6")
        pane.type("C-c")
        pane.check_restored()
    finally:
        pane.close()


def test_file_completion():
    """File names complete from the folder; a folder that cannot be read has none."""
    pane = console()
    try:
        os.makedirs(os.path.join(pane.dir, "somedir"))
        open(os.path.join(pane.dir, "somedir", "file-one.txt"), "w").close()
        pane.type("=ls %some", "Tab")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> ls %somedir/", "the folder completed")
        pane.type("=f", "Tab")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> ls %somedir/file-one.txt", "the file completed")
        pane.type("C-a", "C-k")
        enter(pane, "=read: func [f] [1 / 0]")
        pane.type("=%some", "Tab", "=x")
        pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> %some    x", "a Tab inserted")
        pane.type("C-a", "C-k", "=q", "Enter")
        pane.check_restored()
    finally:
        pane.close()


def test_unreadable_script_at_a_terminal():
    """At a terminal, where a person types, the console starts after the
    report of a script that cannot be read."""
    pane = console(args="missing.kem")
    try:
        expect(rows(pane)[:6], ["*** Access Error: cannot open: %missing.kem", "*** Where: read", "*** Near : none",
                                "*** Stack:", "--== Kem 0.6.6 ==--", "Type HELP for starting information."],
               "the report, then the banner")
        enter(pane, "=print 1 + 1")
        pane.wait_text("2")
        pane.type("=q", "Enter")
        pane.check_restored()
    finally:
        pane.close()


def test_ctrl_c_while_code_runs():
    """Ctrl-C while code runs ends the console silently with status 0, the
    terminal as it was, and the lines typed in the session kept: the next
    start shows them with Up."""
    folder = tempfile.mkdtemp(prefix="kem-console-")
    try:
        pane = console(folder)
        try:
            enter(pane, "=x: 41")
            pane.type('=print "looping" forever []', "Enter")
            pane.wait(lambda: "looping" in rows(pane), "the loop to start")
            pane.type("C-c")
            pane.check_restored()
            # The terminal itself may echo the key; kem prints nothing.
            expect([line for line in rows(pane)[3:] if line and line != "^C"],
                   [">> x: 41", "== 41", '>> print "looping" forever []', "looping"], "the screen")
        finally:
            pane.close()
        pane = console(folder)
        try:
            pane.type("Up")
            pane.wait(lambda: rows(pane)[pane.cursor()[1]] == '>> print "looping" forever []',
                      "the line that was interrupted")
            pane.type("Up")
            pane.wait(lambda: rows(pane)[pane.cursor()[1]] == ">> x: 41", "the line before it")
            pane.type("C-a", "C-k", "C-d")
            pane.check_restored()
        finally:
            pane.close()
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def test_hang_up_ends_the_console():
    """A terminal that goes away is the end of input: the console ends as quit
    does, with status 0, does not spin on failed reads, and runs nothing of
    a line that was not entered."""
    # HUP ignored, so the failed read and not the signal ends the console.
    pane = console(shell_prefix="trap '' HUP;")
    try:
        pane.type('=write %typed.txt "x"')
        pane.wait_text('>> write %typed.txt "x"')
        pane.tmux("kill-server")
        deadline = time.time() + editor.TIMEOUT
        while pane.file("status") is None and time.time() < deadline:
            time.sleep(0.05)
        expect(pane.file("status"), "0", "kem's status after the hang-up")
        assert not os.path.exists(os.path.join(pane.dir, "typed.txt")), "the line not entered was run"
    finally:
        pane.close()


TESTS = [value for name, value in sorted(globals().items()) if name.startswith("test_")]


if __name__ == "__main__":
    sys.exit(editor.run_tests(TESTS, sys.argv))
