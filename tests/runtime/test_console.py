#!/usr/bin/env python3
"""The real console, start-up and the runtime error report, seen from outside the program.

Drives console_probe.exe of either Windows build (IPMOD_WINE_BITS, when set, says which; the
probe must be of that kind) under Wine: in a tmux console of its own for what needs a console
(positions, colours, typed lines, keystrokes), and with plain pipes and files for the rest.
Every test ends its tmux server and its wineserver, whatever happened.

    test_console.py --probe PATH/console_probe.exe --prefix WINEPREFIX --wine-run tools/wine-run
"""

import argparse
import contextlib
import ctypes
import glob
import os
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import termios
import unittest

# The Wine and console support shared with the other suites that drive a program in tmux.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from wineconsole import (COLOUR_NAMES, DEFAULT_TIMEOUT, WINE, WINESERVER, Console,  # noqa: E402
                         Screen, poll, wine_bits, wine_environment, windows_path)

OPTIONS = None  # filled in by main()


def probe_environment():
    """The environment of this suite's Wine commands: ours, with the Wine settings on top."""
    return wine_environment(OPTIONS.prefix, base=os.environ)


# ------------------------------------------------------------------------------ the screen

def ansi_colour(console_bits):
    """The terminal colour number Wine uses for a console colour nibble."""
    return ((console_bits & 1) << 2) | (console_bits & 2) | ((console_bits & 4) >> 2) | (
        console_bits & 8)


def colour_number(name, default):
    """The terminal colour number (0-15) of a screen colour; `default` for the terminal's own.

    capture-pane shows the default white on black as 39/49, and a black background sometimes
    as 40 and sometimes as 49: as numbers both compare equal. Colours beyond the 16 stay names
    and so match no number."""
    if name is None:
        return default
    bright = name.startswith("bright-")
    base = name[len("bright-"):] if bright else name
    return COLOUR_NAMES.index(base) + (8 if bright else 0) if base in COLOUR_NAMES else name


def text_at(screen, row, column, length):
    """The characters of a run of terminal columns (a wide character fills two)."""
    return "".join(c.char for c in screen.columns(row)[column:column + length])


def colours_at(screen, row, column, length):
    """The set of (foreground, background) pairs of a run of terminal columns, with the
    terminal's default colours taken as white on black."""
    return {(colour_number(c.fg, 7), colour_number(c.bg, 0))
            for c in screen.columns(row)[column:column + length]}


# ------------------------------------------------------------------------------ the terminal

# STATUS_CONTROL_C_EXIT, the exit code of an interrupted program, as Linux sees it (its low byte).
INTERRUPTED_EXIT_STATUS = 0x3A
SYS_WRITE = 1  # system call numbers on x86_64
SYS_TGKILL = 234


@contextlib.contextmanager
def output_stopped(terminal):
    """The terminal takes no output meanwhile (as after Ctrl+S): a write to it waits."""
    fd = os.open(terminal, os.O_RDWR | os.O_NOCTTY)
    termios.tcflow(fd, termios.TCOOFF)
    try:
        yield
    finally:
        termios.tcflow(fd, termios.TCOON)
        os.close(fd)


def interrupt(pid):
    """Sends SIGINT to the main thread of process `pid`, as Wine does for the console's Ctrl+C.
    (Sent to the process, it may reach a thread whose emulated 32-bit code blocks it for good.)"""
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.syscall(SYS_TGKILL, pid, pid, signal.SIGINT) != 0:
        raise OSError(ctypes.get_errno(), "tgkill")


def writing_to(terminal):
    """Whether a thread of some process waits in a write to the terminal."""
    for task in glob.glob("/proc/[0-9]*/task/[0-9]*"):
        try:
            with open(task + "/syscall") as call:
                number, fd = call.read().split()[:2]
            if int(number) == SYS_WRITE and os.readlink(f"{task}/fd/{int(fd, 16)}") == terminal:
                return True
        except (OSError, ValueError):
            continue  # ended meanwhile, or running, or not in a system call
    return False


# ------------------------------------------------------------------------------ the tests

class ProbeTest(unittest.TestCase):
    """One scratch directory, one tmux server and one wineserver session per test."""

    @classmethod
    def setUpClass(cls):
        # Makes the prefix on first use (wine-run holds a lock while it does).
        subprocess.run([OPTIONS.wine_run, OPTIONS.prefix, "cmd.exe", "/c", "exit", "0"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=180)

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="ipmod-console-")
        self.log = os.path.join(self.dir, "probe.log")
        self.console = Console(self.dir, env=probe_environment())

    def tearDown(self):
        self.console.stop()
        subprocess.run([WINESERVER, "-k"], env=probe_environment(), check=False,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        shutil.rmtree(self.dir, ignore_errors=True)

    # -- running the probe

    def run_probe(self, mode, probe=None, cwd=None, stdin=b""):
        """Runs the probe without a console; returns its exit status."""
        done = subprocess.run([WINE, probe or OPTIONS.probe, mode, windows_path(self.log)],
                              input=stdin, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              cwd=cwd or self.dir, env=probe_environment(),
                              timeout=DEFAULT_TIMEOUT)
        self.probe_output = done.stdout
        return done.returncode

    def log_lines(self):
        try:
            with open(self.log, "rb") as log:
                return log.read().decode("ascii").splitlines()
        except FileNotFoundError:
            return []

    # -- the console

    def start_in_console(self, mode, redirect=""):
        """Starts the probe in a fresh tmux console; its exit status goes to a file."""
        self.console.start(" ".join([WINE, shlex.quote(OPTIONS.probe), mode,
                                     shlex.quote(windows_path(self.log)), redirect]),
                           echo=False)  # what shows is the console's alone
        poll(lambda: "start" in self.log_lines(), "the probe to start")
        self.console.wait_for_keyboard()

    def screen(self):
        """The pane as text with colour escapes."""
        return self.console.capture()


class WriteTextTest(ProbeTest):

    def test_positions_colours_and_literal_text(self):
        self.start_in_console("write")
        self.assertEqual(self.console.wait_exit(), 0)
        log = self.log_lines()
        raw = self.screen()
        screen = Screen(raw)
        context = "\n".join(log) + "\n" + raw

        # Every call succeeds except the one outside the screen and the one after Destroy.
        self.assertIn("results 1111111011110", log, context)
        # The attribute is the one the console had before.
        before = [line.split()[1] for line in log if line.startswith("before ")]
        after = [line.split()[1] for line in log if line.startswith("after ")]
        self.assertEqual(after, before, context)

        yellow, red, green, cyan, magenta = (ansi_colour(c) for c in (6, 4, 2, 3, 5))
        expected = [
            # row, column, text, (foreground, background)
            (0, 50, "BANNER", (yellow, 0)),
            (0, 56, "WARN", (red, 0)),  # a row alone: at the cursor
            (2, 2, "%s%d%%n 100%", (green, 0)),
            (4, 2, "BEFORE", (cyan, 0)),
            (4, 8, "NEXT", (magenta, 0)),  # the cursor came back from RESTORED
            (6, 30, "RESTORED", (ansi_colour(0xF), ansi_colour(1))),
            (8, 2, "DEFAULTS", (7, 7)),  # unknown codes: white on white
            (12, 2, "LOW16", (yellow, 0)),  # row 0x10000 + 12
            (14, 2, "TWO", (ansi_colour(0xC), 0)),
            (15, 0, "LINES", (ansi_colour(0xC), 0)),  # "\r\n" moves to the next line's start
            (18, 2, "PLAIN", (7, 0)),  # written by others: in the console's own colours
        ]
        for row, column, text, colours in expected:
            self.assertEqual(text_at(screen, row, column, len(text)), text,
                             "row %d column %d\n%s" % (row, column, context))
            self.assertEqual(colours_at(screen, row, column, len(text)), {colours},
                             "%s\n%s" % (text, context))
        # Chinese text: the row start and its colour (columns are loose for wide characters).
        self.assertEqual(text_at(screen, 10, 0, 6), "  中文", context)
        self.assertEqual(colours_at(screen, 10, 2, 4), {(ansi_colour(0xA), 0)}, context)
        for absent in ("NEVER", "GONE"):
            self.assertNotIn(absent, raw)

    def test_nothing_is_written_when_standard_output_is_a_file(self):
        output = os.path.join(self.dir, "out.txt")
        self.start_in_console("write", redirect="> '%s'" % output)
        self.assertEqual(self.console.wait_exit(), 0)
        self.assertIn("results 0000000000000", self.log_lines())
        with open(output, "rb") as f:
            self.assertEqual(f.read(), b"")
        self.assertNotIn("BANNER", self.screen())


    def test_ctrl_c_in_the_middle_of_a_write_ends_the_program_after_it(self):
        # The terminal takes no output until the Ctrl+C has reached the probe's handlers, so its
        # long write, begun at a key, is held in the middle: the write still ends in its
        # colours, and the program ends then, as interrupted, and not normally.
        self.start_in_console("interrupted-write")
        terminal = self.console.terminal()
        with output_stopped(terminal):
            self.console.type("g")
            poll(lambda: writing_to(terminal), "the probe's write to be held")
            interrupt(self.console.program_pid(os.path.basename(OPTIONS.probe)))
            poll(lambda: "interrupted" in self.log_lines(), "the Ctrl+C to reach the handlers")
        status = self.console.wait_exit()
        screen = Screen(self.screen())
        context = "\n".join(self.log_lines()) + "\n" + screen.captured
        self.assertEqual(screen.count("END"), 1, context)
        row, start = screen.find("END")[0]
        self.assertEqual(colours_at(screen, row, start, 3), {(ansi_colour(6), ansi_colour(1))},
                         context)
        self.assertNotIn("end", self.log_lines(), context)
        self.assertEqual(status, INTERRUPTED_EXIT_STATUS, context)


class ReadLineTest(ProbeTest):

    def test_typed_lines_and_the_end_of_input(self):
        self.start_in_console("read")
        for line in ("abc", "", "中文", "x y "):
            self.console.type_line(line)
        poll(lambda: len(self.log_lines()) >= 5, "four lines read")
        # Ctrl+Z, Enter: the end of input.
        self.console.end_input_by_keyboard()
        self.assertEqual(self.console.wait_exit(), 0)
        # The console's line editing shows what is typed.
        self.assertIn("abc", self.screen())
        self.assertEqual(self.log_lines(), [
            "start",
            "616263",  # the line feed trimmed
            "0a",  # an empty line keeps its line feed
            "d6d0cec4",  # typed Chinese arrives as GBK
            "78207920",  # blanks are no control bytes
            "eof",  # end of input: no line
            "again eof",  # and again on the next call
            "end",
        ], self.screen())

    def test_an_interrupted_read_gives_neither_a_line_nor_the_end_of_input(self):
        # The read comes back empty-handed before the Ctrl+C handler runs (see the probe): the
        # program is ended by the event, and the caller never sees the read return.
        self.start_in_console("interrupted-read")
        self.console.wait_exit()
        self.assertEqual(self.log_lines(), ["start"], self.screen())

    def test_long_lines_are_taken_2048_bytes_at_a_time(self):
        data = (b"a\r\n" + b"\r\n" + b"x" * 3000 + b"\n" + b"y" * 2048 + b"\n" +
                b"tab\t\r\n" + "中文".encode("gbk") + b"\n" + b"\x00rest\n" + b"ab\x00cd\n" +
                b"partial")
        self.assertEqual(self.run_probe("read", stdin=data), 0)
        self.assertEqual(self.log_lines(), [
            "start",
            "61",
            "0a",
            "78" * 2048,  # the first 2048 bytes of the long line...
            "78" * 952,  # ...and the rest of it on the next call
            "79" * 2048,  # exactly 2048 bytes: its line feed comes on its own...
            "0a",  # ...as an empty line
            "746162",  # a tab before the line end is trimmed
            "d6d0cec4",
            "-",  # a line starting with a zero byte is a line: the empty text...
            "6162",  # ...and any line is cut at its zero byte
            "7061727469616c",  # a last line without a line feed
            "eof",
            "again eof",
            "end",
        ])

    def test_keystrokes_without_echo(self):
        self.start_in_console("keys")
        self.console.type_line("secret")
        self.assertEqual(self.console.wait_exit(), 0)
        self.assertEqual(self.log_lines(), ["start", "736563726574", "end"])
        self.assertNotIn("secret", self.screen())


class StartupTest(ProbeTest):

    def current_directory(self):
        lines = self.log_lines()
        self.assertEqual(len(lines), 4, lines)
        self.assertEqual(lines[2], "ole initialised")
        return bytes.fromhex(lines[1]).decode("gbk")

    def test_the_program_directory_becomes_current(self):
        elsewhere = os.path.join(self.dir, "elsewhere")
        os.mkdir(elsewhere)
        self.assertEqual(self.run_probe("cwd", cwd=elsewhere), 0)
        self.assertEqual(self.current_directory().lower(),
                         windows_path(os.path.dirname(OPTIONS.probe)).lower())

    def test_a_double_byte_program_name_is_split_at_the_real_backslash(self):
        # "乗" is 81 5C in GBK: its second byte looks like a backslash.
        folder = os.path.join(self.dir, "程序 目录")
        os.mkdir(folder)
        probe = os.path.join(folder, "乗.exe")
        shutil.copy(OPTIONS.probe, probe)
        self.assertEqual(self.run_probe("cwd", probe=probe, cwd=self.dir), 0)
        self.assertEqual(self.current_directory().lower(), windows_path(folder).lower())

    def test_the_start_routine_result_is_ignored(self):
        self.assertEqual(self.run_probe("result"), 0)
        self.assertEqual(self.log_lines(), ["start"])


class RuntimeErrorReportTest(ProbeTest):

    def test_fatal_conditions_end_with_exit_code_minus_one(self):
        # The message box returns at once without a display; ExitProcess(-1) shows as 255.
        # Those the C++ library raises (length, uncaught) would otherwise abort (exit code 3).
        for mode in ("index0", "oom", "length", "uncaught"):
            with self.subTest(mode=mode):
                self.assertEqual(self.run_probe(mode), 255, self.probe_output)
                # Nothing after the failed check runs.
                self.assertEqual(self.log_lines(), ["start"])


def main():
    global OPTIONS
    parser = argparse.ArgumentParser()
    parser.add_argument("--probe", required=True)
    parser.add_argument("--prefix", required=True)
    parser.add_argument("--wine-run", required=True)
    OPTIONS, rest = parser.parse_known_args()
    OPTIONS.probe = os.path.abspath(OPTIONS.probe)
    OPTIONS.prefix = os.path.abspath(OPTIONS.prefix)
    wine_bits(OPTIONS.probe)  # the probe is of the build under test
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
