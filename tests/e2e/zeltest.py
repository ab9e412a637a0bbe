"""Helpers of the whole-program tests: run the built zel and check what it did."""
import os
import subprocess
import sys
import tempfile

ZEL = os.path.abspath(sys.argv[1]) if len(sys.argv) > 1 else "build/zel"
failures = []


def run(args=(), stdin="", env=None, timeout=60):
    e = dict(os.environ)
    if env:
        e.update(env)
    return subprocess.run([ZEL, *args], input=stdin.encode(), capture_output=True,
                          env=e, timeout=timeout)


def run_script(lines, timeout=60):
    """Runs the script made of the lines (its header first) from a file in a temporary folder
    and answers its output lines, checking that it ran to the end."""
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "script.zel")
        with open(path, "w", encoding="utf-8") as out:
            out.write("\n".join(lines) + "\n")
        r = run([path], timeout=timeout)
    check(r.returncode == 0, f"the script ran (exit {r.returncode}): {r.stderr.decode()[:300]}")
    return r.stdout.decode("utf-8", "replace").split("\n")


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def finish():
    if failures:
        print(f"{len(failures)} check(s) failed")
        sys.exit(1)
    print("ok")
