"""LOGIN against the account file of a running server: users made with orimapst, lines made
by hand, and the account file rules (first of two equal names wins, an empty line ends it)."""

import socket
import threading
import time
import unittest

from harness import HostTestCase, stored_line

OK = b"OK LOGIN complated\r\n"
REFUSED = b"NO username or password is incorrect\r\n"
INVALID = b"BAD invalid username\r\n"


class LoginTest(HostTestCase):

    def logins(self, cases):
        """On one connection, each LOGIN (its arguments) answered as given."""
        client = self.greeted()
        self.exchanges(client, [(b"a%d LOGIN%s" % (n, b" " + args if args else b""),
                                 b"a%d %s" % (n, answer)) for n, (args, answer) in
                                enumerate(cases)])
        return client

    def test_credentials_and_arguments(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.add_user("carol", "pa ss")
        self.start_host()
        client = self.logins([
            (b"user1 wrong", REFUSED), (b"nobody secret", REFUSED),
            # User names are compared with their letter case.
            (b"USER1 secret", REFUSED), (b"User1 secret", REFUSED),
            # Too few or too many arguments.
            (b"user1", INVALID), (b"user1 secret extra", INVALID), (b"", INVALID)])
        # Still not logged in: a mailbox command is refused for its state.
        self.exchange(client, b"s1 SELECT INBOX", b"s1 BAD State SELECT\r\n")
        self.logins([
            (b"user1 secret", OK),
            # A failed LOGIN after a good one is refused the same way.
            (b"user1 secreT", REFUSED),
            # Quoted arguments, and a password with a blank in it.
            (b'"carol" "pa ss"', OK), (b'"user1" "secret"', OK)])

    def test_account_file_lines_as_the_server_reads_them(self):
        lines = [
            stored_line("ann", "pw-ann", "ann") + b"\r\n",
            # Two colons between the mail root and the name count as one.
            stored_line("bob", "pw-bob", "bob").replace(b":", b"::", 1) + b"\n",
            # Of two lines with the same name the first is used.
            stored_line("ann", "second", "other") + b"\n",
            b"\n",
            # After an empty line nothing is read.
            stored_line("cid", "pw-cid", "cid") + b"\n",
        ]
        self.mailbox.write_passwd(b"".join(lines))
        self.start_host()
        self.logins([(b"ann second", REFUSED), (b"ann pw-ann", OK), (b"bob pw-bob", OK),
                     (b"cid pw-cid", REFUSED)])


class GuessingTest(HostTestCase):
    """Failed LOGINs are answered late, later with each failure on a connection, one after
    another for each client address however many connections carry them, and a connection is
    closed after a few; a LOGIN that succeeds is never held back."""

    DELAY_MS = 500

    def test_guesses_are_slow_and_a_right_login_is_not(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.set_server_key("LoginFailureDelay", self.DELAY_MS)
        self.mailbox.set_server_key("MaxLoginFailures", 3)
        self.start_host()
        # One connection: 0.5, 1 and 1.5 s, then the goodbye; the rest is never answered.
        started = time.monotonic()
        client = self.greeted()
        client.send(b"".join(b"g%d LOGIN user1 guess%d\r\n" % (i, i) for i in range(5)))
        for i in range(3):
            client.expect(b"g%d " % i + REFUSED)
        client.expect(b"* BYE Too many failed logins\r\n")
        client.expect_closed()
        self.assertGreaterEqual(time.monotonic() - started, 3.0)

        # Eight connections from one address: the failures are answered one after another.
        answered = []

        def guess(n):
            c = self.greeted()
            c.send(b"".join(b"h%d LOGIN user1 x%d\r\n" % (i, n) for i in range(3)))
            for i in range(3):
                c.expect(b"h%d " % i + REFUSED)
                answered.append(time.monotonic())

        started = time.monotonic()
        threads = [threading.Thread(target=guess, args=(n,)) for n in range(8)]
        for t in threads:
            t.start()
        # Meanwhile a right LOGIN from another address, and from this one, goes through at once.
        time.sleep(0.3)
        for source in ("127.0.0.2", "127.0.0.1"):
            s = socket.socket()
            self.addCleanup(s.close)
            s.bind((source, 0))
            s.connect(("127.0.0.1", self.port))
            s.settimeout(10)
            asked = time.monotonic()
            s.sendall(b"r1 LOGIN user1 secret\r\n")
            data = b""
            while b"r1 " not in data:
                chunk = s.recv(4096)
                self.assertTrue(chunk)
                data += chunk
            self.assertIn(b"r1 OK LOGIN complated\r\n", data)
            # Well within one failure's delay.
            self.assertLess(time.monotonic() - asked, 0.4, source)
        for t in threads:
            t.join(60)
        self.assertEqual(len(answered), 24)
        took = max(answered) - started
        rate = 24 / took
        print("\nfigure: 24 guesses over 8 connections from one address took %.2f s (%.0f a "
              "second; with the default 2 s delay, at most 10 a second)" % (took, rate))
        self.assertLessEqual(rate, 1000.0 / (self.DELAY_MS / 20) * 1.05)


if __name__ == "__main__":
    unittest.main()
