"""Helpers of the whole-program tests: run the built zel and check what it did."""
import os
import subprocess
import sys

ZEL = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "build/zel"
failures = []


def run(args=(), stdin="", env=None, timeout=60):
    e = dict(os.environ)
    if env:
        e.update(env)
    return subprocess.run([ZEL, *args], input=stdin.encode(), capture_output=True,
                          env=e, timeout=timeout)


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def finish():
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("ok")
