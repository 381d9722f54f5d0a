"""A migration of the whole store to a standard IMAP server with that server's own tool, as an
administrator moving a user off this server does: Dovecot's `doveadm backup -R imapc:` pulls
the account through Dovecot's IMAP client storage into a Maildir, once after messages were
flagged on this server and again after one more change (the last run before the switch). The
store is the demo's kind: Japanese folders, one whose Entry.ini has no title, a bare one, and
a draft. Every folder must arrive under its name and every message reading as in the store
with \\Seen, \\Answered, \\Draft and \\Flagged. doveadm runs as an ordinary account on a
throw-away configuration in the test's directory; no Dovecot service is started."""

import imaplib
import os
import unittest

from client_case import (PASSWORD, USER, ClientCase, give_to, read_maildirs,
                         use_unprivileged_user)
import fixture_store as fx
from harness import ANSWERED, DRAFT, UNREAD, mutf7

# Flagged through this server before the migration.
FLAGGED = [fx.QUOTED, fx.find(fx.REPORTS, 1)]


class DoveadmFlow:
    store_folders = fx.DEMO_FOLDERS

    def doveadm_backup(self):
        """doveadm backup -R imapc: into the Maildir of self.home; returns what run_client
        returns."""
        uid, gid = use_unprivileged_user()
        self.home = os.path.join(self.work, "home")
        if not os.path.isdir(self.home):
            os.makedirs(self.home)
            for sub in ("run", "state"):
                os.makedirs(os.path.join(self.work, "dovecot", sub))
            give_to(self.home, uid, gid, self.tmp)
        config = self.config("dovecot.conf", "dovecot.conf", uid=uid, gid=gid)
        return self.run_client(["doveadm", "-c", config, "backup", "-R", "imapc:"],
                               env={"USER": USER, "HOME": self.home})

    def store_flags(self, changes):
        """UID STORE straight to the server, one (folder, uid, change) each."""
        c = imaplib.IMAP4("127.0.0.1", self.port, timeout=60)
        try:
            c.login(USER, PASSWORD)
            for folder, uid, change in changes:
                self.assertEqual(c.select('"%s"' % mutf7(folder.name).decode())[0], "OK")
                self.assertEqual(c.uid("STORE", str(uid), change)[0], "OK")
        finally:
            c.logout()


class ExtendedModeTest(DoveadmFlow, ClientCase):
    extended = True

    def assert_migrated(self, flagged, read):
        """Every folder in the Maildir, its messages reading as the originals, each with the
        Maildir flags of the store's status, \\Seen for those of read, \\Flagged for those of
        flagged."""
        folders = read_maildirs(os.path.join(self.home, "Maildir"))
        self.assertEqual(sorted(folders), sorted(f.name for f in self.store_folders))
        for folder in self.store_folders:
            self.assert_folder_downloaded(folder, [m[2] for m in folders[folder.name]])
            for name, letters, data in folders[folder.name]:
                original = self.original_of(data)
                wanted = {"S": original.seen or original in read, "F": original in flagged,
                          "R": bool(original.status & ANSWERED),
                          "D": bool(original.status & DRAFT)}
                self.assertEqual(sorted(l for l in "DFRS" if l in letters),
                                 sorted(l for l, on in wanted.items() if on),
                                 (folder.name, original.name, name))

    def test_flow(self):
        self.store_flags([(m.folder, m.uid, "+FLAGS.SILENT (\\Flagged)") for m in FLAGGED])
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_migrated(FLAGGED, [])
        # Pulling only reads: nothing reached the host.
        self.assert_calls([])

        # One message read and one unflagged on this server since; the next run brings both.
        self.store_flags([(fx.INBOX, fx.PLAIN.uid, "+FLAGS.SILENT (\\Seen)"),
                          (fx.INBOX, fx.QUOTED.uid, "-FLAGS.SILENT (\\Flagged)")])
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_migrated(FLAGGED[1:], [fx.PLAIN])
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0)])
        self.assert_store_through_calls()


class ExactModeTest(DoveadmFlow, ClientCase):
    extended = False

    def test_flow(self):
        # Dovecot opens each folder with EXAMINE, which the exact mode does not implement:
        # doveadm stops at the first folder (exit code 75, a temporary failure), having read
        # no message.
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 75, self.describe_runs())
        self.assertIn("Command Not impremented EXAMINE", err)
        self.assert_exchange(rb"^\d+ EXAMINE ", b" BAD Command Not impremented EXAMINE\r\n")
        self.assertNotIn(b"FETCH", self.relay.client_bytes())
        self.assert_store_unchanged()


if __name__ == "__main__":
    unittest.main()
