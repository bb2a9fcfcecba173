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
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pe  # noqa: E402
import winetrace  # noqa: E402


# Wine's own processes that live as long as the prefix's server.
WINE_SERVICES = ("services.exe", "explorer.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe")


class Prefix:
    def __init__(self, path):
        self.path = os.path.abspath(path)

    def env(self, debug="-all"):
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        env["LANG"] = "C.UTF-8"  # ANSI code page 1252, Unix names in UTF-8
        env.pop("LC_ALL", None)
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
        self.keep_server()

    def keep_server(self):
        """Keeps the prefix's server and its system processes running between
        programs, so that each run does not pay for Wine's start again."""
        subprocess.run(["wineserver", "-p"], env=self.env(), check=True, timeout=60, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def programs(self):
        """Processes of this prefix other than Wine's own services: pid -> command line."""
        found = {}
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/environ", "rb") as f:
                    if f"WINEPREFIX={self.path}".encode() not in f.read().split(b"\0"):
                        continue
                with open(f"/proc/{entry}/cmdline", "rb") as f:
                    command = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            except OSError:
                continue
            if "wineserver" in command or any(s in command.lower() for s in WINE_SERVICES):
                continue
            found[int(entry)] = command
        return found

    def settle(self, timeout=30):
        """Waits until the programs of the last run, and what they started (the
        session end after a restart request), have ended; ends them if not."""
        deadline = time.monotonic() + timeout
        while self.programs() and time.monotonic() < deadline:
            time.sleep(0.2)
        left = self.programs()
        for pid in left:
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        return left

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
        image = pe.read(exe)
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
