"""Scenarios of tovrel.exe under Wine. Each starts the program through the
probe (another program, as the countdown meets it), reads the program's own
calls from Wine's relay trace, and checks what it did.

  scenarios.py --prefix DIR --exe EXE --probe PROBE --work DIR [--windows VER] NAME
  scenarios.py --exe EXE executable
  scenarios.py --list
"""

import argparse
import os
import re
import shutil
import sys
from dataclasses import dataclass, field

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe  # noqa: E402
import winetrace  # noqa: E402
from wineprefix import Prefix  # noqa: E402

TICK_MS = 900
# A tick may come this much late on a loaded two-core machine running Wine
# under emulation, and never early; a 1000 ms tick is well outside.
TICK_EARLY_MS = 20
TICK_LATE_MS = 80
# Wine's own start-up of the program, before the countdown begins.
START_MS = 15000

# The Windows version the prefix reports, as (major, minor, platform id).
WINDOWS = {"win7": (6, 1, 2), "winxp": (5, 1, 2), "win95": (4, 0, 1)}

PLAIN = r"C:\Tovrel\tovrel.exe"
BLANKS = r"C:\Program Files\Tovrel\tovrel.exe"
HIGH = "C:\\T\xf6vrel\\tovrel.exe"  # a byte from 128 up (cp1252 o-umlaut)


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


@dataclass
class Outcome:
    run: winetrace.Run
    events: dict  # probe event name -> list of (tick count, fields)
    exit_code: int
    exe: str

    def event(self, name):
        check(self.events.get(name), f"the probe reported no {name!r}")
        return self.events[name][0]


@dataclass
class Scenario:
    name: str
    path: str  # where the program lies, in the Windows name space
    tail: bytes  # the command line after the program name, separators included
    actions: list
    ticks: int  # ticks expected, all counted from the program's own timer unless foreign
    quoted: bool = False
    show: str = "-"  # show state given through STARTUPINFO, "-" for none
    restart: bool = True
    exit_code: int = 0
    foreign_ticks: int = 0  # ticks that another program's WM_TIMER brought
    checks: list = field(default_factory=list)

    def command_line(self):
        name = self.path.encode("cp1252")
        return (b'"' + name + b'"' if self.quoted else name) + self.tail


def found_every_way(o):
    _, found = o.event("find")
    check(found["class"] != "00000000", "the window was not found by its class")
    check(found["class"] == found["title"] == found["both"],
          f"class, title and both found different windows: {found}")
    check(found["owner"] == found["program"], f"the window belongs to process {found['owner']}, not the program")


def closed_at_once(o):
    closed_at, _ = o.event("close")
    restart = o.run.restarts[0]
    delay = restart.time * 1000 - closed_at
    check(0 <= delay <= 500, f"the restart came {delay:.0f} ms after the close request, not at once")
    check(o.run.destroyed is None, "the program destroyed the window itself instead of default handling")


def command_answered(o):
    _, answer = o.event("command")
    check(answer == {"sent": "1", "answer": "0"}, f"WM_COMMAND: {answer}")


def quit_ends_early(o):
    quit_at, _ = o.event("quit")
    delay = o.run.restarts[0].time * 1000 - quit_at
    check(0 <= delay <= 500, f"the restart came {delay:.0f} ms after the quit message")


def version_read_back(o):
    _, seen = o.event("version")
    with open(os.path.join(os.path.dirname(o.exe), "version.h")) as f:
        text = re.search(r'TOVREL_VERSION_TEXT "([^"]+)"', f.read())[1]
    expected = {"fixed": text + ".0", "ProductName": "Tovrel", "FileDescription": "Restarts+Windows+after+a+countdown",
                "FileVersion": text, "ProductVersion": text, "OriginalFilename": "tovrel.exe"}
    check(seen == expected, f"version information {seen}, not {expected}")


SCENARIOS = [
    Scenario("default_count", PLAIN, b"", ["wait", "30000"], ticks=11),
    Scenario("count_3", PLAIN, b" 3", ["find", "wait", "20000"], ticks=3, checks=[found_every_way]),
    Scenario("quoted_path_with_blanks", BLANKS, b" 5", ["wait", "20000"], ticks=5, quoted=True),
    Scenario("blanks_and_tabs_after_name", PLAIN, b" \t \t4", ["wait", "20000"], ticks=4),
    Scenario("count_2_gives_default", PLAIN, b" 2", ["wait", "30000"], ticks=11),
    Scenario("signed_count_gives_default", PLAIN, b" +4", ["wait", "30000"], ticks=11),
    Scenario("path_with_high_byte", HIGH, b" 3", ["wait", "20000"], ticks=3),
    Scenario("path_with_high_byte_quoted", HIGH, b"\t3", ["wait", "20000"], ticks=3, quoted=True),
    Scenario("shown_normal_stays_hidden", PLAIN, b" 3", ["find", "sleep", "1200", "look", "wait", "20000"],
             ticks=3, show="1", checks=[found_every_way]),
    Scenario("shown_maximized_stays_hidden", PLAIN, b" 3", ["find", "sleep", "1200", "look", "wait", "20000"],
             ticks=3, show="3", checks=[found_every_way]),
    Scenario("close_restarts_at_once", PLAIN, b" 30", ["find", "sleep", "1200", "close", "wait", "20000"],
             ticks=1, checks=[closed_at_once]),
    Scenario("command_is_answered_with_0", PLAIN, b" 3", ["find", "command", "wait", "20000"], ticks=3,
             checks=[command_answered]),
    Scenario("foreign_timer_counts_as_tick", PLAIN, b" 3", ["find", "sleep", "1200", "timer", "7", "wait", "20000"],
             ticks=3, foreign_ticks=1),
    Scenario("foreign_quit_gives_its_code", PLAIN, b" 30", ["find", "sleep", "1200", "quit", "7", "wait", "20000"],
             ticks=1, exit_code=7, checks=[quit_ends_early]),
    # The longest command line Windows takes: 32,766 characters and the terminator.
    Scenario("longest_command_line", PLAIN, b" " + b"0" * (32766 - len(PLAIN) - 2) + b"3", ["wait", "20000"], ticks=3),
    Scenario("version_information", PLAIN, b" 3", ["version", "wait", "20000"], ticks=3, checks=[version_read_back]),
    Scenario("ending_the_process_cancels", PLAIN, b" 30", ["find", "sleep", "1200", "kill", "wait", "20000"],
             ticks=1, restart=False, exit_code=99),
]


def read_probe(output):
    """The probe's reports: name -> [(tick count, {field: value})]."""
    events = {}
    for line in output.splitlines():
        m = re.match(r"^(\d+) (\w+)(.*)$", line)
        if m:
            fields = dict(re.findall(r"(\w+)=(\S+)", m[3]))
            events.setdefault(m[2], []).append((int(m[1]), fields))
    return events


def unix_path(prefix, windows_path):
    drive, rest = windows_path.split(":\\", 1)
    check(drive.upper() == "C", "only drive C is prepared")
    return os.path.join(prefix.path, "drive_c", *rest.split("\\"))


def launch(prefix, probe, exe, path, command_line, show, actions, work, name, timeout=90):
    """Puts EXE at PATH in the prefix and has the probe start it and act; the
    probe's exit code (None on a time-out), its reports and the trace's path."""
    target = unix_path(prefix, path)
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(exe, target)
    trace = os.path.join(work, f"{name}.relay.log")
    output = os.path.join(work, f"{name}.probe.log")
    line = os.path.join(work, f"{name}.cmdline.hex")
    with open(line, "w") as f:
        f.write(command_line.hex())
    with open(output, "w") as out:
        code = prefix.run([probe, path, "@Z:" + line.replace("/", "\\"), show, *actions], trace, timeout=timeout,
                          stdout=out)
    with open(output, encoding="utf-8", errors="replace") as f:
        return code, read_probe(f.read()), trace


def play(scenario, prefix, exe, probe, work):
    code, events, trace = launch(prefix, probe, exe, scenario.path, scenario.command_line(), scenario.show,
                                 scenario.actions, work, scenario.name)
    check(code is not None, "the probe did not end within 90 s")
    print("probe:", *(f"{n} {f}" for n, items in events.items() for _, f in items), sep="\n  ")
    started = events.get("started")
    check(started, f"the probe could not start the program (exit {code}); see {work}/{scenario.name}.probe.log")
    pid = int(started[0][1]["pid"])
    calls = [c for c in winetrace.read_calls(trace) if c.pid == pid]
    run = winetrace.read_run(winetrace.program_calls(calls, pe.read(exe)))
    waited = events.get("wait")
    check(waited and waited[0][1]["ended"] == "1", "the program did not end")
    exit_code = int(waited[0][1]["exit"])
    print("\n".join(winetrace.timeline(run, exit_code)))
    return Outcome(run, events, exit_code, exe)


def check_outcome(scenario, o, windows):
    run = o.run
    if windows:
        _, started = o.event("started")
        seen = (int(started["windows"].split(".")[0]), int(started["windows"].split(".")[1]), int(started["platform"]))
        check(seen == WINDOWS[windows], f"Wine reported Windows {seen}, not {windows} {WINDOWS[windows]}")
    check(run.window is not None and run.window.result, "no window was created")
    check(not run.window.args[3] & winetrace.WS_VISIBLE, "the window was created visible")
    for _, seen in o.events.get("find", []) + o.events.get("look", []):
        check(seen.get("visible") == "0", f"the window was visible: {seen}")

    check(len(run.ticks) == scenario.ticks, f"{scenario.ticks} ticks expected, {len(run.ticks)} seen")
    gaps = run.tick_gaps_ms()
    own = sorted(gaps)[scenario.foreign_ticks:]  # a foreign tick comes early
    for gap in own:
        check(TICK_MS - TICK_EARLY_MS <= gap <= TICK_MS + TICK_LATE_MS,
              f"a tick came {gap} ms after arming, not {TICK_MS} ms (-{TICK_EARLY_MS}/+{TICK_LATE_MS}): {gaps}")

    if scenario.restart:
        check_restart(run, own_quit=scenario.exit_code == 0)
        if run.destroyed is not None and not scenario.foreign_ticks and not scenario.checks:
            wait = (run.restarts[0].time - run.window.time) * 1000
            nominal = scenario.ticks * TICK_MS
            check(nominal - TICK_EARLY_MS <= wait <= nominal + scenario.ticks * TICK_LATE_MS,
                  f"the restart came {wait:.0f} ms after the window, not about {nominal} ms")
    else:
        check(not run.restarts, f"a restart was requested: {run.restarts}")
    check(o.exit_code == scenario.exit_code, f"exit code {scenario.exit_code} expected, got {o.exit_code}")
    for extra in scenario.checks:
        extra(o)


def check_restart(run, own_quit=True):
    """Exactly one ExitWindowsEx(2, 0), with the shutdown privilege enabled in the
    program's own token before it, and after the window's quit message unless
    another program posted the quit."""
    check(len(run.restarts) == 1, f"one restart request expected, {len(run.restarts)} seen")
    restart = run.restarts[0]
    check(restart.args[:2] == [2, 0], f"ExitWindowsEx(2, 0) expected, got {restart}")
    check(run.privilege_enabled, "the shutdown privilege was not enabled: "
                                 + ", ".join(f"{c} = {c.result}" for c in run.privilege))
    order = run.calls.index
    check(order(run.privilege[-1]) < order(restart), "the privilege was enabled after the restart request")
    if own_quit:
        check(run.quit_posted is not None and order(run.quit_posted) < order(restart),
              "restart requested without the window posting its quit message first")
    if run.destroyed:
        check(order(run.destroyed) < order(run.quit_posted), "quit posted before the window was destroyed")


SIZE_BUDGET = 6144
SYSTEM_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL"}


def check_executable(exe):
    """What Windows 95 to 11 need to load it and what hardening asks of it."""
    image = pe.read(exe)
    check(image.machine == 0x14C and image.magic == 0x10B, "not a PE32 image for i386 (pei-i386)")
    check(image.subsystem == 2, f"subsystem {image.subsystem}, not Windows GUI")
    check(image.subsystem_version == (4, 0), f"subsystem version {image.subsystem_version}, not 4.0")
    check((image.file_alignment, image.section_alignment) == (512, 4096),
          "file alignment 512 and section alignment 4096 expected")
    check(set(d.upper() for d in image.imports) <= SYSTEM_DLLS, f"imports from {list(image.imports)}")
    functions = [f for names in image.imports.values() for f in names]
    check(functions, "no imported functions found")
    wide = [f for f in functions if f.endswith("W")]
    check(not wide, f"wide-character imports: {wide}")

    check(image.dll_characteristics & pe.NX_COMPAT, "not marked NX-compatible")
    check(image.dll_characteristics & pe.DYNAMIC_BASE, "not marked DYNAMICBASE")
    check(image.directories[pe.DIRECTORY_RELOC][1] > 0 and any(s.name == ".reloc" for s in image.sections),
          "no relocation section, so it cannot be moved")
    both = [s.name for s in image.sections if s.flags & pe.IMAGE_SCN_MEM_WRITE and s.flags & pe.IMAGE_SCN_MEM_EXECUTE]
    check(not both, f"writable and executable sections: {both}")
    check(image.timestamp == 0, f"time stamp {image.timestamp:#x} in the header")
    check(image.directories[pe.DIRECTORY_RESOURCE][1] > 0, "no resources (version information, manifest)")
    check(image.size_on_disk <= SIZE_BUDGET, f"{image.size_on_disk} bytes, over the budget of {SIZE_BUDGET}")
    print(f"{exe}: {image.size_on_disk} bytes in " + ", ".join(f"{s.name} {s.raw_size}" for s in image.sections)
          + f"; imports {len(functions)} functions from {', '.join(image.imports)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("--prefix", "--exe", "--probe", "--work", "--windows"):
        parser.add_argument(option)
    parser.add_argument("--list", action="store_true")
    parser.add_argument("name", nargs="?")
    options = parser.parse_args()
    if options.list:
        print(";".join(s.name for s in SCENARIOS))
        return 0
    try:
        if options.name == "executable":
            check_executable(options.exe)
            print("passed")
            return 0
        scenario = next((s for s in SCENARIOS if s.name == options.name), None)
        if scenario is None:
            parser.error(f"unknown scenario {options.name!r}; --list shows them")
        os.makedirs(options.work, exist_ok=True)
        prefix = Prefix(options.prefix)
        try:
            outcome = play(scenario, prefix, os.path.abspath(options.exe), os.path.abspath(options.probe),
                           options.work)
            check_outcome(scenario, outcome, options.windows)
        finally:
            # A restart request ends the prefix's session: the next scenario starts
            # only once that and everything of this one has ended.
            left = prefix.settle()
            if left:
                print(f"ended what was still running: {left}")
    except Failed as failure:
        print(f"FAILED: {failure}")
        return 1
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
