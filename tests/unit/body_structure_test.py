"""Checks that every BODYSTRUCTURE the server renders parses as IMAP data.

Message files are written here (generated trees with a known structure, and malformed or
hostile ones), rendered by the bodystructure_dump tool, and read back with a small reader of
IMAP parenthesised lists that knows nothing of the server: quoted strings with their two escapes,
NIL, numbers and lists. The generated messages are also compared with the structure, sizes and
line counts computed here from Python's own ISO-2022-JP codec.
"""

import random
import unittest

import imap_data
from imap_data import RenderTestCase

KANJI = "日本語表ソ添付資料会議案内のお知らせテスト"
ASCII = "abcxyz 0123.,-_=+\"\\'"


def read_value(data):
    """The one value of a rendered body structure; raises ParseError when it does not parse."""
    return imap_data.read_value(data, blank_before_close=True)


def check_shape(test, body):
    """Asserts the server's body form: multipart (children or "NIL", subtype, params) or the
    eleven fields of any other part."""
    is_string = lambda v: isinstance(v, bytes)
    test.assertIsInstance(body, list)
    multipart = len(body) >= 3 and (isinstance(body[0], list) or len(body) == 3)
    params = body[-1] if multipart else body[2]
    test.assertTrue(params == [] or (len(params) == 2 and all(map(is_string, params))) or
                    (len(params) > 1 and all(isinstance(p, list) and len(p) == 2 and
                                             all(map(is_string, p)) for p in params)), params)
    if multipart:
        test.assertTrue(is_string(body[-2]), body)
        if body[:-2] != [b"NIL"]:
            for child in body[:-2]:
                check_shape(test, child)
        return
    test.assertEqual(len(body), 11, body)
    for i in (0, 1, 3):
        test.assertTrue(body[i] is None or is_string(body[i]), body)
    test.assertIsNone(body[4])
    test.assertTrue(is_string(body[5]))
    test.assertTrue(isinstance(body[6], int) and isinstance(body[7], int))
    test.assertEqual(body[8:], [None, None, None])


def sjis(text):
    return text.encode("cp932")


class Generator:
    """Random messages with a structure known in advance, in the server's rendered form."""

    def __init__(self, seed):
        self.rng = random.Random(seed)
        self.boundaries = 0

    def word(self, pool, n):
        return "".join(self.rng.choice(pool) for _ in range(n))

    def leaf(self, eol):
        rng = self.rng
        lines = [self.word(rng.choice([ASCII, KANJI]), rng.randint(0, 30)) +
                 self.word(ASCII.replace(" ", ""), rng.randint(0, 3))
                 for _ in range(rng.randint(0, 6))]
        size = sum(len(line.encode("iso2022_jp")) + 2 + (eol == "\n") for line in lines)
        kind = rng.randrange(4)
        header, ctype, disp = "", [], []
        if kind == 0:
            ctype = ["text", "plain", [(b"charset", b"us-ascii")]]
        elif kind == 1:
            header = "Content-Type: text/plain; charset=ISO-2022-JP" + eol
            ctype = ["text", "plain", [(b"charset", b"ISO-2022-JP")]]
        else:
            name = self.word(KANJI + "a\"\\", rng.randint(1, 6)) + ".bin"
            header = ('Content-Type: application/octet-stream; name="%s"%s'
                      'Content-Disposition: attachment;%s\tfilename="%s"%s'
                      "Content-Transfer-Encoding: base64%s" % (name, eol, eol, name, eol, eol))
            ctype = ["application", "octet-stream", [(b"name", sjis(name))]]
            disp = [(b"NAME", sjis(name))]
        params = [list(p) for p in ctype[2] + disp]
        params = params[0] if len(params) == 1 else params
        encoding = b"base64" if kind > 1 else b"7bit"
        expected = [ctype[0].encode(), ctype[1].encode(), params, None, None, encoding, size,
                    len(lines), None, None, None]
        text = header + eol + "".join(line + eol for line in lines)
        return sjis(text), expected

    def multipart(self, depth):
        rng = self.rng
        self.boundaries += 1
        boundary = "=_b%d_%s" % (self.boundaries, self.word("abc'()+,./:?", 4))
        subtype = rng.choice(["mixed", "alternative", "related"])
        count = rng.randint(0, 3)
        text = 'Content-Type: multipart/%s;\r\n boundary="%s"\r\n\r\npreamble\r\n' % (
            subtype, boundary)
        out, children = sjis(text), []
        for _ in range(count):
            out += sjis("--%s\r\n" % boundary)
            part, body = self.multipart(depth + 1) if depth < 3 and rng.random() < 0.3 \
                else self.leaf("\r\n")
            out += part
            children.append(body)
        if count == 0:
            out += sjis("--%s\r\n" % boundary)
        out += sjis("--%s--\r\nepilogue %s\r\n" % (boundary, self.word(KANJI, 3)))
        params = [b"boundary", sjis(boundary)]
        return out, (children or [b"NIL"]) + [subtype.encode(), params]

    def message(self):
        if self.rng.random() < 0.3:
            return self.leaf(self.rng.choice(["\r\n", "\n"]))
        return self.multipart(0)


def hostile_messages(rng):
    """Malformed and hostile files: only that they render parseable data is checked."""
    deep = b"".join(b"Content-Type: multipart/mixed; boundary=d%d\r\n\r\n--d%d\r\n" % (i, i)
                    for i in range(300))
    yield deep + b"\r\nbottom\r\n"
    yield b"Content-Type: multipart/mixed\r\n\r\n--\r\nContent-Type: multipart/x\r\n\r\n"
    yield b"Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: a/b\n\nx\n--b--\n"
    yield b'Content-Type: "/"; ("=")=")"; \\=\\\\\r\nContent-ID: "<\\>"\r\n\r\n'
    yield b"Content-Type: text/plain; name=\x00x\r\n\r\nbody\x00\r\n"
    yield b"Content-Type: multipart/mixed; boundary=b\r\n\r\n--b\r\nContent-Type: text/plain"
    yield b"Content-Disposition: ; ; ;\r\nContent-Transfer-Encoding:\r\n \r\n\r\n"
    for _ in range(40):
        pieces = [b"Content-Type: ", b"multipart/mixed", b"; boundary=q", b"--q", b"--q--",
                  b"\r\n", b"\n", b"\r", b" ", b"\t", b'"', b"\\", b";", b"=", b"/", b"(", b")",
                  b"Content-Disposition: a; filename=", b"\x95\x5c", b"\x82", b"\xff"]
        yield b"".join(rng.choice(pieces) for _ in range(rng.randint(1, 80)))


class BodyStructureParseTest(RenderTestCase):
    TOOL = "bodystructure_dump"

    def test_generated_messages_parse_and_match_their_structure(self):
        def check(expected, line):
            value = read_value(line)
            check_shape(self, value)
            self.assertEqual(value, expected)

        gen = Generator(20240611)
        self.check_rendered([gen.message() for _ in range(150)], 200, check)

    def test_hostile_messages_still_parse(self):
        messages = list(hostile_messages(random.Random(7)))
        self.check_rendered([(m, None) for m in messages], 200,
                            lambda _, line: check_shape(self, read_value(line)))
        # The 300-level message is cut to the nesting limit of the parser.
        depth, body = 0, read_value(self.write_all(messages[:1])[0])
        while isinstance(body[0], list):
            depth, body = depth + 1, body[0]
        self.assertEqual(depth, 32)

    def test_reader_rejects_what_is_not_imap(self):
        self.assert_rejected(read_value, [b' ("a" "b"', b' ("a\\x")', b' (a)', b' ("a""b")',
                                          b' ("a" 01)', b'("a")', b' ("a\r")', b' ("a")x'])
        self.assertEqual(read_value(b' (("a\\"" NIL) "m" ("b" "1") )'),
                         [[b'a"', None], b"m", [b"b", b"1"]])


if __name__ == "__main__":
    unittest.main()
