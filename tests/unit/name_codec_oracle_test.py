"""Checks mailbox name encoding for every double-byte character of code page 932, and name
decoding for every BMP character.

The expected modified UTF-7 form is built here from Python's cp932 codec and its own base64:
the UTF-16 big-endian form, standard base64 with "," for "/" and no padding, between "&" and
"-". Decoding the form must give back the code, or, for a character with several codes, the
code that the code page converts the character to (the IBM extension code, never the
NEC-selected IBM code 0xED40-0xEEFC). A name holding a character that Python cannot encode
must decode to no name at all, never to one with "?" or a look-alike in its place.
"""

import base64
import unittest

from imap_data import run_lines


def is_lead(b):
    return 0x81 <= b <= 0x9F or 0xE0 <= b <= 0xFC


def is_trail(b):
    return 0x40 <= b <= 0x7E or 0x80 <= b <= 0xFC


def modified_utf7(text):
    encoded = base64.b64encode(text.encode("utf-16-be")).decode("ascii")
    return "&" + encoded.rstrip("=").replace("/", ",") + "-"


def ibm_code_of(ch):
    """The IBM extension code (0xFA40-0xFC4B) of a character, when it has one."""
    for code in range(0xFA40, 0xFC4C):
        try:
            if code.to_bytes(2, "big").decode("cp932") == ch:
                return code.to_bytes(2, "big")
        except UnicodeDecodeError:
            pass
    return None


def expected_code(ch):
    """The code page 932 code that the server gives a character, or None when it has none."""
    try:
        code = ch.encode("cp932")
    except UnicodeEncodeError:
        return None
    if 0xED40 <= int.from_bytes(code, "big") <= 0xEEFC:
        return ibm_code_of(ch)
    return code


class NameCodecOracleTest(unittest.TestCase):
    def test_every_double_byte_character_round_trips(self):
        codes = {}
        for lead in range(0x100):
            if not is_lead(lead):
                continue
            for trail in range(0x100):
                if not is_trail(trail):
                    continue
                code = bytes([lead, trail])
                try:
                    codes[code] = code.decode("cp932")
                except UnicodeDecodeError:
                    pass  # no character, no UTF-16 form
        self.assertGreater(len(codes), 7900)
        results = run_lines("name_codec_tool", ["e " + code.hex() for code in codes])
        canonical_changes = 0
        for (code, ch), line in zip(codes.items(), results):
            wire, decoded = line.rsplit(" ", 1)
            self.assertEqual(wire, modified_utf7(ch), code.hex())
            expected = expected_code(ch)
            self.assertIsNotNone(expected, code.hex())
            if expected != code:
                canonical_changes += 1
            self.assertEqual(bytes.fromhex(decoded), expected, code.hex())
        # The NEC-selected IBM codes and the other duplicates come back as another code.
        self.assertGreater(canonical_changes, 300)

    def test_a_name_with_a_character_without_a_code_names_nothing(self):
        chars = [chr(cp) for cp in range(1, 0x10000) if not 0xD800 <= cp <= 0xDFFF]
        names = ["a" + modified_utf7(ch) for ch in chars]
        results = run_lines("name_codec_tool", ["d " + name for name in names])
        unnamed = 0
        for ch, line in zip(chars, results):
            expected = expected_code(ch)
            if expected is None:
                self.assertEqual(line, "none", "U+%04X" % ord(ch))
                unnamed += 1
            else:
                self.assertEqual(bytes.fromhex(line), b"a" + expected, "U+%04X" % ord(ch))
        self.assertGreater(unnamed, 50000)
        # The points where converters differ: no code for the yen sign (never the backslash)
        # nor an accented letter (never the plain one); the JIS wave dash, double vertical line
        # and minus sign, which clients send for the code page's own forms, have their codes.
        # A character outside the BMP and a lone surrogate have no code either.
        pinned = {"&AKU-": "none", "&AOk-": "none", "&AMk-": "none", "&MBw-": "8160",
                  "&,14-": "8160", "&IBY-": "8161", "&IhI-": "817C", "&2D3eAA-": "none",
                  "&2D0-": "none"}
        self.assertEqual(dict(zip(pinned, run_lines("name_codec_tool",
                                                    ["d " + w for w in pinned]))), pinned)


if __name__ == "__main__":
    unittest.main()
