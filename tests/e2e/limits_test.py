"""The limits that keep one client from growing the host's process: the length of a command
line, the number of live connections and the size of an APPEND literal, each a setting."""

import time
import unittest

from harness import GREETING, STOP_BYE, StoreTestCase


class LimitsTest(StoreTestCase):

    def test_line_append_and_connection_limits(self):
        self.store.folder("inbox.box", title="Inbox")
        for key, value in (("MaxLineLength", 64), ("MaxConnections", 2), ("MaxAppendSize", 10)):
            self.mailbox.set_server_key(key, value)
        self.start_store_host(check_stop=True)
        first = self.logged_in()
        # An overlong line is dropped and answered as not implemented; one at the limit is whole.
        first.send(b"a1 NOOP " + b"x" * 5000 + b"\r\na2 NOOP\r\n")
        first.expect(b"a1 BAD Command Not impremented NOOP\r\na2 OK NOOP complated\r\n")
        line = b"a3 NOOP "
        first.send(line + b"y" * (64 - len(line)) + b"\r\n")
        first.expect(b"a3 OK NOOP complated\r\n")
        # An APPEND beyond the limit is refused before the continuation.
        self.exchange(first, b"a4 APPEND INBOX () {11}", b"a4 NO please give arguments\r\n")
        first.append(b"a5 APPEND INBOX () {10}", b"0123456789")
        first.expect(b"a5 OK APPEND complated\r\n")
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 1)

        # A connection beyond the limit is told goodbye.
        second = self.greeted()
        third = self.connect()
        third.expect(STOP_BYE)
        third.expect_closed()
        # The two within the limit are served, and a place that frees up is taken again.
        first.send(b"a6 NOOP\r\n")
        first.expect(b"a6 OK NOOP complated\r\n")
        first.send(b"a7 LOGOUT\r\n")
        first.read_until(b"a7 OK LOGOUT complated\r\n")
        first.expect_closed()
        for _ in range(50):
            fourth = self.connect()
            data = fourth.read(len(GREETING))
            if data == GREETING:
                break
        else:
            self.fail("no place became free")
        second.send(b"b1 NOOP\r\n")
        second.expect(b"b1 OK NOOP complated\r\n")


class CommandBoundTest(StoreTestCase):
    """What one command may hold: its lines and literals together, 8 KiB before LOGIN and
    MaxLineLength after it (APPEND's message aside); the rest of a longer command is read and
    dropped, never kept or run. A literal whose size is not one is refused before any
    continuation."""

    OVERLONG = b" BAD Command Not impremented "

    def host_rss_mib(self, host):
        with open("/proc/%d/status" % host.process.pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1]) / 1024.0
        self.fail("no VmRSS")

    def test_a_command_holds_little_before_login_in_both_modes(self):
        host = self.start_store_host(check_stop=True)
        for extended in (b"0", b"1"):
            self.setting("Extended", extended)
            with self.subTest(extended=extended):
                c = self.greeted()
                c.send(b"a1 LOGIN " + b"x" * 9000 + b" y\r\nb1 NOOP\r\n")
                c.expect(b"a1" + self.OVERLONG + b"LOGIN\r\nb1 OK NOOP complated\r\n")
                if extended == b"0":
                    continue
                # Literals count with the line: refused before the continuation.
                self.exchange(c, b"a2 LOGIN {9000}", b"a2" + self.OVERLONG + b"LOGIN\r\n")
                c.send(b"a3 LOGIN {5000}\r\n")
                c.expect(b"+ Ready for literal data\r\n")
                c.send(b"u" * 5000 + b" {5000}\r\n")
                c.expect(b"a3" + self.OVERLONG + b"LOGIN\r\n")
                # The bytes of a literal that does not wait are dropped, never run.
                dropped = b"b9 LOGOUT\r\n" * 818 + b"zz"
                self.assertEqual(len(dropped), 9000)
                c.send(b"a4 LOGIN {9000+}\r\n" + dropped + b" more\r\nb2 NOOP\r\n")
                c.expect(b"a4" + self.OVERLONG + b"LOGIN\r\nb2 OK NOOP complated\r\n")
                # Bytes without a line end after a literal are read, not kept.
                before = self.host_rss_mib(host)
                clients = [self.greeted() for _ in range(4)]
                for client in clients:
                    client.send(b"a5 LOGIN {0+}\r\n")
                    for _ in range(16):
                        client.send(b"x" * (1 << 20))
                for client in clients:
                    client.send(b"\r\nb3 NOOP\r\n")
                    client.expect(b"a5" + self.OVERLONG + b"LOGIN\r\nb3 OK NOOP complated\r\n")
                grown = self.host_rss_mib(host) - before
                print("\nfigure: 4 x 16 MiB without a line end before LOGIN: host grew %.1f MiB"
                      % grown)
                self.assertLess(grown, 16)

    def test_append_literals_that_are_no_size_are_refused_and_their_rest_is_bounded(self):
        self.store.folder("inbox.box", title="Inbox")
        host = self.start_store_host(check_stop=True)
        for extended in (b"0", b"1"):
            self.setting("Extended", extended)
            with self.subTest(extended=extended):
                c = self.logged_in()
                for size in (b"4294967296", b"4294967301", b"-1", b"abc", b"", b"12345678901"):
                    self.exchange(c, b"n1 APPEND INBOX () {" + size + b"}",
                                  b"n1 NO please give arguments\r\n")
                self.exchange(c, b"y1 NOOP", b"y1 OK NOOP complated\r\n")
                # After the message, the rest of the command line is held to the limit.
                before = self.host_rss_mib(host)
                c.send(b"n2 APPEND INBOX () {0}\r\n")
                c.expect(b"+ OK please give datas\r\n")
                for _ in range(32):
                    c.send(b"x" * (1 << 20))
                c.send(b"\r\ny2 NOOP\r\n")
                c.expect(b"n2" + self.OVERLONG + b"APPEND\r\ny2 OK NOOP complated\r\n")
                grown = self.host_rss_mib(host) - before
                print("\nfigure: 32 MiB after an APPEND literal: host grew %.1f MiB" % grown)
                self.assertLess(grown, 16)
                # A literal that does not wait and has no valid size leaves nothing to trust.
                c.send(b"n3 APPEND INBOX () {99999999999+}\r\nFrom: x\r\n")
                c.expect(b"n3 NO please give arguments\r\n")
                c.expect_closed()
        self.assertEqual(self.host_calls("_OPAImportFile@12"), [])


class TimeoutTest(StoreTestCase):
    """A client that stays silent is told goodbye and closed: LoginTimeout seconds before LOGIN,
    IdleTimeout after it (IDLE included), so silent sockets cannot hold every place."""

    TIMEOUT = b"* BYE Autologout; idle for too long\r\n"

    def test_silent_clients_are_closed_and_free_their_places(self):
        self.store.folder("inbox.box", title="Inbox")
        self.mailbox.set_server_key("MaxConnections", 3)
        self.mailbox.set_server_key("LoginTimeout", 1)
        self.mailbox.set_server_key("IdleTimeout", 2)
        self.start_store_host(check_stop=True)
        for extended in (b"0", b"1"):
            self.setting("Extended", extended)
            with self.subTest(extended=extended):
                started = time.monotonic()
                silent = [self.greeted() for _ in range(3)]
                for client in silent:
                    client.expect(self.TIMEOUT)
                    client.expect_closed()
                print("\nfigure: 3 silent clients closed after %.1f s (LoginTimeout 1 s)"
                      % (time.monotonic() - started))
                # Their places are free again; a client logged in and one idling are closed
                # after IdleTimeout.
                quiet = self.logged_in()
                idling = self.logged_in()
                idling.send(b"s1 SELECT INBOX\r\n")
                idling.read_until(b"s1 OK [READ-WRITE] SELECT complated\r\n")
                idling.send(b"i1 IDLE\r\n")
                idling.expect(b"+ idling\r\n")
                for client in (quiet, idling):
                    client.read_until(self.TIMEOUT)
                    client.expect_closed()


if __name__ == "__main__":
    unittest.main()
