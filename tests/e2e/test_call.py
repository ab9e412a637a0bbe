"""call against real /bin/sh commands where the transcripts cannot look: a megabyte through cat
and both streams full at once (no deadlock), output files appended to, /console sharing the
program's own streams, and children started without /wait reaped rather than left as zombies."""
import os
import subprocess
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-call-")

# 1 MB of input echoed back while a child also fills its error pipe: neither side may block.
script = os.path.join(tmp, "big.zel")
with open(script, "w") as f:
    f.write("""Zel []
big: make string! 1100000
loop 20000 [append big "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLM^/"]
out: copy ""
print call/input/output "cat" big out
print equal? out big
out: copy "" err: copy #{}
print call/wait/output/error/shell "head -c 3000000 /dev/zero | tr '\\0' e >&2; head -c 3000000 /dev/zero | tr '\\0' o" out err
print [length? out length? err]
""")
r = run([script], timeout=60)
out = r.stdout.decode()
check(out == "0\ntrue\n0\n3000000 3000000\n", f"1 MB through cat and 3 MB on each stream: {out!r} {r.stderr!r}")

# Output and error files are appended to, and made when missing.
target = os.path.join(tmp, "out.txt")
errors = os.path.join(tmp, "err.txt")
with open(target, "w") as f:
    f.write("kept\n")
r = run(stdin=f"""call/output "echo one" %{target}
call/output/error/shell "echo two; echo bad >&2" %{target} %{errors}
""")
with open(target) as f:
    check(f.read() == "kept\none\ntwo\n", "/output with a file! appends")
with open(errors) as f:
    check(f.read() == "bad\n", "/error with a file! makes the file")

# /input with a file! reads the file; the bytes reach the child as they are.
source = os.path.join(tmp, "in.txt")
with open(source, "wb") as f:
    f.write(b"from\r\na file\xff")
r = run(stdin=f'b: copy #{{}} print call/input/output "cat" %{source} b print enbase/base b 16\n')
check(r.stdout.decode().endswith("0\n" + b"from\r\na file\xff".hex().upper() + "\n"),
      f"/input with a file!: {r.stdout!r}")

# /console: the child writes to the program's own output; without it, to nowhere.
r = run(stdin='call/console "echo shared"\ncall/wait "echo hidden"\n')
out = r.stdout.decode()
check("shared\n" in out and "hidden" not in out, f"/console shares the output: {out!r}")

# A child started without /wait is reaped once it ends: no zombie remains while zel runs on.
script = os.path.join(tmp, "reap.zel")
with open(script, "w") as f:
    f.write("""Zel []
pid: call "true"
wait 0.5
state: copy ""
command: append append copy "cat /proc/" pid "/stat 2>/dev/null | cut -d' ' -f3"
call/wait/output/shell command state
print ["state" mold state]
""")
r = run([script], timeout=20)
out = r.stdout.decode()
check(out == 'state ""\n', f"a child not waited for is reaped: {out!r} {r.stderr!r}")

# The child gets SIGPIPE at its default even though zel ignores it: `yes | head` ends.
r = run(stdin='out: copy "" call/output/shell "yes | head -n 2" out print out\n', timeout=20)
check("y\ny\n" in r.stdout.decode(), f"children start with default signals: {r.stdout!r}")

finish()
