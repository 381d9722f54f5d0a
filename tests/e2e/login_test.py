"""LOGIN against the account file of a running server: users made with orimapst, lines made
by hand, and the account file rules (first of two equal names wins, an empty line ends it)."""

import os
import unittest

from harness import HostTestCase, stored_line

OK = b"OK LOGIN complated\r\n"
REFUSED = b"NO username or password is incorrect\r\n"
INVALID = b"BAD invalid username\r\n"


class LoginTest(HostTestCase):

    def login(self, client, tag, args, answer):
        client.send(tag + b" LOGIN " + args + b"\r\n")
        client.expect(tag + b" " + answer)

    def test_good_and_bad_credentials(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.add_user("carol", "pa ss")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 wrong", REFUSED)
        self.login(client, b"a2", b"nobody secret", REFUSED)
        # User names are compared with their letter case.
        self.login(client, b"a3", b"USER1 secret", REFUSED)
        self.login(client, b"a4", b"User1 secret", REFUSED)
        self.login(client, b"a5", b"user1 secret", OK)
        # A failed LOGIN after a good one is refused the same way.
        self.login(client, b"a6", b"user1 secreT", REFUSED)
        # Quoted arguments, and a password with a blank in it.
        self.login(client, b"a7", b'"carol" "pa ss"', OK)
        self.login(client, b"a8", b'"user1" "secret"', OK)

    def test_wrong_number_of_arguments(self):
        self.mailbox.add_user("user1", "secret")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1", INVALID)
        self.login(client, b"a2", b"user1 secret extra", INVALID)
        client.send(b"a3 LOGIN\r\n")
        client.expect(b"a3 " + INVALID)
        # Still not logged in: a mailbox command is refused for its state.
        client.send(b"a4 SELECT INBOX\r\n")
        client.expect(b"a4 BAD State SELECT\r\n")

    def test_first_of_two_lines_with_the_same_name_is_used(self):
        self.mailbox.add_user("user1", "first")
        # The second line for the same name, written by hand.
        second = stored_line("user1", "second", "other")
        self.mailbox.write_passwd(self.mailbox.read_passwd() + second + b"\n")
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 second", REFUSED)
        self.login(client, b"a2", b"user1 first", OK)

    def test_account_file_lines_as_the_server_reads_them(self):
        lines = [
            stored_line("ann", "pw-ann", "ann") + b"\r\n",
            # Two colons between the mail root and the name count as one.
            stored_line("bob", "pw-bob", "bob").replace(b":", b"::", 1) + b"\n",
            b"\n",
            # After an empty line nothing is read.
            stored_line("cid", "pw-cid", "cid") + b"\n",
        ]
        self.mailbox.write_passwd(b"".join(lines))
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"ann pw-ann", OK)
        self.login(client, b"a2", b"bob pw-bob", OK)
        self.login(client, b"a3", b"cid pw-cid", REFUSED)

    def test_missing_account_file_is_created_empty(self):
        self.assertFalse(os.path.exists(self.mailbox.passwd_path))
        self.start_host()
        client = self.greeted()
        self.login(client, b"a1", b"user1 secret", REFUSED)
        self.assertEqual(self.mailbox.read_passwd(), b"")


if __name__ == "__main__":
    unittest.main()
