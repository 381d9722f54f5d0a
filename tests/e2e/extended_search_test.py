"""SEARCH and UID SEARCH in extended mode on a running server: nested OR/NOT with Japanese FROM
and SUBJECT sent as UTF-8 and ISO-2022-JP literals against Shift_JIS headers and encoded words,
flags, dates and sizes, the BAD and NO answers, and a journal free of mark-as-read calls; and in
exact mode the unchanged answer."""

import base64
import os
import unittest

from harness import (ANSWERED, DELETED, UNREAD, HostTestCase, Literal, StoreTree, sjis, utc,
                     wait_until)


def jis(text):
    return text.encode("iso2022_jp")


def header_word(text):
    """An encoded word as other mailers write it."""
    return b"=?ISO-2022-JP?B?" + base64.b64encode(jis(text)) + b"?="


MESSAGES = [
    # Shift_JIS header and body, as the host stores its own mail.
    ("AAAA0001", UNREAD,
     b"From: " + sjis("山田太郎") + b" <yamada@example.jp>\r\n"
     b"Subject: " + sjis("会議の件") + b"\r\n"
     b"Date: Sun, 4 Mar 2001 10:00:00 +0900\r\n\r\n" + sjis("本文です。") + b"\r\n",
     utc(2001, 3, 4, 1, 2, 3)),
    # The same names in encoded words; a long body. 20:00 UTC is already 6 March in +0900.
    ("AAAA0002", 0,
     b"From: " + header_word("山田太郎") + b" <yamada@example.jp>\r\n"
     b"Subject: Re: =?UTF-8?B?" + base64.b64encode("会議の件".encode()) + b"?=\r\n"
     b"Date: Mon, 5 Mar 2001 18:00:00 +0900\r\n\r\n" + b"x" * 3000 + b"\r\n",
     utc(2001, 3, 5, 20, 0, 0)),
    ("AAAA0003", ANSWERED | UNREAD,
     b"From: Bob <bob@example.com>\r\nSubject: Lunch\r\n\r\nSee you.\r\n",
     utc(2001, 3, 6, 12, 0, 0)),
    ("AAAA0004", DELETED,
     b"From: " + sjis("鈴木") + b" <suzuki@example.jp>\r\nSubject: Weekly report\r\n\r\nok\r\n",
     utc(2001, 3, 7, 12, 0, 0)),
    ("AAAB0001", UNREAD,
     b"From: alice@example.com\r\nSubject: " + sjis("会議") + b" moved\r\n\r\nhi\r\n",
     utc(2001, 3, 8, 12, 0, 0)),
]


class SearchTestCase(HostTestCase):
    extended = True

    def setUp(self):
        super().setUp()
        self.mailbox.add_user("taro", "secret")
        StoreTree(self.mailbox.path, "taro").folder("inbox.box", title="Inbox", uid_validity=7,
                                                    messages=MESSAGES)
        self.journal = os.path.join(self.tmp, "journal.txt")
        self.host = self.start_host("--journal", self.journal)
        self.client = self.greeted()
        self.ok(b"l1", b"LOGIN taro secret")
        self.ok(b"s1", b"SELECT INBOX")

    def command(self, tag, *pieces):
        """The lines of the answer to a command (Literal pieces sent as literals)."""
        self.client.send_command(tag, *pieces)
        return self.client.read_answer(tag).splitlines(keepends=True)

    def ok(self, tag, *pieces):
        """The untagged lines of the answer to a command that must succeed."""
        lines = self.command(tag, *pieces)
        self.assertTrue(lines[-1].startswith(tag + b" OK "), lines)
        return lines[:-1]

    def search(self, tag, *pieces):
        """The one untagged SEARCH line of a command that must succeed."""
        lines = self.ok(tag, *pieces)
        self.assertEqual(len(lines), 1, lines)
        return lines[0]

    def journal_text(self):
        with open(self.journal, "rb") as f:
            return f.read().decode("utf-8", "replace")


class ExtendedSearchTest(SearchTestCase):

    def test_nested_or_not_with_japanese_in_utf8(self):
        # (From 山田 and not deleted) or (Subject 会議 and unseen).
        line = self.search(b"a1", b"SEARCH CHARSET UTF-8 OR (FROM ",
                           Literal("山田".encode()), b" NOT DELETED) (SUBJECT ",
                           Literal("会議".encode()), b" NOT SEEN)")
        self.assertEqual(line, b"* SEARCH 1 2 5\r\n")
        # Without CHARSET, well-formed UTF-8 is taken as such; NOT OR nests.
        line = self.search(b"a2", b"search NOT OR FROM ", Literal("山田".encode()),
                           b" SUBJECT ", Literal("会議の件".encode()))
        self.assertEqual(line, b"* search 3 4 5\r\n")

    def test_japanese_in_iso_2022_jp(self):
        line = self.search(b"a1", b"SEARCH CHARSET ISO-2022-JP FROM ", Literal(jis("山田太郎")),
                           b" SUBJECT ", Literal(jis("会議の件")))
        self.assertEqual(line, b"* SEARCH 1 2\r\n")
        line = self.search(b"a2", b"SEARCH CHARSET ISO-2022-JP NOT FROM ", Literal(jis("山田")))
        self.assertEqual(line, b"* SEARCH 3 4 5\r\n")
        line = self.search(b"a3", b"SEARCH CHARSET SHIFT_JIS BODY ", Literal(sjis("本文")))
        self.assertEqual(line, b"* SEARCH 1\r\n")

    def test_uid_search_answers_uids(self):
        self.assertEqual(self.search(b"u1", b"UID SEARCH OR SUBJECT lunch FROM ALICE"),
                         b"* SEARCH 3 10001\r\n")
        self.assertEqual(self.search(b"u2", b"UID SEARCH UID 4:* UNSEEN"),
                         b"* SEARCH 10001\r\n")

    def test_flags_dates_and_sizes(self):
        self.assertEqual(self.search(b"f1", b"SEARCH UNSEEN UNDELETED"), b"* SEARCH 1 3 5\r\n")
        # The internal date is the day INTERNALDATE shows, in +0900.
        self.assertEqual(self.search(b"f3", b"SEARCH ON 6-Mar-2001"), b"* SEARCH 2 3\r\n")
        lines = self.ok(b"f4", b"FETCH 2 INTERNALDATE")
        self.assertIn(b'"06-Mar-2001 05:00:00 +0900"', lines[0])
        self.assertEqual(self.search(b"f5", b'SEARCH SINCE 7-Mar-2001 BEFORE "8-Mar-2001"'),
                         b"* SEARCH 4\r\n")
        # The sent date is the Date field's day.
        self.assertEqual(self.search(b"f6", b"SEARCH SENTON 5-Mar-2001"), b"* SEARCH 2\r\n")
        self.assertEqual(self.search(b"f7", b"SEARCH LARGER 3000"), b"* SEARCH 2\r\n")
        self.assertEqual(self.search(b"f8", b"SEARCH SMALLER 3000 TEXT yamada"),
                         b"* SEARCH 1\r\n")

    def test_bad_criteria_and_charsets(self):
        for tag, criteria in [(b"b1", b"SEARCH FOO"), (b"b2", b"SEARCH (ALL"),
                              (b"b3", b"SEARCH OR ALL"), (b"b4", b"SEARCH SINCE 2001-03-04"),
                              (b"b5", b"UID SEARCH UID x")]:
            self.assertEqual(self.command(tag, criteria),
                             [tag + b" BAD invalid search criteria\r\n"])
        self.assertEqual(
            self.command(b"b6", b"SEARCH CHARSET KOI8-R ALL"),
            [b"b6 NO [BADCHARSET (US-ASCII UTF-8 ISO-2022-JP SHIFT_JIS)] unsupported charset\r\n"])
        self.assertEqual(self.command(b"b7", b"SEARCH"), [b"b7 NO please give arguments\r\n"])

    def test_search_never_marks_a_message_read(self):
        self.search(b"j1", b"SEARCH TEXT x BODY y LARGER 1 SENTSINCE 1-Jan-2000")
        self.search(b"j2", b"UID SEARCH CHARSET UTF-8 SUBJECT ", Literal("会議".encode()))
        self.search(b"j3", b"SEARCH NEW OR OLD ON 4-Mar-2001")
        self.assertNotIn("_OPAMarkMail@12", self.journal_text())
        # The journal does record a mark: fetching a body marks message 1 read.
        self.ok(b"j4", b"FETCH 1 BODY[TEXT]")
        wait_until(lambda: "_OPAMarkMail@12" in self.journal_text(), "the mark")
        self.assertIn("_OPAMarkMail@12\ttaro\\inbox.box\\AAAA0001", self.journal_text())


class ExactSearchTest(SearchTestCase):
    extended = False

    def test_exact_mode_serves_only_all(self):
        self.assertEqual(self.search(b"e1", b"SEARCH UNSEEN"), b"* SEARCH\r\n")
        self.assertEqual(self.search(b"e2", b"SEARCH ALL"), b"* SEARCH 1 2 3 4 5\r\n")
        self.assertEqual(self.search(b"e3", b"SEARCH FOO"), b"* SEARCH\r\n")


if __name__ == "__main__":
    unittest.main()
