"""Standard output that refuses the program's output (a closed pipe, a full device, a closed
descriptor): the write raises an error like any failed write, a script ends with exit code 1 and
its report on standard error, and the console ends instead of running on."""
import os
import subprocess
import tempfile

from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-output-")
env = dict(os.environ, HOME=tmp, XDG_CONFIG_HOME=os.path.join(tmp, "config"))


def script(name, body):
    path = os.path.join(tmp, name)
    with open(path, "w") as f:
        f.write("Zel []\n" + body + "\n")
    return path


def reports(err, reason):
    return f'cannot write: stdout reason: "{reason}"' in err


forever = script("forever.zel", 'forever [print "line"]')


def first_line_then_close(args, stdin=subprocess.DEVNULL):
    """Runs zel with its output read by a reader that stops after one line, as `head -1` does."""
    p = subprocess.Popen([ZEL, *args], stdin=stdin, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, env=env)
    first = p.stdout.readline()
    p.stdout.close()
    try:
        _, err = p.communicate(timeout=30)
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
        return first, None, ""
    return first, p.returncode, err.decode("utf-8", "replace")


# A script printing for ever into a pipe whose reader has gone: it ends, and says why.
first, status, err = first_line_then_close([forever])
check(first == b"line\n", f"closed pipe: the first line arrives: {first!r}")
check(status == 1, f"closed pipe: the script ends with exit code 1, got {status}")
check(reports(err, "Broken pipe"), f"closed pipe: report on standard error: {err!r}")

# Output into a full device, by print and by write-stdout; a closed descriptor.
with open("/dev/full", "w") as full:
    for what, body in [("print", 'print "hello"'), ("write-stdout", 'write-stdout "hello"')]:
        r = subprocess.run([ZEL, script("full.zel", body + '\nwrite %after.txt "ran on"')],
                           stdout=full, stderr=subprocess.PIPE, env=env, cwd=tmp, timeout=30)
        err = r.stderr.decode("utf-8", "replace")
        check(r.returncode == 1, f"{what} into /dev/full: exit 1, got {r.returncode}")
        check(reports(err, "No space left on device"), f"{what} into /dev/full: {err!r}")
        check(not os.path.exists(os.path.join(tmp, "after.txt")),
              f"{what} into /dev/full: the script stopped at the failed write")

    # The error is an ordinary error: a script may catch it and decide.
    r = subprocess.run([ZEL, script("caught.zel", 'e: try [print "x"]\nquit/return either all '
                                    "[error? e  e/id = 'cannot-write] [7] [0]")],
                       stdout=full, stderr=subprocess.PIPE, env=env, timeout=30)
    check(r.returncode == 7, f"the failed print is an error a script can catch: {r.returncode}")

r = subprocess.run([ZEL, script("closed.zel", 'print "hello"')], stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE, env=env, timeout=30,
                   preexec_fn=lambda: os.close(1))
check(r.returncode == 1 and reports(r.stderr.decode(), "Bad file descriptor"),
      f"closed standard output: {r.returncode} {r.stderr!r}")

# The console fed by endless redirected input, its output read by a reader that stops: it ends.
yes = subprocess.Popen(["yes", "print 1"], stdout=subprocess.PIPE)
first, status, err = first_line_then_close([], stdin=yes.stdout)
yes.stdout.close()
yes.kill()
yes.wait()
check(status == 1, f"console with a closed pipe: ends with exit code 1, got {status}")
check(reports(err, "Broken pipe"), f"console with a closed pipe: report {err!r}")

finish()
