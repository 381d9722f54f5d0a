"""TLS of the extended mode against a running server, with Python's ssl module and openssl
s_client as clients: STARTTLS and then LOGIN, SELECT, FETCH of a Japanese message, APPEND and
IDLE over TLS; implicit TLS on the TLS port; RequireTls refusing a plain LOGIN; bytes sent
after STARTTLS before the handshake ignored; handshakes that fail, stall or are cut off
ending their own connection only; the stop's goodbye over TLS; certificates that cannot be
used; the exact mode answering as before; and orimapst make-cert."""

import email
import email.policy
import os
import socket
import ssl
import stat
import unittest

from harness import (GREETING, STOP_BYE, TIMEOUT, UNREAD, Client, StoreTestCase,
                     free_port, read_to_end, run, sjis)

CAPS = (b"IMAP4rev1 CHILDREN ID IDLE LIST-EXTENDED LIST-STATUS MOVE NAMESPACE SASL-IR UIDPLUS "
        b"UNSELECT LITERAL+ CONDSTORE QRESYNC")
# Before LOGIN, wherever LOGIN is allowed.
PLAIN = CAPS + b" AUTH=PLAIN"
BEGIN = b" OK Begin TLS negotiation now\r\n"
SUBJECT = "日本語の件名"
BODY = "こんにちは、世界。\r\nTLS で届きました。\r\n"


def japanese_message():
    """A message as the host keeps it: Shift_JIS header and text."""
    return (b"From: sender@example.jp\r\nSubject: " + sjis(SUBJECT) + b"\r\n"
            b"Message-ID: <tls.1@example.jp>\r\n\r\n" + sjis(BODY))


class TlsTestCase(StoreTestCase):
    """user1 with an inbox of one Japanese message; a certificate for localhost made with
    orimapst make-cert in extended mode. Subclasses set further settings before the host
    starts (settings: extra orimapst set commands)."""

    extended = True
    make_cert = True
    settings = ()
    tls_port = False

    def setUp(self):
        super().setUp()
        if self.make_cert:
            self.orimapst_ok("make-cert", "localhost")
        self.cert = os.path.join(self.mailbox.path, "imap-cert.pem")
        self.tls_port_no = free_port() if self.tls_port else 0
        if self.tls_port:
            self.setting("TlsPort", str(self.tls_port_no))
        for key, value in self.settings:
            self.setting(key, value)
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=3,
                          messages=[("AAAA0001", UNREAD, japanese_message())])
        self.host = self.start_store_host(check_stop=True)

    def context(self):
        """A client context that trusts the test certificate only and checks the name."""
        return ssl.create_default_context(cafile=self.cert)

    def start_tls(self, client, tag=b"t1"):
        """STARTTLS on a greeted client; the client then talks TLS."""
        self.exchange(client, tag + b" STARTTLS", tag + BEGIN)
        self.assertEqual(client.pending, b"")
        client.sock = self.context().wrap_socket(client.sock, server_hostname="localhost")
        return client

    def tls_port_client(self):
        """A client of the TLS port after the handshake (the greeting left unread)."""
        raw = socket.create_connection(("127.0.0.1", self.tls_port_no), timeout=TIMEOUT)
        client = Client.__new__(Client)
        client.sock = self.context().wrap_socket(raw, server_hostname="localhost")
        client.pending = b""
        self.addCleanup(client.close)
        return client

    def client_hello(self):
        """The first bytes a TLS client sends."""
        incoming, outgoing = ssl.MemoryBIO(), ssl.MemoryBIO()
        tls = self.context().wrap_bio(incoming, outgoing, server_hostname="localhost")
        with self.assertRaises(ssl.SSLWantReadError):
            tls.do_handshake()
        return outgoing.read()

    def assert_fetches_the_message(self, client):
        """LOGIN, SELECT and FETCH of the Japanese message, read the way a mail reader reads
        it."""
        self.exchange(client, b"l1 LOGIN user1 secret", b"l1 OK LOGIN complated\r\n")
        self.assertTrue(client.answer(b"s1 SELECT INBOX").endswith(
            b"s1 OK [READ-WRITE] SELECT complated\r\n"))
        answer = client.answer(b"f1 UID FETCH 1 BODY.PEEK[]")
        self.assertTrue(answer.endswith(b"f1 OK FETCH complated\r\n"), answer)
        literal = answer[answer.index(b"}\r\n") + 3:answer.rindex(b")\r\nf1 ")]
        message = email.message_from_bytes(literal, policy=email.policy.default)
        self.assertEqual(str(message["subject"]), SUBJECT)
        # The text goes out in ISO-2022-JP.
        self.assertEqual(message.get_payload(decode=True).decode("iso-2022-jp"), BODY)


class StartTlsTest(TlsTestCase):

    def test_starttls_then_a_japanese_message(self):
        client = self.greeted()
        self.exchange(client, b"c1 CAPABILITY", b"* CAPABILITY " + PLAIN + b" STARTTLS\r\n"
                      b"c1 OK CAPABILITY complated\r\n")
        self.start_tls(client)
        self.assertIn(client.sock.version(), ("TLSv1.2", "TLSv1.3"))
        # Once TLS is on, STARTTLS is no longer offered, and a second one is refused.
        self.exchange(client, b"c2 CAPABILITY", b"* CAPABILITY " + PLAIN + b"\r\n"
                      b"c2 OK CAPABILITY complated\r\n")
        self.exchange(client, b"t2 STARTTLS", b"t2 BAD TLS is already on\r\n")
        self.assert_fetches_the_message(client)
        # A message appended over TLS (its literal read in blocks) reaches the host.
        text = (b"Subject: =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?=\r\n\r\n"
                + "本文\r\n".encode("iso-2022-jp") * 3000)
        client.append(b"a1 APPEND INBOX {%d}" % len(text), text)
        self.assertTrue(client.read_until(b"\r\n").startswith(b"a1 OK [APPENDUID 3 "))
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 1)
        # IDLE waits for input through TLS; DONE and the next command in one record.
        self.exchange(client, b"i1 IDLE", b"+ idling\r\n")
        client.send(b"DONE\r\nn1 NOOP\r\n")
        self.assertTrue(client.read_until(b"n1 OK NOOP complated\r\n").startswith(
            b"i1 OK IDLE complated\r\n"))
        self.exchange(client, b"o1 LOGOUT", b"* BYE Orvex IMAP4rev1 Server logging out\r\n"
                      b"o1 OK LOGOUT complated\r\n")
        client.expect_closed()

    def test_bytes_sent_after_starttls_are_ignored(self):
        client = self.greeted()
        # A LOGIN slipped in after STARTTLS, before the handshake, in the same packet.
        client.send(b"t1 STARTTLS\r\nx1 LOGIN user1 secret\r\n")
        client.expect(b"t1" + BEGIN)
        client.sock = self.context().wrap_socket(client.sock, server_hostname="localhost")
        # Not logged in: the injected command was never run, and never answered.
        self.exchange(client, b"s1 SELECT INBOX", b"s1 BAD State SELECT\r\n")
        self.exchange(client, b"l1 LOGIN user1 secret", b"l1 OK LOGIN complated\r\n")

    def test_starttls_needs_the_not_authenticated_state(self):
        client = self.logged_in()
        self.exchange(client, b"t1 STARTTLS", b"t1 BAD State STARTTLS\r\n")
        self.exchange(client, b"n1 NOOP", b"n1 OK NOOP complated\r\n")

    def test_failed_and_cut_off_handshakes_end_their_own_connection_only(self):
        other = self.logged_in()
        # Plain text where the handshake should be: the connection ends.
        bad = self.greeted()
        self.exchange(bad, b"t1 STARTTLS", b"t1" + BEGIN)
        bad.send(b"n1 NOOP\r\n")
        self.assertNotIn(b"NOOP", read_to_end(bad.sock))
        # Half a handshake, then the client is gone.
        cut = self.greeted()
        self.exchange(cut, b"t1 STARTTLS", b"t1" + BEGIN)
        hello = self.client_hello()
        cut.send(hello[:len(hello) // 2])
        cut.close()
        # A handshake that stalls in the middle.
        stalled = self.greeted()
        self.exchange(stalled, b"t1 STARTTLS", b"t1" + BEGIN)
        stalled.send(hello[:10])
        # The other clients are served all along, over TLS or not.
        self.exchange(other, b"n1 NOOP", b"n1 OK NOOP complated\r\n")
        fresh = self.start_tls(self.greeted())
        self.assert_fetches_the_message(fresh)

    def test_the_stop_says_goodbye_over_tls(self):
        client = self.start_tls(self.greeted())
        self.exchange(client, b"l1 LOGIN user1 secret", b"l1 OK LOGIN complated\r\n")
        # A handshake in progress must not hold the stop up.
        stalled = self.greeted()
        self.exchange(stalled, b"t1 STARTTLS", b"t1" + BEGIN)
        self.assertEqual(self.host.stop(), 0, self.host.stderr())
        client.expect(STOP_BYE)

    def test_openssl_s_client(self):
        rc, out, err = run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % self.port,
                            "-starttls", "imap", "-CAfile", self.cert, "-verify_return_error",
                            "-verify_hostname", "localhost", "-quiet"],
                           stdin_bytes=b"a1 LOGIN user1 secret\r\nb1 LOGOUT\r\n")
        self.assertIn("a1 OK LOGIN complated\r\n", out, err)
        self.assertIn("b1 OK LOGOUT complated\r\n", out, err)
        # Trusting nothing, the client refuses the certificate.
        other = os.path.join(self.tmp, "empty.pem")
        with open(other, "w") as f:
            f.write("")
        rc, out, err = run(["openssl", "s_client", "-connect", "127.0.0.1:%d" % self.port,
                            "-starttls", "imap", "-CAfile", other, "-verify_return_error",
                            "-quiet"], stdin_bytes=b"a1 LOGOUT\r\n")
        self.assertNotEqual(rc, 0)
        self.assertNotIn("a1 OK", out)


class TlsPortTest(TlsTestCase):
    tls_port = True

    def test_implicit_tls(self):
        client = self.tls_port_client()
        client.expect(GREETING)
        self.exchange(client, b"c1 CAPABILITY", b"* CAPABILITY " + PLAIN + b"\r\n"
                      b"c1 OK CAPABILITY complated\r\n")
        self.exchange(client, b"t1 STARTTLS", b"t1 BAD TLS is already on\r\n")
        self.assert_fetches_the_message(client)
        # The main port offers STARTTLS beside it.
        plain = self.greeted()
        self.exchange(plain, b"c1 CAPABILITY", b"* CAPABILITY " + PLAIN + b" STARTTLS\r\n"
                      b"c1 OK CAPABILITY complated\r\n")

    def test_openssl_s_client_and_clients_that_fail(self):
        rc, out, err = run(["openssl", "s_client", "-connect",
                            "127.0.0.1:%d" % self.tls_port_no, "-CAfile", self.cert,
                            "-verify_return_error", "-quiet"],
                           stdin_bytes=b"a1 LOGIN user1 secret\r\nb1 LOGOUT\r\n")
        self.assertIn("* OK Orvex IMAP4rev1 server ready\r\n", out, err)
        self.assertIn("a1 OK LOGIN complated\r\n", out, err)
        # A plain client gets no greeting in the clear; the connection ends.
        plain = socket.create_connection(("127.0.0.1", self.tls_port_no), timeout=TIMEOUT)
        self.addCleanup(plain.close)
        plain.sendall(b"a1 LOGIN user1 secret\r\n")
        self.assertNotIn(b"OK", read_to_end(plain))
        # A client that goes away in the middle of its handshake.
        cut = socket.create_connection(("127.0.0.1", self.tls_port_no), timeout=TIMEOUT)
        cut.sendall(self.client_hello()[:20])
        cut.close()
        client = self.tls_port_client()
        client.expect(GREETING)
        self.exchange(client, b"l1 LOGIN user1 secret", b"l1 OK LOGIN complated\r\n")

    def test_the_stop_with_a_stalled_handshake_and_a_session(self):
        client = self.tls_port_client()
        client.expect(GREETING)
        stalled = socket.create_connection(("127.0.0.1", self.tls_port_no), timeout=TIMEOUT)
        self.addCleanup(stalled.close)
        self.assertEqual(self.host.stop(), 0, self.host.stderr())
        client.expect(STOP_BYE)


class RequireTlsTest(TlsTestCase):
    settings = (("RequireTls", "1"),)

    def test_plain_login_is_refused(self):
        client = self.greeted()
        self.exchange(client, b"c1 CAPABILITY", b"* CAPABILITY " + CAPS +
                      b" STARTTLS LOGINDISABLED\r\nc1 OK CAPABILITY complated\r\n")
        self.exchange(client, b"l1 LOGIN user1 secret",
                      b"l1 NO [PRIVACYREQUIRED] LOGIN is allowed over TLS only\r\n")
        self.exchange(client, b"s1 SELECT INBOX", b"s1 BAD State SELECT\r\n")
        self.start_tls(client)
        self.exchange(client, b"c2 CAPABILITY", b"* CAPABILITY " + PLAIN + b"\r\n"
                      b"c2 OK CAPABILITY complated\r\n")
        self.assert_fetches_the_message(client)

    def test_python_imaplib_with_starttls(self):
        import imaplib
        c = imaplib.IMAP4("127.0.0.1", self.port, timeout=TIMEOUT)
        self.assertIn("LOGINDISABLED", c.capabilities)
        with self.assertRaises(imaplib.IMAP4.error):
            c.login("user1", "secret")
        c.starttls(ssl_context=self.context())
        self.assertNotIn("LOGINDISABLED", c.capabilities)
        self.assertEqual(c.login("user1", "secret")[0], "OK")
        self.assertEqual(c.select("INBOX")[0], "OK")
        c.logout()


class MissingFilesTest(StoreTestCase):
    """Certificate settings that cannot be used, and the exact mode: no TLS anywhere, and the
    answers of a server without a certificate."""

    def start_with(self, cert_text, extended=True):
        if extended:
            self.use_extended_mode()
        self.tls_port_no = free_port()
        self.mailbox.set_server_key("TlsCert", cert_text)
        self.mailbox.set_server_key("TlsPort", self.tls_port_no)
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=3,
                          messages=[("AAAA0001", UNREAD, japanese_message())])
        return self.start_store_host(check_stop=True)

    def assert_no_tls(self, capability):
        client = self.greeted()
        self.exchange(client, b"c1 CAPABILITY", b"* CAPABILITY " + capability + b"\r\n"
                      b"c1 OK CAPABILITY complated\r\n")
        self.exchange(client, b"t1 STARTTLS", b"t1 BAD Command Not impremented STARTTLS\r\n")
        with self.assertRaises(ConnectionRefusedError):
            socket.create_connection(("127.0.0.1", self.tls_port_no), timeout=TIMEOUT).close()
        self.exchange(client, b"l1 LOGIN user1 secret", b"l1 OK LOGIN complated\r\n")

    def test_a_missing_certificate_file_is_reported(self):
        host = self.start_with(b"missing.pem")
        self.assertIn("OrvImapS: TLS is off: cannot read the certificate " +
                      os.path.join(self.mailbox.path, "missing.pem"), host.stderr())
        self.assert_no_tls(PLAIN)

    def test_a_key_that_does_not_fit_is_reported(self):
        self.orimapst_ok("make-cert", "localhost")
        first = os.path.join(self.mailbox.path, "first-cert.pem")
        os.rename(os.path.join(self.mailbox.path, "imap-cert.pem"), first)
        # The settings name the second pair, but for the first certificate.
        self.orimapst_ok("make-cert", "localhost")
        host = self.start_with(first.encode())
        self.assertIn("OrvImapS: TLS is off: the private key does not match", host.stderr())
        self.assert_no_tls(PLAIN)

    def test_the_exact_mode_has_no_tls(self):
        self.orimapst_ok("make-cert", "localhost")
        host = self.start_with(b"imap-cert.pem", extended=False)
        self.assertIn("the TLS port %d stays closed: it needs Extended=1" % self.tls_port_no,
                      host.stderr())
        self.assert_no_tls(b"IMAP4rev1 AUTH=")


class MakeCertTest(StoreTestCase):

    def test_make_cert_writes_both_files_and_sets_them(self):
        key = os.path.join(self.mailbox.path, "imap-key.pem")
        cert = os.path.join(self.mailbox.path, "imap-cert.pem")
        # A key file left readable by others is narrowed when written again.
        with open(key, "w") as f:
            f.write("old")
        os.chmod(key, 0o644)
        self.assertIn("certificate for mail.example.jp written",
                      self.orimapst_ok("make-cert", "mail.example.jp"))
        self.assertEqual(stat.S_IMODE(os.stat(key).st_mode), 0o600)
        with open(self.mailbox.settings_path, "rb") as f:
            settings = f.read()
        self.assertIn(b"TlsCert=imap-cert.pem", settings)
        self.assertIn(b"TlsKey=imap-key.pem", settings)
        # The certificate names the host, localhost and 127.0.0.1, and the key fits it.
        rc, text, err = run(["openssl", "x509", "-in", cert, "-noout", "-text"])
        self.assertEqual(rc, 0, err)
        self.assertIn("DNS:mail.example.jp, DNS:localhost, IP Address:127.0.0.1", text)
        rc, cert_key, _ = run(["openssl", "x509", "-in", cert, "-noout", "-pubkey"])
        rc2, key_key, _ = run(["openssl", "pkey", "-in", key, "-pubout"])
        self.assertEqual((rc, rc2), (0, 0))
        self.assertEqual(cert_key, key_key)
        # Without a name: this machine's.
        self.assertIn("certificate for %s written" % socket.gethostname(),
                      self.orimapst_ok("make-cert"))
        self.assertIn("TlsCert     imap-cert.pem", self.orimapst_ok("show"))
        for args in (["set", "TlsPort", "65536"], ["set", "RequireTls", "2"]):
            rc, out, err = self.mailbox.orimapst(*args)
            self.assertEqual(rc, 1, args)
        # A directory where the key should go is not written through.
        os.remove(key)
        os.mkdir(key)
        rc, out, err = self.mailbox.orimapst("make-cert", "localhost")
        self.assertEqual(rc, 1)
        self.assertIn("cannot write the key file", err)


if __name__ == "__main__":
    unittest.main()
