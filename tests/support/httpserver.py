#!/usr/bin/env python3
"""A web server for the browser's tests, on 127.0.0.1, HTTP/1.1 with
keep-alive. Serves a directory and the ways a server goes wrong.

    httpserver.py ROOT [PORTFILE]

Prints the port on the first line of standard output (and writes it to
PORTFILE when given), then serves until killed. Routes:

    /files/PATH          ROOT/PATH, typed by its suffix
    /gzip/PATH           the same with Content-Encoding: gzip
    /typed/NAME          ROOT/NAME.wrl as model/vrml under a name with no suffix
    /html/PATH           ROOT/PATH claimed to be text/html
    /redirect/N/PATH     N redirects, then /files/PATH
    /loop                redirects to itself
    /404                 not found
    /silent              headers never come
    /slow                headers, then a byte every two seconds
    /truncated/PATH      a Content-Length longer than what is sent
    /garbage             bytes that are not HTTP
    /huge                a body of a gigabyte
    /count               how many requests and connections were served
"""
import gzip
import os
import socketserver
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

TYPES = {
    ".wrl": "model/vrml", ".wrz": "model/vrml", ".gz": "application/x-gzip", ".gif": "image/gif",
    ".png": "image/png", ".jpg": "image/jpeg", ".bmp": "image/bmp", ".tcl": "application/x-tcl",
    ".wav": "audio/x-wav", ".html": "text/html",
}

stats = {"requests": 0, "connections": 0}
lock = threading.Lock()


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True  # headers and body go out at once, as real servers send them
    root = "."

    def setup(self):
        super().setup()
        with lock:
            stats["connections"] += 1

    def log_message(self, *args):
        pass

    def send_body(self, body, ctype, extra=None, status=200):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        for k, v in (extra or {}).items():
            self.send_header(k, v)
        self.end_headers()
        self.wfile.write(body)

    def local(self, rel):
        path = os.path.realpath(os.path.join(self.root, rel))
        if not path.startswith(os.path.realpath(self.root) + os.sep) or not os.path.isfile(path):
            return None
        with open(path, "rb") as f:
            return f.read()

    def redirect(self, where):
        self.send_response(302)
        self.send_header("Location", where)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def do_GET(self):
        with lock:
            stats["requests"] += 1
        p = self.path.split("?")[0]
        parts = p.split("/", 2)
        route = parts[1] if len(parts) > 1 else ""
        rest = parts[2] if len(parts) > 2 else ""
        if route in ("files", "gzip", "html", "truncated"):
            body = self.local(rest)
            if body is None:
                return self.send_body(b"<html>not here</html>", "text/html", status=404)
            ctype = TYPES.get(os.path.splitext(rest)[1].lower(), "application/octet-stream")
            if route == "files":
                return self.send_body(body, ctype)
            if route == "html":
                return self.send_body(body, "text/html")
            if route == "gzip":
                return self.send_body(gzip.compress(body), ctype, {"Content-Encoding": "gzip"})
            self.send_response(200)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body) + 5000))
            self.end_headers()
            self.wfile.write(body[: len(body) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        if route == "typed":
            body = self.local(rest + ".wrl")
            if body is None:
                return self.send_body(b"", "text/plain", status=404)
            return self.send_body(body, "model/vrml")
        if route == "redirect":
            n, _, tail = rest.partition("/")
            n = int(n) if n.isdigit() else 0
            return self.redirect("/files/" + tail if n <= 0 else "/redirect/%d/%s" % (n - 1, tail))
        if route == "loop":
            return self.redirect("/loop")
        if route == "silent":
            time.sleep(3600)
            return
        if route == "slow":
            self.send_response(200)
            self.send_header("Content-Type", "model/vrml")
            self.send_header("Content-Length", "100000")
            self.end_headers()
            try:
                for _ in range(1000):
                    self.wfile.write(b" ")
                    self.wfile.flush()
                    time.sleep(2)
            except OSError:
                pass
            self.close_connection = True
            return
        if route == "garbage":
            self.wfile.write(os.urandom(3000) + b"\r\n\r\n")
            self.close_connection = True
            return
        if route == "huge":
            self.send_response(200)
            self.send_header("Content-Type", "model/vrml")
            self.send_header("Content-Length", str(1 << 30))
            self.end_headers()
            try:
                self.wfile.write(b"#VRML V1.0 ascii\n")
                chunk = b"#" * 65535 + b"\n"
                for _ in range((1 << 30) // len(chunk)):
                    self.wfile.write(chunk)
            except OSError:
                pass
            self.close_connection = True
            return
        if route == "count":
            with lock:
                body = ("%d %d\n" % (stats["requests"], stats["connections"])).encode()
            return self.send_body(body, "text/plain")
        self.send_body(b"<html>no such route</html>", "text/html", status=404)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # a client that hangs up is what half the routes are for


def main():
    Handler.root = sys.argv[1] if len(sys.argv) > 1 else "."
    server = Server(("127.0.0.1", 0), Handler)
    port = server.server_address[1]
    if len(sys.argv) > 2:
        with open(sys.argv[2] + ".tmp", "w") as f:
            f.write("%d\n" % port)
        os.rename(sys.argv[2] + ".tmp", sys.argv[2])
    print(port, flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
