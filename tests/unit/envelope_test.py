"""Checks that every ENVELOPE the server renders parses as IMAP data and says what the header said.

Message files are generated here with known fields (addresses in their usual forms, folded
lines, Shift_JIS text, quotes and backslashes, fields missing or in any order) and rendered by
the envelope_dump tool. A small reader of IMAP data that knows nothing of the server reads the
result back (quoted strings with their two escapes, NIL, lists, addresses written one after the
other); encoded words are decoded with Python's own codecs and compared with the original text.
Malformed headers are only checked to render parseable data.
"""

import base64
import random
import re
import unittest

import imap_data
from imap_data import RenderTestCase

KANJI = "日本語表ソ添付資料会議案内のお知らせテストｱｲ"
WORD = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
ENCODED_WORD = re.compile(rb"=\?ISO-2022-JP\?B\?([A-Za-z0-9+/=]*)\?=")


def read_envelope(data):
    """The envelope list of data (a blank, then a list); raises ParseError when it is not IMAP."""
    return imap_data.read_value(data)


def check_shape(test, env):
    test.assertIsInstance(env, list)
    test.assertEqual(len(env), 10, env)
    for i in (0, 1, 8, 9):
        test.assertTrue(env[i] is None or isinstance(env[i], bytes), env[i])
    for i in range(2, 8):
        if env[i] is None:
            continue
        test.assertIsInstance(env[i], list)
        for address in env[i]:
            test.assertEqual(len(address), 4, address)
            test.assertIsNone(address[1])
            test.assertTrue(all(isinstance(address[k], bytes) for k in (0, 2, 3)), address)


def decode_words(data):
    """Shift_JIS bytes of a rendered text: every encoded word decoded back."""
    return ENCODED_WORD.sub(
        lambda m: base64.b64decode(m.group(1)).decode("iso2022_jp").encode("cp932"), data)


class Generator:
    """Random headers whose envelope is known in advance."""

    def __init__(self, seed):
        self.rng = random.Random(seed)

    def word(self, pool, lo, hi):
        return "".join(self.rng.choice(pool) for _ in range(self.rng.randint(lo, hi)))

    def text(self, pool):
        """Words of pool with single blanks between them: no blank at either end."""
        return " ".join(self.word(pool, 1, 6) for _ in range(self.rng.randint(1, 4)))

    def address(self):
        """The header form of one address and its expected (name, mailbox, host)."""
        rng = self.rng
        mailbox = self.word(WORD + "._+-", 1, 8)
        host = self.word(WORD + ".-", 1, 10)
        form = rng.randrange(5)
        if form == 0:
            return "%s@%s" % (mailbox, host), ("", mailbox, host)
        if form == 1:
            name = self.text(WORD + ".'!#")
            return "%s <%s@%s>" % (name, mailbox, host), (name, mailbox, host)
        if form == 2:
            name = self.text(WORD + ",;:<>()@\\")
            return '"%s" <%s@%s>' % (name, mailbox, host), (name, mailbox, host)
        if form == 3:
            name = self.text(WORD + ",;:<>@\\")
            return "%s@%s (%s)" % (mailbox, host, name), (name, mailbox, host)
        name = self.text(KANJI + WORD)
        return '"%s" <%s@%s>' % (name, mailbox, host), (name, mailbox, host)

    def address_list(self, eol):
        pairs = [self.address() for _ in range(self.rng.randint(1, 4))]
        text = pairs[0][0]
        for header, _ in pairs[1:]:
            text += self.rng.choice([",", ", ", " , ", ",%s\t" % eol, ",%s " % eol]) + header
        return text, [expected for _, expected in pairs]

    def fold(self, value, eol):
        """value with some of its blanks turned into line breaks before a blank or a tab."""
        return "".join(eol + self.rng.choice(" \t") if c == " " and self.rng.random() < 0.3
                       else c for c in value)

    def message(self):
        rng = self.rng
        eol = rng.choice(["\r\n", "\n"])
        lines, expected = [], {}
        for key in ["date", "subject", "message-id", "in-reply-to"]:
            if rng.random() < 0.7:
                pool = KANJI + WORD + '"\\(),<>' if key == "subject" else WORD + '"\\<>@.'
                value = self.text(pool)
                lines.append("%s: %s" % (key, self.fold(value, eol)))
                expected[key] = value
        for key in ["from", "sender", "reply-to", "to", "cc", "bcc"]:
            if rng.random() < 0.6:
                value, addresses = self.address_list(eol)
                lines.append("%s: %s" % (key, value))
                expected[key] = addresses
        lines += ["Received: from a\tby b;%s\tSun, 4 Mar 2001" % eol, "X-Orvex-Status: 1",
                  "Content-Type: text/plain"]
        rng.shuffle(lines)
        lines = [self.recase(line) for line in lines]
        text = eol.join(lines) + eol
        if rng.random() < 0.8:
            text += eol + "From: body@x%sSubject: body%sTo: body@x%s" % (eol, eol, eol)
        return text.encode("cp932"), self.expected(expected)

    def recase(self, line):
        name, colon, rest = line.partition(":")
        name = self.rng.choice([name, name.upper(), name.lower(), name.title()])
        return name + colon + rest

    @staticmethod
    def expected(fields):
        def text(key):
            return fields[key].encode("cp932") if key in fields else None

        def addresses(key, fallback=None):
            values = fields.get(key, fields.get(fallback)) if fallback else fields.get(key)
            if values is None:
                return None
            return [[n.encode("cp932"), None, m.encode(), h.encode()] for n, m, h in values]

        return [text("date"), text("subject"), addresses("from"),
                addresses("sender", "from"), addresses("reply-to", "from"), addresses("to"),
                addresses("cc"), addresses("bcc"), text("in-reply-to"), text("message-id")]


def decoded(env):
    """env with the encoded words of the subject and of every display name decoded."""
    out = list(env)
    if out[1] is not None:
        out[1] = decode_words(out[1])
    for i in range(2, 8):
        if out[i] is not None:
            out[i] = [[decode_words(a[0])] + a[1:] for a in out[i]]
    return out


def hostile_headers(rng):
    pieces = [b"From: ", b"To: ", b"Cc:", b"Subject: ", b"sender:", b"Reply-To: ", b"Date: ",
              b'"', b"\\", b"(", b")", b"<", b">", b",", b"@", b"@@", b":", b" ", b"\t",
              b"\r\n", b"\n", b"\r", b"\r\n ", b"\x00", b"\x82\xa0", b"\x95\x5c", b"\x82",
              b"\xb1", b"\xff", b"a", b"b.c"]
    for _ in range(80):
        yield b"".join(rng.choice(pieces) for _ in range(rng.randint(1, 60)))


class EnvelopeParseTest(RenderTestCase):
    TOOL = "envelope_dump"

    def test_generated_headers_parse_and_match(self):
        def check(expected, line):
            self.assertNotRegex(line, rb"[\x80-\x9f\xe0-\xfc][\x40-\x7e\x80-\xfc]",
                                "double-byte text outside an encoded word")
            env = read_envelope(line)
            check_shape(self, env)
            self.assertEqual(decoded(env), expected)

        gen = Generator(20240612)
        self.check_rendered([gen.message() for _ in range(200)], 300, check)

    def test_hostile_headers_still_parse(self):
        self.check_rendered([(m, None) for m in hostile_headers(random.Random(11))], None,
                            lambda _, line: check_shape(self, read_envelope(line)))

    def test_reader_rejects_what_is_not_imap(self):
        self.assert_rejected(read_envelope, [b' (NIL "a"', b' ("a\\x")', b' (a)', b' ("a""b")',
                                             b' ("a" )', b'("a")', b' ("a\n")', b' (NIL)x',
                                             b' (("a")NIL)'])
        self.assertEqual(read_envelope(b' (NIL (("a\\"" NIL "m" "h")("" NIL "x" "")))'),
                         [None, [[b'a"', None, b"m", b"h"], [b"", None, b"x", b""]]])


if __name__ == "__main__":
    unittest.main()
