"""Running Windows programs under Wine in a tmux console and reading the screen back.

Shared by the test suites that drive a program from outside: the Wine environment and paths,
the bitness of the build under test (IPMOD_WINE_BITS, 32 or 64) and what it asks of a prefix,
polling with a deadline, one tmux server per console on a private socket (the program typed at
and its pane captured with colours), and the captured pane parsed into rows of coloured cells.
"""

import glob
import os
import re
import shlex
import subprocess
import termios
import time
import unicodedata
from dataclasses import dataclass
from typing import Callable, Dict, List, Mapping, Optional, Sequence

WINE = "/usr/lib/wine/wine64"
WINESERVER = "wineserver"
SCREEN_WIDTH = 120
SCREEN_HEIGHT = 40
# A ceiling for any one wait for the program: generous, for loaded machines and for 32-bit
# programs run through an emulator.
DEFAULT_TIMEOUT = 60.0
# Polls come this often at first, then less often as a wait goes on (each poll of a console
# costs a tmux client and a parse of the screen), up to POLL_SLOWEST apart.
POLL_INTERVAL = 0.03
POLL_SLOWEST = 0.25


class HarnessError(RuntimeError):
    """The test machine cannot do what a test needs (missing tool, no root, a step failed)."""


# ----------------------------------------------------------------------------- bitness

BITS_VARIABLE = "IPMOD_WINE_BITS"
_PE_MACHINES = {0x014C: 32, 0x8664: 64}


def program_bits(path: str) -> int:
    """32 or 64: the kind of Windows program at `path`, read from its PE header."""
    with open(path, "rb") as program:
        head = program.read(4096)
    if head[:2] == b"MZ" and len(head) >= 0x40:
        offset = int.from_bytes(head[0x3C:0x40], "little")
        if head[offset:offset + 4] == b"PE\0\0":
            machine = int.from_bytes(head[offset + 4:offset + 6], "little")
            if machine in _PE_MACHINES:
                return _PE_MACHINES[machine]
    raise HarnessError(f"not an i386 or x86_64 Windows program: {path}")


def wine_bits(program: Optional[str] = None) -> int:
    """The bitness of the build under test: IPMOD_WINE_BITS when set (CTest sets it), else
    that of `program`, else 64. When both are known they must agree."""
    value = os.environ.get(BITS_VARIABLE)
    if not value:
        return program_bits(program) if program else 64
    if value not in ("32", "64"):
        raise HarnessError(f"{BITS_VARIABLE} must be 32 or 64, not {value!r}")
    bits = int(value)
    if program and program_bits(program) != bits:
        raise HarnessError(f"{program} is a {program_bits(program)}-bit program, "
                           f"but {BITS_VARIABLE}={bits}")
    return bits


def system_directory(prefix: str, bits: int) -> str:
    """The system directory a program of `bits` sees in a 64-bit prefix: system32 for 64-bit
    programs, syswow64 for 32-bit ones (their cmd.exe and netsh.exe come from there)."""
    return os.path.join(prefix, "drive_c", "windows", "syswow64" if bits == 32 else "system32")


def prefix_starts(prefix: str, bits: int) -> bool:
    """Whether the prefix is made and can start programs of `bits`: one made while Wine's
    32-bit side was missing has no 32-bit system files."""
    return (os.path.isfile(os.path.join(prefix, "system.reg")) and
            os.path.isfile(os.path.join(system_directory(prefix, bits), "kernel32.dll")))


def run(args: Sequence[str], *, check=True, timeout=120, env=None,
        input_bytes=None) -> subprocess.CompletedProcess:
    """Runs a command; on failure raises HarnessError with its output."""
    try:
        done = subprocess.run(list(args), input=input_bytes, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=timeout, env=env)
    except subprocess.TimeoutExpired as err:
        raise HarnessError(f"timed out after {timeout}s: {shlex.join(args)}") from err
    if check and done.returncode != 0:
        raise HarnessError(f"exit {done.returncode}: {shlex.join(args)}\n"
                           f"{done.stdout.decode(errors='replace')}"
                           f"{done.stderr.decode(errors='replace')}")
    return done


def windows_path(path: str) -> str:
    """The Z: drive path of a Linux path, as Wine maps it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_environment(prefix: str, extra: Optional[Dict[str, str]] = None,
                     base: Optional[Mapping[str, str]] = None) -> Dict[str, str]:
    """The environment of Wine commands of one prefix: 64-bit loader (it hands a 32-bit
    program to the 32-bit one), no debug output, zh_CN locale (code page 936), no display. Built on `base` (e.g. os.environ); without it nothing
    is inherited but the basics."""
    if base is None:
        env = {
            "PATH": os.environ.get("PATH", "/usr/local/bin:/usr/bin:/bin"),
            "HOME": os.environ.get("HOME", "/root"),
            "USER": os.environ.get("USER", "root"),
        }
    else:
        env = dict(base)
    env.update(WINEPREFIX=prefix, WINELOADER=WINE, WINEARCH="win64", WINEDEBUG="-all",
               LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8")
    env.pop("DISPLAY", None)
    env.update(extra or {})
    return env


def poll(condition: Callable[[], object], what: str, timeout: float = DEFAULT_TIMEOUT, *,
         error=AssertionError, details: Optional[Callable[[], object]] = None):
    """Calls `condition()` until it gives something true and returns that. When `timeout`
    seconds pass first, raises `error` naming `what`, followed by `details()` if given."""
    start = time.monotonic()
    deadline = start + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            message = f"timed out after {timeout}s waiting for {what}"
            if details is not None:
                message += f"\n{details()}"
            raise error(message)
        time.sleep(min(POLL_SLOWEST, max(POLL_INTERVAL, (time.monotonic() - start) / 8)))


# ----------------------------------------------------------------------------- screen

COLOUR_NAMES = ["black", "red", "green", "yellow", "blue", "magenta", "cyan", "white"]


@dataclass
class Cell:
    char: str  # "" for the second column of a wide character (see Screen.columns)
    fg: Optional[str]  # None: the terminal's default foreground
    bg: Optional[str]  # None: the default background; black may also show as "black"
    bold: bool


def _colour_from_sgr(params: List[int], i: int, base: int):
    """Reads one colour from SGR parameters at i (30..37/90..97 style, or 38;5;n, 38;2;r;g;b).

    Returns (colour or None for default, next index)."""
    code = params[i]
    if code == base + 9:
        return None, i + 1
    if base <= code <= base + 7:
        return COLOUR_NAMES[code - base], i + 1
    if base + 60 <= code <= base + 67:
        return "bright-" + COLOUR_NAMES[code - base - 60], i + 1
    if code == base + 8 and i + 1 < len(params):
        if params[i + 1] == 5 and i + 2 < len(params):
            n = params[i + 2]
            if n < 8:
                return COLOUR_NAMES[n], i + 3
            if n < 16:
                return "bright-" + COLOUR_NAMES[n - 8], i + 3
            return f"palette-{n}", i + 3
        if params[i + 1] == 2 and i + 4 < len(params):
            return "rgb-%02x%02x%02x" % tuple(params[i + 2:i + 5]), i + 5
    return None, i + 1


_ESCAPE = re.compile(r"\x1b\[([0-9;:]*)([A-Za-z])|\x1b\][^\x07\x1b]*(?:\x07|\x1b\\)")


def char_width(char: str) -> int:
    return 2 if unicodedata.east_asian_width(char) in ("W", "F") else 1


class Screen:
    """One capture of the pane (`capture-pane -p -e`): rows of cells with their colours.

    Cells are characters as tmux shows them: a CJK character is one cell here (it fills two
    terminal columns). `columns` gives the row by terminal columns where they matter."""

    def __init__(self, captured: str):
        self.captured = captured
        self.rows: List[List[Cell]] = []
        fg = bg = None
        bold = False
        for line in captured.split("\n")[:SCREEN_HEIGHT]:
            cells: List[Cell] = []
            position = 0
            for match in _ESCAPE.finditer(line):
                for char in line[position:match.start()]:
                    cells.append(Cell(char, fg, bg, bold))
                position = match.end()
                if match.group(2) != "m":
                    continue
                params = [int(p) if p else 0 for p in re.split("[;:]", match.group(1))]
                i = 0
                while i < len(params):
                    code = params[i]
                    if code == 0:
                        fg = bg = None
                        bold = False
                        i += 1
                    elif code == 1:
                        bold = True
                        i += 1
                    elif code == 22:
                        bold = False
                        i += 1
                    elif 30 <= code <= 39 or 90 <= code <= 97:
                        fg, i = _colour_from_sgr(params, i, 30)
                    elif 40 <= code <= 49 or 100 <= code <= 107:
                        bg, i = _colour_from_sgr(params, i, 40)
                    else:
                        i += 1
            for char in line[position:]:
                cells.append(Cell(char, fg, bg, bold))
            self.rows.append(cells)
        while len(self.rows) < SCREEN_HEIGHT:
            self.rows.append([])

    def text(self, row: int) -> str:
        """The row's characters, trailing blanks removed."""
        return "".join(cell.char for cell in self.rows[row]).rstrip(" ")

    @property
    def lines(self) -> List[str]:
        return [self.text(row) for row in range(len(self.rows))]

    def __str__(self) -> str:
        """The screen as plain text, with a row number per line (for failure messages)."""
        last = max([i for i, line in enumerate(self.lines) if line] or [0])
        return "\n".join(f"{i:2}|{self.lines[i]}" for i in range(last + 1))

    def coloured(self) -> str:
        """The screen with colour runs marked as [colour:text] (for failure messages)."""
        out = []
        for row in range(len(self.rows)):
            if not self.text(row):
                continue
            runs = "".join(f"[{c or 'default'}:{t}]" for t, c in self.runs(row))
            out.append(f"{row:2}|{runs}")
        return "\n".join(out)

    def runs(self, row: int):
        """The row as (text, foreground) runs of equal colour, trailing blanks removed."""
        cells = self.rows[row][:len(self.text(row))]
        result = []
        for cell in cells:
            if result and result[-1][1] == cell.fg:
                result[-1] = (result[-1][0] + cell.char, cell.fg)
            else:
                result.append((cell.char, cell.fg))
        return result

    def find(self, text: str) -> List[tuple]:
        """Every (row, cell index) where `text` starts within one row."""
        hits = []
        for row, line in enumerate(self.lines):
            start = line.find(text)
            while start >= 0:
                hits.append((row, start))
                start = line.find(text, start + 1)
        return hits

    def count(self, text: str) -> int:
        return len(self.find(text))

    def colours(self, row: int, start: int, length: int) -> set:
        """The foreground colours of the cells start..start+length-1 of a row."""
        return {cell.fg for cell in self.rows[row][start:start + length]}

    def columns(self, row: int) -> List[Cell]:
        """The row with one cell per terminal column: a wide character is followed by a cell
        with no character in its colours."""
        result = []
        for cell in self.rows[row]:
            result.append(cell)
            if char_width(cell.char) == 2:
                result.append(Cell("", cell.fg, cell.bg, cell.bold))
        return result


# ----------------------------------------------------------------------------- console

class Console:
    """A console of one program: a tmux server of its own on a private socket, with one
    session "main" of SCREEN_WIDTH x SCREEN_HEIGHT whose shell runs the program once.

    Its files (script, tmux configuration, exit status) go to `directory`; `env` is the
    environment of the tmux server, and so of the shell in the pane."""

    def __init__(self, directory: str, socket: Optional[str] = None,
                 env: Optional[Dict[str, str]] = None):
        self.directory = directory
        self.socket = socket or os.path.join(directory, "tmux.sock")
        self.env = env
        self.status_path = os.path.join(directory, "status")
        self.last_screen: Optional[Screen] = None
        self.keyboard_taken = False  # by the console of the program started last

    def start(self, command: str, *, echo: bool = True, cwd: Optional[str] = None) -> None:
        """Runs the shell command line `command` in the pane; its exit status goes to
        `status_path` and the pane stays as the program left it.

        The terminal's suspend key is switched off, so Ctrl+Z reaches the program; with
        echo=False the terminal echoes nothing itself, so all that shows is the console's. The
        shell itself outlives a Ctrl+C (the program does not inherit that), so the exit status
        is still written."""
        status = shlex.quote(self.status_path)
        script = ["stty susp undef" + ("" if echo else " -echo"), "trap : INT"]
        if cwd is not None:
            script.append("cd " + shlex.quote(cwd))
        script += [command,
                   f"echo $? > {status}.part && mv {status}.part {status}",
                   "exec sleep 1000000"]
        script_path = os.path.join(self.directory, "run.sh")
        with open(script_path, "w") as out:
            out.write("\n".join(script) + "\n")
        conf_path = os.path.join(self.directory, "tmux.conf")
        with open(conf_path, "w") as out:
            out.write("set -g status off\nset -g history-limit 0\n")
        run(["tmux", "-S", self.socket, "-f", conf_path, "new-session", "-d",
             "-x", str(SCREEN_WIDTH), "-y", str(SCREEN_HEIGHT), "-s", "main",
             "sh " + shlex.quote(script_path)], env=self.env, timeout=30)
        self.keyboard_taken = False

    def stop(self) -> None:
        """Ends the tmux server, if it runs."""
        if os.path.exists(self.socket):
            run(["tmux", "-S", self.socket, "kill-server"], check=False, env=self.env,
                timeout=10)

    def tmux(self, *args: str) -> subprocess.CompletedProcess:
        return run(["tmux", "-S", self.socket, *args], env=self.env, timeout=30)

    # -- typing

    def wait_for_keyboard(self, timeout: float = DEFAULT_TIMEOUT) -> None:
        """Waits until Wine's console has taken the pane's terminal out of line mode, or the
        program has ended. Keys typed before that meet the terminal's own line editing: Enter
        arrives as a line feed. The program may run a little while before it happens, and show
        a prompt: typing and pressing keys wait for it first."""
        tty = self.terminal()

        def line_mode() -> bool:
            fd = os.open(tty, os.O_RDONLY | os.O_NOCTTY | os.O_NONBLOCK)
            try:
                return bool(termios.tcgetattr(fd)[3] & termios.ICANON)
            finally:
                os.close(fd)

        poll(lambda: not line_mode() or self.exit_status() is not None,
             "the console to take the keyboard", timeout)
        self.keyboard_taken = True

    def type(self, text: str) -> None:
        """Types text literally (UTF-8 in the pane; the console hands it on as GBK).

        Sent as hex bytes: tmux would take a trailing ";" of a literal argument for a command
        separator."""
        data = text.encode("utf-8")
        if data:
            self.key("-H", *(f"{byte:02x}" for byte in data))

    def key(self, *names: str) -> None:
        """Presses keys by tmux name, e.g. "Enter", "C-z"."""
        if not self.keyboard_taken:
            self.wait_for_keyboard()
        self.tmux("send-keys", "-t", "main", *names)

    def type_line(self, text: str) -> None:
        self.type(text)
        self.key("Enter")

    def end_input_by_keyboard(self) -> None:
        """Ctrl+Z, Enter: end of input for the console's line reading."""
        self.key("C-z")
        self.key("Enter")

    # -- observing

    def capture(self) -> str:
        """The pane as text with colour escapes."""
        captured = self.tmux("capture-pane", "-p", "-e", "-t", "main").stdout
        return captured.decode("utf-8", errors="replace")

    def screen(self) -> Screen:
        self.last_screen = Screen(self.capture())
        return self.last_screen

    def terminal(self) -> str:
        """The path of the pane's terminal, e.g. /dev/pts/3."""
        return self.tmux("display-message", "-p", "-t", "main",
                         "#{pane_tty}").stdout.decode().strip()

    def program_pid(self, name: str) -> int:
        """The Linux pid of the Wine process of the program file `name` in the pane's session
        (a 32-bit one is started through Wine's start.exe); Wine names a process after its file."""
        session = self.tmux("display-message", "-p", "-t", "main", "#{pane_pid}").stdout.strip()
        for stat in glob.glob("/proc/[0-9]*/stat"):
            try:
                with open(stat, "rb") as info:
                    pid, rest = info.read().split(b" (", 1)
                command, fields = rest.rsplit(b") ", 1)
            except (OSError, ValueError):
                continue  # ended meanwhile
            if command.decode(errors="replace") == name[:15] and fields.split()[3] == session:
                return int(pid)
        raise HarnessError(f"{name} does not run in the console")

    def exit_status(self) -> Optional[int]:
        """The program's exit status once it has ended, else None."""
        try:
            with open(self.status_path) as status:
                return int(status.read().strip())
        except FileNotFoundError:
            return None

    def wait_exit(self, timeout: float = DEFAULT_TIMEOUT) -> int:
        poll(lambda: self.exit_status() is not None, "the program to end", timeout,
             details=self.screen)
        return self.exit_status()

    def wait_until(self, condition: Callable[[Screen], bool], what: str,
                   timeout: float = DEFAULT_TIMEOUT) -> Screen:
        """Polls the pane until `condition(screen)` holds; AssertionError when it never does
        or the program ends first."""

        def shown() -> Optional[Screen]:
            screen = self.screen()
            if condition(screen):
                return screen
            status = self.exit_status()
            if status is None:
                return None
            # One more look: the last output may have landed just before the exit.
            screen = self.screen()
            if condition(screen):
                return screen
            raise AssertionError(f"program exited ({status}) before {what}\n{screen}")

        return poll(shown, what, timeout, details=lambda: self.last_screen)

    def wait_for(self, text: str, count: int = 1, timeout: float = DEFAULT_TIMEOUT) -> Screen:
        """Waits until `text` stands on the screen at least `count` times."""
        return self.wait_until(lambda s: s.count(text) >= count,
                               f"{count} x {text!r}", timeout)
