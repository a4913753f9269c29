"""A real SMTP server for the mail tests, on 127.0.0.1 only.

Usage: smtp_sink.py FOLDER [--user NAME --password TEXT] [--no-login]

Binds a free port, prints it on the first line of stdout, and stores every
accepted message as FOLDER/<n>.eml (the data as received, dot-stuffing
removed) with FOLDER/<n>.env beside it: one line "from <addr>", one line
"to <addr>" per recipient and "auth <user>" when the session authenticated.
Both files are complete before the server answers the end of data.
Ends when stdin closes.
"""

import argparse
import asyncio
import os
import socket
import sys
import threading

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


class Store:
    def __init__(self, folder):
        self.folder = folder
        self.count = 0
        self.lock = threading.Lock()

    async def handle_DATA(self, server, session, envelope):
        with self.lock:
            self.count += 1
            n = self.count
        base = os.path.join(self.folder, str(n))
        lines = ["from " + (envelope.mail_from or "")]
        lines += ["to " + r for r in envelope.rcpt_tos]
        if session.authenticated and isinstance(session.auth_data, LoginPassword):
            lines.append("auth " + session.auth_data.login.decode("latin-1"))
        with open(base + ".eml.part", "wb") as f:
            f.write(envelope.original_content or envelope.content)
        with open(base + ".env.part", "w", encoding="latin-1") as f:
            f.write("\n".join(lines) + "\n")
        os.rename(base + ".eml.part", base + ".eml")
        os.rename(base + ".env.part", base + ".env")
        return "250 OK"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--user")
    parser.add_argument("--password")
    parser.add_argument("--no-login", action="store_true")
    args = parser.parse_args()

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == (args.user or "").encode("latin-1")
              and auth_data.password == (args.password or "").encode("latin-1"))
        # handled=False: the server itself answers a refusal with 535.
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    store = Store(args.folder)
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    sock.bind(("127.0.0.1", 0))
    sock.listen(16)

    def factory():
        kwargs = dict(hostname="sink.test", decode_data=False, loop=loop)
        if args.user:
            kwargs.update(auth_require_tls=False, authenticator=authenticator,
                          auth_exclude_mechanism=["LOGIN"] if args.no_login else None)
        return SMTP(store, **kwargs)

    server = loop.run_until_complete(loop.create_server(factory, sock=sock))
    print(sock.getsockname()[1], flush=True)

    def wait_stdin():
        sys.stdin.read()
        loop.call_soon_threadsafe(loop.stop)

    threading.Thread(target=wait_stdin, daemon=True).start()
    loop.run_forever()
    server.close()


if __name__ == "__main__":
    main()
