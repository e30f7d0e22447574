#!/usr/bin/env python3
"""A small web site on the loopback interface for the demonstration session
of tools/run-nulvane.sh: Nulvane browses it under Wine, so that the cache
entries and cookies the session leaves are written by the rendering control
itself.

    tools/loopback-site.py PORT_FILE [LIFETIME_SECONDS (300)]

Binds 127.0.0.1 on a port the system picks, writes the port number to
PORT_FILE once it accepts connections, and stops by itself after the
lifetime, so that a demonstration that went wrong leaves no server behind.

Pages:
  /index.html  a page with an image; sets "visit" for the whole host, the
               name of a cookie the user's own profile already holds, so the
               session overwrites it
  /news.html   a second page; sets the tracker cookie "seen"
  /about.html  a third page, no cookie
  /logo.png    the image (a 16x16 PNG)
Every cookie is persistent (it has an expiry date): WinINet keeps session
cookies in memory only, and the demonstration is about what reaches disk.
"""
import http.server
import os
import struct
import sys
import threading
import zlib


def png(width, height, rgb):
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    rows = b"".join(b"\0" + bytes(rgb) * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


EXPIRES = "Expires=Fri, 31 Dec 2037 23:59:59 GMT; Path=/"


def page(title, body):
    return ("<!DOCTYPE html><html><head><title>%s</title></head><body><h1>%s</h1>%s"
            "<p><a href=\"index.html\">home</a> <a href=\"news.html\">news</a> "
            "<a href=\"about.html\">about</a></p></body></html>" % (title, title, body)).encode()


SITE = {
    "/index.html": ("text/html", page("Loopback home", "<img src=\"logo.png\" alt=\"logo\">"),
                    ["visit=session-home; " + EXPIRES]),
    "/news.html": ("text/html", page("Loopback news", "<p>Nothing happened today.</p>"),
                   ["seen=news; " + EXPIRES]),
    "/about.html": ("text/html", page("About", "<p>A site on 127.0.0.1.</p>"), []),
    "/logo.png": ("image/png", png(16, 16, (40, 90, 160)), []),
}


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        path = self.path.split("?", 1)[0]
        if path == "/":
            path = "/index.html"
        if path not in SITE:
            self.send_error(404)
            return
        kind, content, cookies = SITE[path]
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Content-Length", str(len(content)))
        # Cacheable for an hour, so the control keeps the response in its
        # Temporary Internet Files.
        self.send_header("Cache-Control", "max-age=3600")
        for cookie in cookies:
            self.send_header("Set-Cookie", cookie)
        self.end_headers()
        self.wfile.write(content)

    def log_message(self, format, *args):
        sys.stderr.write("loopback-site: %s\n" % (format % args))


def main():
    if len(sys.argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    lifetime = float(sys.argv[2]) if len(sys.argv) == 3 else 300.0
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    # Written to a temporary name and renamed: whoever waits for the file
    # never reads half a number.
    temporary = sys.argv[1] + ".tmp"
    with open(temporary, "w") as f:
        f.write("%d\n" % server.server_address[1])
    os.replace(temporary, sys.argv[1])
    timer = threading.Timer(lifetime, server.shutdown)
    timer.daemon = True
    timer.start()
    server.serve_forever()
    server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
