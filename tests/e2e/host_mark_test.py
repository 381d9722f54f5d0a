"""Marking through the host stand-in costs one record, whatever the size of the folder: a
mark rewrites the message's record in place and nothing else, a mark that changes nothing
writes nothing, and an index rewritten or replaced behind the host's back between two marks
is found out, so the mark still lands on the right line of the file the folder holds."""

import base64
import os
import struct
import time

from harness import (ANSWERED, DELETED, DRAFT, UNREAD, StoreTestCase, index_value,
                     parse_index)


class InPlaceMarkTest(StoreTestCase):

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", title="受信トレイ", messages=[
            ("AAAA0001", UNREAD, b"Subject: a\r\n\r\nx\r\n"),
            ("AAAA0002", UNREAD, b"Subject: b\r\n\r\ny\r\n"),
            ("AAAA0003", 0, b"Subject: c\r\n\r\nz\r\n"),
        ])
        self.path = self.store.path("inbox.box", "Entry.lst")
        self.start_store_host(check_stop=True)
        self.client = self.logged_in()
        self.client.send(b"a1 SELECT INBOX\r\n")
        self.client.read_until(b"a1 OK [READ-WRITE] SELECT complated\r\n")

    def mark(self, tag, command):
        self.client.send(tag + b" " + command + b"\r\n")
        self.client.read_until(tag + b" OK STORE complated\r\n")

    def test_one_record_changes_in_place(self):
        before = self.store.read("inbox.box", "Entry.lst")
        inode = os.stat(self.path).st_ino
        self.mark(b"a2", b"STORE 2 +FLAGS.SILENT (\\Seen)")
        after = self.store.read("inbox.box", "Entry.lst")
        self.assertEqual(os.stat(self.path).st_ino, inode)
        self.assertEqual(len(after), len(before))
        self.assertEqual([e[:2] for e in parse_index(after)],
                         [(b"AAAA0001", UNREAD), (b"AAAA0002", 0), (b"AAAA0003", 0)])
        # Only the record's own bytes differ.
        lines_before, lines_after = before.splitlines(True), after.splitlines(True)
        self.assertEqual([lines_before[0], lines_before[2]], [lines_after[0], lines_after[2]])

        # Bits that already have the asked value: not a byte written.
        stamp = os.stat(self.path).st_mtime_ns
        self.mark(b"a3", b"STORE 3 +FLAGS.SILENT (\\Seen)")
        self.mark(b"a4", b"STORE 2 -FLAGS.SILENT (\\Answered)")
        self.assertEqual(os.stat(self.path).st_mtime_ns, stamp)
        self.assertEqual(self.store.read("inbox.box", "Entry.lst"), after)

    def test_an_index_rewritten_behind_the_hosts_back(self):
        self.mark(b"a2", b"STORE 3 +FLAGS.SILENT (\\Answered)")
        # The same lines in another order, of the same size and (as two writes within one
        # tick of the file clock would have) with the same last-write time; then a line more.
        lines = self.store.read("inbox.box", "Entry.lst").splitlines(True)
        stamp = os.stat(self.path).st_mtime_ns
        self.store.write("inbox.box", "Entry.lst", lines[2] + lines[0] + lines[1])
        os.utime(self.path, ns=(stamp, stamp))
        self.mark(b"a3", b"STORE 1 +FLAGS.SILENT (\\Seen)")
        self.assertEqual([e[:2] for e in self.store.index("inbox.box")],
                         [(b"AAAA0003", ANSWERED), (b"AAAA0001", 0), (b"AAAA0002", UNREAD)])
        self.store.write("inbox.box", "Entry.lst", self.store.read("inbox.box", "Entry.lst") +
                         b"AAAA0004=" + index_value(0) + b"\r\n")
        self.mark(b"a4", b"STORE 2 +FLAGS.SILENT (\\Seen)")
        self.assertEqual([e[:2] for e in self.store.index("inbox.box")],
                         [(b"AAAA0003", ANSWERED), (b"AAAA0001", 0), (b"AAAA0002", 0),
                          (b"AAAA0004", 0)])

        # Replaced whole (written beside it and renamed over it) with the same bytes and
        # times, while the host keeps the index it marked open, the folder long unchanged:
        # the next mark goes into the new file.
        folder = self.store.path("inbox.box")
        os.utime(folder, (time.time() - 600,) * 2)
        self.mark(b"a5", b"STORE 2 +FLAGS.SILENT (\\Draft)")
        stamp = os.stat(self.path)
        with open(self.path + ".new", "wb") as f:
            f.write(self.store.read("inbox.box", "Entry.lst"))
        os.utime(self.path + ".new", ns=(stamp.st_atime_ns, stamp.st_mtime_ns))
        os.replace(self.path + ".new", self.path)
        self.mark(b"a6", b"STORE 1 +FLAGS.SILENT (\\Deleted)")
        self.assertEqual([e[:2] for e in self.store.index("inbox.box")],
                         [(b"AAAA0003", ANSWERED), (b"AAAA0001", DELETED), (b"AAAA0002", DRAFT),
                          (b"AAAA0004", 0)])

    def test_a_short_record_grows_to_three_words(self):
        # A record of two words: its new text is longer, so the index is written anew.
        lines = self.store.read("inbox.box", "Entry.lst").splitlines(True)
        short = b"AAAA0002=" + base64.b64encode(struct.pack("<II", UNREAD, 77)) + b"\r\n"
        self.store.write("inbox.box", "Entry.lst", lines[0] + short + lines[2])
        self.mark(b"a2", b"STORE 2 +FLAGS.SILENT (\\Seen \\Answered)")
        index = self.store.read("inbox.box", "Entry.lst")
        self.assertEqual(parse_index(index)[1], (b"AAAA0002", ANSWERED, 77, 0, b"\r\n"))
        self.assertEqual(index.splitlines(True)[0::2], [lines[0], lines[2]])
