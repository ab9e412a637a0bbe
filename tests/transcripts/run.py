#!/usr/bin/env python3
"""Runs console transcripts against the built zel.

A transcript is written as a user sees the console: a line that begins with ">> " is typed input
(a continuation line begins with the continuation prompt the console shows, such as "[    ", and
a line typed at the debugger begins with "debug> "),
and every line up to the next input line is the exact output expected for it. Lines that begin
with ";;" are comments. The inputs are fed to zel on its standard input (no prompts are written
then) and the whole output, banner removed, is compared with the expected output. A mismatch is
reported with its file and line and a diff.

Usage: run.py ZEL [TRANSCRIPT_OR_DIR ...]   (default: every .txt under this directory)
"""
import difflib
import os
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
INPUT = re.compile(r"^(>> |\[    |\{    |\(    |<    |\"    |debug> )")


def parse(path):
    """Answers (input text, [(line number, expected line)], [(input line number, text)])."""
    inputs, expected, input_lines = [], [], []
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.rstrip("\n")
            if line.startswith(";;"):
                continue
            m = INPUT.match(line)
            if m:
                inputs.append(line[len(m.group(1)):])
                input_lines.append((number, line))
            else:
                expected.append((number, line))
    while expected and expected[-1][1] == "":
        expected.pop()
    return "\n".join(inputs) + "\n", expected, input_lines


def strip_banner(out):
    """Drops the console's banner: everything up to the first blank line after it."""
    lines = out.split("\n")
    if lines and lines[0].startswith("--== Zel"):
        i = 1
        while i < len(lines) and lines[i] != "":
            i += 1
        lines = lines[i + 1:]
    while lines and lines[-1] == "":
        lines.pop()
    return lines


def run_one(zel, path, env):
    text, expected, _ = parse(path)
    r = subprocess.run([zel], input=text.encode(), capture_output=True, env=env, timeout=300)
    got = strip_banner(r.stdout.decode("utf-8", "replace"))
    want = [line for _, line in expected]
    if got == want:
        return True
    print(f"FAIL {os.path.relpath(path, HERE)}")
    for i, (g, w) in enumerate(zip(got + [None] * len(want), want + [None] * len(got))):
        if g != w:
            where = expected[i][0] if i < len(expected) else (expected[-1][0] if expected else 0)
            print(f"  first difference at {path}:{where}")
            break
    for line in difflib.unified_diff(want, got, "expected", "got", lineterm="", n=2):
        print("  " + line)
    if r.stderr:
        print("  stderr:", r.stderr.decode("utf-8", "replace")[-500:])
    return False


def main():
    zel = os.path.abspath(sys.argv[1])
    targets = sys.argv[2:] or [HERE]
    files = []
    for t in targets:
        if os.path.isdir(t):
            for root, _, names in os.walk(t):
                files += [os.path.join(root, n) for n in sorted(names) if n.endswith(".txt")]
        else:
            files.append(t)
    env = dict(os.environ)
    env.setdefault("HOME", "/tmp/zel-transcripts-home")
    env["XDG_CONFIG_HOME"] = os.path.join(env["HOME"], ".config")
    os.makedirs(env["XDG_CONFIG_HOME"], exist_ok=True)
    # A folder of its own for the files a transcript writes.
    scratch = tempfile.TemporaryDirectory(prefix="zel-transcript-")
    env["ZEL_TRANSCRIPT_TMP"] = scratch.name
    failed = [f for f in sorted(files) if not run_one(zel, f, env)]
    print(f"{len(files) - len(failed)} of {len(files)} transcripts passed")
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
