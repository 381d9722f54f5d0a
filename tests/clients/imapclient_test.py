"""Perl's Mail::IMAPClient 3.43 (Debian's libmail-imapclient-perl, the library migration tools
are built on), running the flow of library_flow.py through imapclient_flow.pl: it reads with
BODY.PEEK[] after asking RFC822.SIZE (and refuses a message whose size differs), sets flags
with STORE +FLAGS.SILENT, appends with a flag list and a date, and moves with COPY, \\Deleted
and EXPUNGE."""

import os
import unittest

from client_case import ClientCase
import fixture_store as fx
from harness import DELETED, UNREAD
from library_flow import HERE, READ_AGAIN, LibraryFlow


class ImapClientFlow(LibraryFlow):
    command = ["perl", os.path.join(HERE, "imapclient_flow.pl")]


class ExtendedModeTest(ImapClientFlow, ClientCase):
    extended = True

    def check_changes(self, report):
        self.check_extended(report, [("mark", "inbox.box/AAAA0001", DELETED, 1),
                                     ("delete", "inbox.box/AAAA0001")])


class ExactModeTest(ImapClientFlow, ClientCase):
    extended = False

    def check_changes(self, report):
        # Only the move fails: EXPUNGE is not implemented, so the original stays, marked
        # \Deleted, beside its copy.
        self.assertEqual(list(self.failed_steps(report)), ["move"], self.describe_runs())
        self.assertIn("BAD Command Not impremented EXPUNGE", report["steps"]["move"])
        self.assert_exchange(rb"^\d+ EXPUNGE$", b" BAD Command Not impremented EXPUNGE\r\n")
        # The library asks RFC822.SIZE before each message, which marks it read: reading the
        # two folders turned every message read. \Flagged is dropped, and APPEND gives no
        # APPENDUID and takes no flags: the appended message and the copy arrive unread.
        inbox = self.expected_inbox_flags(moved=False)
        for uid in inbox:
            if uid != str(READ_AGAIN.uid):
                inbox[uid].add("\\Seen")
        inbox[str(fx.PLAIN.uid)].add("\\Deleted")
        self.assertEqual(self.final_flags(report, fx.INBOX), inbox)
        self.assertIsNone(report["appended_uid"])
        self.assertEqual(self.final_flags(report, fx.WORK), {"1": {"\\Seen"}, "2": set()})
        self.assertEqual(self.final_flags(report, fx.REPORTS), {"1": set(), "2": set()})
        read = [("mark", "%s/%s" % (m.folder.path, m.name), UNREAD, 0)
                for m in fx.in_folder(fx.INBOX) + fx.in_folder(fx.WORK)]
        self.assert_calls(read + [("mark", "inbox.box/AAAA0004", UNREAD, 1),
                                  ("import", "temp", "work.box", UNREAD),
                                  ("import", "inbox.box/AAAA0001", "work.box/reports.box", UNREAD),
                                  ("mark", "inbox.box/AAAA0001", DELETED, 1)])
        self.assert_store_through_calls()


if __name__ == "__main__":
    unittest.main()
