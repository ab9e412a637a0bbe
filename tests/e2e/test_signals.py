"""Signals sent to a zel that waits at its prompt: a fault signal gives the numbered runtime error
report and its number as exit code; an interrupt ends it quietly with 130."""
import os
import signal
import subprocess
import tempfile
import time

from zeltest import ZEL, check, finish

home = tempfile.mkdtemp(prefix="zel-signals-")
env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"))


def signalled(sig):
    p = subprocess.Popen([ZEL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env)
    # The banner is written once the console waits for its first line.
    p.stdout.read1(1)
    time.sleep(0.3)
    os.kill(p.pid, sig)
    out, err = p.communicate(timeout=30)
    return p.returncode, out.decode("utf-8", "replace")


cases = [
    (signal.SIGSEGV, 1, "\n*** Runtime Error 1: access violation\n*** at: "),
    (signal.SIGFPE, 33, "\n*** Runtime Error 33: FPU error\n*** at: "),
    (signal.SIGILL, 17, "\n*** Runtime Error 17: illegal instruction\n*** at: "),
]
for sig, code, report in cases:
    rc, out = signalled(sig)
    check(rc == code, f"{sig.name}: exit code {code}, got {rc}")
    check(report in out, f"{sig.name}: report {report!r} in {out!r}")

rc, out = signalled(signal.SIGINT)
check(rc == 130, f"SIGINT: exit code 130, got {rc}")
check("Runtime Error" not in out, f"SIGINT: no report, got {out!r}")
finish()
