"""Measures tovrel.exe under Wine and prints a table: timing fidelity, CPU time
beside an idle program, and size and imports beside Wine's shutdown.exe.

  bench.py --exe EXE --probe PROBE --idle IDLE --work DIR
"""

import argparse
import glob
import os
import platform
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
import pe  # noqa: E402
import scenarios  # noqa: E402
import winetrace  # noqa: E402
from wineprefix import Prefix  # noqa: E402


def countdown(prefix, exe, probe, work, count):
    """Runs tovrel.exe COUNT through the probe; its run and the probe's report."""
    s = scenarios.Scenario(f"bench_{count}", scenarios.PLAIN, f" {count}".encode(), ["wait", "120000"], ticks=count)
    outcome = scenarios.play(s, prefix, exe, probe, work)
    prefix.settle()
    return outcome


def idle(prefix, probe, idle_exe, work, ms):
    """The probe's report on the idle reference program, waiting MS."""
    _, events, _ = scenarios.launch(prefix, probe, idle_exe, r"C:\Tovrel\idle.exe", f"idle.exe {ms}".encode(), "-",
                                    ["wait", "120000"], work, "idle", timeout=180)
    prefix.settle()
    return events["wait"][0][1]


def cpu_ms(fields):
    return int(fields["user_ms"]) + int(fields["kernel_ms"])


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    qemu = subprocess.run(["sh", "-c", "QEMU_VERSION=1 /usr/lib/wine/wine 2>/dev/null | head -1"], capture_output=True,
                          text=True).stdout.strip()
    return (f"{os.cpu_count()} cores, {cpu}; Linux {platform.release()}; {wine}"
            + (f", 32-bit side under {qemu}" if qemu else ""))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    for option in ("--exe", "--probe", "--idle", "--work"):
        parser.add_argument(option, required=True)
    options = parser.parse_args()
    exe, probe = os.path.abspath(options.exe), os.path.abspath(options.probe)
    os.makedirs(options.work, exist_ok=True)
    prefix = Prefix(os.path.join(options.work, "prefix"))
    rows = []
    try:
        print("preparing a private Wine prefix ...", file=sys.stderr)
        prefix.create("win7")
        for count in (10, 30):
            print(f"countdown of {count} ...", file=sys.stderr)
            o = countdown(prefix, exe, probe, options.work, count)
            wait = o.run.restarts[0].time - o.run.window.time
            gaps = o.run.tick_gaps_ms()
            rows.append((f"total wait, N = {count}", f"{wait:.3f} s", f"{count * 0.9:.1f} s",
                         f"{wait / (count * 0.9):.4f}"))
            rows.append((f"largest tick deviation, N = {count}", f"{max(abs(g - 900) for g in gaps)} ms", "0 ms",
                         f"ticks {min(gaps)} to {max(gaps)} ms"))
            if count == 30:
                countdown_cpu = cpu_ms(o.events["wait"][0][1])
        print("idle reference, 27 s ...", file=sys.stderr)
        idle_cpu = cpu_ms(idle(prefix, probe, os.path.abspath(options.idle), options.work, 27000))
        rows.append(("CPU time during a 27 s countdown (N = 30)", f"{countdown_cpu} ms", f"{idle_cpu} ms (idle.exe, 27 s)",
                     f"{countdown_cpu / max(idle_cpu, 1):.2f}"))
    finally:
        prefix.remove()

    ours = pe.read(exe)
    theirs_path = next(iter(glob.glob("/usr/lib/i386-linux-gnu/wine/i386-windows/shutdown.exe")), None)
    theirs = pe.read(theirs_path) if theirs_path else None
    count = lambda image: sum(len(f) for f in image.imports.values())  # noqa: E731
    rows.append(("executable size", f"{ours.size_on_disk} bytes",
                 f"{theirs.size_on_disk} bytes (Wine's shutdown.exe)" if theirs else "-",
                 f"{ours.size_on_disk / theirs.size_on_disk:.2f}" if theirs else "-"))
    rows.append(("imported functions (DLLs)", f"{count(ours)} ({len(ours.imports)})",
                 f"{count(theirs)} ({len(theirs.imports)})" if theirs else "-", "-"))

    print(f"Machine: {machine()}\n")
    print("| measure | tovrel.exe | reference | ratio |")
    print("|---|---|---|---|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    return 0


if __name__ == "__main__":
    sys.exit(main())
