"""An interrupt (a real SIGINT sent to the running zel) while it evaluates or waits for input ends
it with exit code 130, never 0, after the configuration (and so the history) is saved, as quit
saves it; the configuration folder is made only then. An interrupt that was ignored when zel
started (a background job) stays ignored."""
import os
import signal
import subprocess
import tempfile

from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-interrupt-")


def script(name, text):
    path = os.path.join(tmp, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    return path


def interrupted(args, stdin=b"", after=b"", ignore=False):
    """Starts zel, waits for the first line it prints, sends SIGINT, then writes `after` to its
    input. Answers the exit code, the output and the configuration folder the run used."""
    home = tempfile.mkdtemp(dir=tmp)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"))
    folder = os.path.join(home, "config", "Zel-Console")
    preexec = (lambda: signal.signal(signal.SIGINT, signal.SIG_IGN)) if ignore else None
    p = subprocess.Popen([ZEL, *args], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, env=env, preexec_fn=preexec)
    p.stdin.write(stdin)
    p.stdin.flush()
    first = p.stdout.readline()
    made_before = os.path.exists(folder)
    os.kill(p.pid, signal.SIGINT)
    try:
        p.stdin.write(after)
        p.stdin.close()
    except BrokenPipeError:
        pass
    try:
        p.wait(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
    text = (first + p.stdout.read()).decode("utf-8", "replace")
    return p.returncode if p.returncode >= 0 else None, text, made_before, folder


ready = 'print "ready"\n'
cases = [
    ("a loop", [script("loop.zel", "Zel []\n" + ready + "forever []\n")]),
    ("a wait", [script("wait.zel", "Zel []\n" + ready + "wait 60\n")]),
    ("a loop in try/all and catch",
     [script("guarded.zel", "Zel []\n" + ready + "try/all [catch [forever [1 + 1]]]\n")]),
    ("input from a pipe", [script("ask.zel", "Zel []\n" + ready + "x: input\nprint x\n")]),
    ("the console evaluating", []),
]
for name, args in cases:
    stdin = b"" if args else b'print "ready" forever []\n'
    rc, out, made_before, folder = interrupted(args, stdin=stdin)
    check(rc == 130, f"{name}: exit code 130, got {rc} {out!r}")
    check("Runtime Error" not in out and "Error" not in out, f"{name}: no report: {out!r}")
    check(not made_before, f"{name}: no configuration folder before anything is saved")
    cfg = os.path.join(folder, "console-cfg.zel")
    check(os.path.exists(cfg), f"{name}: the configuration saved as quit saves it")

# Ignored at start (as for a background job): the program goes on and reads its input.
ask = script("ask-twice.zel", "Zel []\n" + ready + 'x: input\nprint ["got" x]\n')
rc, out, _, _ = interrupted([ask], after=b"go\n", ignore=True)
check(rc == 0 and out.endswith("got go\n"), f"an ignored interrupt: {rc} {out!r}")
rc, out, _, _ = interrupted([ask], after=b"go\n")
check(rc == 130 and "got" not in out, f"the same script interrupted: {rc} {out!r}")
finish()
