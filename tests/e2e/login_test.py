"""LOGIN against the account file of a running server: users made with orimapst, lines made
by hand, and the account file rules (first of two equal names wins, an empty line ends it)."""

import os
import socket
import threading
import time
import unittest

from harness import HostTestCase, stored_line

OK = b"OK LOGIN complated\r\n"
REFUSED = b"NO username or password is incorrect\r\n"
INVALID = b"BAD invalid username\r\n"


class LoginTest(HostTestCase):

    def login(self, client, tag, args, answer):
        client.send(tag + b" LOGIN " + args + b"\r\n")
        client.expect(tag + b" " + answer)

    def test_good_and_bad_credentials(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.add_user("carol", "pa ss")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 wrong", REFUSED)
        self.login(client, b"a2", b"nobody secret", REFUSED)
        # User names are compared with their letter case.
        self.login(client, b"a3", b"USER1 secret", REFUSED)
        self.login(client, b"a4", b"User1 secret", REFUSED)
        self.login(client, b"a5", b"user1 secret", OK)
        # A failed LOGIN after a good one is refused the same way.
        self.login(client, b"a6", b"user1 secreT", REFUSED)
        # Quoted arguments, and a password with a blank in it.
        self.login(client, b"a7", b'"carol" "pa ss"', OK)
        self.login(client, b"a8", b'"user1" "secret"', OK)

    def test_wrong_number_of_arguments(self):
        self.mailbox.add_user("user1", "secret")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1", INVALID)
        self.login(client, b"a2", b"user1 secret extra", INVALID)
        client.send(b"a3 LOGIN\r\n")
        client.expect(b"a3 " + INVALID)
        # Still not logged in: a mailbox command is refused for its state.
        client.send(b"a4 SELECT INBOX\r\n")
        client.expect(b"a4 BAD State SELECT\r\n")

    def test_first_of_two_lines_with_the_same_name_is_used(self):
        self.mailbox.add_user("user1", "first")
        # The second line for the same name, written by hand.
        second = stored_line("user1", "second", "other")
        self.mailbox.write_passwd(self.mailbox.read_passwd() + second + b"\n")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 second", REFUSED)
        self.login(client, b"a2", b"user1 first", OK)

    def test_account_file_lines_as_the_server_reads_them(self):
        lines = [
            stored_line("ann", "pw-ann", "ann") + b"\r\n",
            # Two colons between the mail root and the name count as one.
            stored_line("bob", "pw-bob", "bob").replace(b":", b"::", 1) + b"\n",
            b"\n",
            # After an empty line nothing is read.
            stored_line("cid", "pw-cid", "cid") + b"\n",
        ]
        self.mailbox.write_passwd(b"".join(lines))
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"ann pw-ann", OK)
        self.login(client, b"a2", b"bob pw-bob", OK)
        self.login(client, b"a3", b"cid pw-cid", REFUSED)

    def test_missing_account_file_is_created_empty(self):
        self.assertFalse(os.path.exists(self.mailbox.passwd_path))
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 secret", REFUSED)
        self.assertEqual(self.mailbox.read_passwd(), b"")


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
