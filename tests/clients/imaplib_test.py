"""Python's imaplib as a script uses it: login, list, select, search unseen, fetch RFC822,
store +FLAGS (\\Seen), append a Japanese UTF-8 message with a date, logout; then a second
session reads the flags and the appended message back."""

import base64
import imaplib
import re
import unittest

import fixture_store as fx
from client_case import PASSWORD, USER, ClientCase
from harness import UNREAD, decode_mutf7

# A message as a modern client writes it: encoded-word headers, UTF-8 text in base64.
APPENDED = fx.Original(fx.INBOX, "new", UNREAD, "追加したメール", "小林 五郎",
                       "kobayashi@example.jp", "imaplib から追加した本文です。\n二行目〜です。\n")


def utf8_word(text):
    return "=?UTF-8?B?%s?=" % base64.b64encode(text.encode()).decode()


def appended_bytes(original, message_id):
    header = ("From: %s <%s>\r\nTo: %s@example.jp\r\nSubject: %s\r\n"
              "Date: Tue, 04 Mar 2025 09:00:00 +0900\r\nMessage-ID: %s\r\nMIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n"
              "\r\n" % (utf8_word(original.from_name), original.from_addr, USER,
                        utf8_word(original.subject), message_id))
    body = base64.encodebytes(original.body.replace("\n", "\r\n").encode()).decode()
    return (header + body.replace("\n", "\r\n")).encode()


class ImaplibFlow:
    """The flow, run in setUp's mode; each test checks one side of it."""

    def run_flow(self):
        """Runs the whole flow and keeps every answer in self.answers."""
        a = self.answers = {}
        c = imaplib.IMAP4("127.0.0.1", self.client_port, timeout=60)
        a["login"] = c.login(USER, PASSWORD)
        a["list"] = c.list()
        a["select"] = c.select("INBOX")
        a["search"] = c.search(None, "UNSEEN")
        a["fetch"] = c.fetch("1:*", "(RFC822)")
        a["store"] = c.store("1", "+FLAGS", "(\\Seen)")
        a["append"] = c.append("INBOX", "(\\Seen)", '"04-Mar-2025 09:00:00 +0900"',
                               appended_bytes(APPENDED, "<appended.imaplib@example.jp>"))
        a["logout"] = c.logout()
        # A second session: the flags the host keeps now, and the appended message.
        c = imaplib.IMAP4("127.0.0.1", self.client_port, timeout=60)
        c.login(USER, PASSWORD)
        a["reselect"] = c.select("INBOX")
        a["flags"] = c.fetch("1:*", "(UID FLAGS)")
        a["new"] = c.fetch("8", "(BODY.PEEK[])")
        c.logout()

    def fetched(self, answer):
        """The messages of a FETCH answer, as bytes."""
        typ, data = answer
        self.assertEqual(typ, "OK")
        return [item[1] for item in data if isinstance(item, tuple)]

    def test_flow(self):
        self.run_flow()
        a = self.answers
        self.assertEqual(a["login"][0], "OK")

        # The folders, by their titles.
        names = []
        for line in a["list"][1]:
            names.append(decode_mutf7(re.match(rb'\(.*?\) "/" (.*)', line).group(1).decode()))
        self.assertEqual(sorted(names), sorted(f.name for f in fx.FOLDERS))
        self.assertEqual(a["select"], ("OK", [b"7"]))

        # Every message reads as the original.
        messages = self.fetched(a["fetch"])
        self.assert_folder_downloaded(fx.INBOX, messages)

        self.check_search(a["search"])
        self.assertEqual(a["store"][0], "OK")
        self.assertEqual(a["logout"][0], "BYE")

        # The flags read again are those set: message 1 is seen now, the others as before.
        flags = {}
        for line in a["flags"][1]:
            m = re.match(rb"\d+ \(UID (\d+) FLAGS \((.*?)\)\)", line)
            flags[int(m.group(1))] = set(m.group(2).decode().split())
        for original in fx.in_folder(fx.INBOX):
            self.assertEqual("\\Seen" in flags[original.uid], original.seen or original.uid == 1,
                             original.name)
        # The appended message: read in extended mode, as its flag list says; the exact mode
        # imports every message unread.
        self.assertEqual("\\Seen" in flags[10002], self.extended)

        # The appended message: kept in the host's form, and read back with the same text.
        new = self.fetched(a["new"])
        self.assertEqual(len(new), 1)
        self.assertEqual(self.message_problems(new[0], APPENDED), [])
        host_form = self.assert_stored_once("inbox.box", APPENDED)
        self.assertIn(b"Content-Type: text/plain; charset=ISO-2022-JP\r\n", host_form)
        self.assertIn(b"Content-Transfer-Encoding: 7bit\r\n", host_form)
        self.assertTrue(host_form.endswith(fx.sjis(APPENDED.body.replace("\n", "\r\n"))))

        # RFC822 leaves messages as they are; the STORE and the APPEND are the host calls.
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("import", "temp", "inbox.box", 0 if self.extended else UNREAD)])
        self.assert_unread(fx.INBOX, [m.name for m in fx.in_folder(fx.INBOX)
                                      if not m.seen and m.name != "AAAA0001"] +
                           ([] if self.extended else ["AAAB0002"]))


class ExactModeTest(ImaplibFlow, ClientCase):
    extended = False

    def check_search(self, answer):
        # SEARCH knows only ALL: UNSEEN finds nothing although four messages are unseen.
        self.assertEqual(answer, ("OK", [b""]))
        self.assert_exchange(rb"^\w+ SEARCH UNSEEN$", b" OK SEARCH complated\r\n",
                             starts=b"* SEARCH\r\n")


class ExtendedModeTest(ImaplibFlow, ClientCase):
    extended = True

    def check_search(self, answer):
        inbox = sorted(fx.in_folder(fx.INBOX), key=lambda m: m.uid)
        unseen = [n + 1 for n, m in enumerate(inbox) if not m.seen]
        self.assertEqual(answer, ("OK", [" ".join(str(u) for u in unseen).encode()]))


if __name__ == "__main__":
    unittest.main()
