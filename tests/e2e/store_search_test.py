"""STORE, SEARCH and their UID forms against a running host on a store of three messages (UIDs
3, 5 and 9): the host calls that each flag change makes (from the journal), the FLAGS answers,
.SILENT, forms that change nothing, and the criteria that SEARCH serves."""

import unittest

import fetch_fixtures as fx
from fetch_fixtures import MESSAGE_1, MESSAGE_2, MESSAGE_3, MessageStoreTestCase
from harness import ANSWERED, DELETED, DRAFT, UNREAD

# The bit that adding \Seen clears.
SEEN = UNREAD
KEY_1, KEY_2, KEY_3 = (fx.message_key(m) for m in (MESSAGE_1, MESSAGE_2, MESSAGE_3))


class StoreTest(MessageStoreTestCase):

    def send_store(self, client, line):
        """Sends one STORE line; yields (the answer's bytes, the host calls it made)."""
        self.new_marks()
        answer = client.command(line)
        self.assertTrue(answer.raw.lower().endswith(b" ok store complated\r\n"), answer.raw)
        return answer.raw, self.new_marks()

    def test_adding_and_removing_flags(self):
        client = self.selected()
        cases = [
            # Adding \Seen clears the unread bit; message 1 stays \Recent.
            (b"t1 STORE 1 +FLAGS (\\Seen)", b"* 1 FETCH (FLAGS (\\Seen \\Recent))\r\n",
             [(KEY_1, SEEN, 0)]),
            # Each flag is one host call, in the order of the list.
            (b"t2 STORE 1 +FLAGS (\\Answered \\Draft \\Deleted)",
             b"* 1 FETCH (FLAGS (\\Seen \\Answered \\Deleted \\Draft \\Recent))\r\n",
             [(KEY_1, ANSWERED, 1), (KEY_1, DRAFT, 1), (KEY_1, DELETED, 1)]),
            (b"t3 STORE 1 -FLAGS (\\Deleted \\Seen \\Answered \\Draft)",
             b"* 1 FETCH (FLAGS (\\Recent))\r\n",
             [(KEY_1, DELETED, 0), (KEY_1, SEEN, 1), (KEY_1, ANSWERED, 0), (KEY_1, DRAFT, 0)]),
            # Flag names in any case; the item name too.
            (b"t4 STORE 1 +flags (\\seen \\ANSWERED)",
             b"* 1 FETCH (FLAGS (\\Seen \\Answered \\Recent))\r\n",
             [(KEY_1, SEEN, 0), (KEY_1, ANSWERED, 1)]),
            # FLAGS adds like +FLAGS and leaves the other flags: message 2 keeps \Answered.
            (b"t5 STORE 2 FLAGS (\\Deleted)",
             b"* 2 FETCH (FLAGS (\\Seen \\Answered \\Deleted))\r\n", [(KEY_2, DELETED, 1)]),
            # Removing \Seen sets the unread bit; \Recent does not come back.
            (b"t6 STORE 2 -FLAGS \\Seen", b"* 2 FETCH (FLAGS (\\Answered \\Deleted))\r\n",
             [(KEY_2, SEEN, 1)]),
            # Flags the host cannot hold are passed over; the answer shows the flags unchanged.
            (b"t7 STORE 3 +FLAGS (\\Flagged \\Recent $Label1)",
             b"* 3 FETCH (FLAGS (\\Deleted \\Draft \\Recent))\r\n", []),
            (b"t8 STORE 3 FLAGS ()", b"* 3 FETCH (FLAGS (\\Deleted \\Draft \\Recent))\r\n", []),
            # A flag listed twice is sent twice.
            (b"t9 STORE 3 -FLAGS (\\Draft \\draft)", b"* 3 FETCH (FLAGS (\\Deleted \\Recent))\r\n",
             [(KEY_3, DRAFT, 0), (KEY_3, DRAFT, 0)]),
        ]
        for line, untagged, calls in cases:
            with self.subTest(line=line):
                raw, made = self.send_store(client, line)
                self.assertEqual(raw, untagged + line[:3] + b"OK STORE complated\r\n")
                self.assertEqual(made, calls)
        # FETCH shows the changed flags for the rest of the selection ...
        answer = client.command(b"f1 FETCH 1:* FLAGS")
        self.assertEqual([f.get(b"FLAGS") for f in answer.fetches],
                         [[b"\\Seen", b"\\Answered", b"\\Recent"],
                          [b"\\Answered", b"\\Deleted"], [b"\\Deleted", b"\\Recent"]])
        # ... and the host stored the same status words, which the next SELECT reads: \Recent
        # now follows the unread bit as the host keeps it.
        final = [ANSWERED, UNREAD | ANSWERED | DELETED, UNREAD | DELETED]
        self.assertEqual([(name, status) for name, status, *_ in self.store.index("inbox.box")],
                         [(m.file_name.encode(), s) for m, s in zip(fx.INBOX_MESSAGES, final)])
        self.select(client)
        answer = client.command(b"f2 FETCH 1:* FLAGS")
        self.assertEqual([f.get(b"FLAGS") for f in answer.fetches],
                         [[b"\\Seen", b"\\Answered"], [b"\\Answered", b"\\Deleted", b"\\Recent"],
                          [b"\\Deleted", b"\\Recent"]])

    def test_silent_and_forms_that_change_nothing(self):
        client = self.selected()
        cases = [
            (b"s1 STORE 1 +FLAGS.SILENT (\\Seen)", [(KEY_1, SEEN, 0)]),
            (b"s2 STORE 2 -flags.silent (\\Answered)", [(KEY_2, ANSWERED, 0)]),
            (b"s3 STORE 1 FLAGS.Silent \\Deleted", [(KEY_1, DELETED, 1)]),
            (b"s4 STORE 1 +FLAGS.SILENT (\\Flagged)", []),
            # An item name of no known form changes nothing and answers nothing.
            (b"s5 STORE 1 XFLAGS (\\Seen)", []),
            (b"s6 STORE 1 FLAGSX (\\Seen)", []),
            (b"s7 STORE 1:* ++FLAGS (\\Deleted)", []),
        ]
        for line, calls in cases:
            with self.subTest(line=line):
                raw, made = self.send_store(client, line)
                self.assertEqual(raw, line[:3] + b"OK STORE complated\r\n")
                self.assertEqual(made, calls)
        # The silent changes reached the entries.
        answer = client.command(b"f1 FETCH 1:2 FLAGS")
        self.assertEqual([f.get(b"FLAGS") for f in answer.fetches],
                         [[b"\\Seen", b"\\Deleted", b"\\Recent"], [b"\\Seen"]])
        # An unknown suffix is not .SILENT: the answer comes.
        raw, made = self.send_store(client, b"s8 STORE 3 +FLAGS.LOUD (\\Seen)")
        self.assertEqual(raw, b"* 3 FETCH (FLAGS (\\Seen \\Deleted \\Draft \\Recent))\r\n"
                              b"s8 OK STORE complated\r\n")
        self.assertEqual(made, [(KEY_3, SEEN, 0)])

    def test_sets_and_the_uid_form(self):
        client = self.selected()
        raw, made = self.send_store(client, b"u1 STORE 1:* +FLAGS (\\Answered)")
        self.assertEqual(raw, b"* 1 FETCH (FLAGS (\\Answered \\Recent))\r\n"
                              b"* 2 FETCH (FLAGS (\\Seen \\Answered))\r\n"
                              b"* 3 FETCH (FLAGS (\\Answered \\Deleted \\Draft \\Recent))\r\n"
                              b"u1 OK STORE complated\r\n")
        self.assertEqual(made, [(KEY_1, ANSWERED, 1), (KEY_2, ANSWERED, 1), (KEY_3, ANSWERED, 1)])
        # The UID form answers with the UID before FLAGS, under the word FETCH in capitals.
        raw, made = self.send_store(client, b"u2 uid store 4:6 -FLAGS (\\Answered)")
        self.assertEqual(raw, b"* 2 FETCH (UID 5 FLAGS (\\Seen))\r\nu2 OK store complated\r\n")
        self.assertEqual(made, [(KEY_2, ANSWERED, 0)])
        raw, made = self.send_store(client, b"u3 UID STORE 9,3 +FLAGS (\\Seen)")
        self.assertEqual(raw, b"* 3 FETCH (UID 9 FLAGS (\\Seen \\Answered \\Deleted \\Draft "
                              b"\\Recent))\r\n"
                              b"* 1 FETCH (UID 3 FLAGS (\\Seen \\Answered \\Recent))\r\n"
                              b"u3 OK STORE complated\r\n")
        self.assertEqual(made, [(KEY_3, SEEN, 0), (KEY_1, SEEN, 0)])
        # Sets that select nothing.
        for line in (b"u4 STORE 3:1 +FLAGS (\\Seen)", b"u4 STORE 4 +FLAGS (\\Seen)",
                     b"u4 UID STORE 6:8 +FLAGS (\\Seen)"):
            with self.subTest(line=line):
                raw, made = self.send_store(client, line)
                self.assertEqual((raw, made), (b"u4 OK STORE complated\r\n", []))

    def test_state_and_argument_count(self):
        self.assert_refused([(b"a1 STORE 1 +FLAGS (\\Seen)", b"a1 BAD State STORE\r\n"),
                             (b"a2 uid Store 1 +FLAGS (\\Seen)", b"a2 BAD State Store\r\n")],
                            [b"a3 STORE 1 +FLAGS", b"a3 STORE 1", b"a3 STORE",
                             b"a3 STORE 1 +FLAGS \\Seen \\Deleted", b"a3 UID STORE 3 FLAGS"])


class SearchTest(MessageStoreTestCase):

    def test_criteria(self):
        client = self.selected()
        cases = [
            (b"SEARCH ALL", b"* SEARCH 1 2 3\r\n"),
            (b"search all all", b"* search 1 2 3\r\n"),
            (b"Search aLL", b"* Search 1 2 3\r\n"),
            (b"UID SEARCH ALL", b"* SEARCH 3 5 9\r\n"),
            (b"uid search ALL", b"* search 3 5 9\r\n"),
            (b"SEARCH CHARSET ISO-2022-JP ALL", b"* SEARCH 1 2 3\r\n"),
            (b"SEARCH charset UTF-8 ALL ALL", b"* SEARCH 1 2 3\r\n"),
            (b"UID SEARCH CHARSET US-ASCII ALL", b"* SEARCH 3 5 9\r\n"),
            # A charset and nothing else: the word alone.
            (b"SEARCH CHARSET ISO-2022-JP", b"* SEARCH\r\n"),
            # ALL is the only criterion served; any other, or its argument, matches nothing.
            (b"SEARCH UNSEEN", b"* SEARCH\r\n"),
            (b"SEARCH ALL UNSEEN", b"* SEARCH\r\n"),
            (b"SEARCH UNSEEN ALL", b"* SEARCH\r\n"),
            (b"SEARCH FROM taro", b"* SEARCH\r\n"),
            (b"UID SEARCH 1:*", b"* SEARCH\r\n"),
        ]
        for command, untagged in cases:
            with self.subTest(command=command):
                answer = client.command(b"q1 " + command)
                word = command.split(b" ")[1 if command.lower().startswith(b"uid ") else 0]
                self.assertEqual(answer.raw,
                                 untagged + b"q1 OK " + word + b" complated\r\n")
                self.assertEqual(len(answer.searches), 1)
        self.assertEqual(self.marks(), [])

    def test_empty_folder_state_and_arguments(self):
        client = self.assert_refused([(b"q2 SEARCH ALL", b"q2 BAD State SEARCH\r\n")],
                                     [b"q5 SEARCH", b"q6 UID SEARCH"], folder=b"Empty")
        self.assertEqual(client.command(b"q3 SEARCH ALL").raw,
                         b"* SEARCH\r\nq3 OK SEARCH complated\r\n")
        self.assertEqual(client.command(b"q4 UID SEARCH ALL").raw,
                         b"* SEARCH\r\nq4 OK SEARCH complated\r\n")


if __name__ == "__main__":
    unittest.main()
