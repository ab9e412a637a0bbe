"""decode-url against Python's urllib.parse.urlsplit on a table of URLs.

Each URL is given as a string! and, when the lexer reads it as a url! that molds back to the
same text, as that url! too; both must give the same fields. The expected fields come from
urlsplit, with these differences that the URL parser has on purpose (each named where used):
- scheme: kept as written (urlsplit lowers it);
- user-info: one text, "user:password", percent-decoded (urlsplit splits it, undecoded);
- host: as written (urlsplit's hostname is lowered); an IP literal keeps its brackets;
- path and target: the percent-decoded path split after its last "/" (a rootless path gives
  ./ and the whole path); no path at all gives none for both;
- query and fragment: percent-decoded, and none when absent (urlsplit: "" for both);
- what the grammar does not take gives none where urlsplit is lenient (the REJECTED table).
"""
from urllib.parse import unquote, urlsplit

from zeltest import run_script, check, finish

ACCEPTED = [
    "http://user:pw@host.com:8080/a/b.html?x=1#top",
    "https://example.org/",
    "http://host",
    "http://h:8080",
    "file:///x",
    "mailto:name@example.com",
    "urn:isbn:0451450523",
    "tel:+1-816-555-1212",
    "news:comp.lang",
    "http://h/p?#",
    "ftp://ftp.example.com/pub/file.txt",
    "http://a%20b:c@host/p%2Fq/r%20s?q%20=1#f%20g",  # %2F becomes a separator
    "http://[::1]:80/x",
    "http://[fe80::1%25eth0]/",
    "HTTP://User@Host.COM/",
    "s3+x.y-z://bucket/key",
    "http://h/a/b/?q=a/b?c#frag/x?y",
    "http://h/~user/_x-y.z!$&'()*+,;=:@",
    "http://h/%C3%A9t%C3%A9",
    "http://h:65535/",
    "http://h:99999/",  # 5 digits are taken though above the port range
]

REJECTED = {
    "1http://x": "a scheme starts with a letter",
    "http://host:123456/": "a port has at most 5 digits",
    "http://h:/": "a ':' must be followed by a port",
    "http://h/a b": "a space is not in the grammar",
    "http://h/a|b": "'|' is not in the grammar",
    "http://h/a%zz": "'%' must begin an escape",
    "http://a@b@c/": "one '@' in the authority",
    "no-scheme": "relative references are not taken",
    "//host/path": "relative references are not taken",
}


def expected(url):
    s = urlsplit(url)
    scheme = url[:len(s.scheme)]
    hostinfo = s.netloc.rpartition("@")[2]
    user = s.netloc.rpartition("@")[0] if "@" in s.netloc else None
    if hostinfo.startswith("["):
        host = hostinfo[:hostinfo.index("]") + 1]
        port = hostinfo[len(host) + 1:] or None
    else:
        host, _, port = hostinfo.partition(":")
        port = port or None
    has_authority = url[len(scheme) + 1:].startswith("//")
    path = unquote(s.path)
    if not path:
        folder = target = None
    elif "/" not in path:
        folder, target = "./", path
    else:
        cut = path.rstrip("/").rfind("/") + 1 if path != "/" else 1
        folder, target = path[:cut], path[cut:] or None
    before_fragment = url.partition("#")[0]
    return [scheme,
            unquote(user) if user is not None else None,
            unquote(host) if has_authority else None,
            port,
            folder, target,
            unquote(s.query) if "?" in before_fragment else None,
            unquote(s.fragment) if "#" in url else None]


def field_line(fields):
    return "|".join("<none>" if f is None else str(f) for f in fields) + "|"


script = ["Zel []",
          "show: func [u /local p out v][",
          "    p: decode-url u",
          '    if none? p [print "NONE" exit]',
          '    out: copy ""',
          "    foreach w [scheme user-info host port path target query fragment][",
          "        v: get in p w",
          '        append append out either none? v ["<none>"][form v] "|"',
          "    ]",
          "    print out",
          "]",
          "as-url: func [s /local u][",
          "    u: attempt [load s]",
          "    either all [url? u  s == mold u][u][s]",
          "]"]
cases = []
for url in ACCEPTED:
    cases.append((url, "string!", field_line(expected(url))))
    cases.append((url, "url!", field_line(expected(url))))
for url, why in REJECTED.items():
    urlsplit(url)  # urlsplit takes every one of them
    cases.append((url, f"string! ({why})", "NONE"))
for url, kind, _ in cases:
    text = '"' + url.replace("^", "^^").replace('"', '^"') + '"'
    script.append(f"show {text}" if kind.startswith("string!") else f"show as-url {text}")
lines = run_script(script)
for i, (url, kind, want) in enumerate(cases):
    got = lines[i] if i < len(lines) else "<missing>"
    check(got == want, f"{url} as {kind}: got {got!r}, wanted {want!r}")
finish()
