"""Checks mailbox name encoding for every double-byte character of code page 932.

The expected modified UTF-7 form is built here from Python's cp932 codec and its own base64:
the UTF-16 big-endian form, standard base64 with "," for "/" and no padding, between "&" and
"-". Decoding the form must give back the code, or, for a character with several codes, the
code that the code page converts the character to (the IBM extension code, never the
NEC-selected IBM code 0xED40-0xEEFC).
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
            expected = ch.encode("cp932")
            if 0xED40 <= int.from_bytes(expected, "big") <= 0xEEFC:
                expected = ibm_code_of(ch)
                self.assertIsNotNone(expected, code.hex())
            if expected != code:
                canonical_changes += 1
            self.assertEqual(bytes.fromhex(decoded), expected, code.hex())
        # The NEC-selected IBM codes and the other duplicates come back as another code.
        self.assertGreater(canonical_changes, 300)


if __name__ == "__main__":
    unittest.main()
