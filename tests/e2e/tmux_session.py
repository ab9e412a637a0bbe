"""A terminal for the whole-program tests: a shell in a tmux pane of its own server, typed into
with send-keys and read back with capture-pane, as a person at a terminal would use it."""
import os
import re
import shlex
import subprocess
import tempfile
import time


class Session:
    def __init__(self, env=None, cwd=None, width=80, height=24):
        self.socket = f"zel-e2e-{os.getpid()}-{id(self)}"
        e = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TERM": "xterm-256color",
             "HOME": os.environ.get("HOME", "/tmp"), "LANG": "C.UTF-8", "PS1": "$ "}
        if env:
            e.update(env)
        self.rcfile = tempfile.NamedTemporaryFile("w", suffix=".sh", delete=False)
        self.rcfile.write("PS1='$ '\n")
        self.rcfile.close()
        exports = " ".join(f"{k}={shlex.quote(v)}" for k, v in e.items())
        shell = f"env -i {exports} bash --noprofile --rcfile {self.rcfile.name} -i"
        self.tmux("new-session", "-d", "-x", str(width), "-y", str(height),
                  "-c", cwd or os.getcwd(), shell)
        self.wait_for(r"^\$ ?$")

    def tmux(self, *args):
        return subprocess.run(["tmux", "-L", self.socket, "-f", "/dev/null", *args],
                              capture_output=True, text=True, check=True).stdout

    def keys(self, *keys):
        """Named keys as tmux knows them (Enter, Up, BSpace, C-c ...)."""
        self.tmux("send-keys", *keys)

    def type(self, text):
        """Literal text, each character typed."""
        self.tmux("send-keys", "-l", text)

    def inject(self, data):
        """Exact bytes, as a terminal would send them (escape sequences, split sequences)."""
        self.tmux("send-keys", "-H", *(f"{b:02x}" for b in data))

    def flags(self):
        """The pane's modes: mouse reporting, SGR mouse, alternate screen, visible cursor."""
        names = ["mouse_any_flag", "mouse_sgr_flag", "alternate_on", "cursor_flag"]
        values = self.tmux("display-message", "-p", " ".join(f"#{{{n}}}" for n in names))
        return dict(zip(names, (int(v) for v in values.split())))

    def resize(self, width, height):
        self.tmux("resize-window", "-x", str(width), "-y", str(height))

    def screen(self):
        return self.tmux("capture-pane", "-p")

    def lines(self):
        return self.screen().rstrip("\n").split("\n")

    def cursor(self):
        x, y = self.tmux("display-message", "-p", "#{cursor_x},#{cursor_y}").strip().split(",")
        return int(x), int(y)

    def wait_for(self, pattern, timeout=10):
        """Waits until the screen matches (re.M); answers the screen, or raises with it."""
        deadline = time.time() + timeout
        while True:
            s = self.screen()
            if re.search(pattern, s, re.M):
                return s
            if time.time() > deadline:
                raise AssertionError(f"screen never matched {pattern!r}:\n{s}")
            time.sleep(0.05)

    def rows_with(self, text, timeout=10):
        """Polls until a line of the screen holds the text (a window may not be painted yet);
        answers the indexes of those lines (empty when time ran out) and every row of the pane."""
        deadline = time.monotonic() + timeout
        while True:
            lines = self.screen().split("\n")
            rows = [i for i, l in enumerate(lines) if text in l]
            if rows or time.monotonic() > deadline:
                return rows, lines
            time.sleep(0.05)

    def settle(self, timeout=5):
        """Waits until the screen stops changing."""
        deadline = time.time() + timeout
        last = self.screen()
        while time.time() < deadline:
            time.sleep(0.15)
            s = self.screen()
            if s == last:
                return s
            last = s
        return last

    def close(self):
        subprocess.run(["tmux", "-L", self.socket, "kill-server"], capture_output=True)
        os.unlink(self.rcfile.name)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
