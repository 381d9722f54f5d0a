"""The mailbox commands of a running server on a folder tree written as the host writes it,
byte for byte: SELECT, LIST and LSUB in both naming modes, STATUS, SUBSCRIBE and UNSUBSCRIBE,
their argument and state answers, and names that would leave the user's folders."""

import os
import unittest

from harness import UNREAD, StoreTestCase, mutf7, select_answer

WORK = mutf7("仕事")  # &TtVOiw-
OUTBOX = mutf7("送信箱")  # &kAFP4Xux-
YEAR = WORK + b"/" + mutf7("2001年")
MEMO = WORK + b"/memo"

NO_FOLDER = b" NO No such folder.\r\n"
NO_ARGUMENTS = b" NO please give arguments\r\n"


def list_lines(word, names):
    return b"".join(b"* " + word + b" (\\Noinferiors) \"/\" " + n + b"\r\n" for n in names)


class MailboxTestCase(StoreTestCase):
    """The tree: backup (a directory without Entry.ini), the inbox (3 messages, 1 unread,
    UIDVALIDITY 7, highest UID 10003), the outbox, 仕事 (type Subfolder, not subscribed, with
    the subfolders 2001年 (2 messages) and memo), and a hidden directory."""

    TITLES = [b"", b"INBOX", OUTBOX, WORK, YEAR, MEMO]
    DIRECTORIES = [b"backup", b"INBOX", b"outbox.box", b"work.box", b"work.box/2001.box",
                   b"work.box/misc.box"]

    def setUp(self):
        super().setUp()
        s = self.store
        s.folder("backup", entry_ini=False)
        s.folder("inbox.box", title="受信トレイ", uid_validity=7, messages=[
            ("AAAB0003", UNREAD, b"Subject: three\r\n\r\nthird\r\n"),
            ("AAAA0001", 0, b"Subject: one\r\n\r\nfirst\r\n"),
            ("AAAA0002", 0, b"Subject: two\r\n\r\nsecond\r\n"),
        ])
        s.folder("outbox.box", title="Sent mail", uid_validity=8)
        s.folder("work.box", title="仕事", type="Subfolder", subscribe=0)
        s.folder("work.box/2001.box", title="2001年", uid_validity=9, messages=[
            ("AAAA0001", UNREAD, b"Subject: a\r\n\r\na\r\n"),
            ("AAAA0005", UNREAD, b"Subject: b\r\n\r\nb\r\n"),
        ])
        s.folder("work.box/misc.box", title="memo")
        s.folder(".hidden", title="hidden")
        self.host = self.start_store_host(check_stop=True)


class SelectTest(MailboxTestCase):

    def test_select_inbox(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        # Any letter case, quoted; the command word is echoed as typed.
        self.exchange(client, b'a2 select "inbox"',
                      select_answer(b"a2", 3, 1, 7, 10004, word=b"select"))

    def test_select_a_subfolder_by_its_title_path(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT " + YEAR, select_answer(b"a1", 2, 2, 9, 6))
        # An empty folder: UIDNEXT 1.
        self.exchange(client, b"a2 SELECT " + OUTBOX, select_answer(b"a2", 0, 0, 8, 1))

    def test_failed_select_keeps_the_previous_selection(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT " + YEAR, select_answer(b"a1", 2, 2, 9, 6))
        self.exchange(client, b"a2 SELECT nosuch", b"a2" + NO_FOLDER)
        # A directory name is no title.
        self.exchange(client, b"a3 SELECT work.box", b"a3" + NO_FOLDER)
        # Still selected: LIST is refused for its state, and COPY takes its source from the
        # folder selected first.
        self.exchange(client, b'a4 LIST "" *', b"a4 BAD State LIST\r\n")
        self.exchange(client, b"a5 COPY 2 INBOX", b"a5 OK COPY complated\r\n")
        source = self.host_calls("_OPAImportFile@12")[0][1]
        self.assertTrue(source.endswith(b"user1\\work.box\\2001.box\\AAAA0005.orv"), source)

    def test_select_without_an_argument(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT", b"a1" + NO_ARGUMENTS)
        self.exchange(client, b'a2 LIST "" INBOX', list_lines(b"LIST", [b"INBOX"]) +
                      b"a2 OK LIST complated\r\n")

    def test_uidvalidity_without_a_folder_setting_comes_from_the_counter(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT " + MEMO, select_answer(b"a1", 0, 0, 1, 1))
        self.exchange(client, b"a2 SELECT " + MEMO, select_answer(b"a2", 0, 0, 2, 1))
        with open(self.mailbox.settings_path, "rb") as f:
            self.assertIn(b"UID=2", f.read())

    def test_directory_names(self):
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT work.box/2001.box", select_answer(b"a1", 2, 2, 9, 6))
        self.exchange(client, b"a2 SELECT INBOX", select_answer(b"a2", 3, 1, 7, 10004))
        # Any name is a folder in this mode; one that does not exist is empty.
        self.exchange(client, b"a3 SELECT nosuch.box", select_answer(b"a3", 0, 0, 1, 1))
        self.assertFalse(os.path.exists(self.store.path("nosuch.box")))

    def test_names_that_leave_the_folder_root_are_refused(self):
        self.use_directory_names()
        client = self.logged_in()
        # Unquoted, and quoted with the backslashes escaped as IMAP quoting wants.
        for n, name in enumerate([b"../x", b"..", b"work.box/../../user2", b"/etc",
                                  b"work.box\\..\\..", b'"work.box\\\\..\\\\.."',
                                  b'"../x"', b"C:x"]):
            with self.subTest(name=name):
                tag = b"t%d" % n
                self.exchange(client, tag + b" SELECT " + name, tag + NO_FOLDER)
        self.exchange(client, b'l1 LIST "" "../*"', b"l1 OK LIST complated\r\n")
        self.exchange(client, b'l2 LSUB "" "../user1/*"', b"l2 OK LSUB complated\r\n")
        self.exchange(client, b"s1 STATUS ../user1/inbox.box (MESSAGES)", b"s1" + NO_FOLDER)
        self.exchange(client, b"s2 SUBSCRIBE ../x", b"s2" + NO_FOLDER)
        self.exchange(client, b"s3 APPEND ../x (\\Seen) {5}", b"s3" + NO_FOLDER)
        self.assertEqual(self.host_calls(), [])


    def test_a_character_without_a_code_names_no_folder(self):
        # Folders titled as "?" or a look-alike would make the yen sign, and the wave dash.
        self.store.folder("yen.box", title="Yen?", uid_validity=11)
        self.store.folder("yen2.box", title="Yen\\", uid_validity=12)
        self.store.folder("wave.box", title="\uff5e", uid_validity=13)
        client = self.logged_in()
        yen = mutf7("Yen\u00a5")
        self.exchange(client, b"a1 SELECT " + yen, b"a1" + NO_FOLDER)
        self.exchange(client, b"a2 STATUS " + yen + b" (MESSAGES)", b"a2" + NO_FOLDER)
        self.exchange(client, b"a3 APPEND " + yen + b" (\\Seen) {5}", b"a3" + NO_FOLDER)
        self.exchange(client, b'a4 LIST "" ' + yen, b"a4 OK LIST complated\r\n")
        self.exchange(client, b"a5 SELECT " + mutf7("caf\u00e9"), b"a5" + NO_FOLDER)
        self.exchange(client, b"a6 SELECT Yen?", select_answer(b"a6", 0, 0, 11, 1))
        # The JIS wave dash that clients send and the code page's own form open one folder.
        self.exchange(client, b"a7 SELECT &MBw-", select_answer(b"a7", 0, 0, 13, 1))
        self.exchange(client, b"a8 SELECT &,14-", select_answer(b"a8", 0, 0, 13, 1))
        # A directory name with such a character is no folder either, not an empty one.
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b"b1 SELECT " + yen, b"b1" + NO_FOLDER)
        self.assertEqual(self.host_calls(), [])


class ListTest(MailboxTestCase):

    def test_list_everything_in_both_naming_modes(self):
        client = self.logged_in()
        self.exchange(client, b'a1 LIST "" "*"',
                      list_lines(b"LIST", self.TITLES) + b"a1 OK LIST complated\r\n")
        # The mode is read when a connection starts, and it is one setting for all of them:
        # the first connection sees directory names once a second one has started.
        self.use_directory_names()
        self.exchange(client, b'a2 LIST "" *',
                      list_lines(b"LIST", self.TITLES) + b"a2 OK LIST complated\r\n")
        second = self.logged_in()
        for c, tag in ((second, b"b1"), (client, b"a3")):
            self.exchange(c, tag + b' LIST "" *', list_lines(b"LIST", self.DIRECTORIES) +
                          tag + b" OK LIST complated\r\n")

    def test_empty_pattern(self):
        client = self.logged_in()
        self.exchange(client, b'a1 LIST "" ""',
                      b'* LIST (\\Noselect) "/" ""\r\na1 OK LIST complated\r\n')
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b'a2 LIST "" ""',
                      b'* LIST (\\Noselect) "/" ""\r\na2 OK LIST complated\r\n')

    def test_patterns(self):
        client = self.logged_in()
        cases = [
            (b"%", []),
            (b"inbox", [b"INBOX"]),
            (b"work.box", [WORK, YEAR, MEMO]),
            (b"*.box", [b"INBOX", OUTBOX, WORK, YEAR, MEMO]),
            (b"nosuch", []),
        ]
        for n, (pattern, names) in enumerate(cases):
            with self.subTest(pattern=pattern):
                tag = b"p%d" % n
                self.exchange(client, tag + b' LIST "" "' + pattern + b'"',
                              list_lines(b"LIST", names) + tag + b" OK LIST complated\r\n")

    def test_lower_case_command(self):
        client = self.logged_in()
        for tag, word in ((b"a1", b"list"), (b"a2", b"Lsub")):
            self.exchange(client, tag + b" " + word + b' "" inbox', list_lines(word, [b"INBOX"]) +
                          tag + b" OK " + word + b" complated\r\n")

    def test_state_and_arguments(self):
        client = self.greeted()
        self.exchange(client, b'a1 LIST "" *', b"a1 BAD State LIST\r\n")
        client = self.logged_in()
        self.exchange(client, b"a2 LIST *", b"a2" + NO_ARGUMENTS)
        self.exchange(client, b'a3 LSUB "" * x', b"a3" + NO_ARGUMENTS)
        self.exchange(client, b"a4 SELECT INBOX", select_answer(b"a4", 3, 1, 7, 10004))
        self.exchange(client, b'a5 LIST "" *', b"a5 BAD State LIST\r\n")
        self.exchange(client, b'a6 lsub "" *', b"a6 BAD State lsub\r\n")

    def test_lsub_skips_an_unsubscribed_parent_but_not_its_subfolders(self):
        client = self.logged_in()
        self.exchange(client, b'a1 LSUB "" *',
                      list_lines(b"LSUB", [b"", b"INBOX", OUTBOX, YEAR, MEMO]) +
                      b"a1 OK LSUB complated\r\n")
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b'a2 LSUB "" work.box',
                      list_lines(b"LSUB", [b"work.box/2001.box", b"work.box/misc.box"]) +
                      b"a2 OK LSUB complated\r\n")

    def test_a_new_folder_is_listed_at_once(self):
        client = self.logged_in()
        self.store.folder("zeta.box", title="Zeta")
        self.exchange(client, b'a1 LIST "" z*',
                      list_lines(b"LIST", [b"Zeta"]) + b"a1 OK LIST complated\r\n")
        # The name table of LOGIN is not refreshed, though.
        self.exchange(client, b"a2 SELECT Zeta", b"a2" + NO_FOLDER)


class StatusTest(MailboxTestCase):

    def test_items_in_the_clients_order_and_case(self):
        client = self.logged_in()
        self.exchange(client, b"a1 STATUS INBOX (UIDNEXT MESSAGES)",
                      b"* STATUS INBOX (UIDNEXT 10004 MESSAGES 3)\r\na1 OK STATUS complated\r\n")
        self.exchange(client, b'a2 status "inbox" (recent Uidvalidity unseen)',
                      b"* status inbox (recent 1 Uidvalidity 7 unseen 1)\r\n"
                      b"a2 OK status complated\r\n")
        # The name is echoed as the client sent it, without its quotes.
        self.exchange(client, b'a3 STATUS "' + YEAR + b'" (MESSAGES UNSEEN)',
                      b"* STATUS " + YEAR + b" (MESSAGES 2 UNSEEN 2)\r\n"
                      b"a3 OK STATUS complated\r\n")

    def test_unknown_item_keeps_its_place_without_a_value(self):
        self.exchanges(self.logged_in(), [
            (b"a1 STATUS INBOX (MESSAGES FOO UNSEEN)",
             b"* STATUS INBOX (MESSAGES 3 FOO  UNSEEN 1)\r\na1 OK STATUS complated\r\n"),
            (b"a2 STATUS INBOX (BAR)", b"* STATUS INBOX (BAR )\r\na2 OK STATUS complated\r\n")])

    def test_errors(self):
        client = self.logged_in()
        self.exchange(client, b"a1 STATUS INBOX", b"a1" + NO_ARGUMENTS)
        self.exchange(client, b"a2 STATUS nosuch (MESSAGES)", b"a2" + NO_FOLDER)
        # The folder root's own files stay untouched.
        self.assertFalse(os.path.exists(self.store.path("", "Entry.ini")))

    def test_status_leaves_the_selection_alone(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        self.exchange(client, b"a2 STATUS " + YEAR + b" (MESSAGES)",
                      b"* STATUS " + YEAR + b" (MESSAGES 2)\r\na2 OK STATUS complated\r\n")
        self.exchange(client, b"a3 COPY 3 " + OUTBOX, b"a3 OK COPY complated\r\n")
        source = self.host_calls("_OPAImportFile@12")[0][1]
        self.assertTrue(source.endswith(b"user1\\inbox.box\\AAAB0003.orv"), source)


class SubscribeTest(MailboxTestCase):

    def test_arguments(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SUBSCRIBE", b"a1" + NO_ARGUMENTS)
        self.exchange(client, b"a2 UNSUBSCRIBE INBOX " + WORK, b"a2" + NO_ARGUMENTS)
        self.exchange(client, b"a3 SUBSCRIBE nosuch", b"a3" + NO_FOLDER)
        self.exchange(client, b"a4 unsubscribe nosuch", b"a4" + NO_FOLDER)
        self.assertFalse(os.path.exists(self.store.path("", "Entry.ini")))

    def test_subscription_is_written_to_the_folders_entry_ini(self):
        client = self.logged_in()
        before = self.store.read("work.box", "Entry.ini")
        self.exchange(client, b"a1 SUBSCRIBE " + WORK, b"a1 OK SUBSCRIBE complated\r\n")
        self.exchange(client, b"a2 UNSUBSCRIBE INBOX", b"a2 OK UNSUBSCRIBE complated\r\n")
        # The rest of the file stays as the host wrote it.
        after = self.store.read("work.box", "Entry.ini")
        self.assertEqual(after, before.replace(b"Subscribe=0", b"Subscribe=1"))
        self.assertIn(b"[IMAP4]", self.store.read("inbox.box", "Entry.ini"))
        self.assertIn(b"Subscribe=0", self.store.read("inbox.box", "Entry.ini"))
        self.exchange(client, b'a3 LSUB "" *',
                      list_lines(b"LSUB", [b"", OUTBOX, WORK, YEAR, MEMO]) +
                      b"a3 OK LSUB complated\r\n")
        self.exchange(client, b"a4 subscribe inbox", b"a4 OK subscribe complated\r\n")
        self.assertIn(b"Subscribe=1", self.store.read("inbox.box", "Entry.ini"))
        # A folder without Entry.ini gets one; in directory mode by its directory name.
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b"a5 UNSUBSCRIBE backup", b"a5 OK UNSUBSCRIBE complated\r\n")
        self.assertEqual(self.store.read("backup", "Entry.ini").split(),
                         [b"[IMAP4]", b"Subscribe=0"])
        self.exchange(client, b'a6 LSUB "" *',
                      list_lines(b"LSUB", [b"INBOX", b"outbox.box", b"work.box",
                                           b"work.box/2001.box", b"work.box/misc.box"]) +
                      b"a6 OK LSUB complated\r\n")
        self.assertEqual(self.host_calls(), [])


if __name__ == "__main__":
    unittest.main()
