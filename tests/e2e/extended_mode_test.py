"""Extended mode of a running server, byte for byte, with the host calls it makes (from the
journal) and what the host stand-in then keeps: CAPABILITY; SELECT and EXAMINE (read-only:
nothing marked, STORE and EXPUNGE refused); CHECK; CLOSE and UNSELECT; EXPUNGE and UID EXPUNGE
deleting through the host; STORE FLAGS replacing; APPENDUID and COPYUID; a lasting UIDVALIDITY;
CREATE, DELETE and RENAME; LOGIN with escapes and literals; the flags APPEND is given; \\Flagged
and keywords kept by the server (STORE, FETCH, SEARCH, other sessions, COPY); MOVE. Then the
same commands in exact mode, answered as before, the setting in orimapst, and the host's delete
under load; lasting UIDs and kept flags over a kill of the host."""

import base64
import os
import re
import threading
import unittest

import imap_reader
from fetch_fixtures import ImapClient
from harness import (ANSWERED, DELETED, DRAFT, EXTENDED_FLAGS, UNREAD, StoreTestCase,
                     mutf7, select_answer, wait_until)

WORK = mutf7("仕事")
DELETE = "_OPADeleteMail@4"
MARK = "_OPAMarkMail@12"
READ_ONLY = b" NO [READ-ONLY] folder is read-only\r\n"
# The flags extended mode keeps, keywords of its own making among them.
PERMANENT = b"\\* " + EXTENDED_FLAGS
LITERAL = b"+ Ready for literal data\r\n"


def text(n):
    return b"Subject: message %d\r\n\r\nbody %d\r\n" % (n, n)


def append(test, client, tag, message, folder=b"INBOX", flags=b"() "):
    """APPENDs message with flags (ending in a blank); the (UIDVALIDITY, UID) of
    the answer's APPENDUID."""
    client.append(b"%s APPEND %s %s{%d}" % (tag, folder, flags, len(message)), message)
    answer = client.read_until(b"\r\n")
    found = re.fullmatch(tag + rb" OK \[APPENDUID (\d+) (\d+)\] APPEND complated\r\n", answer)
    test.assertIsNotNone(found, answer)
    return int(found.group(1)), int(found.group(2))


class ModeTestCase(StoreTestCase):
    """The inbox (UIDVALIDITY 7) holds four messages, UIDs 1, 2, 3 and 10001, the first one
    answered and unread; 仕事 (UIDVALIDITY 8) holds one; Loose has no Imap4.ini of its own."""

    extended = True
    # Further users (name, password), made before the host starts.
    users = ()

    def setUp(self):
        super().setUp()
        for name, password in self.users:
            self.mailbox.add_user(name, password)
        self.inbox(ANSWERED | UNREAD, 0, 0, 0)
        self.store.folder("work.box", title="仕事", uid_validity=8,
                          messages=[("AAAA0005", 0, text(5))])
        self.store.folder("loose.box", title="Loose", messages=[("AAAA0001", 0, text(6))])
        self.host = self.start_store_host(check_stop=True)

    def inbox(self, *statuses, more=()):
        """The inbox with its first messages given these statuses, and more after them."""
        names = ["AAAA0001", "AAAA0002", "AAAA0003", "AAAB0001"]
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=7, messages=[
            (name, status, text(n + 1)) for n, (name, status) in enumerate(zip(names, statuses))
        ] + list(more))

    def selected(self, folder=b"INBOX", command=b"SELECT"):
        client = self.logged_in()
        client.answer(b"s0 " + command + b" " + folder)
        return client

    def deleted_keys(self):
        return [call[1].decode() for call in self.host_calls(DELETE)]


class OpenAndCloseTest(ModeTestCase):

    def test_capability_and_folder_management(self):
        client = self.greeted()
        words = (b"* CAPABILITY IMAP4rev1 CHILDREN ID IDLE LIST-EXTENDED LIST-STATUS MOVE "
                 b"NAMESPACE SASL-IR UIDPLUS UNSELECT LITERAL+ CONDSTORE QRESYNC")
        self.exchange(client, b"c1 CAPABILITY", words + b" AUTH=PLAIN\r\n"
                      b"c1 OK CAPABILITY complated\r\n")
        client.send(b"l1 LOGIN user1 secret\r\n")
        client.expect(b"l1 OK LOGIN complated\r\n")
        self.exchange(client, b"c5 CAPABILITY", words + b" ENABLE UTF8=ACCEPT\r\n"
                      b"c5 OK CAPABILITY complated\r\n")
        for tag, line in ((b"c2", b"CREATE Other"), (b"c3", b"DELETE Loose"),
                          (b"c4", b"RENAME Loose Other")):
            self.exchange(client, tag + b" " + line,
                          tag + b" NO [CANNOT] folders are managed by the mail client\r\n")
        self.assertTrue(os.path.isdir(self.store.path("loose.box")))

    def test_names_that_are_no_atoms_are_quoted(self):
        self.store.folder("sent.box", title='Sent "old" mail', uid_validity=9,
                          messages=[("AAAA0001", 0, text(7))])
        client = self.logged_in()
        answer = client.answer(b'l1 LIST "" *')
        self.assertIn(b'* LIST (\\Noinferiors) "/" "Sent \\"old\\" mail"\r\n', answer)
        self.assertIn(b'* LIST (\\Noinferiors) "/" Loose\r\n', answer)
        # The quoted name selects the folder.
        self.assertIn(b"* 1 EXISTS", client.answer(b's1 SELECT "Sent \\"old\\" mail"'))

    def test_select_and_examine_answers(self):
        client = self.logged_in()
        self.exchange(client, b"s1 SELECT INBOX",
                      select_answer(b"s1", 4, 1, 7, 10002, permanent=PERMANENT,
                                    flags=EXTENDED_FLAGS))
        self.exchange(client, b"s2 examine " + WORK,
                      select_answer(b"s2", 1, 0, 8, 6, word=b"examine", mode=b"READ-ONLY",
                                    permanent=PERMANENT, flags=EXTENDED_FLAGS))
        # A name that matches nothing leaves the selection as it was.
        self.exchange(client, b"s3 EXAMINE Nowhere", b"s3 NO No such folder.\r\n")
        self.assertIn(b"* 1 FETCH (UID 5)", client.answer(b"f1 FETCH 1 (UID)"))

    def test_examine_marks_nothing_and_refuses_changes(self):
        client = self.selected(command=b"EXAMINE")
        before = self.store.read("inbox.box", "Entry.lst")
        for line in (b"f1 FETCH 1 BODY[]", b"f2 FETCH 1:* (RFC822.SIZE RFC822.TEXT)",
                     b"f3 UID FETCH 1 (BODY[HEADER] BODY[TEXT] RFC822)"):
            self.assertTrue(client.answer(line).endswith(b" complated\r\n"))
        self.exchange(client, b"t1 STORE 1 +FLAGS (\\Seen)", b"t1" + READ_ONLY)
        self.exchange(client, b"t2 UID STORE 1 FLAGS (\\Deleted)", b"t2" + READ_ONLY)
        self.exchange(client, b"e1 EXPUNGE", b"e1" + READ_ONLY)
        self.assertEqual(self.host_calls(MARK), [])
        self.assertEqual(self.store.read("inbox.box", "Entry.lst"), before)

        # Opened read-write, the same fetch marks the message as read.
        client.answer(b"s1 SELECT INBOX")
        client.answer(b"f4 FETCH 1 BODY[]")
        self.assertEqual(self.host_calls(MARK),
                         [[MARK.encode(), b"user1\\inbox.box\\AAAA0001", b"0x40000000", b"0"]])

    def test_check(self):
        client = self.logged_in()
        self.exchange(client, b"k1 CHECK", b"k1 BAD State CHECK\r\n")
        client.answer(b"s1 SELECT INBOX")
        self.exchange(client, b"k2 CHECK", b"k2 OK CHECK complated\r\n")
        # What the host added meanwhile is reported.
        self.inbox(ANSWERED | UNREAD, 0, 0, 0, more=[("AAAB0002", UNREAD, text(7))])
        self.exchange(client, b"k3 check", b"* 5 EXISTS\r\n* 2 RECENT\r\nk3 OK check complated\r\n")

    def test_close_expunges_silently_and_leaves_the_folder(self):
        client = self.selected()
        client.answer(b"t1 STORE 2,4 +FLAGS.SILENT (\\Deleted)")
        self.exchange(client, b"c1 CLOSE", b"c1 OK CLOSE complated\r\n")
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001", "AAAA0003"])
        self.assertEqual(self.deleted_keys(), ["user1\\inbox.box\\AAAA0002",
                                               "user1\\inbox.box\\AAAB0001"])
        self.exchange(client, b"f1 FETCH 1 (UID)", b"f1 BAD State FETCH\r\n")
        self.exchange(client, b"c2 CLOSE", b"c2 BAD State CLOSE\r\n")
        # Authenticated again: LIST is served.
        self.assertIn(b"* LIST (\\Noinferiors) \"/\" INBOX\r\n",
                      client.answer(b'l1 LIST "" INBOX'))

    def test_close_of_a_read_only_folder_and_unselect_keep_the_messages(self):
        self.store.folder("work.box", title="仕事", uid_validity=8,
                          messages=[("AAAA0005", DELETED, text(5))])
        client = self.selected(WORK, b"EXAMINE")
        self.exchange(client, b"c1 CLOSE", b"c1 OK CLOSE complated\r\n")
        client.answer(b"s1 SELECT " + WORK)
        self.exchange(client, b"u1 UNSELECT", b"u1 OK UNSELECT complated\r\n")
        self.exchange(client, b"f1 FETCH 1 (UID)", b"f1 BAD State FETCH\r\n")
        self.exchange(client, b"u2 UNSELECT", b"u2 BAD State UNSELECT\r\n")
        self.assertEqual(self.store.names("work.box"), ["AAAA0005"])
        self.assertTrue(os.path.exists(self.store.path("work.box", "AAAA0005.orv")))
        self.assertEqual(self.host_calls(DELETE), [])


class ExpungeTest(ModeTestCase):

    def test_expunge_of_messages_two_and_three_of_four(self):
        # Message 2 was deleted by the host's own user, message 3 is deleted by the client.
        self.inbox(0, DELETED, 0, 0)
        client = self.selected()
        self.exchange(client, b"t1 STORE 3 +FLAGS (\\Deleted)",
                      b"* 3 FETCH (FLAGS (\\Seen \\Deleted))\r\nt1 OK STORE complated\r\n")
        self.exchange(client, b"e1 EXPUNGE",
                      b"* 2 EXPUNGE\r\n* 2 EXPUNGE\r\ne1 OK EXPUNGE complated\r\n")
        self.assertEqual(self.deleted_keys(), ["user1\\inbox.box\\AAAA0002",
                                               "user1\\inbox.box\\AAAA0003"])
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001", "AAAB0001"])
        self.assertEqual(self.store.total("inbox.box"), 2)
        self.assertEqual(sorted(f for f in os.listdir(self.store.path("inbox.box"))
                                if f.endswith(".orv")), ["AAAA0001.orv", "AAAB0001.orv"])
        # The session's numbers follow; nothing more to expunge; nothing else was reported.
        self.exchange(client, b"f1 FETCH 1:* (UID)",
                      b"* 1 FETCH (UID 1)\r\n* 2 FETCH (UID 10001)\r\nf1 OK FETCH complated\r\n")
        self.exchange(client, b"e2 expunge", b"e2 OK expunge complated\r\n")
        self.assertEqual(len(self.host_calls(DELETE)), 2)

    def test_uid_expunge_limited_to_its_set(self):
        self.inbox(DELETED, DELETED, DELETED | ANSWERED, DELETED)
        client = self.selected()
        self.exchange(client, b"e1 UID EXPUNGE 3:2",
                      b"* 2 EXPUNGE\r\n* 2 EXPUNGE\r\ne1 OK EXPUNGE complated\r\n")
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001", "AAAB0001"])
        # "*" is the largest UID only.
        self.exchange(client, b"e2 UID EXPUNGE *", b"* 2 EXPUNGE\r\ne2 OK EXPUNGE complated\r\n")
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001"])
        self.exchange(client, b"e3 UID EXPUNGE 5:9,20000", b"e3 OK EXPUNGE complated\r\n")
        for line in (b"e4 UID EXPUNGE 1:x", b"e5 UID EXPUNGE 0", b"e6 UID EXPUNGE 1,"):
            self.exchange(client, line, line[:2] + b" BAD invalid UID set\r\n")
        self.exchange(client, b"e7 UID EXPUNGE", b"e7 NO please give arguments\r\n")
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001"])
        self.assertEqual(self.deleted_keys(), ["user1\\inbox.box\\AAAA0002",
                                               "user1\\inbox.box\\AAAA0003",
                                               "user1\\inbox.box\\AAAB0001"])


class MessagesTest(ModeTestCase):

    def test_store_flags_replaces(self):
        self.inbox(ANSWERED | DRAFT | UNREAD)
        client = self.selected()
        self.exchange(client, b"t1 STORE 1 FLAGS (\\Seen \\Deleted)",
                      b"* 1 FETCH (FLAGS (\\Seen \\Deleted \\Recent))\r\nt1 OK STORE complated\r\n")
        self.assertEqual([e[1] for e in self.store.index("inbox.box")], [DELETED])
        self.exchange(client, b"t2 UID STORE 1 +FLAGS (\\Draft)",
                      b"* 1 FETCH (UID 1 FLAGS (\\Seen \\Deleted \\Draft \\Recent))\r\n"
                      b"t2 OK STORE complated\r\n")
        self.exchange(client, b"t3 STORE 1 FLAGS.SILENT ()", b"t3 OK STORE complated\r\n")
        self.assertEqual([e[1] for e in self.store.index("inbox.box")], [UNREAD])

    def test_append_gives_the_uid_the_next_select_shows(self):
        client = self.logged_in()
        for tag, folder, validity, uid, sequence in ((b"a1", b"INBOX", 7, 10002, 5),
                                                     (b"a2", b"Loose", None, 2, 2)):
            given = append(self, client, tag, b"Hello", folder, b"(\\Seen) ")
            self.assertEqual(given, (validity or given[0], uid))
            selected = client.answer(b"s" + tag + b" SELECT " + folder)
            self.assertIn(b"* OK [UIDVALIDITY %d] " % given[0], selected)
            self.assertIn(b"* OK [UIDNEXT %d] " % (uid + 1), selected)
            self.assertIn(b"* %d FETCH (UID %d RFC822.SIZE 7)" % (sequence, uid),
                          client.answer(b"f" + tag + b" UID FETCH %d RFC822.SIZE" % uid))
        # A refused APPEND keeps its exact answer.
        self.exchange(client, b"a3 APPEND Nowhere () {5}", b"a3 NO No such folder.\r\n")

    def test_copy_gives_the_uids_of_the_copies(self):
        client = self.selected()
        self.exchange(client, b"c1 COPY 2:4 " + WORK,
                      b"c1 OK [COPYUID 8 2:3,10001 6:8] COPY complated\r\n")
        self.assertEqual(self.store.names("work.box"),
                         ["AAAA0005", "AAAA0006", "AAAA0007", "AAAA0008"])
        self.assertTrue(self.store.read("work.box", "AAAA0008.orv").endswith(text(4)))
        self.exchange(client, b"c2 UID COPY 10001,1 " + WORK,
                      b"c2 OK [COPYUID 8 10001,1 9:10] COPY complated\r\n")
        # Nothing copied: no code.
        self.exchange(client, b"c3 COPY 9 " + WORK, b"c3 OK COPY complated\r\n")
        self.exchange(client, b"c4 COPY 1 Nowhere", b"c4 NO No such folder.\r\n")
        self.assertEqual(len(self.store.names("work.box")), 6)

    def test_uidvalidity_lasts_without_a_folder_profile(self):
        self.store.folder("fresh.box", title="Fresh")
        client = self.logged_in()
        first = client.answer(b"s1 SELECT Loose")
        validity = re.search(rb"\[UIDVALIDITY (\d+)\]", first).group(1)
        self.assertEqual(self.store.read("loose.box", "Imap4.ini"),
                         b"[IMAP4]\r\nUID=" + validity + b"\r\nUIDRecord=1\r\n")
        for line in (b"s2 SELECT Loose", b"s3 EXAMINE Loose"):
            self.assertIn(b"[UIDVALIDITY " + validity + b"]", client.answer(line))
        client.answer(b"c1 CLOSE")
        self.exchange(client, b"t1 STATUS Loose (UIDVALIDITY)",
                      b"* STATUS Loose (UIDVALIDITY " + validity + b")\r\n"
                      b"t1 OK STATUS complated\r\n")
        # STATUS of a folder never opened before gives the value its SELECT then reports.
        status = client.answer(b"t2 STATUS Fresh (UIDVALIDITY)")
        fresh = re.search(rb"UIDVALIDITY (\d+)", status).group(1)
        self.assertIn(b"[UIDVALIDITY " + fresh + b"]", client.answer(b"s4 SELECT Fresh"))


class KeptFlagsTest(ModeTestCase):
    """\\Flagged and keywords, which the host's status word has no bit for, kept by the server
    in the folder's "Imap4.flg"; the host's flags of APPEND and COPY through the import's status
    word. Answers are read with the independent reader."""

    IMPORT = "_OPAImportFile@12"

    def client(self, folder=None):
        """A client of the independent reader, logged in, with folder selected when given."""
        client = self.greeted(ImapClient)
        self.assertEqual(client.command(b"l1 LOGIN user1 secret").tagged.status, b"OK")
        if folder is not None:
            self.assertEqual(client.command(b"s0 SELECT " + folder).tagged.status, b"OK")
        return client

    def flags_by_uid(self, client, uids):
        answer = client.command(b"f0 UID FETCH %s FLAGS" % uids)
        return {f.get(b"UID"): f.get(b"FLAGS") for f in answer.fetches}

    def import_statuses(self):
        return [int(call[3], 16) for call in self.host_calls(self.IMPORT)]

    def test_store_search_and_what_other_sessions_see(self):
        writer, watcher = self.client(b"INBOX"), self.client(b"INBOX")
        listed = b"* FLAGS (" + EXTENDED_FLAGS
        self.exchanges(writer, [
            # A keyword new to the folder is told of first, also when the change is silent.
            (b"t1 STORE 2 +FLAGS (\\Flagged $Work)",
             listed + b" $Work)\r\n* 2 FETCH (FLAGS (\\Seen \\Flagged $Work))\r\n"
             b"t1 OK STORE complated\r\n"),
            (b"t2 STORE 3 +FLAGS.SILENT ($work Junk)",
             listed + b" $Work Junk)\r\nt2 OK STORE complated\r\n"),
            (b"t3 STORE 2 -FLAGS ($WORK)",
             b"* 2 FETCH (FLAGS (\\Seen \\Flagged))\r\nt3 OK STORE complated\r\n"),
            (b"t4 UID STORE 10001 FLAGS (\\Seen \\Answered \\Flagged)",
             b"* 4 FETCH (UID 10001 FLAGS (\\Seen \\Answered \\Flagged))\r\n"
             b"t4 OK STORE complated\r\n"),
            (b"t5 STORE 3 FLAGS (\\Seen Junk)",
             b"* 3 FETCH (FLAGS (\\Seen Junk))\r\nt5 OK STORE complated\r\n"),
            (b"t6 STORE 1 +FLAGS (bad]word)", b"t6 BAD invalid flag list\r\n"),
        ])
        for line, found in ((b"r1 SEARCH FLAGGED", [2, 4]), (b"r2 SEARCH UNFLAGGED", [1, 3]),
                            (b"r3 UID SEARCH KEYWORD junk", [3]),
                            (b"r4 SEARCH UNKEYWORD Junk FLAGGED", [2, 4]),
                            (b"r5 SEARCH KEYWORD $Work", [])):
            with self.subTest(line=line):
                self.assertEqual([r.numbers for r in writer.command(line).searches], [found])
        # The other session learns of the changes at NOOP, like those the host makes, with
        # the keyword it has not heard of.
        self.assertEqual(watcher.command(b"n1 NOOP").raw,
                         b"* 2 FETCH (FLAGS (\\Seen \\Flagged))\r\n" + listed +
                         b" Junk)\r\n* 3 FETCH (FLAGS (\\Seen Junk))\r\n"
                         b"* 4 FETCH (FLAGS (\\Seen \\Answered \\Flagged))\r\n"
                         b"n1 OK NOOP complated\r\n")
        # ... and while it idles.
        watcher.send(b"i1 IDLE\r\n")
        self.assertEqual(watcher.read_line(), b"+ idling\r\n")
        self.assertEqual(writer.command(b"t7 STORE 1 +FLAGS.SILENT (\\Flagged)").raw,
                         b"t7 OK STORE complated\r\n")
        self.assertEqual(watcher.read_response()[0],
                         b"* 1 FETCH (FLAGS (\\Answered \\Flagged \\Recent))\r\n")
        watcher.send(b"DONE\r\n")
        self.assertEqual(watcher.read_response()[0], b"i1 OK IDLE complated\r\n")
        self.assertEqual(self.store.read("inbox.box", "Imap4.flg"),
                         b"Imap4.flg 1\nvalidity 7 count 4\n1 \\Flagged\n2 \\Flagged\n3 Junk\n"
                         b"10001 \\Flagged\nend\n")

    def test_append_honours_its_flags(self):
        client = self.client()
        date = b'"05-Mar-2025 10:00:00 +0900"'
        cases = [
            # flags and date-time before the literal; the status word the host gets; FLAGS
            (b"(\\Seen \\Flagged $Work)", 0, [b"\\Seen", b"\\Flagged", b"$Work"]),
            (b"(\\Answered \\Draft)", UNREAD | ANSWERED | DRAFT,
             [b"\\Answered", b"\\Draft", b"\\Recent"]),
            (date, UNREAD, [b"\\Recent"]),
            (b"", UNREAD, [b"\\Recent"]),
            # Names in any case (a keyword takes the folder's spelling); \Recent and unknown
            # system flags are passed over.
            (b"(\\Deleted \\seen $work \\Recent \\Unknown) " + date, DELETED,
             [b"\\Seen", b"\\Deleted", b"$Work"]),
        ]
        uids = []
        for n, (flags, _, _) in enumerate(cases):
            message = text(20 + n)
            tag = b"a%d" % n
            client.append(b"%s APPEND INBOX %s{%d}" % (tag, flags + b" " if flags else b"",
                                                      len(message)), message)
            data, _ = client.read_response()
            found = re.fullmatch(tag + rb" OK \[APPENDUID 7 (\d+)\] APPEND complated\r\n", data)
            self.assertIsNotNone(found, data)
            uids.append(int(found.group(1)))
        self.assertEqual(self.import_statuses(), [status for _, status, _ in cases])
        # A flag that is no atom refuses the command before its literal.
        self.assertEqual(client.command(b'a9 APPEND INBOX (\\Seen "two words") {5}').raw,
                         b"a9 BAD invalid flag list\r\n")
        self.assertEqual(len(self.import_statuses()), len(cases))

        reader = self.client()
        selected = reader.command(b"s1 SELECT INBOX").responses
        flags = [r.flags for r in selected if isinstance(r, imap_reader.Flags)]
        self.assertEqual(flags, [EXTENDED_FLAGS.split(b" ") + [b"$Work"]])
        permanent = [r.value for r in selected if isinstance(r, imap_reader.Condition)
                     and r.code == b"PERMANENTFLAGS"]
        self.assertEqual(permanent, [[b"\\*"] + EXTENDED_FLAGS.split(b" ") + [b"$Work"]])
        self.assertEqual(self.flags_by_uid(reader, b"%d:*" % uids[0]),
                         {uid: wanted for uid, (_, _, wanted) in zip(uids, cases)})

    def test_copy_and_move_carry_the_flags(self):
        client = self.client(b"INBOX")
        client.command(b"t1 STORE 2 +FLAGS.SILENT (\\Flagged $Work)")
        client.command(b"t2 STORE 3 +FLAGS.SILENT (\\Deleted)")
        self.assertEqual(client.command(b"c1 COPY 1:3 " + WORK).raw,
                         b"c1 OK [COPYUID 8 1:3 6:8] COPY complated\r\n")
        self.assertEqual(self.import_statuses(), [ANSWERED | UNREAD, 0, DELETED])
        reader = self.client(WORK)
        self.assertEqual(self.flags_by_uid(reader, b"6:8"), {
            6: [b"\\Answered", b"\\Recent"], 7: [b"\\Seen", b"\\Flagged", b"$Work"],
            8: [b"\\Seen", b"\\Deleted"]})

        # MOVE: the copies' UIDs first, then the originals expunged as the host deletes them.
        moved = client.command(b"m1 MOVE 2:3 " + WORK)
        self.assertEqual(moved.raw, b"* OK [COPYUID 8 2:3 9:10] copies stored\r\n"
                         b"* 2 EXPUNGE\r\n* 2 EXPUNGE\r\nm1 OK MOVE complated\r\n")
        self.assertEqual(moved.responses[0].value, (8, [2, 3], [9, 10]))
        self.assertEqual(self.deleted_keys(), ["user1\\inbox.box\\AAAA0002",
                                               "user1\\inbox.box\\AAAA0003"])
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001", "AAAB0001"])
        self.exchanges(client, [
            (b"m2 UID MOVE 10001 " + WORK, b"* OK [COPYUID 8 10001 11] copies stored\r\n"
             b"* 2 EXPUNGE\r\nm2 OK MOVE complated\r\n"),
            (b"m3 MOVE 5 " + WORK, b"m3 OK MOVE complated\r\n"),
            (b"m4 MOVE 1 Nowhere", b"m4 NO No such folder.\r\n"),
            (b"m5 MOVE 1", b"m5 NO please give arguments\r\n"),
        ])
        client.command(b"e1 EXAMINE INBOX")
        self.exchange(client, b"m6 MOVE 1 " + WORK, b"m6" + READ_ONLY)
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001"])
        self.assertIn(b"* 7 EXISTS\r\n", reader.command(b"n1 NOOP").raw)
        self.assertEqual(self.flags_by_uid(reader, b"9:11"), {
            9: [b"\\Seen", b"\\Flagged", b"$Work"], 10: [b"\\Seen", b"\\Deleted"],
            11: [b"\\Seen"]})
        # The flags of a message gone from its folder go with it.
        self.assertEqual(self.store.read("inbox.box", "Imap4.flg"),
                         b"Imap4.flg 1\nvalidity 7 count 0\nend\n")
        self.assertEqual(self.store.read("work.box", "Imap4.flg"),
                         b"Imap4.flg 1\nvalidity 8 count 2\n7 \\Flagged $Work\n"
                         b"9 \\Flagged $Work\nend\n")

    def test_move_loses_nothing_when_the_host_fails_a_step(self):
        self.assertEqual(self.host.stop(), 0)
        self.host = self.start_store_host(check_stop=True, env={"ORVEX_HOST_KEEP_DELETED": "1"})
        client = self.client(b"INBOX")
        # The originals stay beside their copies.
        self.exchange(client, b"m1 MOVE 2 " + WORK, b"* OK [COPYUID 8 2 6] copies stored\r\n"
                      b"m1 NO the mail client did not delete every original; their copies stay\r\n")
        self.assertEqual(len(self.deleted_keys()), 1)
        self.assertEqual(self.store.names("inbox.box"),
                         ["AAAA0001", "AAAA0002", "AAAA0003", "AAAB0001"])
        self.assertEqual(self.store.names("work.box"), ["AAAA0005", "AAAA0006"])
        client.close()

        # No copy stored: nothing is deleted.
        self.assertEqual(self.host.stop(), 0)
        self.host = self.start_store_host(check_stop=True, env={"ORVEX_HOST_STORE_FULL": "1"})
        client = self.client(b"INBOX")
        self.exchange(client, b"m2 MOVE 2 " + WORK,
                      b"m2 NO the mail client did not store every copy\r\n")
        self.assertEqual(self.deleted_keys(), [])
        self.assertEqual(len(self.store.names("inbox.box")), 4)


class LoginTest(ModeTestCase):

    PASSWORD = 'q"x\\y'
    users = (("odd", PASSWORD), ("a b", "pw"))

    def test_escaped_and_literal_passwords(self):
        client = self.greeted()
        self.exchange(client, b'l1 LOGIN odd "q\\"x\\\\y"', b"l1 OK LOGIN complated\r\n")
        # The escapes are taken away, not kept: the same bytes unescaped are wrong.
        self.exchange(client, b'l2 LOGIN odd "q\\"x\\y"',
                      b"l2 NO username or password is incorrect\r\n")
        client.send(b"l3 LOGIN odd {5}\r\n")
        client.expect(LITERAL)
        client.send(self.PASSWORD.encode() + b"\r\n")
        client.expect(b"l3 OK LOGIN complated\r\n")
        # A literal user name (with a blank) and a quoted password; then a non-synchronising
        # literal, which gets no continuation.
        client.send(b"l4 LOGIN {3}\r\n")
        client.expect(LITERAL)
        client.send(b'a b "pw"\r\n')
        client.expect(b"l4 OK LOGIN complated\r\n")
        self.exchange(client, b"l5 LOGIN {5+}\r\nuser1 secret", b"l5 OK LOGIN complated\r\n")

    def test_authenticate_plain_id_and_namespace(self):
        plain = base64.b64encode(b"\0odd\0" + self.PASSWORD.encode())
        client = self.greeted()
        self.exchange(client, b'i1 ID ("name" "test")', b'* ID ("name" "OrvImapS")\r\n'
                      b"i1 OK ID complated\r\n")
        self.exchange(client, b"a1 AUTHENTICATE CRAM-MD5",
                      b"a1 NO [CANNOT] Unsupported authentication mechanism\r\n")
        self.exchange(client, b"a2 AUTHENTICATE PLAIN", b"+ \r\n")
        self.exchange(client, b"*", b"a2 BAD AUTHENTICATE cancelled\r\n")
        # Another identity to act as, and a wrong password (answered as LOGIN answers it).
        self.exchange(client, b"a3 AUTHENTICATE PLAIN " + base64.b64encode(b"x\0odd\0pw"),
                      b"a3 BAD invalid PLAIN response\r\n")
        self.exchange(client, b"a4 AUTHENTICATE PLAIN " + base64.b64encode(b"\0odd\0no"),
                      b"a4 NO username or password is incorrect\r\n")
        # The response after the continuation, then with the command (SASL-IR).
        self.exchange(client, b"a5 AUTHENTICATE PLAIN", b"+ \r\n")
        self.exchange(client, plain, b"a5 OK AUTHENTICATE complated\r\n")
        self.exchange(client, b"n1 NAMESPACE", b'* NAMESPACE (("" "/")) NIL NIL\r\n'
                      b"n1 OK NAMESPACE complated\r\n")
        other = self.greeted()
        self.exchange(other, b"a6 AUTHENTICATE PLAIN " + plain,
                      b"a6 OK AUTHENTICATE complated\r\n")
        self.exchange(other, b"a7 AUTHENTICATE PLAIN " + plain, b"a7 BAD State AUTHENTICATE\r\n")


class ExactModeTest(ModeTestCase):
    """The same commands with the setting off are answered as they always were."""

    extended = False
    users = (("odd", 'q"x\\y'),)

    def test_spot_checks(self):
        client = self.greeted()
        self.exchange(client, b"c1 CAPABILITY",
                      b"* CAPABILITY IMAP4rev1 AUTH=\r\nc1 OK CAPABILITY complated\r\n")
        self.exchange(client, b'l1 LOGIN odd "q\\"x\\\\y"', b"l1 OK LOGIN complated\r\n")
        self.exchange(client, b"l2 LOGIN user1 secret", b"l2 OK LOGIN complated\r\n")
        not_implemented = [(line, line[:2] + b" BAD Command Not impremented " +
                            line.split(b" ")[1] + b"\r\n") for line in
                           (b"x1 EXAMINE INBOX", b"x2 CREATE Other", b"x3 UNSELECT",
                            b"x4 EXPUNGE", b"x5 CHECK", b"x6 CLOSE")]
        self.exchanges(client, not_implemented[:3])
        self.exchange(client, b"s1 SELECT INBOX", select_answer(b"s1", 4, 1, 7, 10002))
        client.answer(b"t1 STORE 1 +FLAGS.SILENT (\\Deleted)")
        self.exchanges(client, not_implemented[3:])
        self.exchange(client, b"c2 COPY 2:3 " + WORK, b"c2 OK COPY complated\r\n")
        self.assertEqual(self.store.names("work.box"), ["AAAA0005", "AAAA0006"])
        self.assertEqual(self.store.names("inbox.box"),
                         ["AAAA0001", "AAAA0002", "AAAA0003", "AAAB0001"])
        self.assertEqual(self.host_calls(DELETE), [])
        # A folder without its own profile gets a new value at each SELECT, never written.
        values = [re.search(rb"\[UIDVALIDITY (\d+)\]",
                            client.answer(b"s%d SELECT Loose" % n)).group(1) for n in (2, 3)]
        self.assertEqual(int(values[1]), int(values[0]) + 1)
        self.assertFalse(os.path.exists(self.store.path("loose.box", "Imap4.ini")))


class SettingTest(StoreTestCase):

    def test_orimapst_sets_and_shows_the_mode(self):
        self.assertIn("Extended    0 (exact command set) (default)\n",
                      self.orimapst_ok("show"))
        self.assertEqual(self.orimapst_ok("set", "Extended", "1"), "Extended set to 1\n")
        with open(self.mailbox.settings_path, "rb") as f:
            self.assertIn(b"[Server]\r\nPortNo=%d\r\nLoginFailureDelay=0\r\nMaxLoginFailures=0\r\n"
                          b"Extended=1\r\n" % self.port, f.read())
        self.assertIn("Extended    1 (extended mode)\n", self.orimapst_ok("show"))
        for value in ("2", "", "yes"):
            rc, out, err = self.mailbox.orimapst("set", "Extended", value)
            self.assertEqual(rc, 1)
            self.assertIn("Extended must be 0", err)
        self.orimapst_ok("set", "extended", "0")
        with open(self.mailbox.settings_path, "rb") as f:
            self.assertIn(b"Extended=0\r\n", f.read())

class HostDeleteTest(StoreTestCase):
    """The host stand-in's delete, called by the store probe plug-in from several threads."""

    def test_concurrent_deletes_and_imports(self):
        names = ["AAAA%04d" % n for n in range(1, 9)]
        self.store.folder("inbox.box", messages=[(n, 0, text(i)) for i, n in enumerate(names)])
        incoming = os.path.join(self.tmp, "incoming")
        with open(incoming, "wb") as f:
            f.write(text(99))
        # Eight threads each delete one message (named in lower case; thread 0 names one that
        # does not exist), import one, and delete another that does not exist.
        self.run_probe(("threads", "8"), ("delete", "user1\\inbox.box\\aaaa000%t"),
                       ("import", incoming, "user1\\inbox.box", "0"),
                       ("delete", "user1\\inbox.box\\AAAA0077"))
        # AAAA0008 remains; each import took the next name above the highest at its moment.
        index = self.store.names("inbox.box")
        self.assertEqual(index[0], "AAAA0008")
        self.assertEqual(len(index), 9)
        self.assertEqual(self.store.total("inbox.box"), 9)
        files = sorted(f[:-4] for f in os.listdir(self.store.path("inbox.box"))
                       if f.endswith(".orv"))
        self.assertEqual(files, sorted(index))
        deletes = [c[1] for c in self.host_calls(DELETE)]
        self.assertEqual(len(deletes), 16)
        self.assertIn(b"user1\\inbox.box\\aaaa0003", deletes)



class LastingUidTest(StoreTestCase):
    """Extended-mode UIDs against a host that gives a deleted message's file name to the next
    one: each message gets a UID of its own under one UIDVALIDITY, UIDNEXT never falls, a kill
    of the host keeps both, and a lost UID record brings a new, greater UIDVALIDITY."""

    extended = True

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", title="Inbox", uid_validity=7,
                          messages=[("AAAA0001", 0, text(1)), ("AAAA0002", 0, text(2))])
        self.host = self.start_store_host()

    def restart_host(self):
        self.host.kill()
        self.host = self.start_store_host()

    def uids(self, client):
        return [int(u) for u in re.findall(rb"UID (\d+)", client.answer(b"u1 UID FETCH 1:* UID"))]

    def test_reused_names_get_new_uids_that_outlive_a_kill(self):
        client = self.logged_in()
        client.answer(b"s1 SELECT INBOX")
        # Appended, deleted, appended again: the host names both AAAA0003.
        given = []
        for n in range(2):
            given.append(append(self, client, b"a%d" % n, text(10 + n)))
            client.answer(b"n%d NOOP" % n)
            client.answer(b"d%d UID STORE %d +FLAGS (\\Deleted)" % (n, given[-1][1]))
            self.assertIn(b"* 3 EXPUNGE\r\n", client.answer(b"x%d EXPUNGE" % n))
        self.assertEqual(given, [(7, 3), (7, 4)])
        # Everything deleted: UIDNEXT stays.
        client.answer(b"d2 STORE 1:* +FLAGS (\\Deleted)")
        client.answer(b"x2 EXPUNGE")
        self.assertIn(b"[UIDNEXT 5]", client.answer(b"s2 SELECT INBOX"))
        self.assertEqual(append(self, client, b"a2", text(12)), (7, 5))
        self.assertEqual(self.store.names("inbox.box"), ["AAAA0001"])
        client.close()

        # While no session looks, the host replaces AAAA0001 by another message of that name.
        self.store.folder("inbox.box", title="Inbox",
                          messages=[("AAAA0001", 0, text(100), 1800000000)])
        client = self.logged_in()
        client.answer(b"s3 SELECT INBOX")
        self.assertEqual(self.uids(client), [6])
        self.restart_host()
        client = self.logged_in()
        selected = client.answer(b"s4 SELECT INBOX")
        self.assertIn(b"[UIDVALIDITY 7]", selected)
        self.assertIn(b"[UIDNEXT 7]", selected)
        self.assertEqual(self.uids(client), [6])
        client.close()

        # The record lost: the folder starts again under a greater UIDVALIDITY.
        os.remove(self.store.path("inbox.box", "Imap4.uid"))
        self.restart_host()
        client = self.logged_in()
        validity = int(re.search(rb"\[UIDVALIDITY (\d+)\]",
                                 client.answer(b"s5 SELECT INBOX")).group(1))
        self.assertGreater(validity, 7)

    def test_uids_acknowledged_before_a_kill_are_never_given_again(self):
        writers = 20
        acknowledged = {}
        lock = threading.Lock()

        def write(n):
            try:
                client = self.logged_in()
                for i in range(1000):
                    subject = b"w%d-%d" % (n, i)
                    validity, uid = append(self, client, b"a%d" % i,
                                                b"Subject: " + subject + b"\r\n\r\nx\r\n")
                    with lock:
                        acknowledged[subject] = (validity, uid)
            except (AssertionError, OSError):
                pass  # the host was killed

        threads = [threading.Thread(target=write, args=(n,)) for n in range(writers)]
        for t in threads:
            t.start()
        wait_until(lambda: len(acknowledged) >= 60, "60 acknowledged APPENDs")
        self.host.kill()
        for t in threads:
            t.join(60)
        self.host = self.start_store_host()
        reader = self.logged_in()
        selected = reader.answer(b"s1 SELECT INBOX")
        self.assertIn(b"[UIDVALIDITY 7]", selected)
        given = sorted(uid for _, uid in acknowledged.values())
        self.assertEqual(len(set(given)), len(given))
        # Each acknowledged UID still names its own message.
        for subject, (validity, uid) in acknowledged.items():
            self.assertEqual(validity, 7)
            self.assertIn(b"Subject: " + subject,
                          reader.answer(b"f1 UID FETCH %d BODY.PEEK[HEADER]" % uid))
        # Delete them all: the next APPEND gets a UID above every one given before.
        reader.answer(b"d1 STORE 1:* +FLAGS (\\Deleted)")
        reader.answer(b"x1 EXPUNGE")
        self.assertGreater(append(self, reader, b"a1", text(1))[1], given[-1])
        if os.environ.get("ORV_FAULT_FIGURES"):
            print("[figure] kill -9 during %d concurrent APPENDs: %d acknowledged, %d distinct "
                  "UIDs, each found after the restart" % (writers, len(acknowledged),
                                                          len(set(given))))

    def test_kept_flags_outlive_a_kill_and_go_with_their_message(self):
        client = self.logged_in()
        client.answer(b"s1 SELECT INBOX")
        client.answer(b"t1 STORE 1 +FLAGS (\\Flagged $Work)")
        client.answer(b"t2 STORE 2 +FLAGS.SILENT ($Later)")
        self.restart_host()
        client = self.logged_in()
        self.assertIn(b"* FLAGS (" + EXTENDED_FLAGS + b" $Later $Work)\r\n",
                      client.answer(b"s2 SELECT INBOX"))
        self.assertEqual(client.answer(b"f1 UID FETCH 1:* FLAGS"),
                         b"* 1 FETCH (UID 1 FLAGS (\\Seen \\Flagged $Work))\r\n"
                         b"* 2 FETCH (UID 2 FLAGS (\\Seen $Later))\r\nf1 OK FETCH complated\r\n")
        client.close()

        # The host removes a message while no session looks: its flags go at the next look.
        self.store.folder("inbox.box", title="Inbox", messages=[("AAAA0001", 0, text(1))])
        client = self.logged_in()
        self.assertIn(b"* FLAGS (" + EXTENDED_FLAGS + b" $Work)\r\n",
                      client.answer(b"s3 SELECT INBOX"))
        self.assertEqual(self.store.read("inbox.box", "Imap4.flg"),
                         b"Imap4.flg 1\nvalidity 7 count 1\n1 \\Flagged $Work\nend\n")
        client.close()

        # Under a new UIDVALIDITY the UIDs name other messages: no flag is kept.
        os.remove(self.store.path("inbox.box", "Imap4.uid"))
        self.restart_host()
        client = self.logged_in()
        validity = int(re.search(rb"\[UIDVALIDITY (\d+)\]",
                                 client.answer(b"s4 SELECT INBOX")).group(1))
        self.assertIn(b"* 1 FETCH (FLAGS (\\Seen))", client.answer(b"f2 FETCH 1 FLAGS"))
        self.assertEqual(self.store.read("inbox.box", "Imap4.flg"),
                         b"Imap4.flg 1\nvalidity %d count 0\nend\n" % validity)


if __name__ == "__main__":
    unittest.main()
