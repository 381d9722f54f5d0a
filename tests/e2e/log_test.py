"""The server's log, "Imap4.log" in the mailbox directory: one whole line per event with the
local time and zone, the connection's number and the client's address; a password, message text
and control bytes a client sends never reach it; the file is rotated at its size."""

import os
import re
import socket
import ssl
import threading
import time
import unittest

from harness import GREETING, STOP_BYE, Client, StoreTestCase

# A line: date, time, zone, "#n", the address ("-" for the server itself), the event.
LINE = re.compile(rb"\A\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} #(\d+) (\S+) (.+)\Z")
PASSWORD = b"s3cret-Pa55"


class LogTestCase(StoreTestCase):
    extended = True

    def setUp(self):
        super().setUp()
        self.mailbox.add_user("alice", PASSWORD.decode())
        self.store.folder("inbox.box", title="Inbox")
        self.log_path = os.path.join(self.mailbox.path, "Imap4.log")

    def events(self, path=None):
        """[(connection number, address, event)] of the log's lines, each checked whole."""
        with open(path or self.log_path, "rb") as f:
            data = f.read()
        self.assertTrue(data.endswith(b"\r\n"), data[-200:])
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


class LogEventsTest(LogTestCase):

    def test_each_event_once_with_its_fields(self):
        self.mailbox.set_server_key("MaxConnections", 2)
        self.mailbox.set_server_key("LoginTimeout", 1)
        host = self.start_store_host()
        self.wait_for(b"started:")
        client = self.greeted()
        client.send(b"a1 LOGIN alice wrong-one\r\n")
        client.expect(b"a1 NO username or password is incorrect\r\n")
        client.send(b"a2 LOGIN nobody x\r\n")
        client.read_answer(b"a2")
        client.send(b"a3 LOGIN alice " + PASSWORD + b"\r\n")
        client.expect(b"a3 OK LOGIN complated\r\n")
        client.send(b"a4 SELECT INBOX\r\na5 LOGOUT\r\n")
        client.read_answer(b"a5")
        client.expect_closed()
        # One that stays silent past the login time, and one beyond the limit.
        silent = self.greeted()
        waiting = self.greeted()
        refused = self.connect()
        refused.expect(STOP_BYE)
        silent.expect(b"* BYE Autologout; idle for too long\r\n")
        self.wait_for(b"disconnected: timeout", 2)
        # One open when the server stops.
        last = self.greeted()
        self.assertEqual(host.stop(), 0, host.stderr())

        events = self.events()
        server = [e for n, a, e in events if n == 0]
        self.assertEqual(server[0], b"started: port %d, extended mode, TLS off; at most 2 "
                                    b"connections, never closed for failed logins, login timeout "
                                    b"1 s, idle timeout 1800 s" % self.port)
        self.assertEqual(server[-1], b"stopped")
        self.assertTrue(all(a == b"-" for n, a, _ in events if n == 0))
        first = [e for n, a, e in events if n == 1]
        self.assertEqual(first[:4], [b"connected",
                                     b'login failed: user "alice": wrong password',
                                     b'login failed: user "nobody": no such user',
                                     b'login: user "alice"'])
        self.assertRegex(first[4], rb"^disconnected: logout; 5 commands, \d+ bytes in, \d+ bytes out$")
        self.assertEqual(len(first), 5)
        self.assertTrue(all(a == b"127.0.0.1" for n, a, _ in events if n != 0))
        self.assertEqual(sum(e.startswith(b"disconnected: timeout") for _, _, e in events), 2)
        self.assertEqual(sum(e == b"refused: limit of 2 connections" for _, _, e in events), 1)
        self.assertEqual(sum(e.startswith(b"disconnected: stop") for _, _, e in events), 1)
        # Connections are numbered in the order they came, each with its own lines.
        numbers = [n for n, _, e in events if e in (b"connected", b"refused: limit of 2 connections")]
        self.assertEqual(numbers, list(range(1, len(numbers) + 1)))
        with open(self.log_path, "rb") as f:
            self.assertNotIn(PASSWORD, f.read())

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
        for tag in (b"a1", b"a2"):
            guesser.send(tag + b" LOGIN alice guess\r\n")
            guesser.read_answer(tag)
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

    def test_a_forged_line_in_a_user_name_stays_in_its_line(self):
        self.start_store_host(check_stop=True)
        client = self.greeted()
        forged = (b'x\r\n2026-01-01 00:00:00 +0000 #99 10.0.0.1 login: user "admin"\x1b[2J')
        client.send(b"a1 LOGIN {%d}\r\n" % len(forged))
        client.read_until(b"+ ")
        client.read_until(b"\r\n")
        client.send(forged + b" " + PASSWORD + b"\r\n")
        client.read_answer(b"a1")
        client.send(b"a2 LOGOUT\r\n")
        client.read_answer(b"a2")
        self.wait_for(b"disconnected")
        events = self.events()
        failed = [e for _, _, e in events if e.startswith(b"login failed")]
        self.assertEqual(failed, [b'login failed: user "x\\x0D\\x0A2026-01-01 00:00:00 +0000 #99 '
                                  b'10.0.0.1 login: user \\"admin\\"\\x1B[2J": no such user'])
        self.assertFalse(any(n == 99 for n, _, _ in events))
        with open(self.log_path, "rb") as f:
            self.assertNotIn(PASSWORD, f.read())

    def test_tls_started_names_protocol_and_cipher(self):
        self.orimapst_ok("make-cert", "localhost")
        self.start_store_host(check_stop=True)
        client = self.greeted()
        client.send(b"t1 STARTTLS\r\n")
        client.expect(b"t1 OK Begin TLS negotiation now\r\n")
        context = ssl.create_default_context(
            cafile=os.path.join(self.mailbox.path, "imap-cert.pem"))
        tls = context.wrap_socket(client.sock, server_hostname="localhost")
        tls.sendall(b"t2 LOGOUT\r\n")
        while b"t2 OK" not in tls.recv(4096):
            pass
        self.wait_for(b"disconnected")
        started = [e for _, _, e in self.events() if e.startswith(b"TLS started")]
        self.assertEqual(started, [b"TLS started: %s %s" % (tls.version().encode(),
                                                            tls.cipher()[0].encode())])

    def test_logging_off_writes_nothing(self):
        self.mailbox.set_server_key("Log", 0)
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.send(b"a LOGOUT\r\n")
        client.read_answer(b"a")
        self.assertFalse(os.path.exists(self.log_path))


class LogLoadTest(LogTestCase):

    def session(self, good):
        """One short session: a LOGIN (right or wrong) and LOGOUT."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as s:
            s.recv(100)
            s.sendall(b"a LOGIN alice " + (PASSWORD if good else b"no") + b"\r\nb LOGOUT\r\n")
            while s.recv(4096):
                pass

    def test_two_hundred_at_once_leave_whole_lines(self):
        self.mailbox.set_server_key("Backlog", 256)
        self.mailbox.set_server_key("LoginFailureDelay", 0)
        self.start_store_host(check_stop=True)
        threads = [threading.Thread(target=self.session, args=(i % 2 == 0,)) for i in range(200)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.wait_for(b"disconnected", 200)
        events = self.events()
        for kind in (b"connected", b"login: ", b"login failed: ", b"disconnected: "):
            self.assertEqual(sum(e.startswith(kind) for _, _, e in events),
                             100 if kind.startswith(b"login") else 200, kind)
        # Every connection has its three lines under its own number.
        per = {}
        for n, _, e in events:
            per[n] = per.get(n, 0) + 1
        self.assertEqual({c for n, c in per.items() if n != 0}, {3})
        self.assertEqual(len(per), 201)

    def test_rotation_keeps_the_bound_under_a_flood(self):
        self.mailbox.set_server_key("LogMaxSize", 4096)
        self.mailbox.set_server_key("LogKeep", 2)
        self.mailbox.set_server_key("LoginFailureDelay", 0)
        self.start_store_host(check_stop=True)
        for i in range(150):
            self.session(False)
        self.wait_for(b"disconnected")
        names = sorted(n for n in os.listdir(self.mailbox.path) if n.startswith("Imap4.log"))
        self.assertEqual(names, ["Imap4.log", "Imap4.log.1", "Imap4.log.2"])
        for name in names:
            path = os.path.join(self.mailbox.path, name)
            self.assertLessEqual(os.path.getsize(path), 4096, name)
            self.events(path)  # whole lines only
        # The newest lines are in the current file, the older ones in .1 before .2.
        newest = max(n for n, _, _ in self.events())
        self.assertGreater(newest, max(n for n, _, _ in self.events(self.log_path + ".1")))


if __name__ == "__main__":
    unittest.main()
