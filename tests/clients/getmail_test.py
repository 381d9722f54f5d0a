"""getmail6 run by an ordinary user, as getmail is meant to run: retrieve every message of the
inbox into a Maildir, leaving it on the server; and, on a fresh store, retrieve and delete."""

import os
import unittest

from client_case import ClientCase, give_to, read_maildir, use_unprivileged_user
import fixture_store as fx
from harness import ANSWERED, DELETED, DRAFT, UNREAD

INBOX = fx.in_folder(fx.INBOX)


class GetmailFlow:

    def getmail(self, *options):
        """Runs getmail as the ordinary user; returns (exit code, stdout, stderr, messages)."""
        uid, gid = use_unprivileged_user()
        delivered = os.path.join(self.work, "delivered")
        for sub in ("cur", "new", "tmp"):
            os.makedirs(os.path.join(delivered, sub), exist_ok=True)
        state = os.path.join(self.work, "state")
        os.makedirs(state, exist_ok=True)
        rc_file = self.config("getmailrc", "getmailrc")
        give_to(self.work, uid, gid, self.tmp)
        rc, out, err = self.run_client(["runuser", "-u", "orvclient", "--", "getmail",
                                        "--getmaildir=" + state, "--rcfile=" + rc_file] +
                                       list(options))
        return rc, out, err, [m[2] for m in read_maildir(delivered)]

    def test_retrieve(self):
        self.check_retrieve(*self.getmail())

    def test_delete(self):
        self.check_delete(*self.getmail("--delete"))


class ExactModeTest(GetmailFlow, ClientCase):
    extended = False

    def check_retrieve(self, rc, out, err, messages):
        # getmail opens the folder read-only with EXAMINE, which is not implemented.
        self.assertNotEqual(rc, 0, self.describe_runs())
        self.assertEqual(messages, [])
        self.assert_exchange(rb'^\w+ EXAMINE "?INBOX"?$',
                             b" BAD Command Not impremented EXAMINE\r\n")
        self.assert_store_unchanged()

    def check_delete(self, rc, out, err, messages):
        # To delete, getmail opens the folder with SELECT, gets every message and marks it
        # deleted; its EXPUNGE is not implemented, so the messages stay, marked deleted.
        self.assert_folder_downloaded(fx.INBOX, messages)
        self.assert_exchange(rb"^\w+ EXPUNGE$", b" BAD Command Not impremented EXPUNGE\r\n")
        self.assertEqual([c for c in self.calls() if c[0] != "mark"], [])
        self.assertIn(("mark", "inbox.box/AAAA0001", DELETED, 1), self.calls())
        self.assert_store_through_calls()


class ExtendedModeTest(GetmailFlow, ClientCase):
    extended = True

    def check_retrieve(self, rc, out, err, messages):
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_folder_downloaded(fx.INBOX, messages)
        # Read-only: nothing is marked, the store is as it was.
        self.assert_store_unchanged()
        # The messages stay: a second run with a fresh state gets them all again.
        os.rename(os.path.join(self.work, "state"), os.path.join(self.work, "state.1"))
        rc, out, err, messages = self.getmail()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assertEqual(len(messages), 2 * len(INBOX))

    def check_delete(self, rc, out, err, messages):
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_folder_downloaded(fx.INBOX, messages)
        # STORE FLAGS (\Seen \Deleted) replaces the flags, then EXPUNGE: the host deletes
        # every message.
        expected = []
        for m in INBOX:
            key = "inbox.box/" + m.name
            expected += [("mark", key, UNREAD, 0), ("mark", key, ANSWERED, 0),
                         ("mark", key, DELETED, 1), ("mark", key, DRAFT, 0), ("delete", key)]
        self.assert_calls(expected)
        self.assert_store_through_calls()
        self.assertEqual(self.flags_of(fx.INBOX), {})


if __name__ == "__main__":
    unittest.main()
