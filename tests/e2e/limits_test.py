"""The limits that keep one client from growing the host's process: the length of a command
line, the number of live connections and the size of an APPEND literal, each a setting."""

import os
import unittest

from harness import GREETING, StoreTestCase

BYE = b"* BYE IMAP4rev1 Server logging out\r\n"


class LimitsTest(StoreTestCase):

    def set_limit(self, key, value):
        """Adds key=value to the settings file's [Server] section (made when missing)."""
        path = self.mailbox.settings_path
        data = open(path, "rb").read() if os.path.exists(path) else b""
        line = b"%s=%d\r\n" % (key.encode(), value)
        if b"[Server]\r\n" in data:
            data = data.replace(b"[Server]\r\n", b"[Server]\r\n" + line, 1)
        else:
            data += b"[Server]\r\n" + line
        with open(path, "wb") as f:
            f.write(data)

    def test_overlong_line_is_dropped_and_answered_as_not_implemented(self):
        self.set_limit("MaxLineLength", 64)
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.send(b"a1 NOOP " + b"x" * 5000 + b"\r\na2 NOOP\r\n")
        client.expect(b"a1 BAD Command Not impremented NOOP\r\na2 OK NOOP complated\r\n")
        # A line at the limit is still whole.
        line = b"a3 NOOP "
        client.send(line + b"y" * (64 - len(line)) + b"\r\n")
        client.expect(b"a3 OK NOOP complated\r\n")

    def test_connection_beyond_the_limit_is_told_goodbye(self):
        self.set_limit("MaxConnections", 2)
        self.start_store_host(check_stop=True)
        first = self.greeted()
        second = self.greeted()
        third = self.connect()
        third.expect(BYE)
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
        self.set_limit("MaxAppendSize", 10)
        self.store.folder("inbox.box", title="Inbox")
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.send(b"a1 APPEND INBOX () {11}\r\n")
        client.expect(b"a1 NO please give arguments\r\n")
        client.send(b"a2 APPEND INBOX () {10}\r\n")
        client.expect(b"+ OK please give datas\r\n")
        client.send(b"0123456789\r\n")
        client.expect(b"a2 OK APPEND complated\r\n")
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 1)


if __name__ == "__main__":
    unittest.main()
