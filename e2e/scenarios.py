"""Scenarios of tovrel.exe under Wine: run one in a prepared prefix, read the
program's own calls from the relay trace and check them.

  scenarios.py --prefix DIR --exe EXE --work DIR NAME
  scenarios.py --list
"""

import argparse
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetrace  # noqa: E402
from wineprefix import Prefix  # noqa: E402

TICK_MS = 900
# Each tick may come this much late on a loaded two-core machine running Wine
# under emulation, and never early; a 1000 ms tick is well outside.
TICK_EARLY_MS = 20
TICK_LATE_MS = 80


class Failed(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failed(what)


def check_ticks(run, ticks):
    check(len(run.ticks) == ticks, f"{ticks} ticks expected, {len(run.ticks)} seen")
    for n, gap in enumerate(run.tick_gaps_ms(), 1):
        check(TICK_MS - TICK_EARLY_MS <= gap <= TICK_MS + TICK_LATE_MS,
              f"tick {n} came {gap} ms after arming, not {TICK_MS} ms "
              f"(-{TICK_EARLY_MS}/+{TICK_LATE_MS})")


def check_restart(run):
    """Exactly one ExitWindowsEx(2, 0), after the window went and the quit was posted,
    with the shutdown privilege enabled before it."""
    check(len(run.restarts) == 1, f"one restart request expected, {len(run.restarts)} seen")
    restart = run.restarts[0]
    check(restart.args[:2] == [2, 0], f"ExitWindowsEx(2, 0) expected, got {restart}")
    check(run.privilege_enabled, "the shutdown privilege was not enabled: "
                                 + ", ".join(f"{c} = {c.result}" for c in run.privilege))
    check(run.privilege[-1].time <= restart.time, "the privilege was enabled after the restart request")
    order = run.calls.index
    if run.destroyed:
        check(order(run.destroyed) < order(restart), "restart requested before the window was destroyed")
    if run.quit_posted:
        check(order(run.quit_posted) < order(restart), "restart requested before the quit message")


def first_run(prefix, exe, work):
    """A count of 3 started the plain way: three ticks 900 ms apart, one restart, exit 0."""
    trace = os.path.join(work, "first_run.relay.log")
    code = prefix.run([exe, "3"], trace, timeout=60)
    run = winetrace.read_run(winetrace.program_calls(winetrace.read_calls(trace), winetrace.read_image(exe)))
    print("\n".join(winetrace.timeline(run, code)))
    check(code is not None, "the program did not end within 60 s")
    check(run.window is not None and run.window.result, "no window was created")
    check_ticks(run, 3)
    check(run.destroyed is not None and run.quit_posted is not None, "the window did not destroy itself")
    check_restart(run)
    check(code == 0, f"exit code 0 expected, got {code}")


SCENARIOS = {"first_run": first_run}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--prefix")
    parser.add_argument("--exe")
    parser.add_argument("--work")
    parser.add_argument("--list", action="store_true")
    parser.add_argument("name", nargs="?")
    options = parser.parse_args()
    if options.list:
        print("\n".join(SCENARIOS))
        return 0
    if options.name not in SCENARIOS:
        parser.error(f"unknown scenario {options.name!r}; --list shows them")
    os.makedirs(options.work, exist_ok=True)
    prefix = Prefix(options.prefix)
    try:
        SCENARIOS[options.name](prefix, os.path.abspath(options.exe), options.work)
    except Failed as failure:
        print(f"FAILED: {failure}")
        return 1
    finally:
        # A restart request ends the prefix's session; leave nothing running for the next scenario.
        prefix.kill()
    print("passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
