"""Start-up: the whole library is loaded before the program goes on, also when every allocation
collects first, and a start-up writes nothing of its own."""
from zeltest import run, check, finish

for env in (None, {"ZEL_GC_STRESS": "1"}):
    r = run(stdin="", env=env, timeout=240)  # a sanitizer build under stress is slow
    label = "with collection stress" if env else "plainly"
    check(r.returncode == 0, f"start-up {label}: exit code 0, got {r.returncode}: {r.stdout!r}")
    check(b"Start-up failed" not in r.stdout, f"start-up {label}: {r.stdout!r}")
    check(r.stderr == b"", f"start-up {label}: nothing on standard error, got {r.stderr!r}")
finish()
