"""Checks the whole code page 932 conversion against Python's cp932 codec.

Every single byte and every lead/trail pair must decode as Python decodes it; the codes Python
rejects must give the default character U+30FB. Every BMP character must encode as Python
encodes it, except the characters of the NEC-selected IBM extensions (0xED40-0xEEFC), which
must come out as the IBM extension code (0xFA40-0xFC4B) of the same character; characters that
Python cannot encode must come out as "?".
"""

import subprocess
import unittest

from imap_data import tool

DEFAULT_WIDE = "\u30fb"


def is_lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def run_dump(code_points):
    stdin = "".join("%X\n" % cp for cp in code_points)
    out = subprocess.run([tool("cp932_dump")], input=stdin, capture_output=True, text=True,
                         check=True).stdout
    decoded, encoded = {}, {}
    for line in out.splitlines():
        fields = line.split()
        if fields[0] == "d":
            code = bytes.fromhex(fields[1])
            decoded[code] = "".join(chr(int(u, 16)) for u in fields[2:])
        elif fields[0] == "e":
            encoded[int(fields[1], 16)] = bytes.fromhex(fields[2]) if len(fields) > 2 else b""
    return decoded, encoded


class Cp932Test(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        bmp = [cp for cp in range(0x10000) if not 0xD800 <= cp <= 0xDFFF]
        cls.decoded, cls.encoded = run_dump(bmp + [0x10000, 0x1F600, 0x10FFFF])

    def test_every_code_decodes_as_python_does(self):
        # 256 single bytes and 60 lead bytes times 188 trail bytes.
        self.assertEqual(len(self.decoded), 256 + 60 * 188)
        checked = rejected = 0
        for code, ours in sorted(self.decoded.items()):
            try:
                expected = code.decode("cp932")
                checked += 1
            except UnicodeDecodeError:
                # A lead byte alone, or a pair without a character.
                self.assertTrue(is_lead(code[0]), code.hex())
                expected = DEFAULT_WIDE
                rejected += 1
            self.assertEqual(ours, expected, "code %s" % code.hex())
        print("\ncp932 decode: %d codes equal to the reference, %d without a character"
              % (checked, rejected))
        self.assertGreater(checked, 9000)

    def test_every_character_encodes_as_python_does(self):
        checked = ibm = unmapped = 0
        for cp in range(0x10000):
            if 0xD800 <= cp <= 0xDFFF:
                continue
            ours = self.encoded[cp]
            try:
                expected = chr(cp).encode("cp932")
            except UnicodeEncodeError:
                self.assertEqual(ours, b"?", "U+%04X" % cp)
                unmapped += 1
                continue
            checked += 1
            if ours != expected:
                # Python picks the NEC-selected IBM code; ours is the IBM code of that character.
                self.assertTrue(0xED40 <= int.from_bytes(expected, "big") <= 0xEEFC,
                                "U+%04X: %s, expected %s" % (cp, ours.hex(), expected.hex()))
                self.assertTrue(0xFA40 <= int.from_bytes(ours, "big") <= 0xFC4B,
                                "U+%04X: %s" % (cp, ours.hex()))
                self.assertEqual(ours.decode("cp932"), chr(cp), "U+%04X" % cp)
                ibm += 1
        print("\ncp932 encode: %d characters checked (%d as IBM extensions), %d unmapped"
              % (checked, ibm, unmapped))
        self.assertGreater(checked, 9000)
        self.assertEqual(self.encoded[0x2170], b"\xfa\x40")
        self.assertEqual(self.encoded[0x7E8A], b"\xfa\x5c")
        # No look-alike for a character without a code: not the backslash for the yen sign, not
        # a plain letter for an accented one. The JIS wave dash, double vertical line and minus
        # sign take the codes of the code page's own forms.
        for cp in (0x00A5, 0x00E9, 0x00C9, 0x203E):
            self.assertEqual(self.encoded[cp], b"?", "U+%04X" % cp)
        for cp, code in ((0x301C, b"\x81\x60"), (0xFF5E, b"\x81\x60"), (0x2016, b"\x81\x61"),
                         (0x2212, b"\x81\x7c")):
            self.assertEqual(self.encoded[cp], code, "U+%04X" % cp)

    def test_no_character_encodes_to_a_nec_selected_ibm_code(self):
        for cp, ours in self.encoded.items():
            if len(ours) == 2:
                self.assertFalse(0xED40 <= int.from_bytes(ours, "big") <= 0xEEFC,
                                 "U+%04X: %s" % (cp, ours.hex()))

    def test_characters_outside_the_bmp_become_one_question_mark(self):
        for cp in (0x10000, 0x1F600, 0x10FFFF):
            self.assertEqual(self.encoded[cp], b"?", "U+%X" % cp)


if __name__ == "__main__":
    unittest.main()
