"""The host stopping the plug-in's server and starting it again in the same process, without
unloading the plug-in (orvex-host --restart-on-interrupt), as the mail client does when its
settings change: each start reads the account file afresh, so a changed password, a removed
user and an added one count from the next start on, and the sessions of the run before are told
goodbye before the users they logged in as are replaced."""

import os
import signal
import unittest

from harness import PROCESS_TIMEOUT, STOP_BYE, HostTestCase, StoreTree, wait_until

OK = b"OK LOGIN complated\r\n"
REFUSED = b"NO username or password is incorrect\r\n"


class RestartTest(HostTestCase):
    """The account table does not depend on the mode: the exact mode stands for both."""

    def setUp(self):
        super().setUp()
        self.mailbox.add_user("user1", "old-secret")
        self.mailbox.add_user("user2", "second")
        StoreTree(self.mailbox.path, "user1").folder("inbox.box", title="Inbox", uid_validity=5)
        self.host = self.start_host("--restart-on-interrupt")
        self.addCleanup(self.assert_stops_cleanly, self.host)

    def starts(self):
        return self.host.stdout().count("listening on port %d" % self.port)

    def restart(self):
        """Has the host stop the server and start it again; waits until it listens again."""
        before = self.starts()
        self.host.process.send_signal(signal.SIGINT)
        wait_until(lambda: self.starts() > before or self.host.process.poll() is not None,
                   "the server to start again", timeout=PROCESS_TIMEOUT)
        self.assertIsNone(self.host.process.poll(), self.host.stdout() + self.host.stderr())

    def set_password(self, name, password):
        rc, out, err = self.mailbox.orimapst("passwd", name, stdin_bytes=password + b"\n")
        self.assertEqual(rc, 0, out + err)

    def test_a_changed_account_file_counts_from_the_next_start(self):
        first = self.logged_in(b"user1", b"old-secret")
        self.exchange(first, b"S1 SELECT INBOX", b"* 0 EXISTS\r\n")
        first.read_answer(b"S1")

        self.set_password("user1", b"new-secret")
        self.orimapst_ok("remove-user", "user2")
        self.mailbox.add_user("user3", "third")
        self.restart()
        # The session of the first run, logged in as a user now replaced, was closed first.
        first.expect(STOP_BYE)
        first.expect_closed()

        client = self.greeted()
        self.exchange(client, b"a1 LOGIN user1 old-secret", b"a1 " + REFUSED)
        self.exchange(client, b"a2 LOGIN user2 second", b"a2 " + REFUSED)
        self.exchange(client, b"a3 LOGIN user3 third", b"a3 " + OK)
        self.exchange(client, b"a4 LOGIN user1 new-secret", b"a4 " + OK)
        self.exchange(client, b"S1 SELECT INBOX", b"* 0 EXISTS\r\n")
        client.read_answer(b"S1")
        client.close()

        # An account file that is gone leaves no user at all (it is made again, empty).
        os.remove(self.mailbox.passwd_path)
        self.restart()
        client = self.greeted()
        self.exchange(client, b"a1 LOGIN user1 new-secret", b"a1 " + REFUSED)
        self.exchange(client, b"a2 LOGIN user3 third", b"a2 " + REFUSED)
        self.assertEqual(self.mailbox.read_passwd(), b"")


if __name__ == "__main__":
    unittest.main()
