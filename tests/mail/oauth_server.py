"""A fake OAuth2 authorization server on loopback for the tests.

Usage: oauth_server.py CLIENT_ID [--secret SECRET] [--lifetime SECONDS]
Prints the port it listens on (127.0.0.1, chosen by the system), then serves until standard input closes.
It is also a module: smtp_sink.py --oauth-issuer runs an Issuer and its server in its own process, so that the
SMTP server takes exactly the access tokens the Issuer holds current.

GET /authorize checks the request (client_id, response_type=code, a redirect_uri on http://127.0.0.1 or
http://localhost, a code_challenge with method S256) and redirects to redirect_uri with code and state, as a
browser sees after the user allowed the access. POST /token trades a code (once, with the same redirect_uri and
client_id, the client secret when there is one, and the code_verifier whose SHA-256 is the challenge) or a refresh
token for an access token; what it refuses gets 400 {"error":"invalid_grant"} (or invalid_client, invalid_request).
Test controls: POST /control/expire (every access token so far stops being current), POST /control/revoke (every
refresh token so far is refused), GET /control/stats (counts, and the tokens handed out).
"""
import argparse
import asyncio
import base64
import hashlib
import json
import secrets
import sys
import time
import urllib.parse


class Issuer:
    def __init__(self, client_id, client_secret=None, lifetime=3600):
        self.client_id = client_id
        self.client_secret = client_secret
        self.lifetime = lifetime
        self.codes = {}             # code -> (redirect_uri, challenge)
        self.access = {}            # access token -> expiry (monotonic seconds)
        self.refresh = set()        # refresh tokens still good
        self.issued_refresh = []
        self.stats = {"authorizations": 0, "codeGrants": 0, "refreshGrants": 0, "refused": 0}

    def is_current(self, token):
        expiry = self.access.get(token)
        return expiry is not None and expiry > time.monotonic()

    def authorize(self, query):
        redirect = query.get("redirect_uri", "")
        target = urllib.parse.urlsplit(redirect)
        if (query.get("client_id") != self.client_id or query.get("response_type") != "code"
                or target.scheme != "http" or target.hostname not in ("127.0.0.1", "localhost")
                or query.get("code_challenge_method") != "S256" or not query.get("code_challenge")):
            self.stats["refused"] += 1
            return 400, {"Content-Type": "text/plain"}, b"bad authorization request"
        self.stats["authorizations"] += 1
        code = secrets.token_urlsafe(16)
        self.codes[code] = (redirect, query["code_challenge"])
        location = redirect + "?" + urllib.parse.urlencode({"code": code, "state": query.get("state", "")})
        return 302, {"Location": location}, b""

    def grant(self, form):
        if form.get("client_id") != self.client_id or (
                self.client_secret is not None and form.get("client_secret") != self.client_secret):
            return self.refuse("invalid_client")
        kind = form.get("grant_type")
        if kind == "authorization_code":
            stored = self.codes.pop(form.get("code", ""), None)
            verifier = form.get("code_verifier", "").encode()
            challenge = base64.urlsafe_b64encode(hashlib.sha256(verifier).digest()).rstrip(b"=").decode()
            if stored is None or stored[0] != form.get("redirect_uri") or stored[1] != challenge:
                return self.refuse("invalid_grant")
            self.stats["codeGrants"] += 1
            return self.tokens(new_refresh=True)
        if kind == "refresh_token":
            if form.get("refresh_token") not in self.refresh:
                return self.refuse("invalid_grant")
            self.stats["refreshGrants"] += 1
            return self.tokens(new_refresh=False)
        return self.refuse("unsupported_grant_type")

    def refuse(self, error):
        self.stats["refused"] += 1
        return 400, {"Content-Type": "application/json"}, json.dumps(
            {"error": error, "error_description": "Refused by the test server."}).encode()

    def tokens(self, new_refresh):
        access = "at-" + secrets.token_urlsafe(24)
        self.access[access] = time.monotonic() + self.lifetime
        body = {"access_token": access, "token_type": "Bearer", "expires_in": self.lifetime}
        if new_refresh:
            refresh = "rt-" + secrets.token_urlsafe(24)
            self.refresh.add(refresh)
            self.issued_refresh.append(refresh)
            body["refresh_token"] = refresh
        return 200, {"Content-Type": "application/json"}, json.dumps(body).encode()

    def handle(self, method, target, body):
        parts = urllib.parse.urlsplit(target)
        query = dict(urllib.parse.parse_qsl(parts.query))
        if method == "GET" and parts.path == "/authorize":
            return self.authorize(query)
        if method == "POST" and parts.path == "/token":
            return self.grant(dict(urllib.parse.parse_qsl(body.decode("utf-8", "replace"))))
        if method == "POST" and parts.path == "/control/expire":
            self.access = {token: 0 for token in self.access}
            return 200, {"Content-Type": "text/plain"}, b"expired"
        if method == "POST" and parts.path == "/control/revoke":
            self.refresh.clear()
            return 200, {"Content-Type": "text/plain"}, b"revoked"
        if method == "GET" and parts.path == "/control/stats":
            stats = dict(self.stats, accessTokens=list(self.access), refreshTokens=self.issued_refresh)
            return 200, {"Content-Type": "application/json"}, json.dumps(stats).encode()
        return 404, {"Content-Type": "text/plain"}, b"not found"


async def serve(issuer):
    """Serves issuer over HTTP/1.1 on 127.0.0.1 and returns the port."""

    async def client(reader, writer):
        try:
            request = await asyncio.wait_for(reader.readuntil(b"\r\n\r\n"), 10)
            lines = request.decode("latin-1").split("\r\n")
            method, target, _ = lines[0].split(" ", 2)
            headers = {}
            for line in lines[1:]:
                if ":" in line:
                    name, value = line.split(":", 1)
                    headers[name.strip().lower()] = value.strip()
            length = min(int(headers.get("content-length", "0")), 1 << 20)
            body = await asyncio.wait_for(reader.readexactly(length), 10) if length else b""
            status, reply_headers, reply = issuer.handle(method, target, body)
        except (asyncio.IncompleteReadError, asyncio.LimitOverrunError, asyncio.TimeoutError, ValueError):
            status, reply_headers, reply = 400, {"Content-Type": "text/plain"}, b"bad request"
        head = "HTTP/1.1 %d X\r\n" % status
        for name, value in dict(reply_headers, **{"Content-Length": str(len(reply)),
                                                  "Connection": "close"}).items():
            head += "%s: %s\r\n" % (name, value)
        writer.write(head.encode() + b"\r\n" + reply)
        try:
            await writer.drain()
        finally:
            writer.close()

    server = await asyncio.start_server(client, "127.0.0.1", 0)
    return server, server.sockets[0].getsockname()[1]


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("client_id")
    parser.add_argument("--secret")
    parser.add_argument("--lifetime", type=int, default=3600)
    options = parser.parse_args()
    _, port = await serve(Issuer(options.client_id, options.secret, options.lifetime))
    print(port, flush=True)
    await asyncio.get_running_loop().run_in_executor(None, sys.stdin.buffer.read)


if __name__ == "__main__":
    asyncio.run(main())
