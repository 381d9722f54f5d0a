"""Mailbox names and LIST patterns that try to reach outside the user's folder tree: "..",
absolute paths, "\\" and "/" mixed, drive colons, very long names, NUL bytes, and the same in
modified UTF-7, through every command that takes a mailbox name, in both naming modes and both
modes. Around the user's tree lie sentinels (a sibling user's folders with messages, folders
and a message in the mailbox directory itself, a folder outside the mailbox directory): no
answer may carry their data, the kernel must see none of their files opened or changed
(inotify), their bytes must stay the same (hashed) and no host call may name a path outside
the user's tree (journal)."""

import ctypes
import ctypes.util
import fnmatch
import os
import re
import struct
import sys
import unittest

from faults_test import command, figure, text_message
from fetch_fixtures import ImapClient
from harness import UNREAD, StoreTestCase, hash_tree, index_value, read_tree

# What every sentinel file and title holds, and no answer may.
SENTINEL = b"SENTINEL"

# inotify, through the C library.
IN_ACCESS, IN_MODIFY, IN_ATTRIB, IN_OPEN = 0x1, 0x2, 0x4, 0x20
IN_MOVED_FROM, IN_MOVED_TO, IN_CREATE, IN_DELETE = 0x40, 0x80, 0x100, 0x200
IN_ISDIR = 0x40000000
WATCHED = (IN_ACCESS | IN_MODIFY | IN_ATTRIB | IN_OPEN | IN_MOVED_FROM | IN_MOVED_TO |
           IN_CREATE | IN_DELETE)
IN_NONBLOCK, IN_CLOEXEC = 0o4000, 0o2000000


class Watcher:
    """Reports every access to the files of some directories (and to the directories)."""

    def __init__(self):
        self.libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
        self.fd = self.libc.inotify_init1(IN_NONBLOCK | IN_CLOEXEC)
        if self.fd < 0:
            raise OSError(ctypes.get_errno(), "inotify_init1")
        self.paths = {}

    def watch(self, path):
        wd = self.libc.inotify_add_watch(self.fd, os.fsencode(path), WATCHED)
        if wd < 0:
            raise OSError(ctypes.get_errno(), "inotify_add_watch " + path)
        self.paths[wd] = path

    def events(self):
        """(watched directory, name or "", mask) of every event since the last call."""
        data = b""
        while True:
            try:
                chunk = os.read(self.fd, 65536)
            except BlockingIOError:
                break
            if not chunk:
                break
            data += chunk
        events, pos = [], 0
        while pos < len(data):
            wd, mask, _, length = struct.unpack_from("iIII", data, pos)
            name = data[pos + 16:pos + 16 + length].rstrip(b"\0").decode("utf-8", "replace")
            events.append((self.paths.get(wd, "?"), name, mask))
            pos += 16 + length
        return events

    def close(self):
        os.close(self.fd)


def quoted(name):
    return b'"' + name.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


def is_atom(name):
    return name != b"" and not re.search(rb'[\x00-\x20"(){%*\\\x7f-\xff]', name)


class TraversalTest(StoreTestCase):

    def setUp(self):
        super().setUp()
        self.write_sentinels()
        self.store.folder("inbox.box", title="Inbox", uid_validity=3,
                          messages=[("AAAA0001", UNREAD, text_message("自分", 2))])
        self.store.folder("work.box", title="仕事", type="Subfolder",
                          messages=[("AAAA0001", 0, text_message("仕事", 1))])
        self.store.folder("work.box/sub.box", title="下位")
        self.attempts = 0
        self.refused = 0
        self.by_command = {}

    def sentinel_folder(self, directory, title, entry_ini=True):
        """A folder the host could have written, full of sentinel data."""
        os.makedirs(directory, exist_ok=True)
        text = b"Subject: " + SENTINEL + b" subject\r\n\r\n" + SENTINEL + b" body\r\n"
        data = b"X-Orvex-Status: 40000000\r\n" + text
        if entry_ini:
            with open(os.path.join(directory, "Entry.ini"), "wb") as f:
                f.write(b"[Property]\r\nTitle=" + title + b"\r\nType=Subfolder\r\nTotal=1\r\n"
                        b"[IMAP4]\r\nSubscribe=1\r\n")
        if directory != self.mailbox.path:  # there it is the server's settings file
            with open(os.path.join(directory, "Imap4.ini"), "wb") as f:
                f.write(b"[IMAP4]\r\nUID=777\r\n")
        with open(os.path.join(directory, "AAAA0001.orv"), "wb") as f:
            f.write(data)
        with open(os.path.join(directory, "Entry.lst"), "wb") as f:
            f.write(b"AAAA0001=" + index_value(UNREAD, len(data)) + b"\r\n")
        return directory

    def write_sentinels(self):
        mailbox = self.mailbox.path
        # A sibling user, in the passwd file too.
        self.mailbox.add_user("user2", "other")
        user2 = os.path.join(mailbox, "user2")
        self.sentinel_folder(os.path.join(user2, "inbox.box"), SENTINEL + b"-USER2-INBOX")
        self.sentinel_folder(os.path.join(user2, "work.box"), SENTINEL + b"-USER2-WORK")
        self.sentinel_folder(os.path.join(user2, "work.box", "deep.box"), SENTINEL + b"-DEEP")
        # The mailbox directory seen as a folder, and folders beside the users' roots.
        self.sentinel_folder(mailbox, SENTINEL + b"-MAILBOX")
        self.sentinel_folder(os.path.join(mailbox, "inbox.box"), SENTINEL + b"-ABOVE-INBOX")
        self.sentinel_folder(os.path.join(mailbox, "sentinel.box"), SENTINEL + b"-ABOVE")
        self.sentinel_folder(os.path.join(mailbox, "noini.box"), b"", entry_ini=False)
        # Outside the mailbox directory.
        self.outside = os.path.join(self.tmp, "outside")
        self.sentinel_folder(self.outside, SENTINEL + b"-OUTSIDE")
        self.sentinel_folder(os.path.join(self.outside, "inbox.box"), SENTINEL + b"-OUT-INBOX")
        # Every sentinel directory, for hashing and watching.
        self.sentinel_dirs = [self.tmp, mailbox, self.outside]
        for top in (user2, os.path.join(mailbox, "inbox.box"),
                    os.path.join(mailbox, "sentinel.box"), os.path.join(mailbox, "noini.box"),
                    self.outside):
            for directory, _, _ in os.walk(top):
                if directory not in self.sentinel_dirs:
                    self.sentinel_dirs.append(directory)

    def sentinel_hashes(self):
        """The hash of every file outside user1's tree and the host's own files, but for the
        settings file (whose UIDVALIDITY counter the exact mode moves on)."""
        skip = ("host-", "journal.txt")
        hashes = {}
        for path, digest in hash_tree(self.tmp).items():
            if path.startswith("mail/user1/") or path.startswith("host-tmp/"):
                continue
            if os.path.basename(path).startswith(skip) or path in ("mail/Imap4.ini",
                                                                   "mail/Imap4.log"):
                continue
            hashes[path] = digest
        return hashes

    # The names and patterns tried.

    def names(self, literal):
        mailbox = os.fsencode(self.mailbox.path)
        outside = os.fsencode(self.outside)
        names = [
            b"..", b"../", b"..\\", b"../user2", b"../user2/inbox.box", b"..\\user2\\inbox.box",
            b"../user2\\inbox.box", b"..\\/user2", b"../../outside", b"..\\..\\outside\\inbox.box",
            b"inbox.box/../../user2/inbox.box", b"inbox.box\\..\\..\\user2\\inbox.box",
            b"inbox.box/..\\../sentinel.box", b"./../sentinel.box", b"../sentinel.box",
            b"../inbox.box", b"..\\inbox.box", b"work.box/../../user2/work.box/deep.box",
            b"../*", b"*/../*", b"/", b"\\", b"//", b"\\\\", b"/etc", b"/etc/passwd",
            mailbox + b"/user2/inbox.box", mailbox.replace(b"/", b"\\") + b"\\user2\\inbox.box",
            outside, outside + b"/inbox.box", b"\\\\localhost\\share\\inbox.box",
            b"C:", b"C:\\", b"C:..\\user2", b"C:/" + mailbox, b"inbox.box:..", b"user2:inbox.box",
            b":", b"inbox.box:$DATA",
            # Modified UTF-7 forms of "..", "../user2", "..\user2", "/", "\", ":" and "C:\".
            b"&AC4ALg-", b"&AC4ALg-/user2/inbox.box", b"&AC4ALgAv-user2", b"&AC4ALgBc-user2",
            b"&AC8-", b"&AFw-", b"&AC8-etc", b"&ADo-", b"&AEMAOgBc-", b".&AC4-/user2",
            b"&AC4-&AC4-/user2", b"&AC4ALgAvAC4ALgAv-outside",
            # Shift_JIS characters whose second byte is "\" (表), before ".." components.
            b"&iGg-\\..\\..\\sentinel.box", b"&iGg-..\\sentinel.box",
            b"\x95\\..\\sentinel.box", b"\x81/../sentinel.box",
            # Very long names.
            b"a" * 300, b"a" * 5000, b"../" * 100 + b"user2", b"x/" * 150 + b"../" * 151 + b"user2",
            b"./" * 200 + b"inbox.box", b"&" + b"AC4ALgAv" * 200 + b"-user2",
        ]
        if literal:
            names += [b"inbox.box\x00/../../user2/inbox.box", b"..\x00", b"\x00../user2"]
        return names

    def patterns(self):
        mailbox = os.fsencode(self.mailbox.path)
        return [
            b"..", b"../*", b"..\\*", b"../%", b"*/../*", b"%/../%", b"../user2/*", b"../../*",
            b"/*", b"\\*", b"/", mailbox + b"/*", mailbox + b"/user2/*", b"C:*", b"C:\\*",
            b"&AC4ALg-/*", b"&AC4ALgAv-*", b".*", b"..*", b"*..", b"?.", b"*\\..\\*",
            b"inbox.box/../*", b"inbox.box\\..\\..\\*", b"\\\\localhost\\*",
            b"a" * 300 + b"*", b"*" * 5000, b"../" * 100 + b"*",
            b"%", b"*",  # the last one the control
        ]

    def references(self):
        return [b"..", b"../user2", b"/", os.fsencode(self.mailbox.path), b"C:\\"]

    # Sending, counting and checking.

    def send_with_name(self, client, before, name, after, form):
        """Sends a command line with the name in the form given ("quoted", "atom" or
        "literal"); for a literal, waits for the continuation first."""
        if form == "literal":
            client.send(before + b"{%d}\r\n" % len(name))
            self.assertEqual(client.read_line(), b"+ Ready for literal data\r\n")
            client.send(name + after + b"\r\n")
        else:
            client.send(before + (quoted(name) if form == "quoted" else name) + after + b"\r\n")

    def check_answer(self, what, tagged_and_raw, name=b""):
        """No sentinel data in an answer (the name the client gave, which the answer may
        echo, taken out)."""
        tagged, raw = tagged_and_raw
        rest = raw.replace(name, b"").replace(quoted(name), b"") if name else raw
        self.assertNotIn(SENTINEL, rest.upper(), (what, raw[:300]))
        return tagged

    def count(self, verb, refused):
        self.attempts += 1
        self.refused += 1 if refused else 0
        tried, denied = self.by_command.get(verb, (0, 0))
        self.by_command[verb] = (tried + 1, denied + (1 if refused else 0))

    def read_answer(self, client, tag):
        """(the tagged response's status, every byte up to it)."""
        raw = client.read_answer(tag)
        return raw.rsplit(b"\r\n", 2)[-2].split(b" ", 2)[1], raw

    def try_name(self, client, name, form, extended):
        """Every command that takes a mailbox name, with this name."""
        commands = [(b"SELECT", b"S1 SELECT ", b""),
                    (b"STATUS", b"T1 STATUS ", b" (MESSAGES UIDNEXT UNSEEN)"),
                    (b"SUBSCRIBE", b"B1 SUBSCRIBE ", b""),
                    (b"UNSUBSCRIBE", b"B2 UNSUBSCRIBE ", b""),
                    (b"COPY", b"C1 COPY 1 ", b"")]
        if extended:
            commands.append((b"EXAMINE", b"E1 EXAMINE ", b""))
        for verb, before, after in commands:
            if verb == b"COPY":
                self.assertEqual(command(client, b"S0 SELECT INBOX").status, b"OK")
            self.send_with_name(client, before, name, after, form)
            status = self.check_answer((verb, name), self.read_answer(client, before[:2]), name)
            self.assertIn(status, (b"OK", b"NO", b"BAD"), (verb, name))
            self.count(verb, status != b"OK")
        if form == "literal":
            return  # APPEND takes no literal for its mailbox name
        message = text_message("traversal", 1)
        client.send(b"A1 APPEND " + (quoted(name) if form == "quoted" else name) +
                    b" () {%d}\r\n" % len(message))
        line = client.read_line()
        if line == b"+ OK please give datas\r\n":
            client.send(message + b"\r\n")
            status, raw = self.read_answer(client, b"A1")
            self.check_answer((b"APPEND", name), (status, raw), name)
            self.count(b"APPEND", False)
        else:
            self.assertTrue(line.startswith(b"A1 NO "), (name, line))
            self.count(b"APPEND", True)

    def try_patterns(self, client):
        for verb in (b"LIST", b"LSUB"):
            for pattern in self.patterns():
                client.send(b"L1 " + verb + b' "" ' + quoted(pattern) + b"\r\n")
                status, raw = self.read_answer(client, b"L1")
                self.check_answer((verb, pattern), (status, raw))
                self.assertEqual(status, b"OK", (verb, pattern, raw[-200:]))
                listed = re.findall(rb"^\* " + verb + rb" \([^)]*\) \"/\" (.*)\r$", raw,
                                    re.MULTILINE)
                for name in listed:
                    self.assertIn(name, self.own_names, (verb, pattern))
                if pattern == b"*":
                    # The control: the user's own folders are listed, so a listing is seen.
                    self.assertIn(b"INBOX", listed, (verb, pattern))
                else:
                    self.count(verb, not listed)
            for reference in self.references():
                client.send(b"L2 " + verb + b" " + quoted(reference) + b' "*"\r\n')
                status, raw = self.read_answer(client, b"L2")
                self.check_answer((verb, reference), (status, raw))
                for name in re.findall(rb"^\* " + verb + rb" \([^)]*\) \"/\" (.*)\r$", raw,
                                       re.MULTILINE):
                    self.assertIn(name, self.own_names, (verb, reference))
                # The reference is not used: the user's own folders are listed.
                self.count(verb, False)

    def test_no_name_or_pattern_reaches_outside_the_users_folders(self):
        self.host = self.start_store_host(check_stop=True)
        before = self.sentinel_hashes()
        try:
            watcher = Watcher()
        except OSError as e:
            watcher = None
            print("traversal_test: no inotify here (%s); reads are checked by the answers "
                  "only" % e, file=sys.stderr)
        if watcher is not None:
            self.addCleanup(watcher.close)
            for directory in self.sentinel_dirs:
                watcher.watch(directory)
            # The watch sees a read of a sentinel.
            with open(os.path.join(self.outside, "AAAA0001.orv"), "rb") as f:
                f.read()
            self.assertIn((self.outside, "AAAA0001.orv"),
                          [(d, n) for d, n, _ in self.unexpected(watcher.events())])

        for extended in (False, True):
            for titles in (True, False):
                for key, on in (("Extended", extended), ("FolderName", titles)):
                    self.setting(key, "1" if on else "0")
                self.own_names = ([b"INBOX", b"&TtVOiw-", b"&TtVOiw-/&TgtPTQ-"] if titles else
                                  [b"INBOX", b"work.box", b"work.box/sub.box"])
                # LIST and LSUB first: the exact mode refuses them once a folder is selected.
                client = self.logged_in_reader()
                self.try_patterns(client)
                forms = ["quoted", "atom"] + (["literal"] if extended else [])
                for form in forms:
                    for name in self.names(form == "literal"):
                        if form == "atom" and not is_atom(name):
                            continue
                        self.try_name(client, name, form, extended)
                client.close()

        events = watcher.events() if watcher is not None else []
        self.assertEqual(self.unexpected(events), [])
        self.assertEqual(self.sentinel_hashes(), before)
        self.check_journal()
        figure("traversal: %d attempts, %d refused, the rest answered inside user1's folders; "
               "by command (tried, refused): %r", self.attempts, self.refused, self.by_command)
        # The same checks see the sentinel data when its own user asks for it.
        client = self.logged_in_reader(b"user2", b"other")
        self.assertEqual(command(client, b"S1 SELECT INBOX").status, b"OK")
        client.send(b"F1 FETCH 1 BODY.PEEK[]\r\n")
        with self.assertRaises(AssertionError):
            self.check_answer("control", self.read_answer(client, b"F1"))

    def test_index_names_reaching_outside_the_folder_touch_no_file(self):
        """Entry.lst lines whose names are no plain file names ("..\\..\\..\\evil" climbs
        out of the mailbox directory, "../../evil" into it, "C:evil" names a stream): in both
        modes every command that forms a message file's path or the host's key for them
        (FETCH of every kind, SEARCH, STORE, COPY, EXPUNGE) answers them as empty messages
        dated at the start of 1970, no file is opened or made for them anywhere and no host
        call names them; the plain names beside them are served as always."""
        evil = [b"..\\..\\..\\evil", b"../../evil", b"C:evil"]
        inbox = self.store.path("inbox.box")
        real = b"X-Orvex-Status: 40000000\r\n" + text_message("自分", 2)
        # AAAA0002 is an empty message file of that date: what the others must answer.
        with open(os.path.join(inbox, "AAAA0002.orv"), "wb"):
            pass
        os.utime(os.path.join(inbox, "AAAA0002.orv"), (0, 0))
        with open(os.path.join(inbox, "Entry.lst"), "wb") as f:
            for name, size in [(b"AAAA0001", len(real)), (b"AAAA0002", 0)] + [(n, 0) for n in evil]:
                f.write(name + b"=" + index_value(UNREAD, size) + b"\r\n")
        self.store.write("inbox.box", "Entry.ini",
                         b"[Property]\r\nTitle=Inbox\r\nTotal=%d\r\n" % (2 + len(evil)))
        self.host = self.start_store_host(check_stop=True)
        self.setting("FolderName", "0")
        # COPY gives work.box its UIDVALIDITY; the extended mode keeps UID records.
        skip = ("host-", "journal.txt", "Imap4.ini", "Imap4.uid", "Imap4.cache")
        names_before = sorted(p for p in read_tree(self.tmp)
                              if not os.path.basename(p).startswith(skip))
        hashes_before = self.sentinel_hashes()
        watcher = Watcher()
        self.addCleanup(watcher.close)
        for directory in self.sentinel_dirs + [inbox]:
            watcher.watch(directory)

        items = (b"(UID RFC822.SIZE INTERNALDATE BODYSTRUCTURE BODY ENVELOPE BODY[] "
                 b"BODY[HEADER] BODY[TEXT] BODY[1] RFC822 RFC822.HEADER RFC822.TEXT)")
        for extended in (False, True):
            self.setting("Extended", "1" if extended else "0")
            client = self.logged_in_reader()
            self.assertEqual(command(client, b"S1 SELECT INBOX").status, b"OK")
            client.send(b"F1 FETCH 1:* " + items + b"\r\n")
            status, raw = self.read_answer(client, b"F1")
            self.assertEqual(status, b"OK", raw[-200:])
            # One answer per message, its UID taken out: the three match the empty one's.
            answers = {}
            for line in re.split(rb"(?=\* \d+ FETCH )", raw[:raw.rindex(b"\r\nF1 ") + 2]):
                found = re.match(rb"\* (\d+) FETCH \(UID (\d+) ", line)
                if found:
                    answers[int(found.group(1))] = line[found.end():]
            self.assertEqual(sorted(answers), [1, 2, 3, 4, 5], raw[-300:])
            self.assertIn(b"RFC822.SIZE 2 INTERNALDATE \"01-Jan-1970 ", answers[2])
            self.assertIn(b"BODY[] {2}\r\n\r\n", answers[2])
            for number in (3, 4, 5):
                self.assertEqual(answers[number], answers[2], (extended, number))
            self.assertIn(b"fox", answers[1])
            # Marks (the fetch above was no peek), copies and deletions skip them.
            self.assertEqual(command(client, b"T1 STORE 3:5 +FLAGS (\\Seen \\Deleted)").status,
                             b"OK")
            client.send(b"C1 COPY %s work.box\r\n" % (b"3:5" if extended else b"4"))
            self.read_answer(client, b"C1")
            if extended:
                for criteria, found in ((b"SMALLER 3", b"2 3 4 5"), (b"TEXT fox", b"1"),
                                        (b"BEFORE 2-Jan-1970", b"2 3 4 5")):
                    client.send(b"R1 SEARCH " + criteria + b"\r\n")
                    status, raw = self.read_answer(client, b"R1")
                    self.assertEqual(raw.split(b"\r\n")[0], b"* SEARCH " + found, criteria)
                self.assertEqual(command(client, b"X1 EXPUNGE").status, b"OK")
            client.close()

        self.assertEqual(self.unexpected(watcher.events(), also=[(inbox, "AAAA000[12].orv"),
                                                                  (inbox, "Entry.*"),
                                                                  (inbox, "Imap4.ini*"),
                                                                  (inbox, "Imap4.uid*"),
                                                                  (inbox, "Imap4.cache*"),
                                                                  (inbox, "")]), [])
        self.assertEqual(sorted(p for p in read_tree(self.tmp)
                                if not os.path.basename(p).startswith(skip)), names_before)
        self.assertEqual(self.sentinel_hashes(), hashes_before)
        self.check_journal()
        # The index still lists them all: nothing was deleted.
        self.assertEqual([line[0] for line in self.store.index("inbox.box")],
                         [b"AAAA0001", b"AAAA0002"] + evil)
        calls = self.host_calls()
        self.assertFalse([c for c in calls if b"evil" in b"\t".join(c)], calls)
        self.assertIn([b"_OPAMarkMail@12", b"user1\\inbox.box\\AAAA0002", b"0x40000000", b"0"],
                      calls)

    def logged_in_reader(self, user=b"user1", password=b"secret"):
        client = self.greeted(ImapClient)
        self.assertEqual(command(client, b"L1 LOGIN %s %s" % (user, password)).status, b"OK")
        return client

    def unexpected(self, events, also=()):
        """The events that are not the server's own business: its settings file (and the
        temporary file it is replaced through) and its log, opening user1's root, and the host's
        journal and output, and those of the (directory, name pattern) pairs of also."""
        mailbox = self.mailbox.path
        allowed = {mailbox: ["Imap4.ini", "Imap4.ini.*.tmp", "Imap4.log", "user1"],
                   self.tmp: ["journal.txt", "host-*.out", "host-*.err", "host-tmp"]}
        for directory, pattern in also:
            allowed.setdefault(directory, []).append(pattern)
        left = []
        for directory, name, mask in events:
            # A pattern "" allows the directory itself to be opened.
            if any(fnmatch.fnmatch(name, p) for p in allowed.get(directory, [])):
                continue
            left.append((directory, name, hex(mask)))
        return left

    def check_journal(self):
        """Every path a host call names lies in user1's tree (or, for an APPEND, is the
        server's temporary file)."""
        mailbox = self.mailbox.path
        for call in self.host_calls():
            if call[0] == b"_OPAImportFile@12":
                source = call[1].decode("cp932").replace("\\", "/")
                self.assertTrue(source.startswith(self.host_tmp + "/") or
                                source.startswith(mailbox + "user1/") or
                                source.startswith(os.path.join(mailbox, "user1") + "/"), call)
                self.assertNotIn("/../", source + "/", call)
                paths = [call[2]]
            elif call[0] in (b"_OPAMarkMail@12", b"_OPADeleteMail@4"):
                paths = [call[1]]
            else:
                self.fail("an unexpected host call %r" % call)
            for path in paths:
                parts = re.split(rb"[\\/]", path)
                self.assertEqual(parts[0], b"user1", call)
                self.assertNotIn(b"..", parts, call)
                self.assertNotIn(b"", parts, call)


if __name__ == "__main__":
    unittest.main()
