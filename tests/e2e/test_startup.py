"""Start-up: the whole library is loaded before the program goes on, also when every allocation
collects first, and a start-up writes nothing of its own."""
import os

from zeltest import run, check, finish

# A sanitizer build starts under collection stress in the fuzzers' seed runs already, and slowly.
stressed = [] if os.environ.get("ZEL_SANITIZED") else [{"ZEL_GC_STRESS": "1"}]
for env in [None] + stressed:
    r = run(stdin="", env=env, timeout=240)
    label = "with collection stress" if env else "plainly"
    check(r.returncode == 0, f"start-up {label}: exit code 0, got {r.returncode}: {r.stdout!r}")
    check(b"Start-up failed" not in r.stdout, f"start-up {label}: {r.stdout!r}")
    check(r.stderr == b"", f"start-up {label}: nothing on standard error, got {r.stderr!r}")
finish()
