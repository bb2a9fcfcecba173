"""A private, headless Wine prefix for running tovrel.exe and tracing it.

As a command:
  wineprefix.py create DIR [--version win95|winxp|...]
  wineprefix.py remove DIR
  wineprefix.py timeline EXE [ARG...]   run once in a throwaway prefix and print what happened
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import winetrace  # noqa: E402


class Prefix:
    def __init__(self, path):
        self.path = os.path.abspath(path)

    def env(self, debug="-all"):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        env.update(WINEPREFIX=self.path, WINEARCH="win32", WINEDLLOVERRIDES="mscoree,mshtml=", WINEDEBUG=debug)
        return env

    def _wine(self, *args, timeout=300):
        done = subprocess.run(["wine", *args], env=self.env(), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                              timeout=timeout, text=True, errors="replace")
        if done.returncode != 0:
            raise RuntimeError(f"wine {' '.join(args)} failed ({done.returncode}):\n{done.stdout}")

    def create(self, version=None):
        """A new prefix: booted, null graphics driver, relay trace limited to the program's calls."""
        if os.path.exists(self.path):
            self.remove()
        os.makedirs(os.path.dirname(self.path), exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=600, check=True)
        self._wine("reg", "add", r"HKCU\Software\Wine\Drivers", "/v", "Graphics", "/d", "null", "/f")
        self._wine("reg", "add", r"HKCU\Software\Wine\Debug", "/v", "RelayInclude", "/f",
                   "/d", ";".join(winetrace.RELAY_INCLUDE))
        if version:
            self._wine("winecfg", "/v", version)
        self.wait()

    def wait(self, timeout=120):
        subprocess.run(["wineserver", "-w"], env=self.env(), timeout=timeout)

    def kill(self):
        if os.path.isdir(self.path):
            subprocess.run(["wineserver", "-k"], env=self.env(), stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def remove(self):
        self.kill()
        shutil.rmtree(self.path, ignore_errors=True)

    def run(self, argv, trace_path, timeout, stdout=None):
        """Runs a Windows program with the relay trace on; its exit code, or None on a time-out."""
        with open(trace_path, "w") as trace:
            proc = subprocess.Popen(["wine", *argv], env=self.env("+timestamp,+pid,+relay"), stdout=stdout,
                                    stderr=trace, start_new_session=True)
            try:
                return proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
                return None


def show_timeline(exe, args):
    """Runs the program once in a throwaway prefix and prints its timeline."""
    workdir = tempfile.mkdtemp(prefix="tovrel-run-")
    prefix = Prefix(os.path.join(workdir, "prefix"))
    try:
        print(f"preparing a private Wine prefix in {prefix.path} ...", flush=True)
        prefix.create()
        print(f"running: tovrel.exe {' '.join(args)}".rstrip(), flush=True)
        trace = os.path.join(workdir, "relay.log")
        code = prefix.run([exe, *args], trace, timeout=600)
        image = winetrace.read_image(exe)
        run = winetrace.read_run(winetrace.program_calls(winetrace.read_calls(trace), image))
        print()
        for line in winetrace.timeline(run, "none (timed out)" if code is None else code):
            print(line)
        print("\nUnder Wine the restart request only ends the prefix's session; this machine does not restart.")
        return 0 if code == 0 else 1
    finally:
        prefix.remove()
        shutil.rmtree(workdir, ignore_errors=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    create = sub.add_parser("create")
    create.add_argument("dir")
    create.add_argument("--version")
    sub.add_parser("remove").add_argument("dir")
    timeline = sub.add_parser("timeline")
    timeline.add_argument("exe")
    timeline.add_argument("args", nargs="*")
    options = parser.parse_args()

    if options.command == "create":
        Prefix(options.dir).create(options.version)
    elif options.command == "remove":
        Prefix(options.dir).remove()
    else:
        return show_timeline(os.path.abspath(options.exe), options.args)
    return 0


if __name__ == "__main__":
    sys.exit(main())
