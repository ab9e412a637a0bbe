"""Writes that fail part-way (a full disk): the file written keeps its old content whole, a new file
is not left behind, nothing else is left in the folder, and the error names the file and the
reason. Run on a small tmpfs when one can be mounted here, and always with the write error
injected through the file layer's test-only switch (ZEL_TEST_WRITE_FAIL_AFTER)."""
import os
import stat
import subprocess
import tempfile

from zeltest import ZEL, check, finish

BIG = 200_000  # more than the small file system holds, and more than the injected budget
OLD = "old content"


def run_script(folder, body, env_extra):
    path = os.path.join(tempfile.mkdtemp(prefix="zel-write-script-"), "w.zel")
    with open(path, "w") as f:
        f.write(f"Zel []\nchange-dir %{folder}/\nbig: append/dup copy {{}} {{x}} {BIG}\n{body}\n")
    env = dict(os.environ, HOME=os.path.dirname(path), **env_extra)
    r = subprocess.run([ZEL, path], capture_output=True, env=env, timeout=60)
    return r.returncode, r.stdout.decode("utf-8", "replace")


def put(folder, name, text, mode=0o644):
    p = os.path.join(folder, name)
    with open(p, "w") as f:
        f.write(text)
    os.chmod(p, mode)
    return p


def content(folder, name):
    with open(os.path.join(folder, name)) as f:
        return f.read()


def reported(out, name):
    return f"cannot write: %{name} reason: \"No space left on device\"" in out


def clear(folder):
    for entry in os.listdir(folder):
        os.remove(os.path.join(folder, entry))


def failing_writes(folder, env_extra, label):
    # Each way of writing meets the full disk; what was there stays, what was not is not made.
    cases = [
        ("write", "old.txt", "write %old.txt big"),
        ("write/lines", "old.txt", "write/lines %old.txt reduce [big big]"),
        ("write/append", "old.txt", "write/append %old.txt big"),
        ("write/seek", "old.txt", "write/seek %old.txt big 4"),
        ("save", "old.txt", "save %old.txt big"),
        ("write of a new file", "new.txt", "write %new.txt big"),
        ("write/append of a new file", "new.txt", "write/append %new.txt big"),
    ]
    for what, name, code in cases:
        clear(folder)
        put(folder, "old.txt", OLD, 0o640)
        status, out = run_script(folder, code, env_extra)
        where = f"{label}, {what}"
        check(status == 1 and reported(out, name), f"{where}: exit 1 and report: {status} {out!r}")
        check(content(folder, "old.txt") == OLD, f"{where}: old file kept whole")
        check(stat.S_IMODE(os.stat(os.path.join(folder, "old.txt")).st_mode) == 0o640,
              f"{where}: old file keeps its mode")
        check(sorted(os.listdir(folder)) == ["old.txt"],
              f"{where}: nothing left beside it: {os.listdir(folder)}")

    # Through a link the target is written and the link stays; a failure leaves both as they were.
    clear(folder)
    put(folder, "old.txt", OLD)
    put(folder, "target.txt", OLD)
    os.symlink("target.txt", os.path.join(folder, "link"))
    status, out = run_script(folder, "write %link big", env_extra)
    check(status == 1 and reported(out, "link"), f"{label}, via a link: {status} {out!r}")
    check(os.path.islink(os.path.join(folder, "link")) and content(folder, "target.txt") == OLD,
          f"{label}, via a link: link and target kept")
    check(sorted(os.listdir(folder)) == ["link", "old.txt", "target.txt"],
          f"{label}, via a link: nothing left beside it: {os.listdir(folder)}")

    # A file with a second name is written in place (both names keep seeing one file), and put
    # back as it was when the write fails.
    clear(folder)
    put(folder, "old.txt", OLD)
    os.link(os.path.join(folder, "old.txt"), os.path.join(folder, "alias.txt"))
    status, out = run_script(folder, "write %old.txt big", env_extra)
    check(status == 1 and reported(out, "old.txt"), f"{label}, hard link: {status} {out!r}")
    check(content(folder, "old.txt") == OLD and content(folder, "alias.txt") == OLD,
          f"{label}, hard link: both names keep the old content")


def successful_writes(folder):
    clear(folder)
    put(folder, "kept.txt", OLD, 0o600)
    put(folder, "target.txt", OLD)
    os.symlink("target.txt", os.path.join(folder, "link"))
    status, out = run_script(folder, 'write %kept.txt "new"\nwrite %link "through"\n'
                             'write/append %kept.txt "+"\nwrite/seek %kept.txt "N" 0', {})
    check(status == 0, f"successful writes: {status} {out!r}")
    check(content(folder, "kept.txt") == "New+", "write, append and seek land")
    check(stat.S_IMODE(os.stat(os.path.join(folder, "kept.txt")).st_mode) == 0o600,
          "a replaced file keeps its mode")
    check(os.path.islink(os.path.join(folder, "link")) and content(folder, "target.txt") ==
          "through", "a write through a link changes the target, not the link")
    check(sorted(os.listdir(folder)) == ["kept.txt", "link", "target.txt"],
          f"successful writes leave nothing beside: {os.listdir(folder)}")
    os.link(os.path.join(folder, "kept.txt"), os.path.join(folder, "alias.txt"))
    status, out = run_script(folder, 'write %kept.txt "both"', {})
    check(status == 0 and content(folder, "alias.txt") == "both",
          f"a file with two names is written in place: {status} {out!r}")

    # Standard output redirected to a file and written by name stays the same file.
    log = put(folder, "log.txt", "")
    before = os.stat(log).st_ino
    script = os.path.join(folder, "to-stdout.zel")
    with open(script, "w") as f:
        f.write('Zel []\nwrite %/dev/stdout "one^/"\n')
    with open(log, "w") as out_file:
        r = subprocess.run([ZEL, script], stdout=out_file, timeout=60)
    check(r.returncode == 0 and os.stat(log).st_ino == before and content(folder, "log.txt") ==
          "one\n", f"write %/dev/stdout into a redirected file: {content(folder, 'log.txt')!r}")


def mount_small_tmpfs():
    folder = tempfile.mkdtemp(prefix="zel-small-fs-")
    r = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", folder],
                       capture_output=True)
    if r.returncode != 0:
        os.rmdir(folder)
        return None
    return folder


plain = tempfile.mkdtemp(prefix="zel-write-")
successful_writes(plain)
failing_writes(plain, {"ZEL_TEST_WRITE_FAIL_AFTER": "1000"}, "injected")

small = mount_small_tmpfs()
if small:
    try:
        failing_writes(small, {}, "small tmpfs")
    finally:
        subprocess.run(["umount", small])
        os.rmdir(small)
else:
    print("no small file system could be mounted: the injected failures stand in for it")

# A device that takes no byte: an error naming it, and the program does not report success.
status, out = run_script(plain, "write %/dev/full {x}", {})
check(status == 1 and reported(out, "/dev/full"), f"/dev/full: {status} {out!r}")

finish()
