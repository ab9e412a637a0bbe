"""read, write, load and do of http URLs against a loopback server started here: the forms of the
result, methods, headers and bodies as the server received them, redirects, statuses, a slow
answer, and the errors for a refused connection and for refinements HTTP does not take."""
import os
import socket

from loopback_http import Server
from zeltest import run, check, finish

server = Server()
# A proxy set in the environment must not take the loopback requests.
os.environ["no_proxy"] = os.environ["NO_PROXY"] = "127.0.0.1"
base = server.base


def zel(lines, timeout=60):
    r = run(stdin="".join(line + "\n" for line in lines), timeout=timeout)
    return r.stdout.decode("utf-8", "replace")


def last_request():
    return server.requests[-1]


# The forms of a response: text with CR LF as LF, every byte, lines, and [status headers body].
cases = [
    (f"read {base}/text", '== {one^/two^/thr\u00e9e^/}'),
    (f"read/binary {base}/text", "== #{6F6E650D0A74776F0D0A746872C3A9650D0A}"),
    (f"read/lines {base}/text", '== ["one" "two" "thr\u00e9e"]'),
    (f"r: read/info {base}/dup reduce [r/1 r/2/Set-Cookie r/2/X-Tight r/3]",
     '== [200 ["a=1" "b=2"] "value" "ok"]'),
    (f"r: read/info/binary {base}/text reduce [r/1 r/2/Content-Type binary? r/3]",
     '== [200 "text/plain" true]'),
    # Redirects are followed; the headers are those of the final answer.
    (f"r: read/info {base}/redirect reduce [r/1 r/3 r/2/Location]", '== [200 {one^/two^/thr\u00e9e^/} none]'),
    # An HTTP error status is an answer: its body is the data, /info gives the status.
    (f"read {base}/missing", '== "no such page"'),
    (f"first read/info {base}/broken", "== 500"),
    (f"read {base}/slow", '== "late"'),
]
out = zel([c[0] for c in cases])
for source, expected in cases:
    if expected:
        check(expected in out, f"{source} gives {expected}: {out!r}")

r = run(stdin=f'print enbase/base read/binary {base}/bin 16\n')
check(r.stdout.decode().split("\n")[-2] == bytes(range(256)).hex().upper(),
      f"read/binary keeps every byte: {r.stdout!r}")

# The URL holds decoded text: what leaves is escaped again, "%" included.
zel([f"read {base}/echo/a%20b%25c/%C3%A9?q=1"])
check(last_request()["path"] == "/echo/a%20b%25c/%C3%A9?q=1", f"the URL escaped: {last_request()}")

# The default headers go with a request that gives none, in order; a headers block replaces
# them all, its pairs in block order (names as words or any value formed).
zel([f"read {base}/echo/default"])
names = [k for k, v in last_request()["headers"]]
check(names == ["Host", "Accept", "Content-Type", "Accept-Charset", "User-Agent"],
      f"default headers in order: {names}")
headers = dict(last_request()["headers"])
check(headers["Content-Type"] == "application/x-www-form-urlencoded" and
      headers["Accept-Charset"] == "UTF-8" and headers["User-Agent"].startswith("Mozilla/5.0"),
      f"default header values: {headers}")

zel([f'write {base}/echo/put [PUT [X-One: "1" "X-Two" 2 Accept: "a/b"] #{{00FF}}]'])
q = last_request()
check(q["method"] == "PUT" and q["body"] == b"\x00\xff", f"PUT with a binary body: {q}")
check([k for k, v in q["headers"]] == ["Host", "X-One", "X-Two", "Accept", "Content-Length"],
      f"a headers block sends its pairs only, in order: {q['headers']}")

# Methods and bodies: a string is POSTed as UTF-8 with its line ends kept; GET and HEAD send
# none even when given one; another word is upper-cased.
method_cases = [
    (f'write {base}/echo/a "na\u00efve^/text"', "POST", "naïve\ntext".encode()),
    (f"write {base}/echo/b []", "GET", b""),
    (f'write {base}/echo/c [get [] "ignored"]', "GET", b""),
    (f"write/info {base}/echo/d [head]", "HEAD", b""),
    (f'write {base}/echo/e [patch [] "p"]', "PATCH", b"p"),
    (f"write {base}/echo/f [delete]", "DELETE", b""),
]
zel([c[0] for c in method_cases])
for source, method, body in method_cases:
    path = source.split(base)[1].split()[0]
    got = [q for q in server.requests if q["path"] == path]
    check(len(got) == 1 and got[0]["method"] == method and got[0]["body"] == body,
          f"{source}: {got}")

# write answers what read would: /info gives the triple.
out = zel([f'r: write/info {base}/echo/g [POST [] "x"] reduce [r/1 find r/3 "/echo/g"]'])
check('== [200 {/echo/g^/Host:' in out and '^/^/x}]' in out, f"write/info: {out!r}")

# Errors: no answer at all; refinements HTTP does not take; a bad request block; a URL that no
# scheme serves.
with socket.socket() as s:
    s.bind(("127.0.0.1", 0))
    closed_port = s.getsockname()[1]
error_cases = [
    (f"read http://127.0.0.1:{closed_port}/x",
     f"*** Access Error: cannot connect: http://127.0.0.1:{closed_port}/x reason: timeout"),
    (f"read/part {base}/text 2", "*** Internal Error: reserved for future use (or not yet implemented)"),
    (f"write/seek {base}/echo/h 1 2", "*** Internal Error: reserved for future use"),
    (f"write {base}/echo/h [1]", "*** Script Error: invalid argument: 1"),
    (f"write {base}/echo/h [post 2]", "*** Script Error: invalid argument: 2"),
    (f"write {base}/echo/h [post [] 3]", "*** Script Error: invalid argument: 3"),
    ("read ftp://127.0.0.1/x", "*** Script Error: invalid argument: ftp://127.0.0.1/x"),
]
out = zel([c[0] for c in error_cases])
for source, expected in error_cases:
    check(expected in out, f"{source} raises {expected}: {out!r}")
check(server.count("/echo/h") == 0, "a refused request sends nothing")

# load and do of a URL: load decodes the body, a failed status loads none; do runs the script.
out = zel([f"load {base}/data", f"load {base}/missing", f"do {base}/script"])
check('== [1 two "three"]' in out, f"load of a url: {out!r}")
check("== none" in out, f"load of a 404 gives none: {out!r}")
check("remote ran\n== 42" in out, f"do of a url: {out!r}")

server.stop()
finish()
