"""The server's log, "Imap4.log" in the mailbox directory: one whole line per event with the
local time and zone, the connection's number and the client's address; a password and control
bytes a client sends never reach it; the file is rotated at its size."""

import os
import re
import socket
import ssl
import threading
import time
import unittest

from harness import STOP_BYE, StoreTestCase

# A line: date, time, zone, "#n", the address ("-" for the server itself), the event.
LINE = re.compile(rb"\A\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} #(\d+) (\S+) (.+)\Z")
PASSWORD = b"s3cret-Pa55"


class LogTestCase(StoreTestCase):
    extended = True

    def setUp(self):
        super().setUp()
        self.mailbox.add_user("alice", PASSWORD.decode())
        self.log_path = os.path.join(self.mailbox.path, "Imap4.log")

    def events(self, path=None):
        """[(connection number, address, event)] of the log's lines, each checked whole, and
        the password nowhere."""
        with open(path or self.log_path, "rb") as f:
            data = f.read()
        self.assertTrue(data.endswith(b"\r\n"), data[-200:])
        self.assertNotIn(PASSWORD, data)
        out = []
        for line in data[:-2].split(b"\r\n"):
            found = LINE.match(line)
            self.assertIsNotNone(found, line)
            out.append((int(found.group(1)), found.group(2), found.group(3)))
        return out

    def wait_for(self, event, count=1):
        """Waits until the log holds count lines whose event starts with event."""
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists(self.log_path):
                if sum(e.startswith(event) for _, _, e in self.events()) >= count:
                    return
            time.sleep(0.05)
        self.fail("no %r in the log" % event)

    def session(self, good):
        """One short session: a LOGIN (right or wrong) and LOGOUT."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            s.recv(100)
            s.sendall(b"a LOGIN alice " + (PASSWORD if good else b"no") + b"\r\nb LOGOUT\r\n")
            while s.recv(4096):
                pass


class LogEventsTest(LogTestCase):

    def test_each_event_once_with_its_fields(self):
        self.mailbox.set_server_key("MaxConnections", 2)
        self.mailbox.set_server_key("LoginTimeout", 1)
        self.orimapst_ok("make-cert", "localhost")
        host = self.start_store_host()
        client = self.greeted()
        client.send(b"a1 LOGIN alice wrong-one\r\na2 LOGIN nobody x\r\n")
        client.read_answer(b"a2")
        # A user name that tries to forge a line of its own.
        forged = b'x\r\n2026-01-01 00:00:00 +0000 #99 10.0.0.1 login: user "admin"\x1b[2J'
        client.send(b"a3 LOGIN {%d}\r\n" % len(forged))
        client.read_until(b"\r\n")
        client.send(forged + b" " + PASSWORD + b"\r\n")
        client.read_answer(b"a3")
        client.send(b"a4 STARTTLS\r\n")
        client.expect(b"a4 OK Begin TLS negotiation now\r\n")
        tls = ssl.create_default_context(
            cafile=os.path.join(self.mailbox.path, "imap-cert.pem")).wrap_socket(
                client.sock, server_hostname="localhost")
        tls.sendall(b"a5 LOGIN alice " + PASSWORD + b"\r\na6 LOGOUT\r\n")
        while b"a6 OK" not in tls.recv(4096):
            pass
        self.wait_for(b"disconnected")
        # Two that stay silent past the login time, and one beyond the limit.
        silent = self.greeted()
        self.greeted()
        refused = self.connect()
        refused.expect(STOP_BYE)
        silent.expect(b"* BYE Autologout; idle for too long\r\n")
        self.wait_for(b"disconnected: timeout", 2)
        # One open when the server stops.
        self.greeted()
        self.assertEqual(host.stop(), 0, host.stderr())

        events = self.events()
        by = lambda n: [e for c, _, e in events if c == n]
        self.assertEqual(by(0), [b"started: port %d, extended mode, STARTTLS; at most 2 "
                                 b"connections, never closed for failed logins, login timeout "
                                 b"1 s, idle timeout 1800 s" % self.port, b"stopped"])
        self.assertEqual(by(1)[:6], [
            b"connected",
            b'login failed: user "alice": wrong password',
            b'login failed: user "nobody": no such user',
            b'login failed: user "x\\x0D\\x0A2026-01-01 00:00:00 +0000 #99 10.0.0.1 login: user '
            b'\\"admin\\"\\x1B[2J": no such user',
            b"TLS started: %s %s" % (tls.version().encode(), tls.cipher()[0].encode()),
            b'login: user "alice" over TLS'])
        self.assertRegex(by(1)[6], rb"^disconnected: logout; 6 commands, \d+ bytes in, \d+ bytes out$")
        self.assertEqual(len(by(1)), 7)
        self.assertEqual([a for n, a, _ in events], [b"-"] + [b"127.0.0.1"] * (len(events) - 2) + [b"-"])
        ends = sorted(e.split(b";")[0] for _, _, e in events
                      if e.startswith((b"disconnected", b"refused")))
        self.assertEqual(ends, [b"disconnected: logout", b"disconnected: stop",
                                b"disconnected: timeout", b"disconnected: timeout",
                                b"refused: limit of 2 connections"])
        # Connections are numbered in the order they came.
        numbers = [n for n, _, e in events if e in (b"connected", b"refused: limit of 2 connections")]
        self.assertEqual(numbers, [1, 2, 3, 4, 5])

    def test_limits_closes_and_errors_survived(self):
        self.mailbox.set_server_key("MaxLoginFailures", 2)
        self.mailbox.set_server_key("LoginFailureDelay", 0)
        self.store.folder("inbox.box", title="Inbox", messages=[
            ("AAAA0001", 0, b"Subject: one\r\n\r\nbody\r\n"),
            ("AAAA0002", 0, b"Subject: two\r\n\r\nbody\r\n")])
        # A message file that cannot be read: a directory where the file should be.
        message = self.store.path("inbox.box", "AAAA0002.orv")
        os.remove(message)
        os.mkdir(message)
        # A host whose disk is full stores nothing it is handed.
        self.start_store_host(check_stop=True, env={"ORVEX_HOST_STORE_FULL": "1"})
        guesser = self.greeted()
        guesser.send(b"a1 LOGIN alice guess\r\na2 LOGIN alice guess\r\n")
        guesser.read_answer(b"a2")
        guesser.expect(b"* BYE Too many failed logins\r\n")
        guesser.expect_closed()
        self.greeted().close()
        client = self.greeted()
        # user1 owns the store's folders.
        client.send(b"a1 LOGIN user1 secret\r\na2 SELECT INBOX\r\na3 FETCH 1:* (RFC822.SIZE)\r\n")
        client.read_answer(b"a3")
        client.append(b"a4 APPEND INBOX () {2}", b"hi")
        client.expect(b"a4 NO the mail client did not store the message\r\n")
        self.wait_for(b"disconnected", 2)
        events = self.events()
        by = lambda n: [e for c, _, e in events if c == n]
        self.assertRegex(by(1)[-1], rb"^disconnected: limit: too many failed logins; 2 commands")
        self.assertRegex(by(2)[-1], rb"^disconnected: client closed; 0 commands, 0 bytes in")
        self.assertEqual([e for e in by(3) if e.startswith(b"error")],
                         [b'error: message file "AAAA0002" cannot be read',
                          b'error: the mail client stored nothing of APPEND into "INBOX"'])


class LogLoadTest(LogTestCase):

    def test_concurrent_sessions_rotate_whole_lines_within_the_bound(self):
        self.mailbox.set_server_key("Backlog", 256)
        self.mailbox.set_server_key("LogMaxSize", 4096)
        self.mailbox.set_server_key("LogKeep", 2)
        self.mailbox.set_server_key("LoginFailureDelay", 0)
        self.start_store_host(check_stop=True)
        threads = [threading.Thread(target=self.session, args=(i % 2 == 0,)) for i in range(150)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.session(True)  # the last one: its lines are the newest
        self.wait_for(b"disconnected")
        names = sorted(n for n in os.listdir(self.mailbox.path) if n.startswith("Imap4.log"))
        self.assertEqual(names, ["Imap4.log", "Imap4.log.1", "Imap4.log.2"])
        newest, kinds = [], set()
        for name in names:
            path = os.path.join(self.mailbox.path, name)
            self.assertLessEqual(os.path.getsize(path), 4096, name)
            events = self.events(path)  # whole lines only, however the writers interleaved
            newest.append(max(n for n, _, _ in events))
            kinds |= {e.split(b":")[0] for n, _, e in events if n != 0}
        self.assertEqual(kinds, {b"connected", b"login", b"login failed", b"disconnected"})
        # The newest lines are in the file itself; the older files hold older connections.
        self.assertEqual(newest[0], 151)
        self.assertLess(max(newest[1:]), 151)


if __name__ == "__main__":
    unittest.main()
