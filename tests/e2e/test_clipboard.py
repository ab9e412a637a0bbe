"""The clipboard and browse. Without a display the clipboard is in-process; with one, the
desktop's tools are used: stand-in xclip, wl-copy and wl-paste programs placed first on PATH
record what they are given and serve what they hold, so the exchange with the desktop is checked
without a display. With a real X display and xclip the same round trip runs against them (skipped
without). browse hands its argument to xdg-open as one argument, never through a shell."""
import os
import shutil
import stat
import subprocess
import sys
import tempfile
import time

from zeltest import ZEL, check, finish

tmp = tempfile.mkdtemp(prefix="zel-clip-")
tools = os.path.join(tmp, "bin")
store = os.path.join(tmp, "store")
os.makedirs(tools)
os.makedirs(store)

FAKE = "#!" + sys.executable + r'''
import os, sys
store = os.environ["FAKE_CLIP"]
name = os.path.basename(sys.argv[0])
args = sys.argv[1:]
with open(os.path.join(store, "log"), "a") as f:
    f.write(repr([name] + args) + "\n")
def path(t):
    return os.path.join(store, "type-" + t.replace("/", "%2F"))
def held():
    return sorted(n[5:].replace("%2F", "/") for n in os.listdir(store) if n.startswith("type-"))
def clear():
    for t in held():
        os.remove(path(t))
def value(flag):
    return args[args.index(flag) + 1] if flag in args else None
if name == "xclip" and "-i" in args or name == "wl-copy":
    clear()
    if "--clear" not in args:
        with open(path(value("-t") or value("--type")), "wb") as f:
            f.write(sys.stdin.buffer.read())
    sys.exit(0)
if "--list-types" in args or value("-t") == "TARGETS":
    if not held():
        sys.exit(1)
    print("\n".join(([] if name == "wl-paste" else ["TARGETS"]) + held()))
    sys.exit(0)
t = value("-t") or value("--type")
if not os.path.exists(path(t)):
    sys.exit(1)
sys.stdout.buffer.write(open(path(t), "rb").read())
'''
for name in ("xclip", "wl-copy", "wl-paste", "xdg-open"):
    p = os.path.join(tools, name)
    with open(p, "w") as f:
        f.write(FAKE)
    os.chmod(p, os.stat(p).st_mode | stat.S_IEXEC)


def zel(lines, display=None, wayland=None, path_first=False, timeout=60):
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
    if display:
        env["DISPLAY"] = display
    if wayland:
        env["WAYLAND_DISPLAY"] = wayland
    if path_first:
        env["PATH"] = tools + ":" + env.get("PATH", "")
    env["FAKE_CLIP"] = store
    r = subprocess.run([ZEL], input="".join(l + "\n" for l in lines).encode(), env=env,
                       capture_output=True, timeout=timeout, cwd=tmp)
    return r.stdout.decode("utf-8", "replace")


def reset():
    for n in os.listdir(store):
        os.remove(os.path.join(store, n))


def log():
    p = os.path.join(store, "log")
    return open(p).read() if os.path.exists(p) else ""


ROUND_TRIP = [
    'read-clipboard',
    'write-clipboard "caf\u00e9^/line"',
    'read-clipboard',
    'write-clipboard [%/tmp/a.txt %"/tmp/b c" %/tmp/d/]',
    'read-clipboard',
    'write-clipboard none',
    'read-clipboard',
    'write-clipboard 12',
]
EXPECTED = ["== none", "== true", '== "caf\u00e9^/line"', "== true",
            '== [%/tmp/a.txt %"/tmp/b c" %/tmp/d/]', "== true", "== none",
            "*** Script Error: invalid argument: 12"]


def check_round_trip(out, where):
    at = 0
    for e in EXPECTED:
        found = out.find(e, at)
        check(found >= 0, f"{where}: {e!r} in order in {out!r}")
        at = max(found, at)


# No display: the in-process clipboard, which keeps its own copies both ways.
check_round_trip(zel(ROUND_TRIP), "in-process")
out = zel(['s: "abc" write-clipboard s append s "!" read-clipboard',
           'r: read-clipboard append r "?" read-clipboard',
           'write-clipboard [%a.txt] f: read-clipboard append first f "x" read-clipboard',
           'write-clipboard "a^Mb" read-clipboard'])
check(out.count('== "abc"') == 2 and "== [%a.txt]" in out and '== "a^Mb"' in out,
      f"the in-process clipboard copies the value written and the value read: {out!r}")
check(log() == "", "without a display no desktop tool runs")

# An X display: xclip with the clipboard selection, UTF-8 text and a URI list of absolute names.
reset()
check_round_trip(zel(ROUND_TRIP, display=":77", path_first=True), "xclip")
calls = log()
check("['xclip', '-selection', 'clipboard', '-t', 'UTF8_STRING', '-i']" in calls,
      f"text goes to xclip as UTF8_STRING: {calls}")
check("'-t', 'text/uri-list', '-i'" in calls, f"a file list goes as text/uri-list: {calls}")
reset()
zel(['write-clipboard [%rel.txt %"/x/sp ace%"]'], display=":77", path_first=True)
with open(os.path.join(store, "type-text%2Furi-list"), "rb") as f:
    check(f.read() == f"file://{os.path.realpath(tmp)}/rel.txt\r\nfile:///x/sp%20ace%25\r\n".encode(),
          "file names become file URIs, relative ones from the current folder")
# Text that another program put there, with CR LF, and a URI list from a file manager.
reset()
with open(os.path.join(store, "type-UTF8_STRING"), "wb") as f:
    f.write(b"one\r\ntwo")
out = zel(["read-clipboard"], display=":77", path_first=True)
check('== "one^/two"' in out, f"desktop text has CR LF made LF: {out!r}")
reset()
with open(os.path.join(store, "type-text%2Furi-list"), "wb") as f:
    f.write(b"# comment\r\nfile:///home/u/a%20b.txt\r\nfile://localhost/etc/hosts\r\nhttp://x/y\r\n")
out = zel(["read-clipboard"], display=":77", path_first=True)
check('== [%"/home/u/a b.txt" %/etc/hosts]' in out, f"a URI list reads as files: {out!r}")

# A Wayland display: wl-copy and wl-paste.
reset()
check_round_trip(zel(ROUND_TRIP, wayland="wayland-77", path_first=True), "wl-copy")
calls = log()
check("['wl-copy', '--type', 'text/plain;charset=utf-8']" in calls and
      "['wl-copy', '--clear']" in calls and "'wl-paste', '--no-newline'" in calls,
      f"wl-copy and wl-paste are used: {calls}")

# A clipboard tool that never answers cannot hang the program: the read fails with false.
hang = os.path.join(tmp, "hang")
os.makedirs(hang)
with open(os.path.join(hang, "xclip"), "w") as f:
    f.write("#!/bin/sh\nexec sleep 30\n")
os.chmod(os.path.join(hang, "xclip"), 0o755)
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY")}
env.update(DISPLAY=":77", PATH=hang + ":" + env["PATH"])
r = subprocess.run([ZEL], input=b"read-clipboard\n", env=env, capture_output=True, timeout=20)
check("== false" in r.stdout.decode(), f"a tool that does not answer gives false: {r.stdout!r}")

# A real X display with xclip, when this machine has them.
if os.environ.get("DISPLAY") and shutil.which("xclip"):
    out = zel(['write-clipboard "real^/clip"', "read-clipboard"], display=os.environ["DISPLAY"])
    check('== "real^/clip"' in out, f"the real X clipboard: {out!r}")
else:
    print("skipped: no X display with xclip")

# browse: one argument to xdg-open, whatever the text holds; a file name beginning with "-" is
# not taken for an option.
reset()
out = zel(['browse to url! "http://127.0.0.1/a;b$(touch pwned)&c"', "browse %-x.html"],
          path_first=True)
# The opener runs on its own: give it time to write down what it was given.
deadline = time.time() + 20
while log().count("xdg-open") < 2 and time.time() < deadline:
    time.sleep(0.1)
calls = log()
check("['xdg-open', 'http://127.0.0.1/a;b$(touch pwned)&c']" in calls, f"browse a url: {calls}")
check("['xdg-open', './-x.html']" in calls, f"browse a file: {calls}")
check(not os.path.exists(os.path.join(tmp, "pwned")), "browse runs no shell")
out = zel(["browse http://x/"], timeout=20) if not shutil.which("xdg-open") else ""
if out:
    check("*** Access Error: cannot open: http://x/" in out, f"browse without xdg-open: {out!r}")

shutil.rmtree(tmp)
finish()
