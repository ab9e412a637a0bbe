"""size? on files the transcripts cannot make: a named pipe (answered at once, not waited on) and a
sparse file past the integer! range (a float!, not a wrapped integer)."""
import os
import tempfile

from zeltest import run, check, finish

tmp = tempfile.mkdtemp(prefix="zel-size-")
fifo = os.path.join(tmp, "pipe")
os.mkfifo(fifo)
big = os.path.join(tmp, "big")
with open(big, "wb") as f:
    f.truncate(3 * 1024 ** 3)

r = run(stdin=f"size? %{fifo}\nsize? %{big}\n", timeout=20)
out = r.stdout.decode("utf-8", "replace")
check("== 0\n" in out, f"size? of a named pipe answers without waiting: {out!r}")
check("== 3221225472.0\n" in out, f"size? of a 3 GiB file is a float!: {out!r}")

os.remove(big)
os.remove(fifo)
os.rmdir(tmp)
finish()
