#!/usr/bin/env python3
"""End-to-end runs of ipmod.exe, the 32-bit or the 64-bit build, under Wine, one isolated
scenario at a time.

Scenarios run in worlds (see World): a network namespace, and a Wine prefix copied from one
golden prefix per test run, whose netsh.exe in system32 and syswow64 (the system directory of
32-bit programs) is the project's stand-in netsh (used because WINEDLLOVERRIDES says
netsh.exe=n), with a wineserver and Wine's system processes that stay up. The scenarios of a
test run share a few worlds, one scenario at a time, so that Wine starts once per world. Each
`Scenario` (a `Sandbox` with a console) makes the world its own:
- made-up adapters as the namespace's links (port-less bridges with fixed MACs, one or more
  documentation range addresses each, or, for an unplugged cable, down and without any; IPv6
  off, a default route, a resolv.conf of its own);
- the connection names, and on request each adapter's stored settings as Windows keeps them,
  in place of the last scenario's, by one `reg import` run inside the namespace;
- the stand-in told its mode: answering as told (the default), or a model of Windows whose
  accepted commands change the stored settings and, through tests/e2e/live-change.sh, the
  namespace's live addresses, routes and resolv.conf (see Lease for what a switch to DHCP
  gets);
- a copy of ipmod.exe in a folder of its own;
and the program, started inside the namespace in a tmux console of 120x40 on a private socket,
or with standard input from a FIFO and/or standard output to a file. (tools/sandbox-run starts
it in a Sandbox in the terminal instead.)

The test drives it by typing lines, polls the pane for expected text, reads the screen back
with colours, the stand-in's call log, the stored and live settings and the program's exit
status. When a scenario ends, whatever happened, every process it started is ended and its
folder removed; leftovers of aborted runs (owner process gone) are removed on the next run.

Settings come from the environment:
  IPMOD_E2E_PROGRAM   path of the built ipmod.exe (either build)
  IPMOD_WINE_BITS     32 or 64: the build under test (optional: taken from the program; when
                      set, the program must be of that kind). A 32-bit run needs a golden
                      prefix with Wine's 32-bit system files (package wine32)
  IPMOD_E2E_NETSH     path of the built stand-in netsh.exe
  IPMOD_E2E_PLANTED   path of the marker program planted beside the program (optional)
  IPMOD_E2E_GOLDEN    golden prefix to use (made here, under a lock, when missing or out of
                      date), beside which the worlds are kept; without it each test process
                      makes a private one and removes it at exit, and each scenario a world of
                      its own

Command line (used by CTest):
  harness.py golden PREFIX NETSH     the golden prefix for IPMOD_WINE_BITS, made unless the one
                                     of an earlier run serves; no worlds beside it yet
  harness.py remove-worlds PREFIX    removes the worlds beside it; the prefix stays for next time
"""

import atexit
import fcntl
import hashlib
import ipaddress
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import time
from dataclasses import dataclass
from typing import Dict, List, Optional, Sequence, Tuple, Union

# The Wine and console support shared with the other suites that drive a program in tmux.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import wineconsole  # noqa: E402
from wineconsole import (WINE, WINESERVER, Console, HarnessError, poll,  # noqa: E402
                         prefix_starts, run, system_directory, wine_bits, windows_path)

TAG = "ipmod-e2e"
NETWORK_KEY = ("HKLM\\SYSTEM\\CurrentControlSet\\Control\\Network\\"
               "{4D36E972-E325-11CE-BFC1-08002BE10318}")
CONNECTION_KEY = NETWORK_KEY + "\\%s\\Connection"
INTERFACES = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces"
INTERFACES_KEY = INTERFACES + "\\%s"
# The stand-in netsh's live half: run natively by Wine inside the scenario's namespaces.
LIVE_CHANGE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "live-change.sh")

# Files of a prefix that Wine never writes after wineboot: scenario copies share them with the
# golden prefix through hard links. Everything else (the registry files above all, which Wine
# rewrites in place) is copied.
SHARED_SUFFIXES = {".dll", ".exe", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb", ".nls",
                   ".ax", ".ds", ".com", ".msstyles", ".icm"}
GOLDEN_READY = ".ipmod-e2e-golden-ready"
WINE_INF = "/usr/share/wine/wine.inf"


# ----------------------------------------------------------------------------- helpers

def wine_environment(prefix: str, extra: Optional[Dict[str, str]] = None) -> Dict[str, str]:
    """A clean environment for Wine commands of one prefix, in which the stand-in netsh in
    the system directories wins over Wine's own."""
    return wineconsole.wine_environment(
        prefix, {"WINEDLLOVERRIDES": "netsh.exe=n", **(extra or {})})


def wine_in_namespace(namespace: str, env: Dict[str, str], *args: str) -> List[str]:
    """The Linux command line that runs the Wine command `args` inside the network namespace,
    with exactly the environment `env`."""
    return (["ip", "netns", "exec", namespace, "env", "-i"] +
            [f"{k}={v}" for k, v in env.items()] + [WINE, *args])


def pid_alive(pid: int) -> bool:
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    return True


def check_machine() -> None:
    """Fails loudly when this machine cannot run the suite (it needs root for namespaces)."""
    if os.geteuid() != 0:
        raise HarnessError("the end-to-end suite needs root: it makes network namespaces")
    for tool in ("ip", "tmux", WINESERVER):
        if shutil.which(tool) is None:
            raise HarnessError(f"the end-to-end suite needs '{tool}' on PATH")
    if not os.access(WINE, os.X_OK):
        raise HarnessError(f"the end-to-end suite needs {WINE}")
    done = run(["ip", "netns", "list"], check=False)
    if done.returncode != 0:
        raise HarnessError("'ip netns' is not available: " + done.stderr.decode(errors="replace"))


# ----------------------------------------------------------------------------- golden prefix

def make_golden(prefix: str, netsh: str, bits: int) -> None:
    """Makes a fresh prefix at `prefix` for programs of `bits`, with the stand-in netsh in its
    system directories."""
    if os.path.exists(prefix):
        remove_golden(prefix)
    os.makedirs(os.path.dirname(os.path.abspath(prefix)), exist_ok=True)
    env = wine_environment(prefix)
    run([WINE, "wineboot", "-i"], env=env, timeout=300)
    run([WINESERVER, "-w"], env=env, timeout=300)
    if not prefix_starts(prefix, bits):
        raise HarnessError(f"the new prefix {prefix} cannot start {bits}-bit programs: "
                           f"no {system_directory(prefix, bits)}/kernel32.dll (wine32 missing?)")
    install_netsh(prefix, netsh)
    with open(os.path.join(prefix, GOLDEN_READY), "w") as stamp:
        stamp.write(f"{os.getpid()}\n")


def install_netsh(prefix: str, netsh: str) -> None:
    """Puts the stand-in over netsh.exe in system32 and, where the prefix has one, syswow64
    (a 32-bit program's system directory), unless it is there already."""
    with open(netsh, "rb") as wanted:
        data = wanted.read()
    for bits in (64, 32):
        directory = system_directory(prefix, bits)
        if os.path.isdir(directory):
            _replace_file(os.path.join(directory, "netsh.exe"), data)


def _replace_file(target: str, data: bytes) -> None:
    """Writes `data` to `target` unless it holds it already.

    Writes a new file and renames it, so copies that hard-link the old one keep it."""
    try:
        with open(target, "rb") as present:
            if present.read() == data:
                return
    except FileNotFoundError:
        pass
    temporary = target + ".new"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, target)


def remove_golden(prefix: str) -> None:
    if os.path.isdir(prefix):
        run([WINESERVER, "-k"], env=wine_environment(prefix), check=False, timeout=30)
    shutil.rmtree(prefix, ignore_errors=True)


_private_golden: Optional[str] = None


def ensure_golden(prefix: str, netsh: str, bits: int) -> None:
    """Makes the golden prefix, under a lock, unless one is there from an earlier run that is
    made to the end, for programs of `bits`, and that the Wine installed now would not update
    first (it compares wine.inf's time with the prefix's stamp); gives it the stand-in netsh."""
    with open(prefix + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            with open(os.path.join(prefix, ".update-timestamp")) as stamp:
                current = stamp.read().split()[0] == str(int(os.stat(WINE_INF).st_mtime))
        except (OSError, IndexError):
            current = False
        if current and os.path.exists(os.path.join(prefix, GOLDEN_READY)) and \
                prefix_starts(prefix, bits):
            install_netsh(prefix, netsh)
        else:
            make_golden(prefix, netsh, bits)


def golden_prefix(config: "Config") -> str:
    """The golden prefix of this test run; made on first use when it is missing."""
    global _private_golden
    if config.golden:
        ensure_golden(config.golden, config.netsh, config.bits)
        return config.golden
    if _private_golden is None:
        path = os.path.join(config.work_root, f"{TAG}-{os.getpid()}-golden")
        atexit.register(remove_golden, path)
        make_golden(path, config.netsh, config.bits)
        _private_golden = path
    return _private_golden


def copy_prefix(golden: str, target: str) -> None:
    """Copies a prefix: Wine's binaries as hard links, everything else as real copies."""
    def link_or_copy(source: str, copy: str) -> None:
        if os.path.splitext(source)[1].lower() in SHARED_SUFFIXES:
            try:
                return os.link(source, copy)
            except OSError:
                pass
        shutil.copy2(source, copy)

    shutil.copytree(golden, target, symlinks=True, copy_function=link_or_copy,
                    ignore=shutil.ignore_patterns(GOLDEN_READY))


# ----------------------------------------------------------------------------- scenario

@dataclass
class Config:
    program: str
    netsh: str
    planted: Optional[str]
    golden: Optional[str]
    work_root: str
    bits: int  # 32 or 64: the kind of program ipmod.exe is
    # Where the test run keeps the worlds its scenarios share (see World); None: each scenario
    # makes a world of its own and removes it at its end.
    worlds: Optional[str] = None

    @staticmethod
    def from_environment() -> "Config":
        missing = [n for n in ("IPMOD_E2E_PROGRAM", "IPMOD_E2E_NETSH") if not os.environ.get(n)]
        if missing:
            raise HarnessError("set " + " and ".join(missing) +
                               " to the built ipmod.exe and stand-in netsh.exe")
        program = os.path.abspath(os.environ["IPMOD_E2E_PROGRAM"])
        netsh = os.path.abspath(os.environ["IPMOD_E2E_NETSH"])
        for path in (program, netsh):
            if not os.path.isfile(path):
                raise HarnessError(f"not built: {path}")
        planted = os.environ.get("IPMOD_E2E_PLANTED") or None
        if planted and not os.path.isfile(planted):
            raise HarnessError(f"not built: {planted}")
        golden = os.environ.get("IPMOD_E2E_GOLDEN") or None
        if golden:
            golden = os.path.abspath(golden)
        # Scenario prefixes sit beside the golden one, so that hard links work.
        root = os.path.dirname(golden) if golden else "/tmp"
        return Config(program, netsh, planted and os.path.abspath(planted), golden, root,
                      wine_bits(program), golden and os.path.join(root, "worlds"))


@dataclass
class Adapter:
    """One made-up adapter: a port-less bridge in the scenario's namespace.

    `more` adds further addresses to the link after the first; the stored settings list them
    in the order given. Live, Linux (and so Wine, and the program) lists an address of a subnet
    the link has already after those of new subnets (a secondary): give other subnets' addresses
    first where the order beyond the first address matters. The same holds for addresses added
    later through netsh.

    With up=False it stands for an unplugged cable: the link is down and has no address, while
    its stored settings are seeded as if it had them (Wine reports a down link through GetIfEntry
    dwOperStatus 0 and GetAdaptersAddresses OperStatus 2, and no address for it). The stand-in
    netsh then stores changes as usual and changes nothing live but the DNS list."""
    link: str                      # Linux link name, at most 15 bytes
    mac: str
    address: str                   # with prefix length, e.g. "192.0.2.10/24"
    name: Optional[str] = None     # connection name in the registry; None: no Connection key
    dhcp: bool = False             # stored settings: on DHCP, its address a lease
    auto_dns: bool = False         # stored settings: DNS automatic (NameServer "")
    more: Sequence[str] = ()       # further addresses after the first, e.g. ["192.0.2.50/24"]
    up: bool = True                # False: the link is down, with no address (cable unplugged)
    ifindex: int = 0               # filled in when the link exists

    @property
    def ip(self) -> str:
        return self.address.split("/")[0]

    @property
    def addresses(self) -> List[str]:
        """Every address, first one first, with prefix length."""
        return [self.address, *self.more]

    @property
    def adapter_name(self) -> str:
        """AdapterName as Wine's GetAdaptersInfo reports it."""
        return "{%08X-0000-0000-0000-4E6574446576}" % self.ifindex


@dataclass
class Reply:
    """What the stand-in netsh prints and returns for one call."""
    output: bytes = b""
    exit_code: int = 0


def gbk(text: str) -> bytes:
    return text.encode("gbk")


_sequence = 0
_leftovers_cleaned = False


def _scenario_id() -> str:
    global _sequence
    _sequence += 1
    return f"{TAG}-{os.getpid()}-{_sequence}"


def _owner_pid(name: str) -> Optional[int]:
    match = re.match(re.escape(TAG) + r"-(\d+)-", name)
    return int(match.group(1)) if match else None


def clean_leftovers(work_root: str) -> None:
    """Removes what scenarios of dead test processes left behind."""
    names = set()
    done = run(["ip", "netns", "list"], check=False)
    for line in done.stdout.decode(errors="replace").splitlines():
        if line.startswith(TAG + "-"):
            names.add(line.split()[0])
    for folder in ("/etc/netns", work_root, "/tmp"):
        try:
            entries = os.listdir(folder)
        except OSError:
            continue
        for entry in entries:
            if entry.startswith(TAG + "-"):
                names.add(entry[:-5] if entry.endswith(".sock") else entry)
    for name in sorted(names):
        pid = _owner_pid(name)
        if pid is None or pid == os.getpid() or pid_alive(pid):
            continue
        if name.endswith("-golden"):
            remove_golden(os.path.join(work_root, name))
            continue
        _teardown(name, os.path.join(work_root, name), f"/tmp/{name}.sock")


def _teardown(ident: str, directory: str, socket: str) -> List[str]:
    """Ends and removes everything of one scenario, a world of its own included; returns what
    went wrong (for reports)."""
    Console(directory, socket).stop()
    problems = World(directory, ident).remove()
    try:
        os.unlink(socket)
    except FileNotFoundError:
        pass
    return problems


# ----------------------------------------------------------------------------- worlds

# Set to the scenario's id for every Wine command of a scenario, and so inherited by every
# process the scenario starts: what the world ends once the scenario is over.
SCENARIO_VARIABLE = "IPMOD_E2E_SCENARIO"


class World:
    """Where scenarios run, one at a time: a network namespace, and a Wine prefix copied from
    the golden one whose wineserver stays up (wineserver -p), and with it Wine's system
    processes, from the first scenario to the last. A scenario makes the links, resolv.conf
    and registry keys its own (see Sandbox), and ends every process it started.

    Wine learns an adapter's link name and MAC once, by its index, for the life of its system
    processes: the scenarios of one world have the same links, by name and MAC (its layout)."""

    def __init__(self, directory: str, namespace: str):
        self.directory = directory
        self.namespace = namespace
        self.prefix = os.path.join(directory, "prefix")

    def make(self, golden: str) -> None:
        run(["ip", "netns", "add", self.namespace])
        run(["ip", "netns", "exec", self.namespace, "sh", "-c",
             "echo 1 > /proc/sys/net/ipv6/conf/all/disable_ipv6 && "
             "echo 1 > /proc/sys/net/ipv6/conf/default/disable_ipv6"])
        os.makedirs(f"/etc/netns/{self.namespace}", exist_ok=True)
        copy_prefix(golden, self.prefix)
        self.start()

    def start(self) -> None:
        """Starts its wineserver for good (wineserver -p), and a Wine process of no scenario that
        waits for ever: the stand-in netsh told to sleep. While a process of the world waits in
        Wine's desktop, the desktop stays, and with it the explorer.exe that came with the boot:
        Wine closes the desktop about a second after its last process has gone, and then each
        scenario's program would start an explorer.exe of its own, ended with the scenario.
        Wine's system processes come with the waiting process.
        (Neither keeps a pipe: what they inherit stays open.)"""
        subprocess.call(["ip", "netns", "exec", self.namespace, WINESERVER, "-p"],
                        env=wine_environment(self.prefix), stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        env = wine_environment(self.prefix, {"FAKE_NETSH_SLEEP_MS": "4294967295"})
        subprocess.Popen(wine_in_namespace(self.namespace, env,
                                           system_directory(self.prefix, 64) + "/netsh.exe"),
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)

    def end_scenarios(self) -> None:
        """Ends every process a scenario started (its environment names the scenario): the
        program, what it started, a guard left behind."""
        def none_left() -> bool:
            mark, found = SCENARIO_VARIABLE.encode() + b"=", False
            for pid in run(["ip", "netns", "pids", self.namespace], check=False).stdout.split():
                try:
                    with open(f"/proc/{int(pid)}/environ", "rb") as environ:
                        if any(v.startswith(mark) for v in environ.read().split(b"\0")):
                            os.kill(int(pid), signal.SIGKILL)
                            found = True
                except OSError:
                    continue  # ended meanwhile
            return not found

        poll(none_left, "the processes of a scenario to end", error=HarnessError)

    def remove(self) -> List[str]:
        """Ends its wineserver and processes and removes it; returns what went wrong."""
        problems = []
        if os.path.isdir(self.prefix):
            env = wine_environment(self.prefix)
            done = run([WINESERVER, "-k"], env=env, check=False, timeout=30)
            if done.returncode not in (0, 1):
                problems.append(f"wineserver -k: exit {done.returncode}")
            # Wait until it is gone: a later prefix may get this one's inode, and with it the
            # same server socket directory.
            run([WINESERVER, "-w"], env=env, check=False, timeout=30)
        if os.path.exists(f"/run/netns/{self.namespace}"):
            done = run(["ip", "netns", "pids", self.namespace], check=False, timeout=10)
            for pid in done.stdout.decode().split():
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except (ProcessLookupError, ValueError):
                    pass
            done = run(["ip", "netns", "del", self.namespace], check=False, timeout=30)
            if done.returncode != 0:
                problems.append("ip netns del: " + done.stderr.decode(errors="replace").strip())
        shutil.rmtree(f"/etc/netns/{self.namespace}", ignore_errors=True)
        shutil.rmtree(self.directory, ignore_errors=True)
        return problems


def _shared_world(worlds: str, number: int) -> World:
    tag = hashlib.sha1(worlds.encode()).hexdigest()[:8]
    return World(os.path.join(worlds, str(number)), f"{TAG}-w{tag}-{number}")


def lease_world(worlds: str, golden: str, layout: str) -> Tuple[World, int]:
    """A world in `worlds` with `layout` that no scenario holds, made when there is none, and
    the file descriptor whose lock holds it (closing it lets the world go)."""
    os.makedirs(worlds, exist_ok=True)
    with open(os.path.join(worlds, "choosing"), "w") as choosing:
        fcntl.flock(choosing, fcntl.LOCK_EX)
        number = 0
        while True:
            world = _shared_world(worlds, number)
            lock = os.open(world.directory + ".lock", os.O_RDWR | os.O_CREAT)
            try:
                fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                with open(os.path.join(world.directory, "layout")) as made:
                    made_for = made.read()
            except BlockingIOError:  # held
                made_for = None
            except FileNotFoundError:  # not made, or not to the end
                break
            if made_for == layout:
                return world, lock
            os.close(lock)
            number += 1
    try:
        world.remove()
        world.make(golden)
        with open(os.path.join(world.directory, "layout"), "w") as made:
            made.write(layout)
    except BaseException:
        os.close(lock)
        raise
    return world, lock


def remove_worlds(worlds: str) -> None:
    if os.path.isdir(worlds):
        for name in os.listdir(worlds):
            if name.isdigit():
                _shared_world(worlds, int(name)).remove()
        shutil.rmtree(worlds, ignore_errors=True)


DEFAULT_DNS = ("192.0.2.53", "198.51.100.53")

# The stand-in's modes (tools/fake-netsh/netsh.cpp): "script" changes nothing and answers as
# told; "windows" models Windows (stored values and live state); "stored" changes the stored
# values only; "claim" says it succeeded and changes nothing.
NETSH_MODES = ("script", "windows", "stored", "claim")


@dataclass
class Lease:
    """What a switch to DHCP gets from the stand-in netsh (FAKE_NETSH_LEASE); the DHCP server
    stored is the gateway. Only a lease that arrives is stored (DhcpIPAddress and the other
    Dhcp* values); these two leave the values of an earlier lease as they were:
    PENDING_LEASE: no address, no gateway (none has come yet);
    an address of 169.254.0.0/16, e.g. Lease("169.254.7.9", "255.255.0.0"): an automatic
    private address (no DHCP server answered), live on the link all the same.
    A link that is down gets no lease at all: its switch to DHCP leaves it pending."""
    address: str
    mask: str = "255.255.255.0"
    gateway: str = "0.0.0.0"
    dns: Sequence[str] = ()

    def value(self) -> str:
        return " ".join([self.address, self.mask, self.gateway, *self.dns])


PENDING_LEASE = Lease("0.0.0.0", "0.0.0.0", "0.0.0.0")


@dataclass
class Live:
    """An adapter's live state in the namespace, as Wine's GetAdaptersInfo reports it."""
    addresses: List[str]   # with prefix length, first one first, e.g. ["192.0.2.50/24"]
    gateway: Optional[str]  # of the adapter's default route; None without one


class Sandbox:
    """One run of ipmod.exe, without a console, in a World: its adapters as the namespace's
    links, the connection names (and, with stored=True, the stored settings) in the prefix's
    registry, the stand-in netsh told what to do, and the program in a folder of its own. Use as
    a context manager; at the end, whatever happened, every process it started is ended, and the
    world is handed on (or removed, when it is its own).

    adapters, gateway, dns: the namespace's links, default route and resolv.conf
    replies: stand-in netsh answer per call number (1-based); `default_reply` for the rest
    planted: folder of the program also holds the marker program as netsh.exe, netsh.com,
             cmd.exe, and a netsh.bat, and a folder at the front of PATH (`path_front`) holds
             netsh.exe and netsh.bat; whatever of them runs appends to `planted_calls`
    environment: variables set for every Wine command (e.g. another LANG); they win over all
    stored: seed each adapter's Tcpip Interfaces values as Windows keeps them, consistent with
             the namespace (`seeded_settings`); Adapter.dhcp, auto_dns, more say how (an
             adapter with up=False is seeded as if its link were up)
    mode: the stand-in's mode (NETSH_MODES) for every call; default "windows" with stored
             settings, else unset ("script": the behaviour of the reply settings alone)
    modes: the mode per call number (1-based), over `mode`
    lease: what a switch to DHCP gets; default: address .100 of the subnet of the adapter that
             holds the gateway (or of the first adapter), that gateway, the scenario's DNS
    Whenever stored settings or a mode are asked for, the stand-in also gets the live-change
    script (tests/e2e/live-change.sh) and the lease.
    """

    def __init__(self, adapters: Sequence[Adapter], *, gateway: str = "192.0.2.1",
                 dns: Sequence[str] = DEFAULT_DNS, replies: Optional[Dict[int, Reply]] = None,
                 default_reply: Optional[Reply] = None, planted: bool = False,
                 environment: Optional[Dict[str, str]] = None, stored: bool = False,
                 mode: Optional[str] = None, modes: Optional[Dict[int, str]] = None,
                 lease: Optional[Lease] = None, config: Optional[Config] = None):
        for asked in [mode, *(modes or {}).values()]:
            assert asked is None or asked in NETSH_MODES, asked
        self.config = config or Config.from_environment()
        self.adapters = list(adapters)
        self.gateway = gateway
        self.dns = list(dns)
        self.replies = dict(replies or {})
        self.default_reply = default_reply
        self.planted = planted
        self.environment = dict(environment or {})
        self.stored = stored
        self.mode = mode if mode is not None else ("windows" if stored else None)
        self.modes = dict(modes or {})
        self.lease = lease
        self.ident = _scenario_id()
        self.directory = os.path.join(self.config.work_root, self.ident)
        # Where a console of the scenario has its tmux socket (kept short: a socket path has a
        # length limit); the teardown ends a server there if one runs.
        self.socket = f"/tmp/{self.ident}.sock"
        # A world of its own, named after the scenario, unless the test run shares its worlds.
        self.world = None if self.config.worlds else World(self.directory, self.ident)
        self._world_lock: Optional[int] = None
        self.app = os.path.join(self.directory, "app")
        self.path_front = os.path.join(self.directory, "path-front")
        self.log_path = os.path.join(self.directory, "netsh.log")
        self.planted_log_path = os.path.join(self.directory, "planted.log")

    # -- life cycle

    def __enter__(self):
        global _leftovers_cleaned
        check_machine()
        if not _leftovers_cleaned:
            clean_leftovers(self.config.work_root)
            _leftovers_cleaned = True
        golden = golden_prefix(self.config)
        try:
            os.makedirs(self.directory)
            if self.config.worlds:
                layout = " ".join(f"{a.link}/{a.mac}" for a in self.adapters)
                self.world, self._world_lock = lease_world(self.config.worlds, golden, layout)
                self.world.end_scenarios()  # of a test process that died in its scenario
            else:
                self.world.make(golden)
            self._make_links()
            self._seed_registry()
            self._prepare_app()
            self._launch()
        except BaseException:
            self._cleanup()
            raise
        return self

    def __exit__(self, kind, error, trace) -> bool:
        if error is not None:
            sys.stderr.write(self.diagnostics())
        problems = self._cleanup()
        if problems and error is None:
            raise HarnessError(f"cleanup of {self.ident}: " + "; ".join(problems))
        return False

    def _launch(self) -> None:
        """Starts what runs in the sandbox once it is set up; nothing here."""

    def _cleanup(self) -> List[str]:
        problems = []
        if self._world_lock is not None:
            Console(self.directory, self.socket).stop()
            try:
                self.world.end_scenarios()
            except HarnessError as err:
                problems.append(str(err))
            os.close(self._world_lock)
            self._world_lock = None
        return problems + _teardown(self.ident, self.directory, self.socket)

    @property
    def namespace(self) -> str:
        return self.world.namespace

    @property
    def prefix(self) -> str:
        return self.world.prefix

    def diagnostics(self) -> str:
        """What the sandbox shows now (for failure reports)."""
        return "\n".join([f"--- scenario {self.ident}", *self._logs()]) + "\n"

    def _logs(self) -> List[str]:
        parts = []
        if os.path.exists(self.log_path):
            parts.append(f"netsh log: {self.netsh_calls()!r}")
        if os.path.exists(self.planted_log_path):
            parts.append(f"planted log: {self.planted_calls()!r}")
        return parts

    # -- set-up steps

    def _make_links(self) -> None:
        """Gives the namespace the scenario's links, in place of the last scenario's, with the
        indexes a new namespace gives them (2 on), and its resolv.conf."""
        ns = self.namespace
        present = {link["ifname"] for link in json.loads(run(["ip", "-n", ns, "-j", "link",
                                                              "show"]).stdout)}
        commands = [f"link del {a.link}" for a in self.adapters if a.link in present]
        for index, adapter in enumerate(self.adapters, 2):
            adapter.ifindex = index
            commands += [f"link add {adapter.link} index {index} type bridge",
                         f"link set {adapter.link} address {adapter.mac}"]
            if adapter.up:
                commands += [f"addr add {address} dev {adapter.link}"
                             for address in adapter.addresses]
                commands.append(f"link set {adapter.link} up")
        # The metric the stored settings name (DefaultGatewayMetric 1); none via a down link.
        gateway_adapter = self.gateway_adapter()
        if self.gateway and (gateway_adapter is None or gateway_adapter.up):
            commands.append(f"route add default via {self.gateway} metric 1")
        run(["ip", "-n", ns, "-batch", "-"], input_bytes="\n".join(commands).encode() + b"\n")
        # Written in place: the file is bind-mounted where the world's processes see it.
        with open(f"/etc/netns/{ns}/resolv.conf", "w") as resolv:
            resolv.write("".join(f"nameserver {server}\n" for server in self.dns))

    def command(self, *args: str, environment: Optional[Dict[str, str]] = None) -> List[str]:
        """The Linux command line that runs the Wine command `args` inside the namespace, with
        the prefix and the environment of the sandbox (or `environment`)."""
        env = self._environment() if environment is None else environment
        return wine_in_namespace(self.namespace, env, *args)

    def run_wine(self, *args: str, timeout=60, check=True,
                 environment: Optional[Dict[str, str]] = None) -> int:
        """Runs a Wine command inside the scenario's namespace, prefix and environment (the
        program's own, stand-in settings included, or `environment`) and returns its exit code;
        with check, raises HarnessError when it fails.

        Its output goes to a file, not a pipe: a wineserver it starts inherits the handles and
        would hold a pipe open for as long as it runs."""
        command = self.command(*args, environment=environment)
        with open(os.path.join(self.directory, "wine-command.log"), "w+b") as log:
            try:
                code = subprocess.call(command, stdin=subprocess.DEVNULL, stdout=log,
                                       stderr=subprocess.STDOUT, timeout=timeout)
            except subprocess.TimeoutExpired as err:
                raise HarnessError(f"timed out after {timeout}s: {shlex.join(command)}") from err
            if code != 0 and check:
                log.seek(0)
                raise HarnessError(f"exit {code}: {shlex.join(command)}\n"
                                   + log.read().decode(errors="replace"))
        return code

    def _seed_registry(self) -> None:
        """Removes what the last scenario left in the registry and writes the connection names,
        and the stored settings when asked for, with one `reg import` (a run of reg per value
        would cost about 60 ms each), in the world's own environment: what it starts is no
        scenario's."""
        keys: Dict[str, RegistryValues] = {}
        for adapter in self.adapters:
            if adapter.name is not None:
                keys[CONNECTION_KEY % adapter.adapter_name] = {"Name": adapter.name}
            if self.stored:
                keys[INTERFACES_KEY % adapter.adapter_name] = self.seeded_settings(adapter)
        path = os.path.join(self.directory, "seed.reg")
        with open(path, "wb") as out:
            out.write(registry_file(keys, removed=[NETWORK_KEY, INTERFACES]))
        self.run_wine("reg", "import", windows_path(path),
                      environment=wine_environment(self.prefix))

    def _prepare_app(self) -> None:
        os.makedirs(self.app)
        shutil.copy2(self.config.program, os.path.join(self.app, "ipmod.exe"))
        if self.planted:
            if not self.config.planted:
                raise HarnessError("set IPMOD_E2E_PLANTED to the built marker program")
            os.makedirs(self.path_front)
            for folder, names in ((self.app, ("netsh.exe", "netsh.com", "cmd.exe")),
                                  (self.path_front, ("netsh.exe",))):
                for name in names:
                    shutil.copy2(self.config.planted, os.path.join(folder, name))
                with open(os.path.join(folder, "netsh.bat"), "wb") as batch:
                    batch.write(b"@echo netsh.bat %*>>\"" +
                                windows_path(self.planted_log_path).encode() + b"\"\r\n")

    def _environment(self) -> Dict[str, str]:
        """The environment of every Wine command of the scenario; writes the reply files."""
        extra = {SCENARIO_VARIABLE: self.ident, "FAKE_NETSH_LOG": windows_path(self.log_path),
                 "IPMOD_E2E_PLANTED_LOG": windows_path(self.planted_log_path),
                 "TERM": "screen"}
        if self.planted:
            # Wine puts WINEPATH in front of the Windows PATH it gives the program.
            extra["WINEPATH"] = windows_path(self.path_front)
        replies = dict(self.replies)
        if self.default_reply is not None:
            replies[0] = self.default_reply
        for number, reply in replies.items():
            suffix = f"_{number}" if number else ""
            path = os.path.join(self.directory, f"reply{suffix}.bin")
            with open(path, "wb") as out:
                out.write(reply.output)
            extra["FAKE_NETSH_REPLY" + suffix] = windows_path(path)
            extra["FAKE_NETSH_EXIT" + suffix] = str(reply.exit_code)
        if self.mode is not None or self.modes:
            if self.mode is not None:
                extra["FAKE_NETSH_MODE"] = self.mode
            for number, mode in self.modes.items():
                extra[f"FAKE_NETSH_MODE_{number}"] = mode
            extra["FAKE_NETSH_LIVE"] = windows_path(LIVE_CHANGE)
            extra["FAKE_NETSH_LEASE"] = (self.lease or self.default_lease()).value()
        return wine_environment(self.prefix, {**extra, **self.environment})

    # -- stored settings

    def _subnet(self, adapter: Adapter) -> ipaddress.IPv4Network:
        return ipaddress.ip_interface(adapter.address).network

    def gateway_adapter(self) -> Optional[Adapter]:
        """The adapter whose subnet holds the scenario's gateway (the default route's link)."""
        if not self.gateway:
            return None
        gateway = ipaddress.ip_address(self.gateway)
        return next((a for a in self.adapters if gateway in self._subnet(a)), None)

    def default_lease(self) -> Lease:
        adapter = self.gateway_adapter() or (self.adapters[0] if self.adapters else None)
        if adapter is None:
            return PENDING_LEASE
        subnet = self._subnet(adapter)
        gateway = self.gateway if adapter is self.gateway_adapter() else "0.0.0.0"
        return Lease(str(subnet.network_address + 100), str(subnet.netmask), gateway, self.dns)

    def seeded_settings(self, adapter: Adapter) -> "RegistryValues":
        """The Interfaces values seeded for `adapter` with stored=True: its addresses and masks,
        first one first, the gateway when the first one's subnet holds it, NameServer from the
        scenario's DNS list ("" with auto_dns); a DHCP adapter holds them as its lease (one
        address only)."""
        mask = str(self._subnet(adapter).netmask)
        gateways = [self.gateway] if adapter is self.gateway_adapter() else []
        values: RegistryValues = {}
        assert not (adapter.dhcp and adapter.more), "a DHCP lease is one address"
        if adapter.dhcp:
            values.update(EnableDHCP=1, IPAddress=["0.0.0.0"], SubnetMask=["0.0.0.0"],
                          DefaultGateway=[], DefaultGatewayMetric=[],
                          DhcpIPAddress=adapter.ip, DhcpSubnetMask=mask,
                          DhcpDefaultGateway=gateways,
                          DhcpServer=gateways[0] if gateways else "255.255.255.255",
                          DhcpNameServer=" ".join(self.dns))
        else:
            interfaces = [ipaddress.ip_interface(a) for a in adapter.addresses]
            values.update(EnableDHCP=0, IPAddress=[str(i.ip) for i in interfaces],
                          SubnetMask=[str(i.netmask) for i in interfaces],
                          DefaultGateway=gateways, DefaultGatewayMetric=["1"] * len(gateways))
        values["NameServer"] = "" if adapter.auto_dns else ",".join(self.dns)
        return values

    def stored_settings(self, adapter: Adapter) -> Optional["RegistryValues"]:
        """The adapter's Tcpip Interfaces values as they are now: REG_DWORD as int, REG_SZ as
        str, REG_MULTI_SZ as a list of str; None when there is no such key. About 60 ms while
        a Wine process of the scenario runs (one `reg export`)."""
        path = os.path.join(self.directory, "export.reg")
        key = INTERFACES_KEY % adapter.adapter_name
        if self.run_wine("reg", "export", key, windows_path(path), "/y", check=False) != 0:
            return None
        with open(path, "rb") as exported:
            return parse_registry_file(exported.read()).get(key, {})

    # -- live state

    def live_settings(self, adapter: Adapter) -> Live:
        """The adapter's live addresses and default gateway in the namespace."""
        ns = self.namespace
        links = json.loads(run(["ip", "-n", ns, "-j", "-4", "addr", "show", "dev",
                                adapter.link]).stdout)
        addresses = [f"{info['local']}/{info['prefixlen']}"
                     for link in links for info in link.get("addr_info", [])]
        routes = json.loads(run(["ip", "-n", ns, "-j", "-4", "route", "show", "default", "dev",
                                 adapter.link]).stdout)
        return Live(addresses, next((r["gateway"] for r in routes if "gateway" in r), None))

    def live_gateways(self, adapter: Adapter) -> List[Tuple[str, int]]:
        """Every default route of the adapter's link as (gateway, metric), lowest metric first
        (the order in which the kernel lists them)."""
        routes = json.loads(run(["ip", "-n", self.namespace, "-j", "-4", "route", "show", "default",
                                 "dev", adapter.link]).stdout)
        return [(r["gateway"], r.get("metric", 0)) for r in routes if "gateway" in r]

    def live_dns(self) -> List[str]:
        """The DNS servers of the namespace's resolv.conf, in order."""
        with open(f"/etc/netns/{self.namespace}/resolv.conf") as resolv:
            return [line.split()[1] for line in resolv
                    if line.startswith("nameserver") and len(line.split()) > 1]

    # -- logs

    def netsh_calls(self) -> List[bytes]:
        """Command lines the stand-in netsh logged, in order (GBK bytes, no CR LF)."""
        return _log_lines(self.log_path)

    def console_states(self) -> List[bytes]:
        """What the console-state runs logged: b"state IN OUT ATTRIBUTE", before and after."""
        return [line for line in _log_lines(self.planted_log_path) if line.startswith(b"state ")]

    def planted_calls(self) -> List[bytes]:
        """Lines the planted programs logged (empty when none of them ran)."""
        return _log_lines(self.planted_log_path)


class Scenario(Sandbox, Console):
    """One run of ipmod.exe in a Sandbox, in a tmux console of 120x40 on a private socket, or
    with standard input from a FIFO and/or standard output to a file. Use as a context
    manager; type, wait for text and read the screen and exit status as with any Console.
    Takes the Sandbox's options, and:

    stdin:  "console" (typed in the pane) or "fifo" (`send`/`close_input`)
    stdout: "console" or "file" (read with `output_bytes`)
    console_state: the program runs inside `cmd /c`, between two runs of the marker program
             that log the console's code pages and colours (`console_states`)
    code_page: with console_state, `chcp` gives the console this code page first
    """

    def __init__(self, adapters: Sequence[Adapter], *, stdin: str = "console",
                 stdout: str = "console", console_state: bool = False,
                 code_page: Optional[int] = None, **options):
        assert stdin in ("console", "fifo") and stdout in ("console", "file")
        assert code_page is None or console_state
        Sandbox.__init__(self, adapters, **options)
        Console.__init__(self, self.directory, self.socket)
        self.stdin = stdin
        self.stdout = stdout
        self.console_state = console_state
        self.code_page = code_page
        self.output_path = os.path.join(self.directory, "output.bin")
        self.fifo_path = os.path.join(self.directory, "input.fifo")
        self._fifo: Optional[int] = None
        self.started_at = 0.0

    def __enter__(self) -> "Scenario":
        return Sandbox.__enter__(self)

    def _cleanup(self) -> List[str]:
        if self._fifo is not None:
            try:
                os.close(self._fifo)
            except OSError:
                pass
            self._fifo = None
        return Sandbox._cleanup(self)

    def diagnostics(self) -> str:
        """What the scenario shows now: screen with colours, netsh log, exit status."""
        parts = [f"--- scenario {self.ident}"]
        try:
            screen = self.screen() if os.path.exists(self.socket) else self.last_screen
            if screen is not None:
                parts.append("screen:\n" + screen.coloured())
        except Exception as err:  # diagnostics must not hide the original failure
            parts.append(f"screen unavailable: {err}")
        parts += self._logs()
        parts.append(f"exit status: {self.exit_status()!r}")
        return "\n".join(parts) + "\n"

    def _prepare_app(self) -> None:
        if self.console_state and not self.config.planted:
            raise HarnessError("set IPMOD_E2E_PLANTED to the built marker program")
        Sandbox._prepare_app(self)
        if self.console_state:
            shutil.copy2(self.config.planted, os.path.join(self.app, "console-state.exe"))

    def _launch(self) -> None:
        env = self._environment()
        redirections = ""
        if self.stdin == "fifo":
            os.mkfifo(self.fifo_path)
            redirections += " < " + shlex.quote(self.fifo_path)
        if self.stdout == "file":
            redirections += " > " + shlex.quote(self.output_path)
        program = shlex.quote(os.path.join(self.app, "ipmod.exe"))
        if self.console_state:
            state = windows_path(os.path.join(self.app, "console-state.exe")) + " --state"
            chcp = f"chcp {self.code_page} >nul & " if self.code_page else ""
            program = "cmd /c " + shlex.quote(
                f"{chcp}{state} & {windows_path(os.path.join(self.app, 'ipmod.exe'))} & {state}")
        self.started_at = time.monotonic()
        self.start("ip netns exec " + shlex.quote(self.namespace) + " env -i " +
                   " ".join(shlex.quote(f"{k}={v}") for k, v in env.items()) + " " + WINE + " " +
                   program + redirections, cwd=self.directory)
        if self.stdin == "fifo":
            self._open_fifo()

    def _open_fifo(self) -> None:
        def opened() -> bool:
            try:
                self._fifo = os.open(self.fifo_path, os.O_WRONLY | os.O_NONBLOCK)
            except OSError:
                return False
            os.set_blocking(self._fifo, True)
            return True

        poll(opened, "the program to open its standard input", error=HarnessError)

    def run_again(self) -> None:
        """Starts the program once more in the same sandbox (its folder, prefix, namespace and
        the stand-in's log kept), once the earlier run has ended; a new console shows it."""
        assert self.exit_status() is not None and self.stdin == "console", "still running"
        self.stop()
        os.unlink(self.status_path)
        self._launch()

    # -- standard input from a FIFO

    def send(self, data: bytes) -> None:
        """Writes bytes to the program's standard input (stdin="fifo")."""
        assert self._fifo is not None, "standard input is not a FIFO or is closed"
        os.write(self._fifo, data)

    def close_input(self) -> None:
        """Closes the FIFO's only writer: the program sees the end of its input."""
        assert self._fifo is not None
        os.close(self._fifo)
        self._fifo = None

    # -- output

    def output_bytes(self) -> bytes:
        """What the program wrote to its redirected standard output (stdout="file")."""
        with open(self.output_path, "rb") as out:
            return out.read()

    # -- the program's processes

    def program_processes(self) -> Dict[int, bool]:
        """The Wine processes of ipmod.exe in the namespace: pid -> whether it is a guard (the
        program started again with a guard's order)."""
        found = {}
        for pid in run(["ip", "netns", "pids", self.namespace], check=False).stdout.decode().split():
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as cmdline:
                    words = [w for w in cmdline.read().split(b"\0") if w]
            except OSError:
                continue
            if any(w.lower().endswith(b"ipmod.exe") for w in words):
                found[int(pid)] = b"--guard" in words
        return found

    def kill_program(self) -> None:
        """Kills the program's Wine process from outside, as a closed session would; its guard
        is left alone."""
        pids = [pid for pid, guard in self.program_processes().items() if not guard]
        assert pids, "the program is not running"
        for pid in pids:
            os.kill(pid, signal.SIGKILL)

    @property
    def account_path(self) -> str:
        """Where the guard leaves its account: beside the program."""
        return os.path.join(self.app, "ipmod-restore.log")


# ----------------------------------------------------------------------------- .reg files

# A key's values: REG_DWORD as int, REG_SZ as str, REG_MULTI_SZ as a list of str.
RegistryValues = Dict[str, Union[int, str, List[str]]]


def _reg_string(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def registry_file(keys: Dict[str, RegistryValues], removed: Sequence[str] = ()) -> bytes:
    """A .reg file (UTF-16 with BOM, as regedit writes them) that `reg import` turns into
    these keys and values, once the keys `removed` are gone with all below them; names stay
    Unicode whatever the code page."""
    lines = ["Windows Registry Editor Version 5.00", ""]
    lines += ["[-" + key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1) + "]" for key in removed]
    for key, values in keys.items():
        lines.append("[" + key.replace("HKLM\\", "HKEY_LOCAL_MACHINE\\", 1) + "]")
        for name, value in values.items():
            if isinstance(value, bool) or not isinstance(value, (int, str, list)):
                raise TypeError(f"{name}: {value!r}")
            if isinstance(value, int):
                data = "dword:%08x" % value
            elif isinstance(value, str):
                data = _reg_string(value)
            else:
                raw = "".join(item + "\0" for item in value) + "\0"
                data = "hex(7):" + ",".join("%02x" % b for b in raw.encode("utf-16-le"))
            lines.append(f"{_reg_string(name)}={data}")
        lines.append("")
    return ("\ufeff" + "\r\n".join(lines) + "\r\n").encode("utf-16-le")


_REG_LINE = re.compile(r'^"((?:[^"\\]|\\.)*)"=(.*)$')


def parse_registry_file(data: bytes) -> Dict[str, RegistryValues]:
    """The keys and values of a .reg file as `reg export` writes them (UTF-16), with the
    types registry_file takes; keys named as HKLM\\..."""
    text = data.decode("utf-16")
    keys: Dict[str, RegistryValues] = {}
    values: Optional[RegistryValues] = None
    for line in re.sub(r"\\\r?\n\s*", "", text).splitlines():  # continued hex lines
        if line.startswith("[") and line.endswith("]"):
            values = keys.setdefault(
                line[1:-1].replace("HKEY_LOCAL_MACHINE\\", "HKLM\\", 1), {})
            continue
        match = _REG_LINE.match(line)
        if match is None or values is None:
            continue
        name = re.sub(r"\\(.)", r"\1", match.group(1))
        data_text = match.group(2)
        if data_text.startswith('"'):
            values[name] = re.sub(r"\\(.)", r"\1", data_text[1:-1])
        elif data_text.startswith("dword:"):
            values[name] = int(data_text[6:], 16)
        elif data_text.startswith("hex(7):"):
            raw = bytes.fromhex(data_text[7:].replace(",", "")).decode("utf-16-le")
            values[name] = [item for item in raw.split("\0") if item]
        else:
            values[name] = data_text  # another type: its text as exported
    return keys


def _log_lines(path: str) -> List[bytes]:
    try:
        with open(path, "rb") as log:
            data = log.read()
    except FileNotFoundError:
        return []
    lines = data.split(b"\r\n")
    if lines and lines[-1] == b"":
        lines.pop()
    return lines


# ----------------------------------------------------------------------------- command line

def main(argv: List[str]) -> int:
    # The worlds of a test run are copies of its golden prefix, kept beside it.
    worlds = len(argv) > 1 and os.path.join(os.path.dirname(os.path.abspath(argv[1])), "worlds")
    if len(argv) == 3 and argv[0] == "golden":
        check_machine()
        remove_worlds(worlds)
        ensure_golden(os.path.abspath(argv[1]), os.path.abspath(argv[2]), wine_bits())
        return 0
    if len(argv) == 2 and argv[0] == "remove-worlds":
        remove_worlds(worlds)
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
