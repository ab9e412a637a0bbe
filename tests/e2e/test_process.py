"""Process lifecycle: a normal start-up ends with exit code 0 and writes nothing unexpected."""
from zeltest import run, check, finish

r = run(stdin="")
check(r.returncode == 0, f"exit code 0, got {r.returncode}")
check(r.stderr == b"", f"nothing on standard error, got {r.stderr!r}")
finish()
