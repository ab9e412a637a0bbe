"""Runs the unit-test binary as the child of this process with an environment of its own and
checks what list-env and get-env report in the child against that environment.

usage: env_oracle.py <unit-test binary>; prints "ok" or the differences.
"""
import os
import subprocess
import sys

exe = sys.argv[1]
env = {
    b"ZEL_ENV_CHILD": b"1",
    b"PLAIN": b"value",
    b"EMPTY": b"",
    b"WITH_EQ": b"a=b=c",
    b"UTF": "\u00e9\u20ac\U0001F600".encode(),
    b"RAW": b"\xff\xfe\x80 bytes",
    b"SPACE NAME": b" padded ",
    b"lower": b"small",
    b"LOWER": b"LARGE",
    b"LINES": b"one\ntwo",
}
# The sanitizer build reads its options from the environment.
for name in (b"ASAN_OPTIONS", b"UBSAN_OPTIONS", b"LSAN_OPTIONS"):
    if name in os.environb:
        env[name] = os.environb[name]

result = subprocess.run([exe, "--gtest_filter=SystemNativesChild.*"], env=env,
                        capture_output=True, timeout=120)
listed, got = {}, {}
for line in result.stdout.split(b"\n"):
    parts = line.split(b" ")
    if parts[0] == b"ENV" and len(parts) == 3:
        listed[bytes.fromhex(parts[1].decode())] = bytes.fromhex(parts[2].decode())
    elif parts[0] == b"GET" and len(parts) == 3:
        got[bytes.fromhex(parts[1].decode())] = (
            None if parts[2] == b"NONE" else bytes.fromhex(parts[2].decode()))

problems = []
if result.returncode != 0:
    problems.append("child failed: " + result.stdout.decode(errors="replace")[-2000:])
if listed != env:
    problems.append(f"list-env {listed!r} != {env!r}")
for name, value in env.items():
    want = value if value else None  # an empty variable reads as none
    if got.get(name, "missing") != want:
        problems.append(f"get-env {name!r}: {got.get(name, 'missing')!r} != {want!r}")
if got.get(b"ZEL_NOT_SET", "missing") is not None:
    problems.append("get-env of an absent variable is not none")
print("\n".join(problems) if problems else "ok")
