"""Checks the Shift_JIS to ISO-2022-JP conversions against Python's codecs.

Every JIS X 0208 character (the shift_jis codec's double-byte set) must convert as Python's
iso2022_jp encoder writes it. Generated lines of ASCII, blanks, double-byte characters and
half-width katakana must convert, as body lines, to Python's encoding of each run of
double-byte characters with every other byte raw, and, as header lines, to one encoded word
per run of double-byte characters and blanks, built from Python's iso2022_jp and base64.
"""

import base64
import random
import unittest

from imap_data import run_lines


def run_tool(lines):
    return [bytes.fromhex(r) for r in run_lines("jis_text_tool", lines)]


def jis_x_0208_characters():
    chars = []
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xF0)):
        for trail in range(0x40, 0xFD):
            if trail == 0x7F:
                continue
            try:
                ch = bytes([lead, trail]).decode("shift_jis")
            except UnicodeDecodeError:
                continue
            if len(ch) == 1:
                chars.append((bytes([lead, trail]), ch))
    return chars


# A line is a list of tokens: ("a", ASCII text), ("k", one half-width katakana byte) or
# ("d", one double-byte character).
def shift_jis_of(tokens):
    out = b""
    for kind, value in tokens:
        out += value if kind == "k" else value.encode("shift_jis")
    return out


def runs(tokens, joins_blanks):
    """Groups the tokens into raw bytes and runs of double-byte characters (and, for header
    lines, the blanks between and after them)."""
    groups, run = [], ""
    for kind, value in tokens:
        if kind == "d":
            run += value
            continue
        if kind == "a" and joins_blanks and run:
            blanks = len(value) - len(value.lstrip(" "))
            run += value[:blanks]
            value = value[blanks:]
            if not value:
                continue
        if run:
            groups.append(("run", run))
            run = ""
        groups.append(("raw", value if kind == "k" else value.encode("ascii")))
    if run:
        groups.append(("run", run))
    return groups


def expected_body(tokens):
    return b"".join(v.encode("iso2022_jp") if k == "run" else v for k, v in runs(tokens, False))


def expected_header(tokens):
    out = b""
    for kind, value in runs(tokens, True):
        if kind == "run":
            out += b"=?ISO-2022-JP?B?" + base64.b64encode(value.encode("iso2022_jp")) + b"?="
        else:
            out += value
    return out


class JisTextOracleTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.chars = jis_x_0208_characters()

    def test_every_jis_x_0208_character(self):
        self.assertGreater(len(self.chars), 6800)
        body = run_tool(["c " + code.hex() for code, _ in self.chars])
        codes = run_tool(["k " + code.hex() for code, _ in self.chars])
        for (code, ch), ours, jis in zip(self.chars, body, codes):
            expected = ch.encode("iso2022_jp")
            self.assertEqual(ours, expected, code.hex())
            self.assertEqual(jis, expected[3:5], code.hex())

    def test_ibm_extensions_go_out_in_seven_bits_as_the_same_characters(self):
        """The IBM extension codes (髙, 﨑, ⅰ...): the code page's own decoding of what the
        JIS bytes stand for gives the original character back."""
        ibm = []
        for lead in (0xFA, 0xFB, 0xFC):
            for trail in range(0x40, 0xFD):
                try:
                    ibm.append((bytes([lead, trail]), bytes([lead, trail]).decode("cp932")))
                except UnicodeDecodeError:
                    pass
        self.assertEqual(len(ibm), 388)
        for (code, ch), out in zip(ibm, run_tool(["c " + code.hex() for code, _ in ibm])):
            self.assertEqual(out[:3] + out[5:], b"\x1b$B\x1b(B", code.hex())
            j1, j2 = out[3], out[4]
            self.assertTrue(0x21 <= j1 <= 0x7E and 0x21 <= j2 <= 0x7E, code.hex())
            # JIS to Shift_JIS by the arithmetic, then the code page.
            s1 = (j1 + 1) // 2 + (0x70 if j1 <= 0x5E else 0xB0)
            s2 = j2 + (0x1F if j2 <= 0x5F else 0x20) if j1 % 2 else j2 + 0x7E
            self.assertEqual(bytes([s1, s2]).decode("cp932"), ch, code.hex())
        # Half-width katakana and the user-defined codes keep their raw bytes.
        self.assertEqual(run_tool(["c b1f040"])[0], b"\xb1\x1b$B\xf0\x40\x1b(B")

    def generated_lines(self):
        rng = random.Random(932)
        ascii_words = ["Subject:", "test", "a", "Re:", "\\~", "x=1;", "\t", "(", ")"]
        lines = []
        for _ in range(400):
            tokens = []
            for _ in range(rng.randint(1, 12)):
                pick = rng.random()
                if pick < 0.45:
                    tokens.append(("d", rng.choice(self.chars)[1]))
                elif pick < 0.6:
                    tokens.append(("a", " " * rng.randint(1, 2)))
                elif pick < 0.9:
                    tokens.append(("a", rng.choice(ascii_words)))
                else:
                    tokens.append(("k", bytes([rng.randint(0xA1, 0xDF)])))
            if rng.random() < 0.5:
                tokens.append(("a", "\r\n"))
            lines.append(tokens)
        return lines

    def test_body_lines(self):
        lines = self.generated_lines()
        ours = run_tool(["c " + shift_jis_of(t).hex() for t in lines])
        for tokens, out in zip(lines, ours):
            self.assertEqual(out, expected_body(tokens), shift_jis_of(tokens).hex())
            if all(kind != "k" for kind, _ in tokens):
                # Without katakana the whole line is Python's own encoding of it.
                text = "".join(value for _, value in tokens)
                self.assertEqual(out, text.encode("iso2022_jp"))

    def test_header_lines(self):
        lines = self.generated_lines()
        ours = run_tool(["h " + shift_jis_of(t).hex() for t in lines])
        words = 0
        for tokens, out in zip(lines, ours):
            self.assertEqual(out, expected_header(tokens), shift_jis_of(tokens).hex())
            words += out.count(b"=?ISO-2022-JP?B?")
        self.assertGreater(words, 400)


if __name__ == "__main__":
    unittest.main()
