"""The connection commands and line handling of a running server, byte for byte: greeting,
CAPABILITY, NOOP, the not-implemented and state answers, IDLE, LOGOUT, and command lines split
over packets or sharing one."""

import unittest

from harness import GREETING, HostTestCase

CAPABILITY = b"* CAPABILITY IMAP4rev1 AUTH=\r\n"
BYE = b"* BYE Orvex IMAP4rev1 Server logging out\r\n"


class ConnectionCommandsTest(HostTestCase):

    def setUp(self):
        super().setUp()
        self.host = self.start_host()

    def test_greeting_comes_before_the_client_sends_anything(self):
        client = self.connect()
        client.expect(GREETING)

    def test_capability_and_noop(self):
        self.exchanges(self.greeted(), [
            (b"a1 CAPABILITY", CAPABILITY + b"a1 OK CAPABILITY complated\r\n"),
            # Extra words are ignored and the command word is echoed as typed.
            (b"a2 NOOP extra words", b"a2 OK NOOP complated\r\n"),
            (b"a3 noop", b"a3 OK noop complated\r\n")])

    def test_not_implemented_commands_and_commands_before_login(self):
        self.exchanges(self.greeted(), [
            (b"a4 AUTHENTICATE PLAIN", b"a4 BAD Command Not impremented AUTHENTICATE\r\n"),
            (b"a5 FOO", b"a5 BAD Command Not impremented FOO\r\n"),
            (b"a6 UNKNOWN", b"a6 BAD Command Not impremented UNKNOWN\r\n"),
            (b"a7 UID UID", b"a7 BAD Command Not impremented UID\r\n"),
            (b"a8 examine INBOX", b"a8 BAD Command Not impremented examine\r\n"),
            # A line without a command word answers with its own tag, never an earlier one.
            (b"a9", b"a9 BAD Command Not impremented \r\n"),
            (b"", b" BAD Command Not impremented \r\n"),
            (b" a10 NOOP", b" BAD Command Not impremented \r\n"),
            # Mailbox commands before LOGIN are refused for the state.
            (b"s1 SELECT INBOX", b"s1 BAD State SELECT\r\n"),
            (b"s2 status INBOX (MESSAGES)", b"s2 BAD State status\r\n"),
            (b"s3 SUBSCRIBE INBOX", b"s3 BAD State SUBSCRIBE\r\n"),
            (b"s4 UNSUBSCRIBE INBOX", b"s4 BAD State UNSUBSCRIBE\r\n"),
            (b"s5 APPEND INBOX {3}", b"s5 BAD State APPEND\r\n"),
        ])

    def test_command_split_over_several_packets(self):
        client = self.greeted()
        # The CR and the LF in packets of their own still end the line.
        client.send_in_pieces(b"a1 NO", b"OP", b"\r", b"\n")
        client.expect(b"a1 OK NOOP complated\r\n")
        client.send_in_pieces(b"a2 CAPA", b"BILITY\r\n")
        client.expect(CAPABILITY + b"a2 OK CAPABILITY complated\r\n")

    def test_two_commands_in_one_packet(self):
        client = self.greeted()
        client.send(b"a1 NOOP\r\na2 CAPABILITY\r\n")
        client.expect(b"a1 OK NOOP complated\r\n" + CAPABILITY + b"a2 OK CAPABILITY complated\r\n")

    def test_only_cr_lf_ends_a_line(self):
        client = self.greeted()
        # A bare LF is a byte of the line; a lone CR is dropped.
        client.send(b"a1 NOOP\n")
        client.send(b"a2 NOOP\r\n")
        client.expect(b"a1 BAD Command Not impremented NOOP\na2\r\n")
        client.send(b"a3 NO\rOP\r\n")
        client.expect(b"a3 OK NOOP complated\r\n")

    def test_idle_ends_with_done(self):
        # DONE in a packet of its own, in any case with the next command, or in the IDLE's own
        # packet: each step sends bytes and expects the answer to them.
        idling, done, noop = (b"+ idling\r\n", b"a5 OK IDLE complated\r\n",
                              b"a6 OK NOOP complated\r\n")
        for steps in ([(b"a5 IDLE\r\n", idling), (b"DONE\r\n", done), (b"a6 NOOP\r\n", noop)],
                      [(b"a5 IDLE\r\n", idling), (b"done\r\na6 NOOP\r\n", done + noop)],
                      [(b"a5 IDLE\r\nDONE\r\na6 NOOP\r\n", idling + done + noop)]):
            with self.subTest(steps=steps):
                client = self.greeted()
                for data, answer in steps:
                    client.send(data)
                    client.expect(answer)

    def test_logout_closes_the_connection(self):
        client = self.greeted()
        self.exchange(client, b"a9 LOGOUT", BYE + b"a9 OK LOGOUT complated\r\n")
        client.expect_closed()
        # Commands after LOGOUT in the same packet get no answer.
        client = self.greeted()
        self.exchange(client, b"a1 LOGOUT\r\na2 NOOP", BYE + b"a1 OK LOGOUT complated\r\n")
        client.expect_closed()
        # The server goes on serving others.
        self.exchange(self.greeted(), b"b1 NOOP", b"b1 OK NOOP complated\r\n")


if __name__ == "__main__":
    unittest.main()
