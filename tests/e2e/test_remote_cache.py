"""The remote-file cache against a loopback server: the first fetch stores, the second is served
from the cache without a request, /update fetches again; failed fetches are never stored; a hit
gives the value the miss gave; the entry's name is the upper-case MD5 of the URL, under
$XDG_CACHE_HOME (or ~/.cache) in a folder of its first two digits."""
import hashlib
import os
import shutil
import socket
import tempfile

from loopback_http import Server
from zeltest import run, check, finish

server = Server()
# A proxy set in the environment must not take the loopback requests.
os.environ["no_proxy"] = os.environ["NO_PROXY"] = "127.0.0.1"
base = server.base
server.files["a.txt"] = b"one\r\ntwo\xc3\xa9\n"
server.files["data.txt"] = b'[1 two "three" 4.5]'
server.files["script.zel"] = b'Zel [title: "remote"]\nprint "script ran"\n6 * 7\n'

cache_home = tempfile.mkdtemp(prefix="zel-thru-")
root = os.path.join(cache_home, "zel")


def zel(lines, env=None):
    e = {"XDG_CACHE_HOME": cache_home}
    e.update(env or {})
    r = run(stdin="".join(line + "\n" for line in lines), env=e)
    return r.stdout.decode("utf-8", "replace")


def entry(url):
    digest = hashlib.md5(url.encode()).hexdigest().upper()
    return os.path.join(root, digest[:2], digest)


url = f"{base}/file/a.txt"

# The entry's path; the folders are made by path-thru itself.
out = zel([f"path-thru {url}", f"exists-thru? {url}"])
check(f"== %{entry(url)}\n== false" in out, f"path-thru names the MD5 entry: {out!r}")
check(os.path.isdir(os.path.dirname(entry(url))), "path-thru makes the two-digit folder")
upper = url.replace("a.txt", "A.TXT")
out = zel([f"equal? path-thru {url} path-thru {upper}"])
check("== false" in out, "URLs that differ in case have their own entries")

# First read stores, the second comes from the cache, /update fetches again; text and binary
# come from the same bytes.
out = zel([f"read-thru {url}", f"read-thru {url}", f"read-thru/binary {url}", f"exists-thru? {url}"])
check(out.count('== "one^/two\u00e9^/"') == 2 and "== #{6F6E650D0A74776FC3A90A}" in out and
      "== true" in out, f"read-thru: {out!r}")
check(server.count("/file/a.txt") == 1, f"one request for three reads: {server.count('/file/a.txt')}")
with open(entry(url), "rb") as f:
    check(f.read() == server.files["a.txt"], "the entry holds the bytes as they came")
server.files["a.txt"] = b"changed"
out = zel([f"read-thru {url}", f"read-thru/update {url}", f"read-thru {url}"])
check(out.count('== "one^/two\u00e9^/"') == 1 and out.count('== "changed"') == 2,
      f"/update fetches and replaces the entry: {out!r}")
check(server.count("/file/a.txt") == 2, "only /update reached the server")
check(not [n for n in os.listdir(os.path.dirname(entry(url))) if ".part" in n],
      "no partial file is left beside an entry")

# A failed fetch is never stored: an HTTP error status (read gives its body, load gives none)
# and a refused connection (an error) leave no entry, and the next call asks again.
missing = f"{base}/file/missing.txt"
out = zel([f"read-thru {missing}", f"load-thru {missing}", f"exists-thru? {missing}",
           f"read-thru {missing}"])
check(out.count('== "gone"') == 2 and "== none" in out and "== false" in out,
      f"a 404 is passed on, not stored: {out!r}")
check(server.count("/file/missing.txt") == 3, "each call after a failed fetch asks again")
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    closed = f"http://127.0.0.1:{s.getsockname()[1]}/x"
out = zel([f"read-thru {closed}", f"exists-thru? {closed}"])
check(f"*** Access Error: cannot connect: {closed}" in out and "== false" in out,
      f"a refused connection raises and stores nothing: {out!r}")

# load-thru and do-thru: the hit gives what the miss gave.
data = f"{base}/file/data.txt"
out = zel([f"a: load-thru {data}", f"b: load-thru {data}", "equal? a b", "a",
           f"load-thru/as {data} none"])
check('== true\n== [1 two "three" 4.5]\n== [1 two "three" 4.5]' in out, f"load-thru: {out!r}")
check(server.count("/file/data.txt") == 1, "load-thru stores the first fetch")
script = f"{base}/file/script.zel"
out = zel([f"do-thru {script}", f"do-thru {script}", f"do-thru/update {script}"])
check(out.count("script ran\n== 42") == 3, f"do-thru runs the script, header and all: {out!r}")
check(server.count("/file/script.zel") == 2, "do-thru fetches once, and again with /update")

# exists-thru? of a file! looks at that file only; the cache folder is not made for it.
out = zel(["exists-thru? %/no/such/file", "system/options/thru-cache"])
check("== false\n== none" in out, f"exists-thru? of a file!: {out!r}")

# Without $XDG_CACHE_HOME (or with a relative one) the cache is ~/.cache/zel/.
home = tempfile.mkdtemp(prefix="zel-home-")
out = zel([f"path-thru {url}"], env={"XDG_CACHE_HOME": "relative", "HOME": home})
check(f"== %{home}/.cache/zel/" in out, f"the cache under ~/.cache: {out!r}")
shutil.rmtree(home)

server.stop()
shutil.rmtree(cache_home)
finish()
