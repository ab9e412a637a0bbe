"""A loopback HTTP server for the whole-program tests: it runs on 127.0.0.1 in a thread of the
test, so nothing leaves the machine. It records every request (method, path, headers in order,
body) and serves:

  /echo...      200, the request echoed as text: method, path, "Name: value" lines, body
  /text         200, text with CR LF line ends
  /bin          200, bytes 0-255
  /dup          200, two Set-Cookie headers and a header sent as "X-Tight:value"
  /redirect     302 to /text
  /missing      404 with a body
  /broken       500 with a body
  /slow         200 after a second
  /script       200, a script
  /data         200, a block of values as text
  /json         200, Content-Type application/json
  /file/NAME    200, the bytes of a file set in `files`, or 404 when absent
"""
import http.server
import threading
import time


class Server:
    def __init__(self):
        self.requests = []
        self.files = {}
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def reply(self, status, body, headers=()):
                self.send_response(status)
                for name, value in headers:
                    self.send_header(name, value)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(body)

            def handle_any(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                outer.requests.append({"method": self.command, "path": self.path,
                                       "headers": list(self.headers.items()), "body": body})
                p = self.path
                if p.startswith("/echo"):
                    lines = [self.command, p] + [f"{k}: {v}" for k, v in self.headers.items()]
                    self.reply(200, ("\n".join(lines) + "\n\n").encode() + body,
                               [("Content-Type", "text/plain; charset=utf-8")])
                elif p == "/text":
                    self.reply(200, "one\r\ntwo\r\nthr\u00e9e\r\n".encode(),
                               [("Content-Type", "text/plain")])
                elif p == "/bin":
                    self.reply(200, bytes(range(256)), [("Content-Type", "application/octet-stream")])
                elif p == "/dup":
                    self.send_response(200)
                    self.send_header("Set-Cookie", "a=1")
                    self.send_header("Set-Cookie", "b=2")
                    self.end_headers_raw([b"X-Tight:value\r\n"], b"ok")
                elif p == "/redirect":
                    self.reply(302, b"moved", [("Location", "/text")])
                elif p == "/missing":
                    self.reply(404, b"no such page", [("Content-Type", "text/plain")])
                elif p == "/broken":
                    self.reply(500, b"server fault", [("Content-Type", "text/plain")])
                elif p == "/slow":
                    time.sleep(1)
                    self.reply(200, b"late", [("Content-Type", "text/plain")])
                elif p == "/script":
                    self.reply(200, b"Zel [title: \"remote\"]\nprint \"remote ran\"\n6 * 7\n",
                               [("Content-Type", "text/plain")])
                elif p == "/data":
                    self.reply(200, b"[1 two \"three\"]", [("Content-Type", "text/plain")])
                elif p.startswith("/file/"):
                    name = p[len("/file/"):]
                    if name in outer.files:
                        self.reply(200, outer.files[name], [("Content-Type", "text/plain")])
                    else:
                        self.reply(404, b"gone", [("Content-Type", "text/plain")])
                else:
                    self.reply(404, b"unknown")

            def end_headers_raw(self, raw_lines, body):
                self.send_header("Content-Length", str(len(body)))
                for line in raw_lines:
                    self._headers_buffer.append(line)
                self.end_headers()
                self.wfile.write(body)

            do_GET = do_POST = do_PUT = do_DELETE = do_HEAD = do_PATCH = handle_any

        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.port = self.httpd.server_address[1]
        self.base = f"http://127.0.0.1:{self.port}"
        threading.Thread(target=self.httpd.serve_forever, daemon=True).start()

    def count(self, path):
        return sum(1 for r in self.requests if r["path"] == path)

    def stop(self):
        self.httpd.shutdown()
