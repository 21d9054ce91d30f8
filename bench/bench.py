#!/usr/bin/env python3
"""What ipmod.exe costs around the commands it runs, under Wine, against reference programs.

Runs each build in the end-to-end harness's scenarios (network namespace with made-up adapters,
its own prefix with the stand-in netsh, a tmux console) while one more Wine process keeps the
prefix's wineserver and system processes warm, and prints one table: each figure is the median
[min..max] of RUNS runs, beside a baseline measured in the same run.

  bench.py BUILD_DIR...   e.g. bench.py build/win64 build/win32
Each build directory holds ipmod.exe, tools/fake-netsh/netsh.exe and bench/ipmod-bench-probe.exe.
Needs root (namespaces), tmux, Wine; run it through `make bench`. IPMOD_BENCH_RUNS sets the
number of runs (5), IPMOD_BENCH_GOLDEN the golden prefix (build/bench/golden-prefix).

A build runs by the route its tests take (tests/support/wine-gate route): a 32-bit one natively
or through qemu-i386, and the table says which; figures taken through qemu-i386 are comparable
only with their own baselines. A build this machine cannot run at all is not measured, and a
figure that cannot be taken is not either: the table says why in their place, and goes on.
"""

import contextlib
import os
import re
import select
import signal
import statistics
import subprocess
import sys
import threading
import time
from typing import Callable, Dict, List, Optional, Tuple

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))
import harness  # noqa: E402
from harness import Adapter, Reply, Scenario, gbk  # noqa: E402
from wineconsole import (WINE, WINESERVER, HarnessError, program_bits,  # noqa: E402
                         windows_path)

GATE = os.path.join(HERE, "..", "tests", "support", "wine-gate")

RUNS = int(os.environ.get("IPMOD_BENCH_RUNS", "5"))
WAIT_MS = 3000
CHOICE_PROMPT = "请选择你需要修改的连接名称"
ADDRESS_PROMPT = "请输入IP地址"
GATEWAY_PROMPT = "请输入网关"
MASK_PROMPT = "请输入子网掩码"
RESULT = "修改成功"           # the address step's success message
READ_BACK = "当前设置：IP：192.0.2.99"  # the read-back line of the address the bench types
READY = "bench-ready"
DONE = "bench-done"
KB = 1024
MB = 1024 * KB
SIZES = [KB, MB, 16 * MB]


def block_of_output() -> bytes:
    """1 KB of netsh-like output holding the word the address step looks for."""
    head = gbk("确定。\r\n")
    line = b"Ok. netsh bench output line, padded to a fixed length ...........\r\n"
    body = head + line * ((KB - len(head)) // len(line) + 1)
    return body[:KB - 2] + b"\r\n"


def adapters(count: int) -> List[Adapter]:
    return [Adapter(f"bn{i}", "02:00:5e:20:00:%02x" % (i + 1), f"192.0.2.{10 + i}/24",
                    f"以太网 {i + 1}") for i in range(count)]


def wine_pids(namespace: str, name: str, with_arguments: bool = False) -> List[int]:
    """Linux pids of the Wine processes in the namespace running the program file `name`
    (Wine names the process after it, without ".exe" when started by a bare name); with
    `with_arguments`, only those started with arguments. Its command line is the program and
    its arguments, after whatever ran it: Wine's loader, and qemu-i386 for 32-bit code run
    through it."""
    done = harness.run(["ip", "netns", "pids", namespace], check=False)
    names = {name.lower(), os.path.splitext(name)[0].lower()}
    pids = []
    for pid in done.stdout.decode().split():
        try:
            with open(f"/proc/{pid}/comm") as comm:
                if comm.read().strip().lower() not in names:
                    continue
            with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                words = [w for w in cmdline.read().split(b"\0") if w]
        except OSError:
            continue
        program = next((i for i, word in enumerate(words)
                        if re.split(rb"[\\/]", word)[-1].lower() == name.lower().encode()), 0)
        if len(words) > program + 1 or not with_arguments:
            pids.append(int(pid))
    return pids


def wineserver_pid(prefix: str) -> Optional[int]:
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/comm") as comm:
                if not comm.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{entry}/environ", "rb") as environ:
                if f"WINEPREFIX={prefix}".encode() in environ.read().split(b"\0"):
                    return int(entry)
        except OSError:
            continue
    return None


def cpu_ms(pid: int) -> float:
    """Processor time (user and kernel) of all threads of a process so far, from the
    scheduler's nanosecond counts."""
    total = 0
    for task in os.listdir(f"/proc/{pid}/task"):
        try:
            with open(f"/proc/{pid}/task/{task}/schedstat") as stat:
                total += int(stat.read().split()[0])
        except OSError:
            pass  # a thread that has just ended
    return total / 1e6


def settle(pid: int, ceiling: float = 10.0) -> None:
    """Waits until a process has done starting up, which takes longer for 32-bit code through
    qemu-i386: less than 1 ms of processor time in 100 ms. One that does not settle within
    `ceiling` seconds is measured as it is."""
    deadline = time.monotonic() + ceiling
    last = cpu_ms(pid)
    while time.monotonic() < deadline:
        time.sleep(0.1)
        now = cpu_ms(pid)
        if now - last < 1.0:
            return
        last = now


def peak_kb(pid: int) -> int:
    with open(f"/proc/{pid}/status") as status:
        return int(re.search(r"VmHWM:\s+(\d+)", status.read()).group(1))


class PaneWatch:
    """A tmux control-mode client on a console: the pane's output bytes with the time each
    piece reached the terminal."""

    def __init__(self, console: Scenario):
        self.process = subprocess.Popen(["tmux", "-S", console.socket, "-C", "attach", "-t",
                                         "main"], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.pieces: List[tuple] = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self) -> None:
        for line in self.process.stdout:
            now = time.monotonic()
            if line.startswith(b"%output "):
                data = line.split(b" ", 2)[2].rstrip(b"\n")
                data = re.sub(rb"\\([0-7]{3})", lambda m: bytes([int(m.group(1), 8)]), data)
                with self.lock:
                    self.pieces.append((now, data))

    def wait_text(self, text: str, after: float, timeout: float = 60.0) -> float:
        """The time at which `text` had reached the pane, counting only output after `after`."""
        wanted = text.encode("utf-8")
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self.lock:
                seen = b""
                for stamp, data in self.pieces:
                    if stamp < after:
                        continue
                    seen += data
                    if wanted in seen:
                        return stamp
            time.sleep(0.002)
        raise HarnessError(f"timed out waiting for {text!r} in the pane")

    def close(self) -> None:
        self.process.stdin.close()
        self.process.terminate()
        self.process.wait(timeout=10)


class BenchScenario(Scenario):
    """A harness scenario whose program runs again and again in the same warm prefix and
    namespace, with stand-in and probe settings (the scenario's `environment`) changed between
    runs. With `trace_server`, the prefix's wineserver traces every request from the program's
    first run on."""

    def __init__(self, *args, trace_server: bool = False, **kwargs):
        super().__init__(*args, **kwargs)
        self.trace_server = trace_server
        self.trace_path = os.path.join(self.directory, "server-trace.log")
        self._helpers: List[subprocess.Popen] = []
        self.watch: Optional[PaneWatch] = None

    def _start_helpers(self) -> None:
        """The prefix's wineserver, tracing every request, in place of the one the set-up left
        running: the server of every process from here on. The world's waiting process went
        with the old one and is started again."""
        env = harness.wine_environment(self.prefix)
        if wineserver_pid(self.prefix) is not None:
            harness.run([WINESERVER, "-k"], env=env, check=False, timeout=30)
            harness.run([WINESERVER, "-w"], env=env, check=False, timeout=30)
        trace = open(self.trace_path, "wb")
        self._helpers.append(subprocess.Popen([WINESERVER, "-f", "-d1"], env=env,
                                              stdout=trace, stderr=trace))
        pid = self._helpers[-1].pid

        def listening() -> bool:  # it works in its server folder, beside its socket
            try:
                return os.path.exists(os.path.join(os.readlink(f"/proc/{pid}/cwd"), "socket"))
            except OSError:
                return False

        harness.poll(listening, "the tracing wineserver", error=HarnessError)
        self.world.start()

    def _launch(self) -> None:
        if self.trace_server and not self._helpers:
            self._start_helpers()
        super()._launch()

    def end_run(self) -> None:
        """Ends the program's run and its console."""
        if self.watch is not None:
            self.watch.close()
            self.watch = None
        pids = wine_pids(self.ident, "ipmod.exe")
        self.stop()
        for pid in pids:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        harness.poll(lambda: not wine_pids(self.ident, "ipmod.exe"), "the last run to end",
                     error=HarnessError)
        try:
            os.unlink(self.socket)  # the next console's server must not meet the old one's
        except FileNotFoundError:
            pass
        for path in (self.status_path, self.log_path):
            if os.path.exists(path):
                os.unlink(path)

    def launch(self, watch: bool = False) -> None:
        # A status file of its own per run: the shell of an ended run may still write its own.
        self._runs = getattr(self, "_runs", 0) + 1
        self.status_path = os.path.join(self.directory, f"status-{self._runs}")
        try:
            self._launch()
        except HarnessError:  # a tmux server that was still going away; once more
            time.sleep(0.2)
            self.stop()
            self._launch()
        if watch:
            self.watch = PaneWatch(self)

    def __exit__(self, kind, error, trace) -> bool:
        if self.watch is not None:
            self.watch.close()
            self.watch = None
        try:
            return super().__exit__(kind, error, trace)
        finally:
            for helper in self._helpers:
                helper.kill()
                helper.wait(timeout=30)
            self._helpers.clear()

    def program_pid(self) -> int:
        return harness.poll(lambda: (wine_pids(self.ident, "ipmod.exe") or [0])[0],
                            "the program's Wine process", error=HarnessError)

    def text_shown(self, text: str) -> bool:
        return text in self.tmux("capture-pane", "-p", "-t", "main").stdout.decode(
            "utf-8", errors="replace")

    def wait_shown(self, text: str, timeout: float = 30.0) -> float:
        """Polls the pane closely; the time at which `text` was first seen."""
        deadline = time.monotonic() + timeout
        while not self.text_shown(text):
            if time.monotonic() > deadline:
                raise HarnessError(f"timed out waiting for {text!r}\n{self.screen()}")
            time.sleep(0.001)
        return time.monotonic()

    def netsh_started(self) -> None:
        harness.poll(lambda: len(self.netsh_calls()) >= 1, "netsh to start", 60,
                     error=HarnessError)


# ----------------------------------------------------------------------------- subjects

class Subject:
    """One program to measure: ipmod.exe of a build, or the build's probe in one mode."""

    def __init__(self, build: "Build", kind: str, mode: str = "", stored: bool = False):
        self.build = build
        self.kind = kind  # "ipmod" or "probe"
        self.mode = mode  # probe mode: "", "pipe" or "file"
        self.stored = stored  # the adapters' settings stored, the stand-in netsh the model
        program = build.program if kind == "ipmod" else build.probe
        self.config = harness.Config(program, build.netsh, None, build.golden,
                                     os.path.dirname(build.golden), build.bits)

    def scenario(self, count: int = 1, extra: Optional[Dict[str, str]] = None,
                 **kwargs) -> BenchScenario:
        env = dict(extra or {})
        if self.mode:
            env["IPMOD_BENCH_PROBE"] = self.mode
        scenario = BenchScenario(adapters(count), config=self.config, environment=env,
                                 default_reply=Reply(block_of_output()), stored=self.stored,
                                 **kwargs)
        return scenario

    @property
    def ready_text(self) -> str:
        return CHOICE_PROMPT if self.kind == "ipmod" else READY

    @property
    def result_text(self) -> str:
        return RESULT if self.kind == "ipmod" else DONE

    def go_to_last_input(self, s: BenchScenario) -> None:
        """Takes the run to the line that starts the command, typed but not yet entered."""
        s.wait_for(self.ready_text)
        s.wait_for_keyboard()
        if self.kind == "ipmod":
            for prompt, line in ((None, "1"), (ADDRESS_PROMPT, "192.0.2.99"),
                                 (GATEWAY_PROMPT, "192.0.2.1")):
                if prompt:
                    s.wait_for(prompt)
                s.type_line(line)
            s.wait_for(MASK_PROMPT)
            s.type("255.255.255.0")
        else:
            s.type("go")


class Build:
    def __init__(self, directory: str, golden: str):
        self.directory = os.path.abspath(directory)
        self.name = os.path.basename(self.directory)
        self.program = os.path.join(self.directory, "ipmod.exe")
        self.netsh = os.path.join(self.directory, "tools", "fake-netsh", "netsh.exe")
        self.probe = os.path.join(self.directory, "bench", "ipmod-bench-probe.exe")
        self.golden = golden
        for path in (self.program, self.netsh, self.probe):
            if not os.path.isfile(path):
                raise HarnessError(f"not built: {path}")
        self.bits = program_bits(self.program)


# ----------------------------------------------------------------------------- measurements

def interleaved(subjects: List[Subject], one_run: Callable[[Subject, BenchScenario], object],
                count: int = 1, extra: Optional[Dict[str, str]] = None) -> List[List[object]]:
    """RUNS runs of `one_run` for each subject, each in its own warm scenario, taking turns, so
    that the load of the machine weighs alike on a figure and its baselines. A first run of
    each program, not counted, warms its prefix up."""
    with contextlib.ExitStack() as stack:
        scenarios = []
        for subject in subjects:
            scenario = stack.enter_context(subject.scenario(count, extra))
            if subject.mode == "file":
                scenario.environment["IPMOD_BENCH_PROBE"] = "file:" + windows_path(
                    os.path.join(scenario.directory, "netsh-output.bin"))
            scenario.wait_shown(subject.ready_text)
            scenarios.append(scenario)
        results: List[List[object]] = [[] for _ in subjects]
        for _ in range(RUNS):
            for subject, scenario, result in zip(subjects, scenarios, results):
                scenario.end_run()
                result.append(one_run(subject, scenario))
    return results


def startup_run(subject: Subject, s: BenchScenario) -> float:
    """Milliseconds from launch to the first prompt on screen."""
    started = time.monotonic()
    s.launch()
    return (s.wait_shown(subject.ready_text) - started) * 1000


def waiting_run(subject: Subject, s: BenchScenario) -> Dict[str, float]:
    """Processor time of the program and of the prefix's wineserver per second of waiting for
    a netsh that takes WAIT_MS."""
    s.launch()
    subject.go_to_last_input(s)
    s.key("Enter")
    s.netsh_started()
    pid = s.program_pid()
    server = wineserver_pid(s.prefix)
    time.sleep(0.2)  # the interpreter has started netsh: only the wait is left
    before = (time.monotonic(), cpu_ms(pid), cpu_ms(server))
    time.sleep(2.0)
    after = (time.monotonic(), cpu_ms(pid), cpu_ms(server))
    seconds = after[0] - before[0]
    s.wait_for(subject.result_text, timeout=30)
    return {"program": (after[1] - before[1]) / seconds,
            "server": (after[2] - before[2]) / seconds}


_TRACE_LINE = re.compile(r"^([0-9a-f]{4,}): (\w+)\( ")  # a request; its reply has "() ="


def measure_requests(subject: Subject) -> Dict[str, float]:
    """Wine server requests of the program's main thread while netsh sleeps, from the
    wineserver's own trace: the window runs from netsh's opening of its log (just before its
    sleep) to its opening of its reply (just after). A poll arms one timer: one set_timer."""
    with subject.scenario(1, {"FAKE_NETSH_SLEEP_MS": str(WAIT_MS)}, trace_server=True) as s:
        subject.go_to_last_input(s)
        pid = s.program_pid()
        s.key("Enter")
        s.wait_for(subject.result_text, timeout=60)
        time.sleep(0.3)
        with open(s.trace_path, "rb") as trace:
            lines = trace.read().decode("latin-1").splitlines()

    def first(what: str, after: int, found: Callable[[str], bool]) -> int:
        line = next((i for i in range(after, len(lines)) if found(lines[i])), None)
        if line is None:
            raise HarnessError(f"the wineserver trace ({len(lines)} lines) holds no {what}")
        return line

    thread = lines[first(f"init_first_thread for the program's pid {pid}", 0,
                         lambda line: f"init_first_thread( unix_pid={pid}," in line)].split(":")[0]
    start = first("opening of netsh.log", 0,
                  lambda line: " create_file(" in line and 'netsh.log"' in line)
    end = first("opening of reply.bin after netsh.log", start + 1,
                lambda line: " create_file(" in line and 'reply.bin"' in line)
    requests = []
    for line in lines[start:end]:
        match = _TRACE_LINE.match(line)
        if match and match.group(1) == thread:
            requests.append(match.group(2))
    polls = requests.count("set_timer")
    return {"requests": len(requests), "polls": polls,
            "per_poll": len(requests) / polls if polls else 0.0,
            "per_second": len(requests) / (WAIT_MS / 1000)}


def netsh_ended(s: BenchScenario) -> float:
    """Starts the command and waits for the end of netsh's process; the moment it ended."""
    s.key("Enter")
    s.netsh_started()
    netsh = harness.poll(lambda: wine_pids(s.ident, "netsh.exe", True), "netsh's process",
                         error=HarnessError)
    handle = os.pidfd_open(netsh[0])
    select.select([handle], [], [], 30)
    ended = time.monotonic()
    os.close(handle)
    return ended


def latency_run(subject: Subject, s: BenchScenario) -> float:
    """Milliseconds from the end of netsh's process to the result message in the pane."""
    s.launch(watch=True)
    subject.go_to_last_input(s)
    ended = netsh_ended(s)
    return (s.watch.wait_text(subject.result_text, after=ended - 0.5) - ended) * 1000


def guard_run(subject: Subject, s: BenchScenario) -> Dict[str, float]:
    """Processor time per second of the guard of a remote change, waiting for its deadline, and
    of the program beside it, waiting for the address."""
    s.launch()
    s.wait_for(CHOICE_PROMPT)
    s.wait_for_keyboard()
    s.type_line("1")
    s.wait_for(ADDRESS_PROMPT)
    guard = harness.poll(lambda: (wine_pids(s.ident, "ipmod.exe", True) or [0])[0],
                         "the guard's Wine process", error=HarnessError)
    program = next(p for p in wine_pids(s.ident, "ipmod.exe") if p != guard)
    settle(guard)
    settle(program)
    before = (time.monotonic(), cpu_ms(program), cpu_ms(guard))
    time.sleep(2.0)
    after = (time.monotonic(), cpu_ms(program), cpu_ms(guard))
    seconds = after[0] - before[0]
    return {"program": (after[1] - before[1]) / seconds, "guard": (after[2] - before[2]) / seconds}


def read_back_run(subject: Subject, s: BenchScenario) -> float:
    """Milliseconds from the end of netsh's process to the read-back line in the pane, with the
    adapters' settings stored and nothing lagging (the address is the connection's already
    from the second run on, and netsh makes the live change before it ends)."""
    s.launch(watch=True)
    subject.go_to_last_input(s)
    ended = netsh_ended(s)
    return (s.watch.wait_text(READ_BACK, after=ended - 0.5) - ended) * 1000


def output_run(subject: Subject, s: BenchScenario) -> Dict[str, float]:
    """Milliseconds from the Enter that starts the command to its result on screen, and the
    program's peak memory (VmHWM) and its growth over the peak before the command, in MB."""
    s.launch(watch=True)
    subject.go_to_last_input(s)
    pid = s.program_pid()
    before = peak_kb(pid)
    started = time.monotonic()
    s.key("Enter")
    shown = s.watch.wait_text(subject.result_text, after=started, timeout=120)
    peak = peak_kb(pid)
    return {"ms": (shown - started) * 1000, "peak": peak / 1024, "growth": (peak - before) / 1024}


def column(results: List[Dict[str, float]], key: str) -> List[float]:
    return [result[key] for result in results]


# ----------------------------------------------------------------------------- report

def spread(values: List[float], digits: int = 0) -> str:
    f = f"{{:.{digits}f}}"
    return (f.format(statistics.median(values)) + " [" + f.format(min(values)) + ".."
            + f.format(max(values)) + "]")


def size_text(size: int) -> str:
    return f"{size // MB} MB" if size >= MB else f"{size // KB} KB"


def why(error: BaseException) -> str:
    """An error in one line: what a row says in place of a figure it could not take."""
    text = str(error).strip().splitlines()
    text = text[0] if text else ""
    if not isinstance(error, HarnessError):
        text = type(error).__name__ + (f": {text}" if text else "")
    return text[:300]


def bench_build(build: Build, rows: List[List[str]]) -> None:
    ipmod = Subject(build, "ipmod")
    trivial = Subject(build, "probe")
    pipe = Subject(build, "probe", "pipe")
    name = build.name

    def row(what: str, figure: str, baseline: str, verdict: str = "") -> None:
        rows.append([name, what, figure, baseline, verdict])
        print("  " + " | ".join(rows[-1]), file=sys.stderr, flush=True)

    @contextlib.contextmanager
    def figure(what: str):
        """Takes a figure; one it cannot take becomes a row with the reason, and the rest go on."""
        try:
            yield
        except Exception as error:  # whatever it was, the table says it
            rows.append([name, f"{what}: not measured: {why(error)}"])
            print(f"  {rows[-1][1]}", file=sys.stderr, flush=True)

    for count in (1, 16):
        what = f"start-up to prompt, {count} adapter{'s' if count > 1 else ''} (ms)"
        with figure(what):
            own, base = interleaved([ipmod, trivial], startup_run, count)
            row(what, spread(own), spread(base) + " trivial program")
    extra = {"FAKE_NETSH_SLEEP_MS": str(WAIT_MS)}
    what = f"processor time while netsh runs {WAIT_MS // 1000} s (ms per s)"
    with figure(what):
        own, blocked = interleaved([ipmod, pipe], waiting_run, 1, extra)
        row(what, spread(column(own, "program"), 1),
            spread(column(blocked, "program"), 1) + " blocking read")
        row("  wineserver's processor time meanwhile (ms per s)",
            spread(column(own, "server"), 1),
            spread(column(blocked, "server"), 1) + " blocking read")
    what = "Wine server requests per poll (main thread)"
    with figure(what):
        requests = measure_requests(ipmod)
        probe_requests = measure_requests(pipe)
        row(what, f"{requests['per_poll']:.1f} ({requests['polls']} polls in {WAIT_MS // 1000} s)",
            f"{probe_requests['requests']} in {WAIT_MS // 1000} s, blocking read")
    what = "netsh exit to result on screen, no settings to read back (ms)"
    with figure(what):
        own, blocked = interleaved([ipmod, pipe], latency_run, 1, {"FAKE_NETSH_SLEEP_MS": "300"})
        row(what, spread(own, 1), spread(blocked, 1) + " blocking read")
    # The read-back against the verdict alone (the settings cannot be read: one failed registry
    # open, the verdict from netsh's word), taking turns.
    what = "netsh exit to read-back line, nothing lagging (ms)"
    with figure(what):
        stored = Subject(build, "ipmod", stored=True)
        read_back, alone = interleaved([stored, ipmod], lambda subject, s: (
            read_back_run if subject.stored else latency_run)(subject, s), 1,
            {"FAKE_NETSH_SLEEP_MS": "300"})
        added = statistics.median(read_back) - statistics.median(alone)
        row(what, spread(read_back, 1), spread(alone, 1) + " verdict alone",
            f"{added:+.1f} ms: " + ("PASS" if added <= 20 else "FAIL") + " (<= 20 ms)")
    # A remote session (SSH) with a window far longer than the run: the guard only waits.
    what = "guard's processor time while it waits (ms per s)"
    with figure(what):
        remote = Subject(build, "ipmod", stored=True)
        own = interleaved([remote], guard_run, 1,
                          {"SSH_CONNECTION": "192.0.2.99 50000 192.0.2.10 22",
                           "IPMOD_CONFIRM_SECONDS": "3600"})[0]
        row(what, spread(column(own, "guard"), 1),
            spread(column(own, "program"), 1) + " the program, waiting for a line")
    to_file = Subject(build, "probe", "file")
    times: Dict[int, float] = {}
    for size in SIZES:
        what = f"capture {size_text(size)}: Enter to result (ms)"
        with figure(what):
            own, piped, written = interleaved([ipmod, pipe, to_file], output_run, 1,
                                              {"FAKE_NETSH_REPEAT": str(size // KB)})
            times[size] = statistics.median(column(own, "ms"))
            verdict = ""
            if size > KB and KB in times:
                per_mb = (times[size] - times[KB]) / (size / MB)
                verdict = f"{per_mb:.0f} ms per MB"
                if size == SIZES[-1] and SIZES[1] in times:
                    first = (times[SIZES[1]] - times[KB]) / (SIZES[1] / MB)
                    verdict += "; linear " + ("PASS" if per_mb <= 1.5 * first else "FAIL")
            row(what, spread(column(own, "ms")),
                spread(column(piped, "ms")) + " blocking read; " + spread(column(written, "ms")) +
                " cmd > file", verdict)
            memory_verdict = ""
            if size > KB:
                memory_verdict = ("PASS" if max(column(own, "growth")) < 3 * size / MB
                                  else "FAIL") + f" (< {3 * size / MB:.0f} MB)"
            row(f"capture {size_text(size)}: peak memory growth (MB)",
                spread(column(own, "growth"), 1) +
                f" (VmHWM {statistics.median(column(own, 'peak')):.0f})",
                spread(column(piped, "growth"), 1) + " blocking read", memory_verdict)
    row("size of ipmod.exe (bytes)", str(os.path.getsize(build.program)),
        f"{os.path.getsize(build.probe)} probe")


def route(bits: int) -> Tuple[bool, str]:
    """How this machine runs the code of `bits`-bit programs under Wine (True and the route, as
    for the tests: natively or through qemu-i386), or why it cannot (False and the reason)."""
    done = subprocess.run([GATE, "route", str(bits)], stdout=subprocess.PIPE, text=True)
    return done.returncode == 0, done.stdout.strip()


def print_table(rows: List[List[str]]) -> None:
    """Rows of five columns; a row of two (build, text) is a note that spans the rest."""
    header = ["build", "figure (median [min..max])", "ipmod.exe", "baseline", "check"]
    full = [r for r in rows if len(r) == len(header)] + [header]
    widths = [max(len(r[i]) for r in full) for i in range(len(header))]
    lines = [" | ".join(c.ljust(w) for c, w in zip(header, widths)).rstrip(),
             "-|-".join("-" * w for w in widths)]
    lines += [" | ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip() for r in rows]
    print("\n".join(lines))


def main(argv: List[str]) -> int:
    if not argv:
        sys.stderr.write(__doc__)
        return 2
    rows: List[List[str]] = []

    def note(name: str, text: str) -> None:
        rows.append([name, text])
        print(f"== {name}: {text}", file=sys.stderr, flush=True)

    golden = os.path.abspath(os.environ.get("IPMOD_BENCH_GOLDEN", "build/bench/golden-prefix"))
    try:
        harness.check_machine()
        os.makedirs(os.path.dirname(golden), exist_ok=True)
        machine = None
    except (HarnessError, OSError) as error:
        machine = why(error)
    for directory in argv:
        name = os.path.basename(os.path.abspath(directory))
        if machine:
            note(name, f"not measured: {machine}")
            continue
        try:
            build = Build(directory, golden)
        except (HarnessError, OSError) as error:
            note(name, f"not measured: {why(error)}")
            continue
        runs, how = route(build.bits)
        if not runs:
            note(name, f"not measured: this machine cannot run {build.bits}-bit Windows "
                 f"programs: {how}")
            continue
        if "qemu" in how:
            note(name, f"{how}: comparable only with the baselines of {name} (and its own "
                 "earlier figures through the same route), not with a build run natively")
        else:
            note(name, how)
        print(f"== {name}: {RUNS} runs per figure", file=sys.stderr, flush=True)
        try:
            harness.golden_prefix(Subject(build, "ipmod").config)
        except Exception as error:  # whatever it was, the table says it
            note(name, f"not measured: no prefix to measure in: {why(error)}")
            continue
        bench_build(build, rows)
    print(f"{RUNS} runs per figure; {os.cpu_count()} cores")
    print_table(rows)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
