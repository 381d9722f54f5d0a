"""The limits that keep one client from growing the host's process: the length of a command
line, the number of live connections and the size of an APPEND literal, each a setting."""

import unittest

from harness import GREETING, STOP_BYE, StoreTestCase


class LimitsTest(StoreTestCase):

    def serve_with_limit(self, key, value):
        """Starts the host with key=value in the settings (a limit orimapst does not set)."""
        self.mailbox.set_server_key(key, value)
        self.start_store_host(check_stop=True)

    def test_overlong_line_is_dropped_and_answered_as_not_implemented(self):
        self.serve_with_limit("MaxLineLength", 64)
        client = self.logged_in()
        client.send(b"a1 NOOP " + b"x" * 5000 + b"\r\na2 NOOP\r\n")
        client.expect(b"a1 BAD Command Not impremented NOOP\r\na2 OK NOOP complated\r\n")
        # A line at the limit is still whole.
        line = b"a3 NOOP "
        client.send(line + b"y" * (64 - len(line)) + b"\r\n")
        client.expect(b"a3 OK NOOP complated\r\n")

    def test_connection_beyond_the_limit_is_told_goodbye(self):
        self.serve_with_limit("MaxConnections", 2)
        first = self.greeted()
        second = self.greeted()
        third = self.connect()
        third.expect(STOP_BYE)
        third.expect_closed()
        # The two within the limit are served, and a place that frees up is taken again.
        first.send(b"a1 NOOP\r\n")
        first.expect(b"a1 OK NOOP complated\r\n")
        first.send(b"a2 LOGOUT\r\n")
        first.read_until(b"a2 OK LOGOUT complated\r\n")
        first.expect_closed()
        for _ in range(50):
            fourth = self.connect()
            data = fourth.read(len(GREETING))
            if data == GREETING:
                break
        else:
            self.fail("no place became free")
        second.send(b"a3 NOOP\r\n")
        second.expect(b"a3 OK NOOP complated\r\n")

    def test_append_beyond_the_limit_is_refused_before_the_continuation(self):
        self.store.folder("inbox.box", title="Inbox")
        self.serve_with_limit("MaxAppendSize", 10)
        client = self.logged_in()
        self.exchange(client, b"a1 APPEND INBOX () {11}", b"a1 NO please give arguments\r\n")
        client.append(b"a2 APPEND INBOX () {10}", b"0123456789")
        client.expect(b"a2 OK APPEND complated\r\n")
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 1)


if __name__ == "__main__":
    unittest.main()
