"""APPEND and COPY of a running server, byte for byte, with the host calls they make (from the
journal) and what the host stand-in then stores: the next SELECT shows the new message."""

import os
import time
import unittest

from harness import CONTINUE, UNREAD, StoreTestCase, message_file, mutf7, select_answer

WORK = mutf7("仕事")
YEAR = WORK + b"/" + mutf7("2001年")
IMPORT = "_OPAImportFile@12"


class AppendCopyTestCase(StoreTestCase):
    """The inbox (UIDVALIDITY 7) holds three messages, UIDs 1, 2 and 10003; 仕事 (type
    Subfolder) is empty and has the empty subfolder 2001年."""

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=7, messages=[
            ("AAAA0001", 0, b"Subject: one\r\n\r\nfirst\r\n"),
            ("AAAA0002", UNREAD, b"Subject: two\r\n\r\nsecond\r\n"),
            ("AAAB0003", 0, b"Subject: three\r\n\r\nthird\r\n"),
        ])
        self.store.folder("work.box", title="仕事", type="Subfolder", uid_validity=8)
        self.store.folder("work.box/2001.box", title="2001年", uid_validity=9)
        self.host = self.start_store_host(check_stop=True)

    def imports(self):
        return self.host_calls(IMPORT)

    def assert_stored(self, folder, name, status, text):
        """The folder's last message is name, its file the status line and text, its index
        line status and the file's size."""
        entry = self.store.index(folder)[-1]
        self.assertEqual(entry[:3], (name.encode(), status, len(message_file(status, text))))
        self.assertLess(abs(entry[3] - time.time()), 600)
        self.assertEqual(entry[4], b"\r\n")
        self.assertEqual(self.store.read(folder, name + ".orv"), message_file(status, text))


class AppendTest(AppendCopyTestCase):

    def append(self, client, command, literal, answer):
        """APPEND of the literal, which must be answered with answer."""
        client.append(command, literal)
        client.expect(answer)

    def test_append_hello(self):
        client = self.logged_in()
        self.append(client, b"a1 APPEND INBOX (\\Seen) {5}", b"Hello",
                    b"a1 OK APPEND complated\r\n")
        # Exactly one answer: the line end after the literal belonged to the APPEND.
        self.exchange(client, b"a2 NOOP", b"a2 OK NOOP complated\r\n")

        [(_, temp, destination, status)] = self.imports()
        self.assertEqual(destination, b"user1\\inbox.box")
        self.assertEqual(status, b"0x40000000")
        self.assertEqual(os.path.dirname(temp), self.host_tmp.encode())
        self.assertTrue(os.path.basename(temp).startswith(b"imp"), temp)
        self.assertEqual(os.listdir(self.host_tmp), [])  # deleted after the call
        # The host stored it under the UID above the highest, 10003.
        self.assert_stored("inbox.box", "AAAB0004", UNREAD, b"Hello")
        self.assertEqual(self.store.total("inbox.box"), 4)
        self.exchange(client, b"a3 SELECT INBOX", select_answer(b"a3", 4, 2, 7, 10005))

    def test_append_with_a_date_time(self):
        client = self.logged_in()
        text = b"Subject: dated\n\nbody"
        self.append(client, b'a1 append "' + YEAR + b'" (\\Seen \\Flagged) '
                    b'"05-Mar-2025 10:00:00 +0900" {%d}' % len(text), text,
                    b"a1 OK append complated\r\n")
        self.assertEqual(self.imports()[0][2], b"user1\\work.box\\2001.box")
        # Bare LF line ends are stored as CR LF.
        self.assert_stored("work.box/2001.box", "AAAA0001", UNREAD,
                           b"Subject: dated\r\n\r\nbody")
        self.exchange(client, b"a2 SELECT " + YEAR, select_answer(b"a2", 1, 1, 9, 2))

    def test_append_of_nothing(self):
        client = self.logged_in()
        self.append(client, b"a1 APPEND " + WORK + b" () {0}", b"",
                    b"a1 OK APPEND complated\r\n")
        self.assertEqual(len(self.imports()), 1)
        self.assert_stored("work.box", "AAAA0001", UNREAD, b"")
        self.assertEqual(os.listdir(self.host_tmp), [])

    def test_literal_in_pieces_and_with_the_next_command(self):
        client = self.logged_in()
        client.send(b"a1 APPEND INBOX (\\Seen) {13}\r\n")
        client.expect(CONTINUE)
        client.send_in_pieces(b"Hel", b"lo\r", b"\nWor", b"ld!")
        # The rest of the APPEND line and the next command in one packet.
        client.send(b" ignored words\r\na2 NOOP\r\n")
        client.expect(b"a1 OK APPEND complated\r\na2 OK NOOP complated\r\n")
        self.assert_stored("inbox.box", "AAAB0004", UNREAD, b"Hello\r\nWorld!")

    def test_literal_sent_before_the_continuation(self):
        # A client that does not wait: the bytes already received make up the literal.
        client = self.logged_in()
        client.send(b"a1 APPEND INBOX (\\Seen) {5+}\r\nHello\r\na2 NOOP\r\n")
        client.expect(CONTINUE + b"a1 OK APPEND complated\r\na2 OK NOOP complated\r\n")
        self.assert_stored("inbox.box", "AAAB0004", UNREAD, b"Hello")

    def test_a_large_message(self):
        client = self.logged_in()
        text = b"".join(b"line %06d of a long message\n" % i for i in range(20000))
        self.append(client, b"a1 APPEND INBOX (\\Seen) {%d}" % len(text), text,
                    b"a1 OK APPEND complated\r\n")
        self.assert_stored("inbox.box", "AAAB0004", UNREAD, text.replace(b"\n", b"\r\n"))

    def test_refused_appends_call_no_host_function(self):
        client = self.logged_in()
        self.exchange(client, b"a1 APPEND INBOX {5}", b"a1 NO please give arguments\r\n")
        self.exchange(client, b"a2 APPEND", b"a2 NO please give arguments\r\n")
        self.exchange(client, b"a3 APPEND nosuch (\\Seen) {5}", b"a3 NO No such folder.\r\n")
        self.exchange(client, b"a4 APPEND work.box (\\Seen) {5}", b"a4 NO No such folder.\r\n")
        self.assertEqual(self.imports(), [])
        self.assertEqual(os.listdir(self.host_tmp), [])

    def test_connection_lost_during_the_literal(self):
        client = self.logged_in()
        client.send(b"a1 APPEND INBOX (\\Seen) {100}\r\n")
        client.expect(CONTINUE)
        client.send(b"only part of it")
        client.close()
        # The connection ends; nothing is imported and the temporary file goes.
        probe = self.logged_in()
        self.exchange(probe, b"p1 NOOP", b"p1 OK NOOP complated\r\n")
        deadline = time.monotonic() + 10
        while os.listdir(self.host_tmp) and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(os.listdir(self.host_tmp), [])
        self.assertEqual(self.imports(), [])
        self.assertEqual(self.store.total("inbox.box"), 3)

    def test_directory_names(self):
        self.use_directory_names()
        client = self.logged_in()
        self.append(client, b"a1 APPEND work.box/2001.box (\\Seen) {2}", b"hi",
                    b"a1 OK APPEND complated\r\n")
        self.assert_stored("work.box/2001.box", "AAAA0001", UNREAD, b"hi")
        # A folder that does not exist: the host is asked and stores nothing, and the answer
        # says so (an OK would let a client that moves mail delete its own copy).
        self.append(client, b"a2 APPEND nosuch.box (\\Seen) {2}", b"hi",
                    b"a2 NO No such folder.\r\n")
        self.assertEqual([c[2] for c in self.imports()],
                         [b"user1\\work.box\\2001.box", b"user1\\nosuch.box"])
        self.assertFalse(os.path.exists(self.store.path("nosuch.box")))


class CopyTest(AppendCopyTestCase):

    def source(self, name):
        return (self.mailbox.path + "/user1\\inbox.box\\" + name + ".orv").encode()

    def original(self, name):
        return self.store.read("inbox.box", name + ".orv")

    def test_copy_by_sequence_number_and_by_uid(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        self.exchange(client, b"a2 COPY 1 " + WORK, b"a2 OK COPY complated\r\n")
        self.exchange(client, b"a3 UID COPY 10003 " + WORK, b"a3 OK COPY complated\r\n")
        self.exchange(client, b"a4 uid copy 2 " + YEAR, b"a4 OK copy complated\r\n")
        self.assertEqual(self.imports(), [
            [IMPORT.encode(), self.source("AAAA0001"), b"user1\\work.box", b"0x40000000"],
            [IMPORT.encode(), self.source("AAAB0003"), b"user1\\work.box", b"0x40000000"],
            [IMPORT.encode(), self.source("AAAA0002"), b"user1\\work.box\\2001.box",
             b"0x40000000"],
        ])
        # The copies arrive unread, the source file (status line included) after their own
        # status line.
        self.assertEqual(self.store.read("work.box", "AAAA0001.orv"),
                         message_file(UNREAD, self.original("AAAA0001")))
        self.assertEqual(self.store.read("work.box", "AAAA0002.orv"),
                         message_file(UNREAD, self.original("AAAB0003")))
        self.assertEqual([e[:2] for e in self.store.index("work.box")],
                         [(b"AAAA0001", UNREAD), (b"AAAA0002", UNREAD)])
        self.exchange(client, b"a5 SELECT " + WORK, select_answer(b"a5", 2, 2, 8, 3))

    def test_only_the_first_number_of_a_set_counts(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        self.exchange(client, b"a2 COPY 2:4 " + WORK, b"a2 OK COPY complated\r\n")
        self.exchange(client, b"a3 COPY 3,1 " + WORK, b"a3 OK COPY complated\r\n")
        self.assertEqual([c[1] for c in self.imports()],
                         [self.source("AAAA0002"), self.source("AAAB0003")])

    def test_numbers_that_match_no_message_copy_nothing(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        lines = [b"c%d COPY %s INBOX" % n for n in enumerate((b"0", b"4", b"*", b"*:2", b"x"))]
        lines += [b"u%d UID COPY %s INBOX" % n for n in enumerate((b"3", b"10004", b"0"))]
        self.exchanges(client, [(line, line[:3] + b"OK COPY complated\r\n") for line in lines])
        self.assertEqual(self.imports(), [])

    def test_copy_needs_a_selected_folder_and_two_arguments(self):
        client = self.logged_in()
        self.exchange(client, b"a1 COPY 1 INBOX", b"a1 BAD State COPY\r\n")
        self.exchange(client, b"a2 UID COPY 1 INBOX", b"a2 BAD State COPY\r\n")
        self.exchange(client, b"a3 SELECT INBOX", select_answer(b"a3", 3, 1, 7, 10004))
        self.exchange(client, b"a4 COPY 1", b"a4 NO please give arguments\r\n")
        self.exchange(client, b"a5 COPY 1 INBOX " + WORK, b"a5 NO please give arguments\r\n")
        self.exchange(client, b"a6 COPY 1 nosuch", b"a6 NO No such folder.\r\n")
        self.assertEqual(self.imports(), [])

    def test_copy_into_the_selected_folder_shows_at_the_next_select(self):
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        self.exchange(client, b"a2 COPY 3 INBOX", b"a2 OK COPY complated\r\n")
        self.exchange(client, b"a3 COPY 3 inbox", b"a3 OK COPY complated\r\n")
        self.assertEqual([e[0] for e in self.store.index("inbox.box")],
                         [b"AAAA0001", b"AAAA0002", b"AAAB0003", b"AAAB0004", b"AAAB0005"])
        self.assertEqual(self.store.total("inbox.box"), 5)
        # The selected snapshot is unchanged until the folder is selected again.
        self.exchange(client, b"a4 UID COPY 10004 INBOX", b"a4 OK COPY complated\r\n")
        self.assertEqual(len(self.imports()), 2)
        self.exchange(client, b"a5 SELECT INBOX", select_answer(b"a5", 5, 3, 7, 10006))

    def test_directory_names(self):
        self.use_directory_names()
        client = self.logged_in()
        self.exchange(client, b"a1 SELECT INBOX", select_answer(b"a1", 3, 1, 7, 10004))
        self.exchange(client, b"a2 COPY 1 work.box/2001.box", b"a2 OK COPY complated\r\n")
        self.assertEqual(self.imports()[0][1:3],
                         [self.source("AAAA0001"), b"user1\\work.box\\2001.box"])
        self.assertEqual(self.store.read("work.box/2001.box", "AAAA0001.orv"),
                         message_file(UNREAD, self.original("AAAA0001")))


class NothingStoredTest(AppendCopyTestCase):
    """APPEND and COPY answer OK only when the message is in the destination afterwards, and
    EXPUNGE reports only what the host removed, in both modes: a client that moves mail
    deletes its own copy when it sees OK. The host stand-in plays a host whose disk is full."""

    def test_a_host_that_stores_nothing_gets_no_ok(self):
        self.assertEqual(self.host.stop(), 0)
        self.use_directory_names()
        self.start_host("--journal", self.journal,
                        env={"TMPDIR": self.host_tmp, "ORVEX_HOST_STORE_FULL": "1"})
        for extended in (b"0", b"1"):
            self.setting("Extended", extended)
            with self.subTest(extended=extended):
                client = self.logged_in()
                client.append(b"a1 APPEND inbox.box () {2}", b"hi")
                client.expect(b"a1 NO the mail client did not store the message\r\n")
                client.send(b"s1 SELECT inbox.box\r\n")
                client.read_until(b"s1 OK [READ-WRITE] SELECT complated\r\n")
                self.exchange(client, b"c1 COPY 1 inbox.box",
                              b"c1 NO the mail client did not store every copy\r\n")
                missing = b"No such folder.\r\n" if extended == b"0" else \
                    b"[TRYCREATE] No such folder.\r\n"
                self.exchange(client, b"c2 COPY 1 nosuch.box", b"c2 NO " + missing)
                client.append(b"a2 APPEND nosuch.box () {2}", b"hi")
                client.expect(b"a2 NO " + missing)
                if extended == b"1":
                    client.send(b"t1 STORE 1 +FLAGS.SILENT (\\Deleted)\r\n")
                    client.read_until(b"t1 OK STORE complated\r\n")
                    # The host removed nothing: no EXPUNGE line, and the message stays.
                    self.exchange(client, b"e1 EXPUNGE", b"e1 OK EXPUNGE complated\r\n")
                    self.assertIn(b"* 3 EXISTS", client.answer(b"s2 SELECT inbox.box"))
        self.assertEqual(self.store.total("inbox.box"), 3)
        self.assertTrue(self.imports())


if __name__ == "__main__":
    unittest.main()
