"""Compares our DES and the stored-password form with the openssl command-line cipher.

Single blocks under random keys must agree, and a whole stored password made by
EncryptStoredPassword must equal openssl's DES-CBC of the zero-filled user name + password
under the key "OrvImapS" and the vector "IMAP4rev" with bit 7 of every byte set for odd
parity, base64-encoded; what openssl makes must verify with our code.
"""

import base64
import random
import shutil
import subprocess
import unittest

from imap_data import tool

OPENSSL = shutil.which("openssl")


def odd_parity(data):
    # Bit 7 is set when bits 0-6 hold an even number of ones.
    return bytes((b & 0x7F) | (0x80 if bin(b & 0x7F).count("1") % 2 == 0 else 0) for b in data)


KEY = odd_parity(b"OrvImapS")
IV = odd_parity(b"IMAP4rev")


def openssl(cipher, key, data, iv=None):
    args = [OPENSSL, "enc", cipher, "-K", key.hex(), "-nopad",
            "-provider", "legacy", "-provider", "default"]
    if iv is not None:
        args += ["-iv", iv.hex()]
    return subprocess.run(args, input=data, capture_output=True, check=True).stdout


def hexarg(data):
    return data.hex() if data else "-"


@unittest.skipIf(OPENSSL is None, "openssl is not installed: the cross-check cannot run")
class OpensslCrossCheck(unittest.TestCase):
    def setUp(self):
        self.tool = subprocess.Popen([tool("pwtool")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True)
        self.random = random.Random(20240611)

    def tearDown(self):
        self.tool.stdin.close()
        self.assertEqual(self.tool.wait(timeout=60), 0)
        self.tool.stdout.close()

    def ask(self, *words):
        self.tool.stdin.write(" ".join(words) + "\n")
        self.tool.stdin.flush()
        answer = self.tool.stdout.readline().strip()
        self.assertNotIn(answer, ("", "error"), words)
        return answer

    def stored_by_openssl(self, plain):
        plain += b"\0" * (-len(plain) % 8)
        return base64.b64encode(openssl("-des-cbc", KEY, plain, IV)).decode() if plain else ""

    def test_prepared_key_and_vector(self):
        self.assertEqual(KEY.hex(), "4ff276496d6170d3")
        self.assertEqual(IV.hex(), "49cdc1d034f2e576")

    def test_single_blocks_agree(self):
        for _ in range(24):
            key = bytes(self.random.getrandbits(8) for _ in range(8))
            data = bytes(self.random.getrandbits(8) for _ in range(8 * self.random.randint(1, 3)))
            self.assertEqual(self.ask("ecb", key.hex(), data.hex()),
                             openssl("-des-ecb", key, data).hex(), key.hex())

    def test_whole_stored_passwords_agree(self):
        pairs = [
            (b"alice", b"Secret1"),
            (b"user", b"pass"),  # exactly one block
            (b"username", b"password"),  # exactly two blocks
            (b"username", b"password!"),  # one byte into a third
            (b"12345678", b""),  # the name fills the plaintext
            (b"", b"onlypassword"),
            (b"\x93\xfa\x96\x7b", b"\x83\x70\x83\x58"),  # Shift_JIS bytes
        ]
        for _ in range(8):
            pairs.append(tuple(bytes(self.random.randint(0x21, 0x7E)
                                     for _ in range(self.random.randint(1, 20)))
                               for _ in range(2)))
        for user, password in pairs:
            expected = self.stored_by_openssl(user + password)
            self.assertEqual(self.ask("store", hexarg(user), hexarg(password)), expected or "-",
                             (user, password))
            # openssl's value verifies with our code; the password in another case does not.
            self.assertEqual(self.ask("verify", hexarg(user), expected or "-", hexarg(password)),
                             "1")
            wrong = password.swapcase() if password.swapcase() != password else password + b"x"
            self.assertEqual(self.ask("verify", hexarg(user), expected or "-", hexarg(wrong)), "0")

    def test_a_zero_byte_in_the_plaintext_ends_the_password(self):
        stored = self.stored_by_openssl(b"bobpw\0garbage")
        self.assertEqual(self.ask("verify", hexarg(b"bob"), stored, hexarg(b"pw")), "1")
        self.assertEqual(self.ask("verify", hexarg(b"bob"), stored, hexarg(b"pwgarbage")), "0")
        # A name longer than the plaintext fails even for the empty password.
        self.assertEqual(self.ask("verify", hexarg(b"x" * 17), stored, "-"), "0")


if __name__ == "__main__":
    unittest.main()
