"""Reads Wine's relay trace: the calls a program made into the system DLLs,
with their times, and the timeline of one countdown run."""

import re
from dataclasses import dataclass, field

# What the trace must show of the program, for the checks and the timeline.
RELAY_INCLUDE = [
    "kernel32.GetStartupInfoA",
    "kernel32.ExitProcess",
    "user32.RegisterClassA",
    "user32.CreateWindowExA",
    "user32.SetTimer",
    "user32.KillTimer",
    "user32.DestroyWindow",
    "user32.PostQuitMessage",
    "user32.ExitWindowsEx",
    "advapi32.OpenProcessToken",
    "advapi32.LookupPrivilegeValueA",
    "advapi32.AdjustTokenPrivileges",
]

WS_VISIBLE = 0x10000000
EWX_REBOOT = 0x2

_CALL = re.compile(
    r"^(?P<time>\d+\.\d+):(?P<pid>[0-9a-f]+):(?P<tid>[0-9a-f]+):Call (?P<dll>[\w]+)\.(?P<name>\w+)"
    r"\((?P<args>.*)\) ret=(?P<ret>[0-9a-f]+)$")
_RET = re.compile(
    r"^(?P<time>\d+\.\d+):(?P<pid>[0-9a-f]+):(?P<tid>[0-9a-f]+):Ret  (?P<dll>[\w]+)\.(?P<name>\w+)"
    r"\(\) retval=(?P<value>[0-9a-f]+) ret=(?P<ret>[0-9a-f]+)$")
_ARG = re.compile(r'([0-9a-f]+)(?: L?"((?:[^"\\]|\\.)*)")?')


@dataclass
class Call:
    time: float  # seconds, Wine's clock
    pid: int
    tid: int
    dll: str
    name: str
    args: list  # integers
    strings: list  # the string shown beside an argument, or None
    caller: int  # return address
    result: int = None  # None when the call never returned (ExitProcess)
    returned: float = None

    def __str__(self):
        shown = [f'{a:08x} "{s}"' if s is not None else f"{a:x}" for a, s in zip(self.args, self.strings)]
        return f"{self.name}({', '.join(shown)})"


def read_calls(path):
    """Every relayed call in the trace, in order, with its return value."""
    calls, open_calls = [], {}
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.rstrip("\n")
            m = _CALL.match(line)
            if m:
                args, strings = [], []
                for a in _ARG.finditer(m["args"]):
                    args.append(int(a[1], 16))
                    strings.append(a[2])
                call = Call(float(m["time"]), int(m["pid"], 16), int(m["tid"], 16), m["dll"].lower(), m["name"],
                            args, strings, int(m["ret"], 16))
                calls.append(call)
                open_calls.setdefault(call.tid, []).append(call)
                continue
            m = _RET.match(line)
            if m:
                stack = open_calls.get(int(m["tid"], 16), [])
                for i in range(len(stack) - 1, -1, -1):
                    if stack[i].name == m["name"]:
                        stack[i].result = int(m["value"], 16)
                        stack[i].returned = float(m["time"])
                        del stack[i:]
                        break
    return calls


def program_calls(calls, image):
    """The calls the program's own code made: those returning into its image
    (a pe.Image, loaded at its preferred base as Wine does)."""
    return [c for c in calls if image.holds(c.caller)]


@dataclass
class Run:
    """What one run of the countdown did, read from its own calls."""
    calls: list
    start: float = None
    window: Call = None
    ticks: list = field(default_factory=list)  # KillTimer calls, one a tick
    destroyed: Call = None
    quit_posted: Call = None
    privilege: list = field(default_factory=list)
    restarts: list = field(default_factory=list)
    exit_calls: list = field(default_factory=list)

    @property
    def privilege_enabled(self):
        """The shutdown privilege was looked up and enabled in the process's own token."""
        names = [c.name for c in self.privilege if c.result]
        return names == ["OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"] and \
            self.privilege[1].strings[1] == "SeShutdownPrivilege" and self.privilege[-1].args[1] == 0

    def tick_gaps_ms(self):
        """Milliseconds from each arming of the timer to the tick it brought."""
        armings = [c for c in self.calls if c.name == "SetTimer"]
        return [round((tick.time - armed.time) * 1000) for armed, tick in zip(armings, self.ticks)]


def read_run(calls):
    run = Run(calls)
    for c in calls:
        if run.start is None:
            run.start = c.time
        if c.name == "CreateWindowExA" and run.window is None:
            run.window = c
        elif c.name == "KillTimer":
            run.ticks.append(c)
        elif c.name == "DestroyWindow":
            run.destroyed = c
        elif c.name == "PostQuitMessage":
            run.quit_posted = c
        elif c.name in ("OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges"):
            run.privilege.append(c)
        elif c.name == "ExitWindowsEx":
            run.restarts.append(c)
        elif c.name == "ExitProcess":
            run.exit_calls.append(c)
    return run


def timeline(run, exit_code):
    """The run as a person would want to read it, one event a line."""
    def at(call):
        return f"{call.time - run.start:8.3f} s  "

    lines = []
    if run.window:
        w = run.window
        style = w.args[3]
        visible = "visible" if style & WS_VISIBLE else "hidden"
        made = "created" if w.result else "NOT created"
        lines.append(at(w) + f'{visible} window {made}: class "{w.strings[1]}", title "{w.strings[2]}", '
                             f"style 0x{style:08x}")
    else:
        lines.append("           no window was created")
    gaps = run.tick_gaps_ms()
    for n, tick in enumerate(run.ticks, 1):
        since = f" ({gaps[n - 1]} ms after arming)" if n <= len(gaps) else ""
        lines.append(at(tick) + f"tick {n}{since}")
    if run.destroyed:
        lines.append(at(run.destroyed) + "window destroyed by the program")
    if run.quit_posted:
        lines.append(at(run.quit_posted) + f"quit message posted, code {run.quit_posted.args[0]}")
    if run.privilege:
        state = "enabled" if run.privilege_enabled else "NOT enabled"
        lines.append(at(run.privilege[-1]) + f"shutdown privilege {state} in the program's token")
    for r in run.restarts:
        flags, reserved = r.args[0], r.args[1]
        names = " | ".join(n for bit, n in ((EWX_REBOOT, "EWX_REBOOT"), (0x4, "EWX_FORCE"), (0x1, "EWX_SHUTDOWN"))
                           if flags & bit) or "none"
        answer = {None: "no answer", 0: "refused"}.get(r.result, "accepted")
        lines.append(at(r) + f"restart requested: ExitWindowsEx(flags 0x{flags:x} = {names}, reserved {reserved})"
                             f", {answer}")
    if not run.restarts:
        lines.append("           no restart was requested")
    lines.append(f"exit code {exit_code}")
    return lines
