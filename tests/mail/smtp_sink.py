"""A real SMTP server on loopback for the tests: every message it accepts is stored in a folder.

Usage: smtp_sink.py FOLDER [REPLY_DELAY_SECONDS] [--starttls CERT KEY | --implicit-tls CERT KEY]
                    [--login USER:PASSWORD] [--refuse ADDRESS]... [--refuse-connections N REPLY]
Prints the port it listens on (127.0.0.1, chosen by the system), then serves until standard input closes.
With a delay, every reply waits that long before it is sent, as a slow server's would. --starttls requires
STARTTLS before anything else; --implicit-tls speaks TLS from the first byte; --login requires that login
(over TLS only); --refuse answers RCPT TO for that address with 550; --refuse-connections greets each of the
first N connections with REPLY (such as "421 Service not available") and closes it, as a server that is
overloaded or going down does.
Message n is stored as NNNN.eml (the data as received, dots unstuffed) beside NNNN.json (HELO argument,
envelope, whether the session was encrypted and logged in); the .eml appears last, complete.
"""
import argparse
import asyncio
import json
import os
import ssl
import sys

from aiosmtpd.smtp import SMTP, AuthResult


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
        with open(base + ".json", "w") as meta:
            json.dump({"helo": session.host_name, "mail_from": envelope.mail_from,
                       "rcpt_tos": envelope.rcpt_tos, "tls": server.transport.get_extra_info("sslcontext") is not None or server._tls_protocol is not None,
                       "authenticated": bool(session.authenticated)}, meta)
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
    options = parser.parse_args()

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
    implicit = tls_context(*options.implicit_tls) if options.implicit_tls else None
    # A fixed host name keeps the server from looking its own name up.
    server = await loop.create_server(lambda: SlowSMTP(handler, **settings), "127.0.0.1", 0, ssl=implicit)
    print(server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.buffer.read)
    server.close()


asyncio.run(main())
