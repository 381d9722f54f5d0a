"""Extended mode reports what the host changed in the selected folder: NOOP after a new message
(EXISTS, RECENT), after removed ones (EXPUNGE numbered as the client applies them) and after a
status change (FETCH FLAGS); IDLE reports new mail by itself within a few seconds and marks
nothing as read. The exact mode's NOOP still answers its completion line only."""

import os
import re
import time
import unittest

from harness import ANSWERED, UNREAD, StoreTestCase, index_value, message_file, sjis

# A client must learn of new mail within this many seconds while it idles.
IDLE_REPORT_SECONDS = 5.0


def replace(path, data):
    """Writes a file whole through a new file renamed over it, as the host does, so a server
    reading at the same moment sees the old or the new one."""
    with open(path + ".part", "wb") as f:
        f.write(data)
    os.replace(path + ".part", path)


class Folder:
    """A folder that the test changes while a client has it selected, written the way the host
    writes it: the ".orv" file first, then "Entry.lst", then "Total" in "Entry.ini". Its
    messages are (file name, status) in "Entry.lst" order."""

    def __init__(self, directory, validity):
        self.directory = directory
        self.messages = []
        os.makedirs(directory, exist_ok=True)
        replace(os.path.join(directory, "Imap4.ini"), b"[IMAP4]\r\nUID=%d\r\n" % validity)
        self.write_index()

    def write_index(self):
        lines = b""
        for name, status in self.messages:
            size = os.path.getsize(os.path.join(self.directory, name + ".orv"))
            lines += name.encode() + b"=" + index_value(status, size, 1000000000) + b"\r\n"
        replace(os.path.join(self.directory, "Entry.lst"), lines)
        replace(os.path.join(self.directory, "Entry.ini"), b"[Property]\r\nTitle=" +
                sjis("受信トレイ") + b"\r\nTotal=%d\r\n" % len(self.messages))

    def add(self, name, status):
        replace(os.path.join(self.directory, name + ".orv"), message_file(
            status, b"Subject: message %s\r\n\r\nbody of %s\r\n" % ((name.encode(),) * 2)))
        self.messages.append((name, status))
        self.write_index()

    def remove(self, *names):
        self.messages = [m for m in self.messages if m[0] not in names]
        self.write_index()
        for name in names:
            os.remove(os.path.join(self.directory, name + ".orv"))

    def set_status(self, name, status):
        self.messages = [(n, status if n == name else s) for n, s in self.messages]
        self.write_index()


class UpdatesTestCase(StoreTestCase):
    """A host with a journal on a store of one user whose inbox the test changes."""

    extended = True

    def setUp(self):
        super().setUp()
        self.inbox = Folder(self.store.path("inbox.box"), validity=42)
        self.host = self.start_store_host(check_stop=True)

    def selected(self, exists):
        """A client logged in with the inbox selected; checks its message count."""
        client = self.logged_in()
        client.send(b"s1 SELECT INBOX\r\n")
        client.expect(b"* %d EXISTS\r\n" % exists)
        client.read_answer(b"s1")
        return client


class ExtendedNoopTest(UpdatesTestCase):

    def test_new_message_reported_as_exists_and_recent(self):
        self.inbox.add("AAAA0001", 0)
        self.inbox.add("AAAA0002", 0)
        client = self.selected(2)
        client.send(b"n1 NOOP\r\n")
        client.expect(b"n1 OK NOOP complated\r\n")

        self.inbox.add("AAAA0003", UNREAD)
        client.send(b"n2 NOOP\r\n")
        client.expect(b"* 3 EXISTS\r\n* 1 RECENT\r\nn2 OK NOOP complated\r\n")
        # Reported once only.
        client.send(b"n3 noop\r\n")
        client.expect(b"n3 OK noop complated\r\n")
        # The new message is served under its number.
        client.send(b"f1 FETCH 3 (UID)\r\n")
        self.assertIn(b"* 3 FETCH (UID 3)", client.read_until(b"f1 OK FETCH complated\r\n"))

    def test_two_removed_messages_numbered_as_applied_in_order(self):
        for name in ("AAAA0001", "AAAA0002", "AAAA0003", "AAAA0004"):
            self.inbox.add(name, 0)
        client = self.selected(4)
        self.inbox.remove("AAAA0002", "AAAA0003")
        client.send(b"n1 NOOP\r\n")
        client.expect(b"* 2 EXPUNGE\r\n* 2 EXPUNGE\r\nn1 OK NOOP complated\r\n")
        client.send(b"f1 FETCH 2 (UID)\r\n")
        self.assertIn(b"* 2 FETCH (UID 4)", client.read_until(b"f1 OK FETCH complated\r\n"))

    def test_status_changed_by_the_host_reported_as_fetch_flags(self):
        self.inbox.add("AAAA0001", 0)
        self.inbox.add("AAAA0002", UNREAD)
        client = self.selected(2)
        self.inbox.set_status("AAAA0002", ANSWERED)
        client.send(b"n1 NOOP\r\n")
        # Still \Recent: it was new when this session selected the folder.
        client.expect(b"* 2 FETCH (FLAGS (\\Seen \\Answered \\Recent))\r\n"
                      b"n1 OK NOOP complated\r\n")

    def test_removed_new_and_changed_at_once(self):
        for name in ("AAAA0001", "AAAA0002", "AAAA0003"):
            self.inbox.add(name, UNREAD)
        client = self.selected(3)
        self.inbox.remove("AAAA0001")
        self.inbox.set_status("AAAA0003", 0)
        self.inbox.add("AAAA0004", UNREAD)
        client.send(b"n1 NOOP\r\n")
        client.expect(b"* 1 EXPUNGE\r\n* 2 FETCH (FLAGS (\\Seen \\Recent))\r\n"
                      b"* 3 EXISTS\r\n* 3 RECENT\r\nn1 OK NOOP complated\r\n")

    def test_nothing_reported_without_a_selected_folder(self):
        self.inbox.add("AAAA0001", 0)
        client = self.greeted()
        client.send(b"n1 NOOP\r\n")
        client.expect(b"n1 OK NOOP complated\r\n")
        client.send(b"l1 LOGIN user1 secret\r\n")
        client.expect(b"l1 OK LOGIN complated\r\n")
        self.inbox.add("AAAA0002", 0)
        client.send(b"n2 NOOP\r\n")
        client.expect(b"n2 OK NOOP complated\r\n")


class ExtendedIdleTest(UpdatesTestCase):

    def test_message_added_while_idling_reported_within_seconds(self):
        self.inbox.add("AAAA0001", UNREAD)
        client = self.selected(1)
        client.send(b"i1 IDLE\r\n")
        client.expect(b"+ idling\r\n")
        time.sleep(0.3)
        self.inbox.add("AAAA0002", UNREAD)
        added = time.monotonic()
        client.sock.settimeout(IDLE_REPORT_SECONDS)
        client.expect(b"* 2 EXISTS\r\n* 2 RECENT\r\n")
        self.assertLess(time.monotonic() - added, IDLE_REPORT_SECONDS)

        # Still idling: a removal is reported too, then DONE ends it.
        self.inbox.remove("AAAA0001")
        client.expect(b"* 1 EXPUNGE\r\n")
        client.send(b"DONE\r\n")
        client.expect(b"i1 OK IDLE complated\r\n")
        client.send(b"n1 NOOP\r\n")
        client.expect(b"n1 OK NOOP complated\r\n")
        # Watching the folder marked nothing as read.
        self.assertEqual(self.host_calls("_OPAMarkMail@12"), [])

    def test_done_and_the_next_command_in_one_packet(self):
        client = self.selected(0)
        client.send(b"i1 IDLE\r\nNOTDONE\r\ndone\r\nn1 NOOP\r\n")
        client.expect(b"+ idling\r\ni1 OK IDLE complated\r\nn1 OK NOOP complated\r\n")

    def test_server_stop_ends_idle(self):
        client = self.selected(0)
        client.send(b"i1 IDLE\r\n")
        client.expect(b"+ idling\r\n")
        self.assertEqual(self.host.stop(), 0, self.host.stderr())
        client.expect(b"* BYE IMAP4rev1 Server logging out\r\n")
        client.expect_closed()


class ProfileCounterTest(UpdatesTestCase):

    def test_looking_at_the_folder_again_takes_no_new_uidvalidity(self):
        # A folder without its own UIDVALIDITY: each reading of its index must not draw a new
        # value from the shared counter.
        os.remove(os.path.join(self.inbox.directory, "Imap4.ini"))
        self.inbox.add("AAAA0001", 0)
        client = self.selected(1)
        counter = self.profile_counter()
        for n in range(3):
            self.inbox.add("AAAA%04d" % (n + 2), 0)
            client.send(b"n%d NOOP\r\n" % n)
            client.read_until(b"n%d OK NOOP complated\r\n" % n)
        self.assertEqual(self.profile_counter(), counter)

    def profile_counter(self):
        with open(self.mailbox.settings_path, "rb") as f:
            found = re.search(rb"\[IMAP4\][^\[]*?UID=(\d+)", f.read())
        return int(found.group(1)) if found else 0


class ExactNoopTest(UpdatesTestCase):

    extended = False

    def test_noop_answers_only_its_completion_line(self):
        self.inbox.add("AAAA0001", 0)
        client = self.selected(1)
        self.inbox.add("AAAA0002", UNREAD)
        self.inbox.set_status("AAAA0001", ANSWERED)
        client.send(b"n1 NOOP\r\n")
        client.expect(b"n1 OK NOOP complated\r\n")


if __name__ == "__main__":
    unittest.main()
