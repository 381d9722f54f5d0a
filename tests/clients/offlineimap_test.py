"""offlineimap3 as a person keeping a local copy: a first sync of every folder into a Maildir,
then a message read locally and a message written locally, and a second sync that carries both
to the server; the local flags then match the host's."""

import os
import re
import unittest
from email.header import Header

from client_case import ClientCase, read_maildirs
import fixture_store as fx
from harness import UNREAD, mutf7

WRITTEN = fx.Original(fx.INBOX, "new", UNREAD, "オフラインで書いたメール", "山本 八郎",
                      "yamamoto@example.jp", "offlineimap で同期したメールです。\n")


def written_bytes():
    """A Japanese message in raw UTF-8 (8bit), with encoded-word headers."""
    o = WRITTEN
    return ("From: %s <%s>\nTo: user1@example.jp\nSubject: %s\n"
            "Date: Fri, 07 Mar 2025 12:00:00 +0900\nMessage-ID: <written.offlineimap@example.jp>\n"
            "MIME-Version: 1.0\nContent-Type: text/plain; charset=UTF-8\n"
            "Content-Transfer-Encoding: 8bit\n\n%s" %
            (Header(o.from_name, "utf-8").encode(), o.from_addr,
             Header(o.subject, "utf-8").encode(), o.body)).encode()


class OfflineimapFlow:

    def offlineimap(self):
        config = self.config("offlineimaprc", "offlineimaprc")
        return self.run_client(["offlineimap", "-c", config, "-o", "-u", "basic"])

    def local(self):
        """{title: [(file name, flags, bytes)]} of the local Maildir tree."""
        return read_maildirs(os.path.join(self.work, "mail"))

    def test_flow(self):
        rc, out, err = self.offlineimap()
        self.check_first_sync(rc, out, err)


class ExactModeTest(OfflineimapFlow, ClientCase):
    extended = False

    def check_first_sync(self, rc, out, err):
        # offlineimap opens each folder with EXAMINE, which is not implemented: no folder is
        # synced, and nothing is asked of the host.
        self.assertEqual(rc, 1, self.describe_runs())
        for folder in fx.FOLDERS:
            self.assert_exchange(rb'^\w+ EXAMINE "?%s"?$' % mutf7(folder.name),
                                 b" BAD Command Not impremented EXAMINE\r\n")
        self.assertEqual([m for messages in self.local().values() for m in messages], [])
        self.assert_store_unchanged()


class ExtendedModeTest(OfflineimapFlow, ClientCase):
    extended = True

    def check_first_sync(self, rc, out, err):
        self.assertEqual(rc, 0, self.describe_runs())
        folders = self.local()
        self.assertEqual(sorted(folders), sorted(f.name for f in fx.FOLDERS))
        for folder in fx.FOLDERS:
            self.assert_folder_downloaded(folder, [m[2] for m in folders[folder.name]])
            for name, flags, data in folders[folder.name]:
                original = self.original_of(data)
                self.assertEqual("S" in flags, original.seen, name)
                self.assertEqual("R" in flags, original.name == "AAAA0002", name)
        self.assert_calls([])

        # Message 1 read locally; a message written locally.
        inbox = os.path.join(self.work, "mail", "INBOX")
        for name, flags, data in folders["INBOX"]:
            if self.original_of(data) is fx.PLAIN:
                sub = "new" if os.path.exists(os.path.join(inbox, "new", name)) else "cur"
                os.rename(os.path.join(inbox, sub, name), os.path.join(inbox, "cur", name + "S"))
        with open(os.path.join(inbox, "new", "1741316400.1.local"), "wb") as f:
            f.write(written_bytes())
        rc, out, err = self.offlineimap()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("import", "temp", "inbox.box", UNREAD)])
        stored = self.assert_stored_once("inbox.box", WRITTEN)
        self.assertIn(b"Content-Type: text/plain; charset=ISO-2022-JP\r\n", stored)
        self.assertEqual(self.message_problems(self.read_back(fx.INBOX, 10002), WRITTEN), [])

        # The local copy now has the server's UID for the message written, and every flag
        # as the host keeps it.
        status = self.flags_of(fx.INBOX)
        local = self.local()["INBOX"]
        self.assertEqual(len(local), 8)
        for name, flags, data in local:
            uid = int(re.search(r",U=(\d+),", name).group(1))
            host_name = "AAA%s%04d" % ("B" if uid > 10000 else "A", uid % 10000)
            self.assertEqual("S" in flags, not status[host_name] & UNREAD, name)


if __name__ == "__main__":
    unittest.main()
