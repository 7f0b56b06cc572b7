"""A real SMTP server on loopback for the tests: every message it accepts is stored in a folder.

Usage: smtp_sink.py FOLDER [REPLY_DELAY_SECONDS]
Prints the port it listens on (127.0.0.1, chosen by the system), then serves until standard input closes.
With a delay, every reply waits that long before it is sent, as a slow server's would.
Message n is stored as NNNN.eml (the data as received, dots unstuffed) beside NNNN.json (HELO argument and
envelope); the .eml appears last, complete.
"""
import asyncio
import json
import os
import sys

from aiosmtpd.smtp import SMTP


class Sink:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0

    async def handle_DATA(self, server, session, envelope):
        self.count += 1
        base = os.path.join(self.folder, "%04d" % self.count)
        with open(base + ".json", "w") as meta:
            json.dump({"helo": session.host_name, "mail_from": envelope.mail_from,
                       "rcpt_tos": envelope.rcpt_tos}, meta)
        with open(base + ".tmp", "wb") as data:
            data.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 Message accepted for delivery"


class SlowSMTP(SMTP):
    def __init__(self, *args, reply_delay=0.0, **kwargs):
        super().__init__(*args, **kwargs)
        self.reply_delay = reply_delay

    async def push(self, status):
        if self.reply_delay:
            await asyncio.sleep(self.reply_delay)
        await super().push(status)


async def main():
    loop = asyncio.get_running_loop()
    handler = Sink(sys.argv[1])
    delay = float(sys.argv[2]) if len(sys.argv) > 2 else 0.0
    # A fixed host name keeps the server from looking its own name up.
    server = await loop.create_server(lambda: SlowSMTP(handler, hostname="sink.test", reply_delay=delay),
                                      "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    await loop.run_in_executor(None, sys.stdin.buffer.read)
    server.close()


asyncio.run(main())
