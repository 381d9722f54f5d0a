"""Modification sequences in extended mode: a client learns what changed in a folder since a
value it was told (CONDSTORE: HIGHESTMODSEQ, MODSEQ, FETCH CHANGEDSINCE, STORE UNCHANGEDSINCE,
SEARCH MODSEQ) and which UIDs vanished (QRESYNC: SELECT with what the client knew, VANISHED),
whether the change came through the server or from the host behind its back, and across a
restart of the host."""

import re
import unittest

from extended_updates_test import Folder, UpdatesTestCase
from harness import ANSWERED, UNREAD

NAMES = ["AAAA000%d" % n for n in range(1, 6)]


def highest(answer):
    """The HIGHESTMODSEQ a SELECT or EXPUNGE answer names."""
    found = re.search(rb"\[HIGHESTMODSEQ (\d+)\]", answer)
    assert found, answer
    return int(found.group(1))


def fetched(answer):
    """{UID: (flags, modseq)} of the untagged FETCH lines of an answer."""
    lines = re.findall(rb"\* \d+ FETCH \(UID (\d+) FLAGS \(([^)]*)\) MODSEQ \((\d+)\)\)", answer)
    return {int(uid): (flags, int(modseq)) for uid, flags, modseq in lines}


class ResyncTestCase(UpdatesTestCase):

    def setUp(self):
        super().setUp()
        for name in NAMES:
            self.inbox.add(name, 0)

    def opened(self, enable=b"CONDSTORE", select=b"SELECT INBOX"):
        """A client that enabled enable and selected the inbox; the SELECT answer."""
        client = self.logged_in()
        self.assertEqual(client.answer(b"e1 ENABLE " + enable),
                         b"* ENABLED " + enable + b"\r\ne1 OK ENABLE complated\r\n")
        return client, client.answer(b"s1 " + select)


class CondStoreTest(ResyncTestCase):

    def test_changes_through_the_server_are_sequenced_and_conditional_stores_refused(self):
        client, selected = self.opened()
        start = highest(selected)
        listing = re.findall(rb"MODSEQ \((\d+)\)", client.answer(b"f1 FETCH 1:* (FLAGS MODSEQ)"))
        self.assertEqual(max(map(int, listing)), start)

        # A change names the message's UID and its new modification sequence.
        answer = client.answer(b"t1 STORE 2 +FLAGS (\\Flagged)")
        flagged = fetched(answer)[2][1]
        self.assertGreater(flagged, start)
        self.assertRegex(answer, rb"^\* 2 FETCH \(UID 2 FLAGS \(\\Seen \\Flagged\) MODSEQ \(\d+\)\)"
                                 rb"\r\nt1 OK STORE complated\r\n$")

        # Only messages unchanged since the value are stored; the others are named.
        answer = client.answer(b"t2 STORE 1:3 (UNCHANGEDSINCE %d) +FLAGS (\\Answered)" % start)
        self.assertTrue(answer.endswith(b"t2 OK [MODIFIED 2] STORE complated\r\n"), answer)
        self.assertEqual(sorted(fetched(answer)), [1, 3])
        answered = fetched(answer)[1][1]
        self.assertGreater(answered, flagged)
        # UNCHANGEDSINCE 0 fails for every message; UID STORE names UIDs.
        self.assertEqual(client.answer(b"t3 UID STORE 4:5 (UNCHANGEDSINCE 0) +FLAGS (\\Seen)"),
                         b"t3 OK [MODIFIED 4:5] STORE complated\r\n")
        # A silent change still tells a client that follows sequences the new one.
        answer = client.answer(b"t4 STORE 5 +FLAGS.SILENT (\\Flagged)")
        self.assertRegex(answer, rb"^\* 5 FETCH \(UID 5 MODSEQ \((\d+)\)\)\r\nt4 OK")
        silent = int(re.search(rb"MODSEQ \((\d+)\)", answer).group(1))
        # Storing what a message has already changes nothing, and takes no new value.
        self.assertNotIn(b"MODSEQ", client.answer(b"t5 STORE 5 +FLAGS.SILENT (\\Flagged)"))

        answer = client.answer(b"f2 FETCH 1:* (UID FLAGS) (CHANGEDSINCE %d)" % flagged)
        self.assertEqual(sorted(fetched(answer)), [1, 3, 5])
        answer = client.answer(b"f3 UID FETCH 1:4 (UID) (CHANGEDSINCE %d)" % flagged)
        self.assertEqual(re.findall(rb"\* (\d+) FETCH \(UID (\d+) MODSEQ", answer),
                         [(b"1", b"1"), (b"3", b"3")])
        self.assertEqual(client.answer(b"r1 SEARCH MODSEQ %d" % answered),
                         b"* SEARCH 1 3 5 (MODSEQ %d)\r\nr1 OK SEARCH complated\r\n" % silent)
        self.assertEqual(client.answer(b'r2 UID SEARCH MODSEQ "/flags/\\\\draft" all %d UNFLAGGED'
                                       % answered),
                         b"* SEARCH 1 3 (MODSEQ %d)\r\nr2 OK SEARCH complated\r\n" % answered)
        self.assertEqual(client.answer(b"s2 STATUS INBOX (HIGHESTMODSEQ MESSAGES)"),
                         b"* STATUS INBOX (HIGHESTMODSEQ %d MESSAGES 5)\r\n"
                         b"s2 OK STATUS complated\r\n" % silent)

        # What the modifiers do not allow is refused, and nothing is changed.
        for line in (b"b1 FETCH 1 (FLAGS) (CHANGEDSINCE x)",
                     b"b2 UID FETCH 1 (FLAGS) (CHANGEDSINCE 1 VANISHED)",  # not enabled
                     b"b3 STORE 1 (SINCE 5) +FLAGS (\\Deleted)",
                     b"b5 SELECT INBOX (QRESYNC (42 1))"):
            with self.subTest(line=line):
                self.assertIn(b" BAD ", client.answer(line))
        self.assertNotIn(b"\\Deleted", client.answer(b"f4 FETCH 1 (FLAGS)"))

    def test_a_client_that_never_enables_sees_what_it_saw_before(self):
        client = self.logged_in()
        selected = client.answer(b"s1 SELECT INBOX")
        self.assertNotIn(b"MODSEQ", selected)
        self.assertEqual(client.answer(b"t1 STORE 1 +FLAGS (\\Flagged)"),
                         b"* 1 FETCH (FLAGS (\\Seen \\Flagged))\r\nt1 OK STORE complated\r\n")
        self.inbox.set_status("AAAA0002", ANSWERED)
        self.assertEqual(client.answer(b"n1 NOOP"),
                         b"* 2 FETCH (FLAGS (\\Seen \\Answered))\r\nn1 OK NOOP complated\r\n")
        # Asking for a MODSEQ turns sequences on from then on.
        self.assertIn(b"* 3 FETCH (MODSEQ (", client.answer(b"f1 FETCH 3 (MODSEQ)"))
        self.assertIn(b"MODSEQ", client.answer(b"t2 STORE 3 +FLAGS (\\Flagged)"))


class HostChangesTest(ResyncTestCase):

    def test_what_the_host_changed_is_reported_since_the_clients_value(self):
        client, selected = self.opened(b"QRESYNC")
        start = highest(selected)
        client.answer(b"o1 LOGOUT")
        # Behind the server's back: a status changed, a message removed, one new.
        self.inbox.set_status("AAAA0002", ANSWERED)
        self.inbox.remove("AAAA0004")
        self.inbox.add("AAAA0006", UNREAD)

        client, selected = self.opened(b"QRESYNC", b"SELECT INBOX (QRESYNC (42 %d))" % start)
        self.assertIn(b"* VANISHED (EARLIER) 4\r\n", selected)
        changes = fetched(selected)
        self.assertEqual(sorted(changes), [2, 6])
        self.assertEqual(changes[2][0], b"\\Seen \\Answered")
        now = highest(selected)
        self.assertEqual(max(m for _, m in changes.values()), now)
        self.assertLess(selected.index(b"VANISHED"), selected.index(b"FETCH"))
        self.assertLess(selected.index(b"HIGHESTMODSEQ"), selected.index(b"VANISHED"))

        # The same by UID FETCH; the UIDs the client knows limit VANISHED.
        answer = client.answer(b"f1 UID FETCH 1:* (FLAGS) (CHANGEDSINCE %d VANISHED)" % start)
        self.assertTrue(answer.startswith(b"* VANISHED (EARLIER) 4\r\n"), answer)
        self.assertEqual(sorted(fetched(answer)), [2, 6])
        self.assertNotIn(b"VANISHED",
                         client.answer(b"f2 UID FETCH 1:3 (FLAGS) (CHANGEDSINCE %d VANISHED)" % start))
        reselected = client.answer(b"s2 EXAMINE INBOX (QRESYNC (42 %d 1:3,5))" % start)
        self.assertTrue(reselected.startswith(b"* OK [CLOSED]"), reselected)
        self.assertNotIn(b"VANISHED", reselected)
        self.assertEqual(sorted(fetched(reselected)), [2, 6])
        # Nothing since now; another UIDVALIDITY: nothing but the folder's own lines.
        self.assertEqual(fetched(client.answer(b"s3 SELECT INBOX (QRESYNC (42 %d))" % now)), {})
        other = client.answer(b"s4 SELECT INBOX (QRESYNC (41 1))")
        self.assertNotIn(b"VANISHED", other)
        self.assertNotIn(b"FETCH", other)

        # While selected, removals come as VANISHED, changes with their sequence.
        self.inbox.remove("AAAA0001", "AAAA0003")
        self.inbox.set_status("AAAA0005", ANSWERED)
        answer = client.answer(b"n1 NOOP")
        self.assertTrue(answer.startswith(b"* VANISHED 1,3\r\n"), answer)
        self.assertNotIn(b"EXPUNGE", answer)
        reported = fetched(answer)[5][1]
        self.assertGreater(reported, now)
        # An EXPUNGE of the client's own: VANISHED, and the value the removal took.
        stored = fetched(client.answer(b"t1 UID STORE 2 +FLAGS (\\Deleted)"))[2][1]
        self.assertGreater(stored, reported)
        answer = client.answer(b"x1 EXPUNGE")
        self.assertTrue(answer.startswith(b"* VANISHED 2\r\n"), answer)
        self.assertGreater(highest(answer), stored)

    def test_a_restart_of_the_host_keeps_the_value_from_going_back(self):
        client, selected = self.opened()
        client.answer(b"t1 STORE 1 +FLAGS (\\Flagged)")
        stored = highest(client.answer(b"s2 SELECT INBOX"))
        client.close()
        self.assert_stops_cleanly(self.host)

        self.host = self.start_store_host(check_stop=True)
        client, selected = self.opened()
        self.assertEqual(highest(selected), stored)
        self.assertIn(b"\\Flagged", client.answer(b"f1 FETCH 1 (FLAGS)"))
        # A change the host made while no server ran is found, with a greater value.
        client.close()
        self.assert_stops_cleanly(self.host)
        self.inbox.set_status("AAAA0003", ANSWERED)
        self.host = self.start_store_host(check_stop=True)
        client, selected = self.opened()
        self.assertGreater(highest(selected), stored)
        self.assertEqual(sorted(fetched(client.answer(
            b"f2 FETCH 1:* (UID FLAGS) (CHANGEDSINCE %d)" % stored))), [3])


if __name__ == "__main__":
    unittest.main()
