"""interimap (Debian's interimap 0.5), which keeps two IMAP servers in step and only works with
a server that has QRESYNC: it pulls the whole account into a local Maildir (served by Dovecot's
imap), then, after a message was flagged, one read, one deleted and one added on this server,
syncs again. The second run must learn the changes from the folder's modification sequences:
it opens only the folder that changed, with SELECT ... (QRESYNC ...), is told the removed UID
in VANISHED (EARLIER) and the changed flags, and downloads the new message alone."""

import imaplib
import os
import re
import unittest

from client_case import ClientCase, give_to, read_maildirs, use_unprivileged_user
import fixture_store as fx
from harness import mutf7

FLAGGED, READ, DELETED = fx.find(fx.INBOX, 6), fx.PLAIN, fx.find(fx.INBOX, 4)
NEW = b"From: x@example.jp\r\nSubject: new\r\nMessage-ID: <new@example.jp>\r\n\r\nnew\r\n"


class ExtendedModeTest(ClientCase):
    extended = True

    def interimap(self):
        """One interimap run; returns what run_client returns."""
        if not hasattr(self, "home"):
            uid, gid = use_unprivileged_user()
            self.home = os.path.join(self.work, "home")
            os.makedirs(self.home)
            for sub in ("run", "state"):
                os.makedirs(os.path.join(self.work, "dovecot", sub))
            give_to(self.home, uid, gid, self.tmp)
            give_to(os.path.join(self.work, "dovecot"), uid, gid, self.tmp)
            dovecot = self.config("dovecot.conf", "dovecot.conf", uid=uid, gid=gid)
            self.conf = self.config("interimap.conf", "interimap.conf", home=self.home,
                                    dovecot=dovecot)
        return self.run_client(["interimap", "--config=" + self.conf])

    def local_inbox(self):
        """{Message-ID: Maildir flag letters} of the local INBOX."""
        folders = read_maildirs(os.path.join(self.home, "Maildir"))
        return {re.search(rb"Message-I[Dd]: *(<[^>]*>)", data).group(1).decode(): letters
                for _, letters, data in folders["INBOX"]}

    def test_second_sync_fetches_only_what_changed(self):
        rc, out, err = self.interimap()
        self.assertEqual(rc, 0, self.describe_runs())
        folders = read_maildirs(os.path.join(self.home, "Maildir"))
        for folder in fx.FOLDERS:
            self.assert_folder_downloaded(folder, [m[2] for m in folders[folder.name]])
        self.assertEqual(self.local_inbox()[FLAGGED.message_id], "")

        c = imaplib.IMAP4("127.0.0.1", self.port, timeout=60)
        c.login(self.user, self.password)
        c.select("INBOX")
        c.uid("STORE", str(FLAGGED.uid), "+FLAGS.SILENT", "(\\Flagged)")
        c.uid("STORE", str(READ.uid), "+FLAGS.SILENT", "(\\Seen)")
        c.uid("STORE", str(DELETED.uid), "+FLAGS.SILENT", "(\\Deleted)")
        c.expunge()
        self.assertEqual(c.append("INBOX", "(\\Seen)", None, NEW)[0], "OK")
        c.logout()

        first = len(self.relay.sessions)
        rc, out, err = self.interimap()
        self.assertEqual(rc, 0, self.describe_runs())
        sent = b"".join(bytes(c) for c, _ in self.relay.sessions[first:])
        answered = b"".join(bytes(s) for _, s in self.relay.sessions[first:])
        # One folder opened, with what interimap knew of it; the rest judged by LIST-STATUS.
        selects = re.findall(rb"\d+ SELECT (\S+)", sent)
        self.assertEqual(selects, [b"INBOX"], sent)
        self.assertRegex(sent, rb"SELECT INBOX \(QRESYNC \(%d \d+ " % fx.INBOX.uid_validity)
        self.assertIn(b"* VANISHED (EARLIER) %d\r\n" % DELETED.uid, answered)
        changed = set(re.findall(rb"\* \d+ FETCH \(UID (\d+) FLAGS \([^)]*\) MODSEQ", answered))
        others = changed - {b"%d" % FLAGGED.uid, b"%d" % READ.uid}
        self.assertEqual(len(changed - others), 2, answered)
        self.assertEqual(len(others), 1, answered)  # the new message
        # Only the new message is downloaded.
        self.assertEqual(len(re.findall(rb"BODY\[\] \{", answered)), 1, answered)
        self.assertIn(b"<new@example.jp>", answered)

        inbox = self.local_inbox()
        self.assertNotIn(DELETED.message_id, inbox)
        self.assertEqual(inbox[FLAGGED.message_id], "F")
        self.assertEqual(inbox[READ.message_id], "S")
        self.assertEqual(inbox["<new@example.jp>"], "S")
        self.assertEqual(len(inbox), len(fx.in_folder(fx.INBOX)))
        self.assertIn("Removed 1 UID(s)", err)


if __name__ == "__main__":
    unittest.main()
