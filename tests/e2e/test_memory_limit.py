"""Running out of memory: a program that keeps growing its data meets the "not enough memory"
error within the memory cap instead of growing without end, and can go on after catching it (the
memory is reclaimed). The cap is lowered through the test-only switch ZEL_ARENA_LIMIT so that the
error comes quickly; peak memory is read from the finished process."""
import os
import select
import signal
import subprocess
import tempfile
import time

from zeltest import ZEL, check, finish

CAP = 256 << 20
# The program itself (code, stacks, small heap tables) on top of what the cap counts.
SLACK = 96 << 20
ENV = dict(os.environ, ZEL_ARENA_LIMIT=str(CAP))

RECOVER = """
r: none s: none b: none recycle
print ["reclaimed:" stats < 8'000'000]
c: copy [] loop 1000 [append c copy "abc"]
print ["goes on:" length? c]
"""

# (what, the code that runs out of memory)
CASES = [
    ("a block that keeps growing", 'b: copy [] forever [append b copy "aaaaaaaaaaaaaaaa"]'),
    ("a text appended to itself",
     's: make string! 40000000 insert/dup s "a" 40000000 forever [append s s]'),
    ("a text inserted into itself",
     's: make string! 40000000 insert/dup s "a" 40000000 forever [insert next s s]'),
    ("a block inserted into itself",
     'b: copy [] insert/dup b 1 4000000 forever [insert next b b]'),
    ("a heap copy of a long text (mold)",
     's: make string! 60000000 insert/dup s "a" 60000000 mold s'),
]


def run_measured(script, timeout=120):
    """Runs a script; answers (exit code or None on time-out, output, peak resident bytes)."""
    path = os.path.join(tempfile.mkdtemp(prefix="zel-memory-"), "m.zel")
    with open(path, "w") as f:
        f.write("Zel []\n" + script + "\n")
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.dup2(write_end, 1)
        os.dup2(write_end, 2)
        os.close(read_end)
        os.execve(ZEL, [ZEL, path], ENV)
    os.close(write_end)
    out, deadline, timed_out = b"", time.monotonic() + timeout, False
    while True:
        left = deadline - time.monotonic()
        if left <= 0:
            os.kill(pid, signal.SIGKILL)
            timed_out = True
            break
        ready, _, _ = select.select([read_end], [], [], left)
        if ready:
            chunk = os.read(read_end, 65536)
            if not chunk:
                break
            out += chunk
    os.close(read_end)
    _, status, usage = os.wait4(pid, 0)
    code = None if timed_out else os.waitstatus_to_exitcode(status)
    return code, out.decode("utf-8", "replace"), usage.ru_maxrss * 1024


# A sanitizer build leaves the C++ heap uncapped (its allocator stands in for ours) and its peak
# memory includes the sanitizer's shadow: the heap copy case and the peak checks need a plain build.
SANITIZED = bool(os.environ.get("ZEL_SANITIZED"))
if SANITIZED:
    CASES = [c for c in CASES if "heap copy" not in c[0]]

for what, code in CASES:
    # Caught: the error comes, the program goes on and its memory comes back.
    rc, out, peak = run_measured(f"r: try [{code}]\nprint [\"caught:\" r/id]\n{RECOVER}")
    check(rc == 0, f"{what}: the script ends normally after catching (exit {rc})\n{out[-600:]}")
    check("caught: no-memory" in out, f"{what}: no-memory is raised\n{out[-600:]}")
    check("reclaimed: true" in out, f"{what}: the memory is reclaimed\n{out[-600:]}")
    check("goes on: 1000" in out, f"{what}: the script goes on\n{out[-600:]}")
    check(SANITIZED or 0 < peak <= CAP + SLACK, f"{what}: peak memory {peak >> 20} MiB within the cap")

# Uncaught, from the command line: the report and exit code 1.
rc, out, peak = run_measured(CASES[0][1])
check(rc == 1 and "*** Internal Error: not enough memory" in out,
      f"an uncaught no-memory is reported (exit {rc})\n{out[-600:]}")

# The console goes on with the next line.
r = subprocess.run([ZEL], input=(CASES[0][1] + "\nb: none recycle\nprint 1 + 2\n").encode(),
                   capture_output=True, env=ENV, timeout=120)
out = r.stdout.decode("utf-8", "replace")
check("not enough memory" in out and out.rstrip().endswith("3"),
      f"the console goes on after the error\n{out[-600:]}")

finish()
