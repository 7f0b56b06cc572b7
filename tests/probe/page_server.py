#!/usr/bin/env python3
"""Serves canned pages on an ephemeral loopback port for the page-check tests.

Prints "PORT <number>" once it listens. Pages listed as pieces are sent with chunked transfer
encoding, one chunk per piece, with a pause between them so the client reads them separately.

Options: --delay-file FILE makes "/delayed" wait the milliseconds written in FILE (none while it is
missing or empty) before it answers, so a test can make the site slow and fast again while it runs;
--cert FILE --key FILE serves https with that certificate and key instead of http.
"""
import argparse
import http.server
import ssl
import sys
import time

FILLER = b"x" * (1024 - len(b"Sondrel"))

# path -> (status, content type, pieces of the body)
PAGES = {
    "/case": (200, "text/html; charset=utf-8", [b"<html><body><h1>WELCOME to the Status Page</h1></body></html>"]),
    "/empty": (200, "text/html", []),
    "/missing": (404, "text/html", [b"<p>Page Not Found: nothing lives here</p>"]),
    "/broken": (500, "text/plain", [b"Internal trouble: Status Page unavailable"]),
    # A blank of the text to find is the last byte of the first 1024.
    "/boundary": (200, "text/plain", [FILLER + b"Sondrel ", b"Monitor ", b"tail"]),
    # "ö" of "Köln" split between its two bytes; no charset, so read as UTF-8.
    "/split-utf8": (200, "text/html", [b"Gr\xc3\xbc\xc3\x9fe aus K\xc3", b"\xb6ln"]),
    "/cp1252": (200, "text/html", [b"Caf\xe9 Ol\xe9 \x80 5"]),
    "/koi8": (200, "text/html; charset=KOI8-R", ["Привет, мир".encode("koi8_r")]),
    "/spaces": (200, "text/plain", [b"   ", b"  Hello there  ", b"   "]),
}


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    delay_file = None

    def delay(self):
        try:
            with open(self.delay_file, encoding="ascii") as control:
                return int(control.read().strip() or 0) / 1000
        except (OSError, TypeError, ValueError):
            return 0

    def do_GET(self):
        if self.path == "/delayed":
            time.sleep(self.delay())
            body = b"<html><body>Delayed page</body></html>"
            self.send_response(200)
            self.send_header("Content-Type", "text/html")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        if self.path == "/redirect":
            self.send_response(302)
            self.send_header("Location", "/case")
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        status, content_type, pieces = PAGES.get(self.path, (404, "text/plain", [b"no such page"]))
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if len(pieces) <= 1:
            body = b"".join(pieces)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)
            return
        self.send_header("Transfer-Encoding", "chunked")
        self.end_headers()
        for piece in pieces:
            self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            self.wfile.flush()
            time.sleep(0.05)
        self.wfile.write(b"0\r\n\r\n")

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--delay-file")
    parser.add_argument("--cert")
    parser.add_argument("--key")
    options = parser.parse_args()
    Handler.delay_file = options.delay_file
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    if options.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(options.cert, options.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print(f"PORT {server.server_address[1]}", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
