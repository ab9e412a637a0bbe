"""The boot payload: zel starts from the library serialized at build time, and a copy of zel whose
payload is damaged anywhere (compressed stream, directory, a module's records) refuses to start,
saying so and exiting with code 1, instead of running a different library."""
import os
import re
import shutil
import stat
import subprocess
import tempfile

from zeltest import ZEL, run, check, finish

generated = os.path.join(os.path.dirname(ZEL), "generated", "boot_payload.cpp")
with open(generated) as f:
    text = f.read()
body = text[text.index("{", text.index("payload[]")) + 1:text.index("};")]
payload = bytes(int(x) for x in re.findall(r"\d+", body))
with open(ZEL, "rb") as f:
    image = f.read()
at = image.find(payload)
check(at >= 0 and image.find(payload, at + 1) < 0, "the payload is in zel exactly once")

# The library is the same: the library's words and system are there.
r = run(stdin="print [length? words-of system/words system/codecs/zelbin/name]\n")
check(r.returncode == 0 and b"Zelbin" in r.stdout, f"start-up from the payload: {r.stdout[-300:]!r}")

tmp = tempfile.mkdtemp(prefix="zel-payload-")
# Positions: the sizes, the first chunk's size word, early and late in the stream.
positions = [0, 4, 8, 9, 12, 40, len(payload) // 3, len(payload) // 2, len(payload) - 2]
for i, pos in enumerate(positions):
    damaged = bytearray(image)
    damaged[at + pos] ^= 0x10
    path = os.path.join(tmp, f"zel{i}")
    with open(path, "wb") as f:
        f.write(damaged)
    os.chmod(path, os.stat(path).st_mode | stat.S_IEXEC)
    r = subprocess.run([path], input=b"print 1\n", capture_output=True, timeout=60)
    out = r.stdout.decode("utf-8", "replace")
    check(r.returncode == 1, f"payload byte {pos} damaged: exit code 1, got {r.returncode}: {out[-200:]!r}")
    check("Error: Zelbin compressed data corrupted!" in out or "Start-up failed" in out,
          f"payload byte {pos} damaged: says so, got {out[-200:]!r}")
shutil.rmtree(tmp)
finish()
