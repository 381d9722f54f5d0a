"""The connection commands and line handling of a running server, byte for byte: greeting,
CAPABILITY, NOOP, the not-implemented and state answers, IDLE, LOGOUT, and command lines split
over packets or sharing one."""

import unittest

from harness import GREETING, HostTestCase


class ConnectionCommandsTest(HostTestCase):

    def setUp(self):
        super().setUp()
        self.host = self.start_host()

    def test_greeting_comes_before_the_client_sends_anything(self):
        client = self.connect()
        client.expect(GREETING)

    def test_capability_and_noop(self):
        client = self.greeted()
        client.send(b"a1 CAPABILITY\r\n")
        client.expect(b"* CAPABILITY IMAP4rev1 AUTH=\r\na1 OK CAPABILITY complated\r\n")
        # Extra words are ignored and the command word is echoed as typed.
        client.send(b"a2 NOOP extra words\r\n")
        client.expect(b"a2 OK NOOP complated\r\n")
        client.send(b"a3 noop\r\n")
        client.expect(b"a3 OK noop complated\r\n")

    def test_not_implemented_commands(self):
        client = self.greeted()
        cases = [
            (b"a4 AUTHENTICATE PLAIN", b"a4 BAD Command Not impremented AUTHENTICATE\r\n"),
            (b"a5 FOO", b"a5 BAD Command Not impremented FOO\r\n"),
            (b"a6 UNKNOWN", b"a6 BAD Command Not impremented UNKNOWN\r\n"),
            (b"a7 UID UID", b"a7 BAD Command Not impremented UID\r\n"),
            (b"a8 examine INBOX", b"a8 BAD Command Not impremented examine\r\n"),
            # A line without a command word answers with its own tag, never an earlier one.
            (b"a9", b"a9 BAD Command Not impremented \r\n"),
            (b"", b" BAD Command Not impremented \r\n"),
            (b" a10 NOOP", b" BAD Command Not impremented \r\n"),
        ]
        for line, answer in cases:
            with self.subTest(line=line):
                client.send(line + b"\r\n")
                client.expect(answer)

    def test_mailbox_commands_before_login_answer_bad_state(self):
        client = self.greeted()
        cases = [
            (b"s1 SELECT INBOX", b"s1 BAD State SELECT\r\n"),
            (b"s2 status INBOX (MESSAGES)", b"s2 BAD State status\r\n"),
            (b"s3 SUBSCRIBE INBOX", b"s3 BAD State SUBSCRIBE\r\n"),
            (b"s4 UNSUBSCRIBE INBOX", b"s4 BAD State UNSUBSCRIBE\r\n"),
            (b"s5 APPEND INBOX {3}", b"s5 BAD State APPEND\r\n"),
        ]
        for line, answer in cases:
            with self.subTest(line=line):
                client.send(line + b"\r\n")
                client.expect(answer)

    def test_command_split_over_several_packets(self):
        client = self.greeted()
        # The CR and the LF in packets of their own still end the line.
        client.send_in_pieces(b"a1 NO", b"OP", b"\r", b"\n")
        client.expect(b"a1 OK NOOP complated\r\n")
        client.send_in_pieces(b"a2 CAPA", b"BILITY\r\n")
        client.expect(b"* CAPABILITY IMAP4rev1 AUTH=\r\na2 OK CAPABILITY complated\r\n")

    def test_two_commands_in_one_packet(self):
        client = self.greeted()
        client.send(b"a1 NOOP\r\na2 CAPABILITY\r\n")
        client.expect(b"a1 OK NOOP complated\r\n"
                      b"* CAPABILITY IMAP4rev1 AUTH=\r\na2 OK CAPABILITY complated\r\n")

    def test_only_cr_lf_ends_a_line(self):
        client = self.greeted()
        # A bare LF is a byte of the line; a lone CR is dropped.
        client.send(b"a1 NOOP\n")
        client.send(b"a2 NOOP\r\n")
        client.expect(b"a1 BAD Command Not impremented NOOP\na2\r\n")
        client.send(b"a3 NO\rOP\r\n")
        client.expect(b"a3 OK NOOP complated\r\n")

    def test_idle_ends_with_done(self):
        client = self.greeted()
        client.send(b"a5 IDLE\r\n")
        client.expect(b"+ idling\r\n")
        client.send(b"DONE\r\n")
        client.expect(b"a5 OK IDLE complated\r\n")
        client.send(b"a6 NOOP\r\n")
        client.expect(b"a6 OK NOOP complated\r\n")

    def test_done_and_the_next_command_in_one_packet(self):
        client = self.greeted()
        client.send(b"a5 IDLE\r\n")
        client.expect(b"+ idling\r\n")
        client.send(b"done\r\na6 NOOP\r\n")
        client.expect(b"a5 OK IDLE complated\r\na6 OK NOOP complated\r\n")

    def test_idle_and_done_in_one_packet(self):
        client = self.greeted()
        client.send(b"a5 IDLE\r\nDONE\r\na6 NOOP\r\n")
        client.expect(b"+ idling\r\na5 OK IDLE complated\r\na6 OK NOOP complated\r\n")

    def test_logout_closes_the_connection(self):
        client = self.greeted()
        client.send(b"a9 LOGOUT\r\n")
        client.expect(b"* BYE Orvex IMAP4rev1 Server logging out\r\na9 OK LOGOUT complated\r\n")
        client.expect_closed()

    def test_commands_after_logout_in_the_same_packet_get_no_answer(self):
        client = self.greeted()
        client.send(b"a1 LOGOUT\r\na2 NOOP\r\n")
        client.expect(b"* BYE Orvex IMAP4rev1 Server logging out\r\na1 OK LOGOUT complated\r\n")
        client.expect_closed()
        # The server goes on serving others.
        other = self.greeted()
        other.send(b"b1 NOOP\r\n")
        other.expect(b"b1 OK NOOP complated\r\n")


if __name__ == "__main__":
    unittest.main()
