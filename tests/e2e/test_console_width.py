"""The console cuts a long result at the terminal's own width, read from the console size (a
pair!), not at a fixed 80 columns."""
import tempfile

from tmux_session import Session
from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-width-")
with Session(env={"HOME": tmp, "XDG_CONFIG_HOME": tmp}, width=50) as s:
    s.type(ZEL)
    s.keys("Enter")
    s.wait_for(r"^>> ?$")
    s.type('append/dup copy "" "a" 200')
    s.keys("Enter")
    s.wait_for(r"^== ")
    line = next(l.rstrip() for l in s.settle().split("\n") if l.startswith("== "))
    check(line.endswith("...") and len(line) <= 50, f"a result cut at 50 columns: {line!r}")
    check(len(line) > 40, f"the cut uses the width, not less: {line!r}")
finish()
