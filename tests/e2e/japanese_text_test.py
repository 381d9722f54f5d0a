"""Japanese text beyond JIS X 0208 (IBM extension kanji in surnames, the NEC rows, half-width
katakana, a user-defined code) in subjects, display names, attachment names and bodies. The
exact mode sends the IBM codes as 7-bit ISO-2022-JP whose bytes, read back through the JIS
arithmetic and the code page, are the stored characters; the extended mode sends what Python's
email package decodes to the store's text, in ENVELOPE and every part too."""

import email
import email.header
import email.policy
import re
import unittest

from harness import UNREAD, StoreTestCase, sjis, sjis_of_jis
from imap_reader import parse_response

# The characters the host's store holds in code page 932 (U+E000 is the user-defined 0xF040).
NAMES = "髙橋 山﨑 德永"
SYMBOLS = "①Ⅱ㈱ｶﾀｶﾅ\ue000"
SUBJECT = "会議 " + NAMES + " " + SYMBOLS
PLAIN = "鈴木です。\r\n"
BODY = "髙橋様\r\n山﨑です。①の件、Ⅱ期分を㈱ｶﾀｶﾅへ。\ue000\r\n"
ATTACHMENT = "德永.txt"


SINGLE = sjis("From: 髙橋 太郎 <takahashi@example.jp>\r\n"
              "To: \"山﨑 ①\" <y@example.jp>\r\n"
              "Subject: " + SUBJECT + "\r\n"
              "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
              "Content-Transfer-Encoding: 7bit\r\n"
              "\r\n" + BODY)

MULTIPART = sjis("From: \"德永 ｶﾅ\" <t@example.jp>\r\n"
                 "Subject: " + NAMES + "\r\n"
                 "Content-Type: multipart/mixed; boundary=\"b1\"\r\n"
                 "\r\n"
                 "--b1\r\n"
                 "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                 "\r\n" + PLAIN +
                 "--b1\r\n"
                 "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
                 "\r\n" + BODY +
                 "--b1\r\n"
                 "Content-Type: text/plain; name=\"" + ATTACHMENT + "\"\r\n"
                 "Content-Disposition: attachment; filename=\"" + ATTACHMENT + "\"\r\n"
                 "Content-Transfer-Encoding: base64\r\n"
                 "\r\n"
                 "QUJD\r\n"
                 "--b1\r\n"
                 "Content-Type: message/rfc822\r\n"
                 "\r\n"
                 "Subject: " + SYMBOLS + "\r\n"
                 "\r\n" + BODY +
                 "--b1--\r\n")


def literal(answer, item):
    at = answer.index(item) + len(item)
    size = re.match(rb" \{(\d+)\}\r\n", answer[at:])
    start = at + size.end()
    return answer[start:start + int(size.group(1))]


def jis_segments(data):
    """The byte pairs of every ESC $ B segment."""
    return re.findall(rb"\x1b\$B(.*?)\x1b\(B", data, re.S)


def lines(text):
    """Text with its line ends made LF (a base64 part keeps the CR LF of the stored text)."""
    return text.replace("\r\n", "\n")


def decoded(word):
    return str(email.header.make_header(email.header.decode_header(word.decode())))


class JapaneseTextTest(StoreTestCase):

    def serve(self, extended):
        if extended:
            self.use_extended_mode()
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=7,
                          messages=[("AAAA0001", UNREAD, SINGLE), ("AAAA0002", UNREAD, MULTIPART)])
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.answer(b"s1 SELECT INBOX")
        return client

    def whole(self, client, n):
        return literal(client.answer(b"f%d FETCH %d BODY.PEEK[]" % (n, n)), b"BODY[]")

    def test_exact_mode_sends_ibm_codes_as_seven_bit_jis(self):
        client = self.serve(False)
        for n, original in ((1, SINGLE), (2, MULTIPART)):
            data = self.whole(client, n)
            segments = jis_segments(data)
            self.assertTrue(segments)
            # Seven-bit pairs, but for user-defined codes (no place in ISO-2022-JP: kept raw).
            for pair in (seg[i:i + 2] for seg in segments for i in range(0, len(seg), 2)):
                self.assertTrue(0xF0 <= pair[0] <= 0xF9 or all(0x21 <= b <= 0x7E for b in pair),
                                pair)
            # Read back (encoded words opened first), every text is the store's.
            back = re.sub(rb"=\?ISO-2022-JP\?B\?([^?]*)\?=",
                          lambda m: email.header.decode_header(m.group(0).decode())[0][0], data)
            back = re.sub(rb"\x1b\$B(.*?)\x1b\(B",
                          lambda m: b"".join(
                              m.group(1)[i:i + 2] if m.group(1)[i] >= 0xF0 else
                              sjis_of_jis(m.group(1)[i], m.group(1)[i + 1])
                              for i in range(0, len(m.group(1)), 2)), back, flags=re.S)
            for text in (NAMES, "髙橋 太郎", "山﨑 ①", BODY):
                if sjis(text) in original:
                    self.assertIn(text, back.decode("cp932"))

    def test_extended_mode_decodes_to_the_stored_text(self):
        client = self.serve(True)
        policy = email.policy.default
        single = email.message_from_bytes(self.whole(client, 1), policy=policy)
        self.assertEqual(str(single["subject"]), SUBJECT)
        self.assertEqual(single["from"].addresses[0].display_name, "髙橋 太郎")
        self.assertEqual(single["to"].addresses[0].display_name, "山﨑 ①")
        self.assertEqual(single.get_content_charset(), "utf-8")
        self.assertEqual(lines(single.get_content()), lines(BODY))

        data = self.whole(client, 2)
        self.assertTrue(all(b < 0x80 for b in data))
        multi = email.message_from_bytes(data, policy=policy)
        self.assertEqual(str(multi["subject"]), NAMES)
        self.assertEqual(multi["from"].addresses[0].display_name, "德永 ｶﾅ")
        plain, body, attachment, attached = multi.get_payload()
        self.assertEqual(plain.get_content_charset(), "iso-2022-jp")
        self.assertEqual(lines(plain.get_content()), lines(PLAIN.rstrip("\r\n")))
        self.assertEqual(lines(body.get_content()), lines(BODY.rstrip("\r\n")))
        self.assertEqual(attachment.get_filename(), ATTACHMENT)
        self.assertEqual(attachment.get_content(), "ABC")
        inner = attached.get_payload()[0]
        self.assertEqual(str(inner["subject"]), SYMBOLS)
        self.assertEqual(lines(inner.get_content()), lines(BODY.rstrip("\r\n")))

        # RFC822.SIZE, BODYSTRUCTURE and the part sections agree with those bytes.
        answer = client.answer(b"f3 FETCH 2 (RFC822.SIZE BODYSTRUCTURE ENVELOPE BODY.PEEK[2])")
        fetched = parse_response(answer[:answer.rindex(b"\r\n", 0, len(answer) - 2) + 2])
        self.assertEqual(fetched.get(b"RFC822.SIZE"), len(data))
        structure = fetched.get(b"BODYSTRUCTURE")
        self.assertEqual(structure[1][2], [b"charset", b"UTF-8"])
        self.assertEqual(structure[1][5], b"base64")
        section = literal(answer, b"BODY[2]")
        self.assertEqual(structure[1][6], len(section))
        self.assertIn(b"\r\n\r\n" + section + b"\r\n--b1\r\n", data)
        envelope = fetched.get(b"ENVELOPE")
        self.assertEqual(decoded(envelope[1]), NAMES)
        self.assertEqual(decoded(envelope[2][0][0]), "德永 ｶﾅ")
        envelope = parse_response(client.answer(b"f4 FETCH 1 ENVELOPE").split(b"\r\n")[0] +
                                  b"\r\n").get(b"ENVELOPE")
        self.assertEqual(decoded(envelope[1]), SUBJECT)
        self.assertEqual(decoded(envelope[2][0][0]), "髙橋 太郎")

    def test_utf8_accept_serves_names_and_messages_in_utf8(self):
        self.store.folder("work.box", title="髙橋案件", uid_validity=9)
        client = self.serve(True)
        # Enabled only outside a selected folder; unknown names are passed over.
        self.assertIn(b"BAD", client.answer(b"e0 ENABLE UTF8=ACCEPT"))
        client.answer(b"u0 UNSELECT")
        self.assertEqual(client.answer(b"e1 ENABLE X-UNKNOWN utf8=accept"),
                         b"* ENABLED UTF8=ACCEPT\r\ne1 OK ENABLE complated\r\n")
        names = client.answer(b'l1 LIST "" "*"')
        self.assertIn('"髙橋案件"'.encode(), names)
        self.assertNotIn(b"&", names)
        self.assertIn(b"[UIDVALIDITY 9]", client.answer('s2 SELECT "髙橋案件"'.encode()))
        self.assertIn(b"s3 NO", client.answer('s3 SELECT "髙橋案件😀"'.encode()))
        client.answer(b"s4 SELECT INBOX")

        policy = email.policy.default
        # Raw UTF-8 header text: read as text, as a UTF-8 aware reader does.
        data = self.whole(client, 1)
        single = email.message_from_string(data.decode("utf-8"), policy=policy)
        self.assertEqual(str(single["subject"]), SUBJECT)
        self.assertEqual(single["from"].addresses[0].display_name, "髙橋 太郎")
        self.assertEqual(single["content-transfer-encoding"], "8bit")
        # An 8bit part read as text is its payload as it stands.
        self.assertEqual(lines(single.get_payload()), lines(BODY))
        multi = email.message_from_string(self.whole(client, 2).decode("utf-8"), policy=policy)
        parts = multi.get_payload()
        self.assertEqual(lines(parts[0].get_payload()), lines(PLAIN.rstrip("\r\n")))
        self.assertEqual(parts[2].get_filename(), ATTACHMENT)
        answer = client.answer(b"f3 FETCH 1 (ENVELOPE RFC822.SIZE)")
        self.assertIn(SUBJECT.encode(), answer)
        self.assertIn(b"RFC822.SIZE %d" % len(data), answer)

        # APPEND in the UTF8 form: text the code page holds is stored in it; text it cannot
        # (an emoji, a character beyond the BMP, half-width katakana the host keeps apart) is
        # kept in UTF-8, and either reads back as it was sent, in this session and another.
        stored = "髙橋様 ①㈱\r\n"
        kept = "笑顔 😀 𠮷 ｶﾀｶﾅ\r\n"
        for tag, subject, body in ((b"a1", NAMES, stored), (b"a2", "笑顔 😀", kept)):
            message = ("Subject: " + subject + "\r\n\r\n" + body).encode()
            client.send(tag + b" APPEND INBOX UTF8 (~{%d+}\r\n" % len(message) + message +
                        b")\r\n")
            self.assertRegex(client.read_answer(tag), tag + rb" OK \[APPENDUID 7 \d+\] ")
        host_form = self.store.read("inbox.box", "AAAA0003.orv").decode("cp932")
        self.assertIn("Subject: " + NAMES + "\r\n", host_form)
        self.assertTrue(host_form.endswith("\r\n\r\n" + stored), host_form)
        client.answer(b"n1 NOOP")
        other = self.logged_in()
        other.answer(b"s1 SELECT INBOX")
        for n, subject, body in ((3, NAMES, stored), (4, "笑顔 😀", kept)):
            back = email.message_from_string(self.whole(client, n).decode("utf-8"), policy=policy)
            self.assertEqual(str(back["subject"]), subject)
            text = back.get_payload() if n == 3 else back.get_content()
            self.assertEqual(lines(text), lines(body))
            seven = email.message_from_bytes(self.whole(other, n), policy=policy)
            self.assertEqual(str(seven["subject"]), subject)
            self.assertEqual(lines(seven.get_content()), lines(body))


if __name__ == "__main__":
    unittest.main()
