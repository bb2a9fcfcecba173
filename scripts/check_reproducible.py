"""Builds tovrel.exe from two clean copies of the source tree, in different
places, and checks that the two executables are the same bytes."""

import hashlib
import os
import shutil
import subprocess
import sys
import tempfile


def sources(root):
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"], cwd=root,
                            capture_output=True, check=True).stdout
    return [p for p in listed.decode().split("\0") if p and os.path.isfile(os.path.join(root, p))]


def build(root, files, where):
    for path in files:
        os.makedirs(os.path.join(where, os.path.dirname(path)), exist_ok=True)
        shutil.copy2(os.path.join(root, path), os.path.join(where, path))
    for step in (["cmake", "--preset", "win32"], ["cmake", "--build", "--preset", "win32", "--target", "tovrel"]):
        done = subprocess.run(step, cwd=where, capture_output=True, text=True)
        if done.returncode:
            sys.exit(f"{' '.join(step)} failed in {where}:\n{done.stdout}{done.stderr}")
    with open(os.path.join(where, "build", "win32", "tovrel.exe"), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    files = sources(root)
    with tempfile.TemporaryDirectory(prefix="tovrel-repro-") as work:
        first = build(root, files, os.path.join(work, "one"))
        second = build(root, files, os.path.join(work, "second-tree"))
    print(f"first build:  {first}\nsecond build: {second}")
    if first != second:
        print("FAILED: the two builds differ")
        return 1
    print("passed: byte-identical")
    return 0


if __name__ == "__main__":
    sys.exit(main())
