"""FETCH and UID FETCH against a running host on a store of three messages (UIDs 3, 5 and 9):
message sets, argument and state checks, item lists and macros, the RFC822 items and BODY
sections with partial ranges, ENVELOPE, INTERNALDATE, BODYSTRUCTURE, which items ask the host
to mark a message as read, and a real client library reading the answers. Every response is
parsed by the independent reader (fetch_fixtures.ImapClient)."""

import datetime
import email.header
import imaplib
import io
import os
import unittest

import fetch_fixtures as fx
from fetch_fixtures import MESSAGE_1, MESSAGE_2, MESSAGE_3, MessageStoreTestCase
from harness import TIMEOUT, UNREAD
from imap_reader import MISSING, ParseError, parse_response, read_response

INBOX = fx.INBOX_MESSAGES


def fetched(answer):
    """(sequence number, UID) of each untagged FETCH of an answer, in order."""
    return [(f.sequence, f.get(b"UID")) for f in answer.fetches]


def header_of(message):
    return fx.client_form(message)[0]


def body_of(message):
    return fx.client_form(message)[1]


def decoded_header(value):
    """A header value with its encoded words decoded by Python's email package; the text
    between the words is kept as it is."""
    return "".join(part.decode(charset or "ascii") if isinstance(part, bytes) else part
                   for part, charset in email.header.decode_header(value.decode("ascii")))


class MessageSetTest(MessageStoreTestCase):

    def check_sets(self, line, items, cases):
        """FETCH line % set of each (set, [(sequence number, UID)]) case: the messages in
        that order, each with exactly the items (the UID first), then the completion alone
        when none match."""
        client = self.selected()
        tag = line.split(b" ")[0]
        for message_set, expected in cases:
            with self.subTest(set=message_set):
                answer = client.command(line % message_set)
                self.assertEqual(fetched(answer), expected)
                for fetch in answer.fetches:
                    self.assertEqual(fetch.names(), items)
                self.assertTrue(answer.raw.endswith(tag + b" OK FETCH complated\r\n"))
                if not expected:
                    self.assertEqual(answer.raw, tag + b" OK FETCH complated\r\n")

    def test_sets_in_sequence_mode(self):
        cases = [
            (b"1:*", [1, 2, 3]),
            (b"*", [1, 2, 3]),
            (b"2:*,1", [2, 3, 1]),
            (b"0", [1, 2, 3]),
            (b"2:10", [2, 3]),
            (b"3", [3]),
            (b"1,1", [1, 1]),
            (b"3,1:2", [3, 1, 2]),
            (b"3:1", []),
            (b"5", []),
            (b"4:*", []),
        ]
        self.check_sets(b"t1 FETCH %s (UID)", [b"UID"],
                        [(s, [(n, INBOX[n - 1].uid) for n in numbers]) for s, numbers in cases])

    def test_sets_in_uid_mode(self):
        everything = [(1, 3), (2, 5), (3, 9)]
        # The UID comes first, before the items asked for.
        self.check_sets(b"t2 UID FETCH %s (FLAGS)", [b"UID", b"FLAGS"], [
            (b"1:*", everything),
            (b"*", everything),
            (b"0", everything),
            (b"4:6", [(2, 5)]),
            (b"5:*", [(2, 5), (3, 9)]),
            (b"9", [(3, 9)]),
            (b"9,3", [(3, 9), (1, 3)]),
            (b"6:8", []),
            (b"100", []),
            (b"10:*", []),
        ])

    def test_uid_fetch_of_5_to_the_end_exactly(self):
        client = self.selected()
        self.assertEqual(client.command(b"A1 UID FETCH 5:* (FLAGS)").raw,
                         b"* 2 FETCH (UID 5 FLAGS (\\Seen \\Answered))\r\n"
                         b"* 3 FETCH (UID 9 FLAGS (\\Deleted \\Draft \\Recent))\r\n"
                         b"A1 OK FETCH complated\r\n")

    def test_sets_in_an_empty_folder(self):
        client = self.selected(b"Empty")
        for line in (b"e1 FETCH 1:* (FLAGS)", b"e1 FETCH * (FLAGS)", b"e1 FETCH 0 FLAGS",
                     b"e1 UID FETCH 1:* (FLAGS)", b"e1 UID FETCH * (FLAGS)"):
            with self.subTest(line=line):
                self.assertEqual(client.command(line).raw, b"e1 OK FETCH complated\r\n")


class FetchCommandTest(MessageStoreTestCase):

    def test_state_and_argument_count(self):
        # Before SELECT: the state answer, with the command word as typed.
        self.assert_refused([(b"f1 FETCH 1 FLAGS", b"f1 BAD State FETCH\r\n"),
                             (b"f2 uid fetch 1 (FLAGS)", b"f2 BAD State fetch\r\n")],
                            [b"f3 FETCH 1 FLAGS UID", b"f3 FETCH 1", b"f3 FETCH",
                             b"f3 UID FETCH 3 FLAGS UID", b"f3 FETCH 1 (FLAGS) (UID)"])

    def test_item_lists(self):
        client = self.selected()
        size_3 = b"%d" % len(fx.whole_message(MESSAGE_3))
        cases = [
            (b"FETCH 1 ()", b"* 1 FETCH ()\r\n"),
            (b"UID FETCH 3 ()", b"* 1 FETCH (UID 3)\r\n"),
            (b"FETCH 1 (XYZZY FLAGS)", b"* 1 FETCH (FLAGS (\\Recent))\r\n"),
            (b"FETCH 1 (FLAGS XYZZY UID)", b"* 1 FETCH (FLAGS (\\Recent) UID 3)\r\n"),
            (b"FETCH 1 (UID FLAGS)", b"* 1 FETCH (UID 3 FLAGS (\\Recent))\r\n"),
            # The UID form writes the UID first and only once.
            (b"UID FETCH 5 (FLAGS UID)", b"* 2 FETCH (UID 5 FLAGS (\\Seen \\Answered))\r\n"),
            # Names come back as the client wrote them.
            (b"FETCH 3 (rfc822.size uid Flags)",
             b"* 3 FETCH (rfc822.size " + size_3 + b" uid 9 Flags (\\Deleted \\Draft \\Recent))"
             b"\r\n"),
        ]
        for command, untagged in cases:
            with self.subTest(command=command):
                answer = client.command(b"i1 " + command)
                self.assertEqual(answer.raw, untagged + b"i1 OK FETCH complated\r\n")
        # The command word is echoed as typed, in the untagged line and in the completion.
        self.assertEqual(client.command(b"i2 fetch 2 flags").raw,
                         b"* 2 fetch (flags (\\Seen \\Answered))\r\ni2 OK fetch complated\r\n")

    def test_macros_in_any_case(self):
        client = self.selected()
        all_names = [b"FLAGS", b"INTERNALDATE", b"RFC822.SIZE", b"ENVELOPE"]
        cases = [
            (b"FETCH 2 ALL", all_names),
            (b"FETCH 2 all", all_names),
            (b"FETCH 2 (aLl)", all_names),
            (b"FETCH 2 fast", all_names[:3]),
            (b"FETCH 2 FAST", all_names[:3]),
            (b"FETCH 2 Full", all_names + [b"BODY[]"]),
            (b"UID FETCH 5 ALL", [b"UID"] + all_names),
            (b"UID FETCH 5 (uid all UID)", [b"UID"] + all_names),
            (b"UID FETCH 5 (FAST ALL)", [b"UID"] + all_names[:3] + all_names),
        ]
        whole = fx.whole_message(MESSAGE_2)
        for command, names in cases:
            with self.subTest(command=command):
                (fetch,) = client.command(b"m1 " + command).fetches
                self.assertEqual(fetch.sequence, 2)
                self.assertEqual(fetch.names(), names)
                self.assertEqual(fetch.get(b"FLAGS"), [b"\\Seen", b"\\Answered"])
                self.assertEqual(fetch.get(b"RFC822.SIZE"), len(whole))
                self.assertEqual(fetch.get(b"INTERNALDATE"), b"01-Jan-2001 05:00:00 +0900")
                if b"BODY[]" in names:
                    self.assertEqual(fetch.get(b"BODY[]"), whole)

    def test_rfc822_items(self):
        client = self.selected()
        for n, message in enumerate(INBOX, 1):
            with self.subTest(message=message.file_name):
                answer = client.command(
                    b"r1 FETCH %d (RFC822 RFC822.HEADER RFC822.TEXT RFC822.SIZE)" % n)
                (fetch,) = answer.fetches
                whole = fx.whole_message(message)
                self.assertEqual(fetch.get(b"RFC822"), whole)
                self.assertTrue(fetch.get(b"RFC822").literal)
                self.assertEqual(fetch.get(b"RFC822.HEADER"), header_of(message) + b"\r\n")
                # An empty body is sent without a value.
                self.assertEqual(fetch.get(b"RFC822.TEXT"), body_of(message) or MISSING)
                self.assertEqual(fetch.get(b"RFC822.SIZE"), len(whole))
        # The host's status line never reaches the client; LF-only lines stay LF.
        (fetch,) = client.command(b"r2 FETCH 3 RFC822").fetches
        self.assertEqual(fetch.get(b"RFC822"),
                         b"Date: Sun, 29 Feb 2004 00:30:00 +0900\nFrom: nobody@example.net\n"
                         b"Subject: empty\n\r\n")
        self.assertEqual(client.command(b"r3 FETCH 3 (RFC822.TEXT FLAGS)").raw,
                         b"* 3 FETCH (RFC822.TEXT FLAGS (\\Deleted \\Draft \\Recent))\r\n"
                         b"r3 OK FETCH complated\r\n")

    def test_whole_message_and_partial_ranges(self):
        client = self.selected()
        whole_1 = fx.whole_message(MESSAGE_1)
        whole_3 = fx.whole_message(MESSAGE_3)
        self.assertEqual(client.command(b"p1 FETCH 1 BODY.PEEK[]<0.10>").raw,
                         b"* 1 FETCH (BODY[]<0> {10}\r\n" + whole_1[:10] + b")\r\n"
                         b"p1 OK FETCH complated\r\n")
        cases = [
            (1, b"BODY.PEEK[]", b"BODY[]", whole_1),
            (1, b"body.peek[]", b"body[]", whole_1),
            (1, b"BODY", b"BODY[]", whole_1),
            (1, b"BODY[]<5.100>", b"BODY[]<5>", whole_1[5:105]),
            # Fewer bytes when the message ends sooner.
            (3, b"BODY[]<5.100>", b"BODY[]<5>", whole_3[5:]),
            (3, b"BODY.PEEK[]<70.20>", b"BODY[]<70>", whole_3[70:]),
            # An origin at or past the end: the name alone.
            (3, b"BODY[]<80.10>", b"BODY[]<80>", MISSING),
            (3, b"BODY[]<1000.10>", b"BODY[]<1000>", MISSING),
            # A count of 0 gives nothing either.
            (1, b"BODY[]<3.0>", b"BODY[]<3>", MISSING),
            # Ranges of header and text sections are echoed, not applied.
            (1, b"BODY.PEEK[TEXT]<0.5>", b"BODY[TEXT]<0>", body_of(MESSAGE_1)),
            (1, b"BODY.PEEK[HEADER]<2.3>", b"BODY[HEADER]<2>", header_of(MESSAGE_1) + b"\r\n"),
        ]
        for n, item, name, value in cases:
            with self.subTest(item=item, message=n):
                (fetch,) = client.command(b"p2 FETCH %d (%s)" % (n, item)).fetches
                self.assertEqual(fetch.items, [(name, value)])

    def test_header_and_text_sections(self):
        client = self.selected()
        fields = fx.header_fields(MESSAGE_1)

        def named(*names):
            return [f for f in fields if f.split(b":")[0].lower() in names]

        def not_named(*names):
            return [f for f in fields if f.split(b":")[0].lower() not in names]

        cases = [
            (1, b"BODY.PEEK[HEADER]", b"BODY[HEADER]", header_of(MESSAGE_1) + b"\r\n"),
            (3, b"BODY.PEEK[HEADER]", b"BODY[HEADER]", header_of(MESSAGE_3) + b"\r\n"),
            # Fields with their continuation lines, in header order, names in any case.
            (1, b"BODY.PEEK[HEADER.FIELDS (subject from)]",
             b"BODY[HEADER.FIELDS (subject from)]", b"".join(named(b"from", b"subject")) + b"\r\n"),
            (1, b"BODY.PEEK[HEADER.FIELDS (TO)]", b"BODY[HEADER.FIELDS (TO)]",
             b"".join(named(b"to")) + b"\r\n"),
            (1, b"BODY.PEEK[HEADER.FIELDS.NOT (RECEIVED)]", b"BODY[HEADER.FIELDS.NOT (RECEIVED)]",
             b"".join(not_named(b"received")) + b"\r\n"),
            (1, b"BODY.PEEK[header.fields.not (Received X-Mailer Cc)]",
             b"BODY[header.fields.not (Received X-Mailer Cc)]",
             b"".join(not_named(b"received", b"x-mailer", b"cc")) + b"\r\n"),
            # No such field: the empty line alone.
            (1, b"BODY.PEEK[HEADER.FIELDS (X-NOTHERE)]", b"BODY[HEADER.FIELDS (X-NOTHERE)]",
             b"\r\n"),
            # The host's status line is not a field of the message.
            (1, b"BODY.PEEK[HEADER.FIELDS (X-ORVEX-STATUS)]",
             b"BODY[HEADER.FIELDS (X-ORVEX-STATUS)]", b"\r\n"),
            (1, b"BODY.PEEK[TEXT]", b"BODY[TEXT]", body_of(MESSAGE_1)),
            (2, b"BODY.PEEK[TEXT]", b"BODY[TEXT]", body_of(MESSAGE_2)),
            # An empty body: the name alone, no literal.
            (3, b"BODY[TEXT]", b"BODY[TEXT]", MISSING),
            # Part numbers and MIME are echoed without data.
            (2, b"BODY[1]", b"BODY[1]", MISSING),
            (2, b"BODY.PEEK[1.MIME]", b"BODY[1.MIME]", MISSING),
            (2, b"BODY[2.1]", b"BODY[2.1]", MISSING),
        ]
        for n, item, name, value in cases:
            with self.subTest(item=item, message=n):
                (fetch,) = client.command(b"h1 FETCH %d (%s)" % (n, item)).fetches
                self.assertEqual(fetch.items, [(name, value)])
        # The exact bytes of the items without values.
        self.assertEqual(client.command(b"h2 FETCH 3 (BODY[TEXT])").raw,
                         b"* 3 FETCH (BODY[TEXT])\r\nh2 OK FETCH complated\r\n")
        self.assertEqual(client.command(b"h3 FETCH 2 (BODY[1] BODY[1.MIME] FLAGS)").raw,
                         b"* 2 FETCH (BODY[1] BODY[1.MIME] FLAGS (\\Seen \\Answered))\r\n"
                         b"h3 OK FETCH complated\r\n")
        # The Japanese subject of the header section decodes to the file's text.
        (subject,) = named(b"subject")
        self.assertEqual(decoded_header(subject.split(b":", 1)[1].replace(b"\r\n", b"")),
                         "会議のお知らせ (3月分)")
        self.assertEqual(body_of(MESSAGE_1).decode("iso2022_jp"),
                         "本日の会議は十時からです。\r\nLine two ends in LF alone.\n以上\r\n")


class EnvelopeAndDateTest(MessageStoreTestCase):

    def test_envelopes(self):
        client = self.selected()
        answer = client.command(b"v1 FETCH 1:3 (ENVELOPE)")
        envelopes = [f.get(b"ENVELOPE") for f in answer.fetches]
        self.assertEqual(len(envelopes), 3)

        # Message 1: folded From with a quoted display name holding a comma, To with a comment
        # and a backslash in a quoted name, a Shift_JIS Subject folded onto two lines.
        taro = [b"Yamada, Taro", None, b"taro", b"example.jp"]
        date, subject, *lists, in_reply_to, message_id = envelopes[0]
        self.assertEqual(date, b"Sun, 4 Mar 2001 10:02:03 +0900")
        self.assertTrue(subject.startswith(b"=?ISO-2022-JP?B?"), subject)
        self.assertEqual(decoded_header(subject), "会議のお知らせ (3月分)")
        self.assertEqual(lists, [
            [taro], [taro], [taro],
            [[b"Hanako Sato", None, b"hanako", b"example.jp"],
             [b"Jiro \\ Suzuki", None, b"jiro", b"example.com"]],
            [[b"", None, b"cc", b"example.org"]],
            None])
        self.assertEqual((in_reply_to, message_id), (None, b"<20010304100203.A1@example.jp>"))

        # Message 2: a Shift_JIS display name, Sender and Reply-To of their own, a subject with
        # a double quote and a backslash, which go out escaped.
        date, subject, from_, sender, reply_to, to, cc, bcc, in_reply_to, message_id = \
            envelopes[1]
        self.assertEqual(subject, b'Re: "quoted" C:\\path')
        self.assertIn(b'"Re: \\"quoted\\" C:\\\\path"', answer.raw)
        (name, route, mailbox, host), = from_
        self.assertEqual(decoded_header(name), "山田 太郎")
        self.assertEqual((route, mailbox, host), (None, b"taro", b"example.jp"))
        self.assertEqual(sender, [[b"Office", None, b"secretary", b"example.jp"]])
        self.assertEqual(reply_to, [[b"List", None, b"list", b"example.jp"],
                                    [b"", None, b"other", b"example.jp"]])
        self.assertEqual((to, cc, bcc), ([[b"", None, b"hanako", b"example.jp"]], None, None))
        self.assertEqual((in_reply_to, message_id), (b"<1@example.jp>", b"<2@example.jp>"))

        # Message 3: sender and reply-to repeat the from list.
        nobody = [[b"", None, b"nobody", b"example.net"]]
        self.assertEqual(envelopes[2], [b"Sun, 29 Feb 2004 00:30:00 +0900", b"empty", nobody,
                                        nobody, nobody, None, None, None, None, None])

    def test_internal_dates_name_the_file_time_in_plus_0900(self):
        client = self.selected()
        answer = client.command(b"d1 FETCH 1:* INTERNALDATE")
        dates = [f.get(b"INTERNALDATE") for f in answer.fetches]
        # 01:02:03 UTC; 20:00 UTC on New Year's Eve is the next year in +0900; 15:30 UTC on
        # 28 February of a leap year is the 29th.
        self.assertEqual(dates, [b"04-Mar-2001 10:02:03 +0900", b"01-Jan-2001 05:00:00 +0900",
                                 b"29-Feb-2004 00:30:00 +0900"])
        for message, date in zip(INBOX, dates):
            when = datetime.datetime.strptime(date.decode(), "%d-%b-%Y %H:%M:%S %z")
            self.assertEqual(when.timestamp(), message.mtime)

    def test_bodystructure(self):
        client = self.selected()
        # The attachment's name goes out as the Shift_JIS bytes of the file, eight-bit bytes in
        # a quoted string.
        (fetch,) = client.command(b"b1 FETCH 2 (BODYSTRUCTURE)", allow_8bit=True).fetches
        name = "報告.txt".encode("cp932")
        text_part = [b"text", b"plain", [b"charset", b"ISO-2022-JP"], None, None, b"7bit",
                     len("添付します。".encode("iso2022_jp")) + 2, 1, None, None, None]
        attachment = [b"application", b"octet-stream", [[b"name", name], [b"NAME", name]],
                      None, None, b"base64", len(b"SGVsbG8sIHdvcmxkIQ==") + 2, 1, None, None,
                      None]
        self.assertEqual(fetch.get(b"BODYSTRUCTURE"),
                         [text_part, attachment, b"mixed", [b"boundary", b"xyz"]])

        # A message without Content-Type: text/plain in us-ascii. Each body line counts its
        # ISO-2022-JP bytes and CR LF; the line that ends in LF alone keeps the LF.
        (fetch,) = client.command(b"b2 FETCH 1 BODYSTRUCTURE").fetches
        lines = [line.split(b"\r")[0] for line in fx.split_lines(fx.MESSAGE_1.data)]
        body = lines[lines.index(b"") + 1:]
        size = sum(len(line.decode("cp932").encode("iso2022_jp")) + 2 for line in body)
        self.assertEqual(fetch.get(b"BODYSTRUCTURE"),
                         [b"text", b"plain", [b"charset", b"us-ascii"], None, None, b"7bit",
                          size, 3, None, None, None])
        self.assertEqual(self.marks(), [])


class RewrittenFileTest(MessageStoreTestCase):
    """What the server learns of a message file holds for that file as it is: a file the host
    rewrites is read again at the next FETCH, so a size and the literal sent with it always
    agree; what one session learned serves the next without reading the file again, and the
    next run of the host too."""

    def rewrite(self, old, new, keep_stamp=False):
        """Replaces old by new in message 3's file, in place. The file's time moves on a
        second, unless keep_stamp: then it is put back, so only the bytes differ."""
        path = self.store.path("inbox.box", MESSAGE_3.file_name + ".orv")
        before = os.stat(path)
        with open(path, "r+b") as f:
            data = f.read().replace(old, new)
            f.seek(0)
            f.write(data)
            f.truncate()
        later = 0 if keep_stamp else 10 ** 9
        os.utime(path, ns=(before.st_atime_ns, before.st_mtime_ns + later))

    def subject_and_sizes(self, client, tag, items=b"RFC822.SIZE ENVELOPE BODY.PEEK[]"):
        (fetch,) = client.command(tag + b" FETCH 3 (" + items + b")").fetches
        body = fetch.get(b"BODY[]") if b"BODY[]" in fetch.names() else None
        return (fetch.get(b"ENVELOPE")[1], int(fetch.get(b"RFC822.SIZE")),
                None if body is None else len(body))

    def test_rewritten_files_and_what_sessions_share(self):
        client = self.selected()
        facts = self.store.path("inbox.box", "Imap4.cache")
        self.assertFalse(os.path.exists(facts))
        subject, size, literal = self.subject_and_sizes(client, b"f1")
        self.assertEqual((subject, size), (b"empty", literal))
        # What the FETCH learned goes to the folder's file after its answer, while the session
        # goes on (the next command's answer waits for it).
        self.assertTrue(client.command(b"n1 NOOP").raw.endswith(b"n1 OK NOOP complated\r\n"))
        with open(facts, "rb") as f:
            self.assertTrue(f.read().startswith(b"Imap4.cache 1\n"))

        # Rewritten with the same size, then with another: each FETCH serves the file as it is.
        self.rewrite(b"Subject: empty", b"Subject: other")
        self.assertEqual(self.subject_and_sizes(client, b"f2", b"RFC822.SIZE ENVELOPE"),
                         (b"other", size, None))
        self.assertEqual(self.subject_and_sizes(client, b"f3"), (b"other", size, size))
        self.rewrite(b"Subject: other", b"Subject: longer one")
        self.assertEqual(self.subject_and_sizes(client, b"f4", b"RFC822.SIZE ENVELOPE"),
                         (b"longer one", size + 5, None))
        self.assertEqual(self.subject_and_sizes(client, b"f5"),
                         (b"longer one", size + 5, size + 5))

        # A new session takes the size and envelope the first one learned from the cache: with
        # the file's bytes changed under the same stamp, it still answers what was learned.
        self.rewrite(b"Subject: longer one", b"Subject: longer two", keep_stamp=True)
        other = self.selected()
        self.assertEqual(self.subject_and_sizes(other, b"g1", b"RFC822.SIZE ENVELOPE"),
                         (b"longer one", size + 5, None))
        # So does a session of the host's next run: the folder's own file kept it.
        client.close()
        other.close()
        self.assertEqual(self.host.stop(), 0, self.host.stderr())
        self.host = self.start_store_host(check_stop=True)
        self.assertEqual(self.subject_and_sizes(self.selected(), b"h1", b"RFC822.SIZE ENVELOPE"),
                         (b"longer one", size + 5, None))
        # Only the file's stamp decides: once it moves, the file is read again.
        self.rewrite(b"Subject: longer two", b"Subject: longer two")
        self.assertEqual(self.subject_and_sizes(self.selected(), b"h2", b"RFC822.SIZE ENVELOPE"),
                         (b"longer two", size + 5, None))

        # A listing of a long folder has its files stamped ahead of the walk: each message is
        # still answered from its own file as it is at that FETCH, its time included.
        def text(i, subject):
            return b"Subject: %s\r\n\r\nbody %d\r\n" % (subject, i)

        count, first_time = 600, 1600000000
        self.store.folder("long.box", title="Long", uid_validity=11, messages=[
            ("AAAA%04d" % (i + 1), UNREAD, text(i, b"s%d" % i), first_time + 60 * i)
            for i in range(count)])
        expected = {i: (b"s%d" % i, len(text(i, b"s%d" % i))) for i in range(count)}

        def listing(client, tag):
            items = b" FETCH 1:* (RFC822.SIZE ENVELOPE INTERNALDATE)"
            fetches = client.command(tag + items).fetches
            self.assertEqual([f.sequence for f in fetches], list(range(1, count + 1)))
            for f in fetches:
                i = f.sequence - 1
                self.assertEqual((f.get(b"ENVELOPE")[1], int(f.get(b"RFC822.SIZE"))),
                                 expected[i], i)
                when = datetime.datetime.strptime(f.get(b"INTERNALDATE").decode(),
                                                  "%d-%b-%Y %H:%M:%S %z")
                self.assertEqual(when.timestamp(), first_time + 60 * i, i)

        listing(self.selected(b"Long"), b"k1")
        for i in (0, 1, 299, 598, 599):
            path = self.store.path("long.box", "AAAA%04d.orv" % (i + 1))
            with open(path, "r+b") as f:
                data = f.read().replace(b"Subject: s%d" % i, b"Subject: new %d" % i)
                f.seek(0)
                f.write(data)
                f.truncate()
            os.utime(path, (first_time + 60 * i, first_time + 60 * i))
            expected[i] = (b"new %d" % i, len(text(i, b"new %d" % i)))
        listing(self.selected(b"Long"), b"k2")


class MarkAsReadTest(MessageStoreTestCase):

    def test_which_items_ask_the_host_to_mark_as_read(self):
        client = self.selected()
        # Number of _OPAMarkMail@12 calls for each item list on a freshly selected message 1.
        cases = [
            (b"RFC822", 0),
            (b"RFC822.HEADER", 0),
            (b"RFC822.TEXT", 1),
            (b"RFC822.SIZE", 1),
            (b"BODY[]", 1),
            (b"BODY", 1),
            (b"BODY[]<0.10>", 1),
            (b"BODY.PEEK[]", 0),
            (b"BODY.PEEK[]<0.10>", 0),
            # The first non-PEEK header section loads the header (one mark) and marks again.
            (b"BODY[HEADER]", 2),
            (b"(BODY[HEADER] BODY[HEADER])", 3),
            (b"(RFC822.HEADER BODY[HEADER])", 1),
            (b"BODY[HEADER.FIELDS (FROM)]", 2),
            (b"BODY[HEADER.FIELDS.NOT (FROM)]", 2),
            (b"BODY.PEEK[HEADER]", 0),
            (b"BODY.PEEK[HEADER.FIELDS (FROM)]", 0),
            (b"BODY[TEXT]", 1),
            (b"BODY.PEEK[TEXT]", 0),
            (b"BODY[1]", 0),
            (b"BODY[1.MIME]", 0),
            (b"(ENVELOPE INTERNALDATE BODYSTRUCTURE FLAGS UID)", 0),
            (b"ALL", 1),
            (b"fast", 1),
            (b"FULL", 2),
            (b"(RFC822 RFC822.SIZE RFC822.TEXT)", 2),
        ]
        key = fx.message_key(MESSAGE_1)
        self.new_marks()
        for items, count in cases:
            with self.subTest(items=items):
                # A new selection forgets the texts loaded before.
                self.select(client)
                client.command(b"k1 FETCH 1 " + items)
                self.assertEqual(self.new_marks(), [(key, UNREAD, 0)] * count)

    def test_marks_for_each_message_and_the_flags_stay_as_selected(self):
        client = self.selected()
        answer = client.command(b"k2 FETCH 1:* (RFC822.SIZE FLAGS)")
        self.assertEqual([f.get(b"FLAGS") for f in answer.fetches],
                         [[b"\\Recent"], [b"\\Seen", b"\\Answered"],
                          [b"\\Deleted", b"\\Draft", b"\\Recent"]])
        self.assertEqual(self.marks(),
                         [(fx.message_key(m), UNREAD, 0) for m in INBOX])
        # An empty body is still marked; the UID form marks the message by its key.
        self.new_marks()
        client.command(b"k3 UID FETCH 9 (BODY[TEXT])")
        client.command(b"k4 UID FETCH 4:6 (RFC822.TEXT)")
        self.assertEqual(self.new_marks(),
                         [(fx.message_key(MESSAGE_3), UNREAD, 0),
                          (fx.message_key(MESSAGE_2), UNREAD, 0)])


class ClientLibraryTest(MessageStoreTestCase):

    def test_imaplib_reads_the_answers(self):
        imap = imaplib.IMAP4("127.0.0.1", self.port, timeout=TIMEOUT)
        self.addCleanup(imap.sock.close)
        self.assertEqual(imap.login(fx.USER, fx.PASSWORD)[0], "OK")
        status, data = imap.select("INBOX")
        self.assertEqual((status, data), ("OK", [b"3"]))

        status, data = imap.fetch("1:2", "(RFC822)")
        self.assertEqual(status, "OK")
        literals = [item for item in data if isinstance(item, tuple)]
        self.assertEqual([head for head, _ in literals],
                         [b"%d (RFC822 {%d}" % (n, len(fx.whole_message(m)))
                          for n, m in ((1, MESSAGE_1), (2, MESSAGE_2))])
        self.assertEqual([text for _, text in literals],
                         [fx.whole_message(MESSAGE_1), fx.whole_message(MESSAGE_2)])
        # The library parses the message itself.
        parsed = email.message_from_bytes(literals[1][1])
        self.assertEqual(parsed.get_content_type(), "multipart/mixed")
        self.assertEqual(len(parsed.get_payload()), 2)

        status, data = imap.uid("FETCH", "4:*", "(FLAGS INTERNALDATE)")
        self.assertEqual(status, "OK")
        self.assertEqual(len(data), 2)
        self.assertEqual([imaplib.ParseFlags(line) for line in data],
                         [(b"\\Seen", b"\\Answered"), (b"\\Deleted", b"\\Draft", b"\\Recent")])
        for line, message in zip(data, (MESSAGE_2, MESSAGE_3)):
            self.assertIn(b"UID %d " % message.uid, line)
            stamp = imaplib.Internaldate2tuple(line)
            self.assertIsNotNone(stamp, line)
            self.assertEqual(datetime.datetime(*stamp[:6]).timestamp(), message.mtime)

        status, data = imap.uid("SEARCH", None, "ALL")
        self.assertEqual((status, data), ("OK", [b"3 5 9"]))
        self.assertEqual(imap.logout()[0], "BYE")


class ReaderTest(unittest.TestCase):
    """The reader that every answer above must pass refuses what IMAP does not allow."""

    def test_well_formed_responses(self):
        data = (b'* 12 fetch (UID 7 FLAGS (\\Seen $Work) BODY[HEADER.FIELDS (FROM "TO")]<0> '
                b'{5}\r\nab\r\nc RFC822.TEXT INTERNALDATE " 4-Mar-2001 10:02:03 +0900" '
                b'ENVELOPE (NIL "a \\"b\\" \\\\" (("n" NIL "m" "h")("" NIL "x" "")) NIL NIL '
                b'NIL NIL NIL NIL "<id>"))\r\n')
        stream = io.BytesIO(data + b"* SEARCH\r\n")
        # The literal's bytes are taken by count, whatever CR LF they hold.
        self.assertEqual(read_response(stream.readline, stream.read), data)
        self.assertEqual(read_response(stream.readline, stream.read), b"* SEARCH\r\n")
        fetch = parse_response(data)
        self.assertEqual((fetch.sequence, fetch.word), (12, b"fetch"))
        section = b'BODY[HEADER.FIELDS (FROM "TO")]<0>'
        self.assertEqual(fetch.names(), [b"UID", b"FLAGS", section, b"RFC822.TEXT",
                                         b"INTERNALDATE", b"ENVELOPE"])
        self.assertEqual(fetch.get(b"FLAGS"), [b"\\Seen", b"$Work"])
        self.assertEqual(fetch.get(section), b"ab\r\nc")
        self.assertIs(fetch.get(b"RFC822.TEXT"), MISSING)
        self.assertEqual(fetch.get(b"ENVELOPE")[1], b'a "b" \\')
        self.assertEqual(fetch.get(b"ENVELOPE")[2], [[b"n", None, b"m", b"h"],
                                                     [b"", None, b"x", b""]])
        self.assertEqual(parse_response(b"* SEARCH 3 5 9\r\n").numbers, [3, 5, 9])
        listed = parse_response(b'* LIST (\\HasChildren \\Subscribed) "/" "a \\"b\\"" '
                                b'("CHILDINFO" ("SUBSCRIBED") X 7)\r\n')
        self.assertEqual((listed.word, listed.attributes, listed.delimiter, listed.name),
                         (b"LIST", [b"\\HasChildren", b"\\Subscribed"], b"/", b'a "b"'))
        self.assertEqual(listed.extended, [(b"CHILDINFO", [b"SUBSCRIBED"]), (b"X", 7)])
        listed = parse_response(b"* lsub () NIL {3}\r\na]b\r\n")
        self.assertEqual((listed.word, listed.delimiter, listed.name), (b"lsub", None, b"a]b"))
        status = parse_response(b'* STATUS "a b" (MESSAGES 3 uidnext 9)\r\n')
        self.assertEqual((status.name, status.items), (b"a b", [(b"MESSAGES", 3), (b"uidnext", 9)]))

    def test_malformed_responses(self):
        for data in [
                b'* 1 FETCH (ENVELOPE (NIL "say "hi"" NIL NIL NIL NIL NIL NIL NIL NIL))\r\n',
                b'* 1 FETCH (ENVELOPE (NIL "C:\\path" NIL NIL NIL NIL NIL NIL NIL NIL))\r\n',
                b'* 1 FETCH (ENVELOPE (NIL "\x95\xf1" NIL NIL NIL NIL NIL NIL NIL NIL))\r\n',
                b'* 1 FETCH (ENVELOPE (NIL NIL () NIL NIL NIL NIL NIL NIL NIL))\r\n',
                b'* 1 FETCH (FLAGS (\\Seen)\r\n',
                b'* 1 FETCH (FLAGS (\\Seen))) \r\n',
                b'* 1 FETCH (UID 3  FLAGS ())\r\n',
                b'* 1 FETCH (UID 0)\r\n',
                b'* 0 FETCH (UID 3)\r\n',
                b'* 1 FETCH (RFC822.SIZE "5")\r\n',
                b'* 1 FETCH (XYZZY 5)\r\n',
                b'* 1 FETCH (BODY[FOO] NIL)\r\n',
                b'* 1 FETCH (BODY[] {5}\r\nabc)\r\n',
                b'* 1 FETCH (INTERNALDATE "4-Mar-2001 10:02:03 +0900")\r\n',
                b'* 1 FETCH (INTERNALDATE "04-Mar-2001 10:02:03")\r\n',
                b'* SEARCH 1 0\r\n',
                b'* LIST (\\Noinferiors) "/" \r\n',                  # no name
                b'* LIST (\\Noinferiors) "/" Sent mail\r\n',         # a blank unquoted
                b'* LIST (\\Noinferiors) "/" "\x82\xa0"\r\n',        # 8-bit
                b'* LIST (\\HasChildren \\Noinferiors) "/" a\r\n',
                b'* LIST () "/" a ("CHILDINFO")\r\n',
                b'* STATUS a (MESSAGES 3 FOO )\r\n',
        ]:
            with self.subTest(data=data):
                with self.assertRaises(ParseError):
                    parse_response(data)
        self.assertIsNotNone(parse_response(
            b'* 1 FETCH (ENVELOPE (NIL "\x95\xf1" NIL NIL NIL NIL NIL NIL NIL NIL))\r\n',
            allow_8bit=True))


if __name__ == "__main__":
    unittest.main()
