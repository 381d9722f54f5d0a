"""Extended mode FETCH items a standard reader needs: body part sections (BODY[n], n.MIME, the
sections of an attached message, partial ranges, NIL for a part that does not exist) cut from
exactly the bytes of BODY[], marking as read only without PEEK; attachment names, quoted
display names and an attached message's header as encoded words in the message, its
BODYSTRUCTURE and its ENVELOPE."""

import email
import email.header
import email.policy
import re
import unittest

from harness import UNREAD, StoreTestCase, sjis
from imap_reader import parse_response

MARK = "_OPAMarkMail@12"

NAME = '鈴木 "スズキ" 一郎'
FILE_NAME = "見積書.csv"
TEXT = "いつもお世話になっております。\r\n見積書を添付いたします。\r\n"


MULTIPART = sjis(
    "From: \"鈴木 \\\"スズキ\\\" 一郎\" <suzuki@example.jp>\r\n"
    "Subject: 見積書\r\n"
    "MIME-Version: 1.0\r\n"
    "Content-Type: multipart/mixed;\r\n boundary=\"==b1\"\r\n"
    "\r\n"
    "--==b1\r\n"
    "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
    "\r\n" + TEXT +
    "--==b1\r\n"
    "Content-Type: text/csv; name=\"見積書.csv\"\r\n"
    "Content-Disposition: attachment; filename=\"見積書.csv\"\r\n"
    "\r\n"
    "a,b\r\n1,2\r\n"
    "--==b1\r\n"
    "Content-Type: message/rfc822\r\n"
    "\r\n"
    "Subject: 転送\r\n"
    "From: a@example.jp\r\n"
    "\r\n"
    "転送された本文\r\n"
    "--==b1--\r\n")


def literal(answer, item):
    """The bytes of the literal that follows item in a FETCH answer; None for NIL."""
    at = answer.index(item) + len(item)
    if answer[at:at + 4] == b" NIL":
        return None
    size = re.match(rb" \{(\d+)\}\r\n", answer[at:])
    start = at + size.end()
    return answer[start:start + int(size.group(1))]


def decoded_word(word):
    text, charset = email.header.decode_header(word.decode())[0]
    return text.decode(charset)


class ExtendedFetchTest(StoreTestCase):
    extended = True

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=7,
                          messages=[("AAAA0001", UNREAD, MULTIPART)])
        self.host = self.start_store_host(check_stop=True)
        self.client = self.logged_in()
        self.answer(b"s1 SELECT INBOX")

    def answer(self, line):
        """Sends a command; its answer through the tagged line, which must be OK."""
        answer = self.client.answer(line)
        self.assertIn(b" OK ", answer.rsplit(b"\r\n", 2)[-2], answer)
        return answer

    def test_part_sections_are_cut_from_the_whole_message(self):
        whole = literal(self.answer(b"f0 FETCH 1 BODY.PEEK[]"), b"BODY[]")
        answer = self.answer(b"f1 FETCH 1 (BODY.PEEK[1] BODY.PEEK[2] BODY.PEEK[2.MIME] "
                             b"BODY.PEEK[3] BODY.PEEK[3.TEXT] BODY.PEEK[3.1] "
                             b"BODY.PEEK[3.HEADER.FIELDS (SUBJECT)] BODY.PEEK[4] "
                             b"BODY.PEEK[1.1] BODY.PEEK[1]<4.6>)")
        parts = {item: literal(answer, item) for item in
                 (b"BODY[1]", b"BODY[2]", b"BODY[2.MIME]", b"BODY[3]", b"BODY[3.TEXT]",
                  b"BODY[3.1]", b"BODY[3.HEADER.FIELDS (SUBJECT)]", b"BODY[4]", b"BODY[1.1]",
                  b"BODY[1]<4>")}
        self.assertEqual(parts[b"BODY[1]"].decode("iso-2022-jp"), TEXT.rstrip("\r\n"))
        self.assertEqual(parts[b"BODY[2]"], b"a,b\r\n1,2")
        self.assertEqual(parts[b"BODY[1]<4>"], parts[b"BODY[1]"][4:10])
        self.assertIsNone(parts[b"BODY[4]"])
        self.assertIsNone(parts[b"BODY[1.1]"])
        # Each part stands in BODY[] where its MIME header ends.
        self.assertIn(parts[b"BODY[2.MIME]"] + parts[b"BODY[2]"] + b"\r\n--==b1", whole)
        self.assertIn(b"\r\n\r\n" + parts[b"BODY[1]"] + b"\r\n--==b1\r\n", whole)
        self.assertIn(b"\r\n\r\n" + parts[b"BODY[3]"] + b"\r\n--==b1--", whole)
        # The attached message's header reads as a header.
        inner = email.message_from_bytes(parts[b"BODY[3]"], policy=email.policy.default)
        self.assertEqual(str(inner["subject"]), "転送")
        self.assertEqual(parts[b"BODY[3.TEXT]"].decode("iso-2022-jp"), "転送された本文")
        self.assertEqual(parts[b"BODY[3.1]"], parts[b"BODY[3.TEXT]"])
        fields = email.message_from_bytes(parts[b"BODY[3.HEADER.FIELDS (SUBJECT)]"],
                                          policy=email.policy.default)
        self.assertEqual(list(fields.keys()), ["Subject"])
        self.assertEqual(str(fields["subject"]), "転送")
        # The attachment's MIME header names the file in an encoded word.
        mime = email.message_from_bytes(parts[b"BODY[2.MIME]"] + b"x",
                                        policy=email.policy.default)
        self.assertEqual(mime.get_filename(), FILE_NAME)
        self.assertEqual(self.host_calls(MARK), [])

        # Without PEEK a part section marks the message as read.
        self.answer(b"f2 FETCH 1 BODY[2]")
        self.assertEqual(self.host_calls(MARK),
                         [[MARK.encode(), b"user1\\inbox.box\\AAAA0001", b"0x40000000", b"0"]])

    def test_whole_message_reads_with_its_names(self):
        whole = literal(self.answer(b"f1 FETCH 1 BODY.PEEK[]"), b"BODY[]")
        msg = email.message_from_bytes(whole, policy=email.policy.default)
        self.assertEqual(msg["from"].addresses[0].display_name, NAME)
        self.assertEqual([p.get_filename() for p in msg.iter_attachments()][0], FILE_NAME)
        size = re.search(rb"RFC822\.SIZE (\d+)", self.answer(b"f2 FETCH 1 RFC822.SIZE"))
        self.assertEqual(int(size.group(1)), len(whole))

    def fetched(self, line, item):
        """The value of item in the one FETCH answer to line, read by the grammar."""
        answer = self.answer(line)
        untagged = answer[:answer.rindex(b"\r\n", 0, len(answer) - 2) + 2]
        return parse_response(untagged).get(item)

    def test_body_structure_follows_the_grammar_and_the_bytes(self):
        parts = [literal(self.answer(b"f0 FETCH 1 BODY.PEEK[%d]" % n), b"BODY[%d]" % n)
                 for n in (1, 2, 3)]
        structure = self.fetched(b"f1 FETCH 1 BODYSTRUCTURE", b"BODYSTRUCTURE")
        text, csv, attached = structure[:3]
        self.assertEqual(structure[3:], [b"mixed", [b"boundary", b"==b1"], None, None])
        self.assertEqual(text, [b"text", b"plain", [b"charset", b"ISO-2022-JP"], None, None,
                                b"7bit", len(parts[0]), 2, None, None, None])
        self.assertEqual(csv[:8], [b"text", b"csv", [b"name", csv[2][1]], None, None, b"7bit",
                                   len(parts[1]), 2])
        self.assertEqual(decoded_word(csv[2][1]), FILE_NAME)
        self.assertEqual(csv[8:], [None, [b"attachment", [b"filename", csv[2][1]]], None])
        # An attached message: its envelope, its own structure and its line count.
        self.assertEqual(attached[:7], [b"message", b"rfc822", None, None, None, b"7bit",
                                        len(parts[2])])
        envelope = attached[7]
        self.assertEqual(decoded_word(envelope[1]), "転送")
        self.assertEqual(envelope[2][0][1:], [None, b"a", b"example.jp"])
        self.assertIn(envelope[2][0][0], (None, b""))
        self.assertEqual(attached[8][:6], [b"text", b"plain", [b"charset", b"us-ascii"], None,
                                           None, b"7bit"])
        self.assertEqual(attached[9], parts[2].count(b"\n") + 1)
        # BODY is the same without extension data; it marks nothing.
        body = self.fetched(b"f2 FETCH 1 BODY", b"BODY")
        self.assertEqual(body[0], text[:8])
        self.assertEqual(body[3:], [b"mixed"])
        self.assertEqual(self.host_calls(MARK), [])

    def test_envelope_display_name(self):
        envelope = self.fetched(b"f2 FETCH 1 ENVELOPE", b"ENVELOPE")
        self.assertEqual(envelope[2][0][2:], [b"suzuki", b"example.jp"])
        self.assertEqual(decoded_word(envelope[2][0][0]), NAME)


if __name__ == "__main__":
    unittest.main()
