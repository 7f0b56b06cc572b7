"""A real SMTP server on loopback for the tests: every message it accepts is stored in a folder.

Usage: smtp_sink.py FOLDER [REPLY_DELAY_SECONDS] [--starttls CERT KEY | --implicit-tls CERT KEY]
                    [--login USER:PASSWORD] [--refuse ADDRESS]... [--refuse-connections N REPLY]
                    [--oauth-token TOKEN]... [--oauth-issuer CLIENT_ID[:SECRET]]
                    [--oauth-mechanisms XOAUTH2,OAUTHBEARER]
Prints the port it listens on (127.0.0.1, chosen by the system), then serves until standard input closes.
With a delay, every reply waits that long before it is sent, as a slow server's would. --starttls requires
STARTTLS before anything else; --implicit-tls speaks TLS from the first byte; --login requires that login
(over TLS only); --refuse answers RCPT TO for that address with 550; --refuse-connections greets each of the
first N connections with REPLY (such as "421 Service not available") and closes it, as a server that is
overloaded or going down does.
--oauth-token and --oauth-issuer require an OAuth2 login (over TLS only) with the mechanisms named (both unless
told): a static token, or the access tokens that the authorization server of oauth_server.py, run in this process
and its port printed on a second line, holds current. A refused token gets the mechanism's error challenge
(status 401 for XOAUTH2, invalid_token for OAUTHBEARER) and then 535.
Message n is stored as NNNN.eml (the data as received, dots unstuffed) beside NNNN.json (HELO argument,
envelope, whether the session was encrypted and logged in, and with which mechanism); the .eml appears last,
complete.
"""
import argparse
import asyncio
import base64
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult, MISSING

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import oauth_server  # noqa: E402

# The OAuth2 tokens the server takes: the static ones, and those the issuer running beside it holds current.
static_tokens = set()
issuer = None


def accepted(token):
    return token in static_tokens or (issuer is not None and issuer.is_current(token))


def bearer_token(response):
    """The token of an XOAUTH2 or OAUTHBEARER client response, or None."""
    for field in response.split(b"\x01"):
        if field.startswith(b"auth=Bearer "):
            return field[len(b"auth=Bearer "):].decode("ascii", "replace")
    return None


class Sink:
    def __init__(self, folder, refused):
        self.folder = folder
        self.refused = set(refused)
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refused:
            return "550 5.1.1 No such mailbox here"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        mechanism = session.auth_data.get("mechanism") if isinstance(session.auth_data, dict) else None
        with open(base + ".json", "w") as meta:
            json.dump({"helo": session.host_name, "mail_from": envelope.mail_from,
                       "rcpt_tos": envelope.rcpt_tos, "tls": server.transport.get_extra_info("sslcontext") is not None or server._tls_protocol is not None,
                       "authenticated": bool(session.authenticated), "mechanism": mechanism}, meta)
        with open(base + ".tmp", "wb") as data:
            data.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


class Refusals:
    def __init__(self, count, reply):
        self.left = count
        self.reply = reply


class SlowSMTP(SMTP):
    def __init__(self, *args, reply_delay=0.0, refusals=None, **kwargs):
        super().__init__(*args, **kwargs)
        self.reply_delay = reply_delay
        self.refusals = refusals
        self.greeted = False

    async def push(self, status):
        if self.reply_delay:
            await asyncio.sleep(self.reply_delay)
        if not self.greeted:
            self.greeted = True
            if self.refusals and self.refusals.left > 0:
                self.refusals.left -= 1
                await super().push(self.refusals.reply)
                self.transport.close()
                return
        await super().push(status)


    async def oauth_login(self, mechanism, args, refusal):
        if len(args) != 2:
            await self.push("501 5.5.2 The initial response is missing")
            return AuthResult(success=False, handled=True)
        try:
            response = base64.b64decode(args[1], validate=True)
        except ValueError:
            await self.push("501 5.5.2 Can't decode base64")
            return AuthResult(success=False, handled=True)
        token = bearer_token(response)
        if token is not None and accepted(token):
            return AuthResult(success=True, auth_data={"mechanism": mechanism})
        # The error challenge; the client's answer to it ends the login with 535.
        answer = await self.challenge_auth(json.dumps(refusal))
        if answer is MISSING:
            return AuthResult(success=False, handled=True)
        return AuthResult(success=False, handled=False, message="535 5.7.8 Username and Password not accepted")

    async def auth_XOAUTH2(self, _, args):
        return await self.oauth_login("XOAUTH2", args, {"status": "401", "schemes": "bearer",
                                                        "scope": "https://mail.google.com/"})

    async def auth_OAUTHBEARER(self, _, args):
        return await self.oauth_login("OAUTHBEARER", args, {"status": "invalid_token", "schemes": "bearer",
                                                            "scope": "https://mail.google.com/"})


def tls_context(cert, key):
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("delay", nargs="?", type=float, default=0.0)
    parser.add_argument("--starttls", nargs=2)
    parser.add_argument("--implicit-tls", nargs=2)
    parser.add_argument("--login")
    parser.add_argument("--refuse", action="append", default=[])
    parser.add_argument("--refuse-connections", nargs=2)
    parser.add_argument("--oauth-token", action="append", default=[])
    parser.add_argument("--oauth-issuer")
    parser.add_argument("--oauth-mechanisms", default="XOAUTH2,OAUTHBEARER")
    options = parser.parse_args()
    global issuer

    loop = asyncio.get_running_loop()
    handler = Sink(options.folder, options.refuse)
    settings = {"hostname": "sink.test", "reply_delay": options.delay}
    if options.refuse_connections:
        settings["refusals"] = Refusals(int(options.refuse_connections[0]), options.refuse_connections[1])
    if options.starttls:
        settings.update(tls_context=tls_context(*options.starttls), require_starttls=True)
    if options.login:
        user, password = options.login.split(":", 1)

        def authenticator(server, session, envelope, mechanism, auth_data):
            accepted = auth_data.login == user.encode() and auth_data.password == password.encode()
            return AuthResult(success=accepted, handled=False)

        # With TLS from the first byte the server cannot tell that the connection is encrypted; it is.
        settings.update(authenticator=authenticator, auth_required=True,
                        auth_require_tls=not options.implicit_tls)
    oauth = bool(options.oauth_token or options.oauth_issuer)
    issuer_port = None
    if oauth:
        static_tokens.update(options.oauth_token)
        if options.oauth_issuer:
            client_id, _, secret = options.oauth_issuer.partition(":")
            issuer = oauth_server.Issuer(client_id, secret or None)
            _, issuer_port = await oauth_server.serve(issuer)
        offered = set(options.oauth_mechanisms.split(","))
        settings.update(auth_required=True, auth_require_tls=not options.implicit_tls,
                        auth_exclude_mechanism=["PLAIN", "LOGIN"] + [
                            m for m in ("XOAUTH2", "OAUTHBEARER") if m not in offered])
    else:
        # Without OAuth2 the server announces what it always has.
        settings.update(auth_exclude_mechanism=["XOAUTH2", "OAUTHBEARER"])
    implicit = tls_context(*options.implicit_tls) if options.implicit_tls else None
    # A fixed host name keeps the server from looking its own name up.
    server = await loop.create_server(lambda: SlowSMTP(handler, **settings), "127.0.0.1", 0, ssl=implicit)
    print(server.sockets[0].getsockname()[1], flush=True)
    if issuer_port is not None:
        print(issuer_port, flush=True)
    await loop.run_in_executor(None, sys.stdin.buffer.read)
    server.close()


asyncio.run(main())
