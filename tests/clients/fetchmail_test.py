"""fetchmail in its three common modes, each on a fresh store: --keep (new mail, left on the
server), --all --keep (every message), and the default (new mail, deleted from the server).
Every message is delivered to a file of its own through an MDA. Then fetchmail in its default
configuration, which upgrades the connection with STARTTLS, against a server with a
certificate: the default mode over TLS in extended mode, and no mail at all in exact mode."""

import os
import unittest

from client_case import ClientCase
import fixture_store as fx
from harness import DELETED, UNREAD

UNSEEN = [m for m in fx.in_folder(fx.INBOX) if not m.seen]
# fetchmail first asks every message's RFC822.SIZE; in exact mode asking for a size marks a
# message read in the host's store, so every message of the inbox gets a mark.
SIZE_MARKS = [("mark", "inbox.box/" + m.name, UNREAD, 0) for m in fx.in_folder(fx.INBOX)]


class FetchmailClient:

    # The configuration template: fetchmailrc keeps TLS off.
    rc_template = "fetchmailrc"

    def fetchmail(self, *options):
        """Runs fetchmail once; returns (exit code, stdout, stderr, delivered messages)."""
        delivered = os.path.join(self.work, "delivered")
        os.makedirs(delivered, exist_ok=True)
        for name in os.listdir(delivered):
            os.remove(os.path.join(delivered, name))
        rc_file = self.config(self.rc_template, "fetchmailrc", cert=self.cert)
        rc, out, err = self.run_client(["fetchmail", "--fetchmailrc", rc_file, "--nodetach",
                                        "--verbose", "--idfile", os.path.join(self.work, "ids")]
                                       + list(options))
        messages = []
        for name in sorted(os.listdir(delivered)):
            with open(os.path.join(delivered, name), "rb") as f:
                messages.append(f.read())
        return rc, out, err, messages

    def assert_delivered(self, messages, originals):
        """The delivered messages are the originals (in any order), each reading the same."""
        got = sorted((self.original_of(m).name, m) for m in messages)
        self.assertEqual([n for n, _ in got], sorted(o.name for o in originals),
                         self.describe_runs())
        for name, data in got:
            self.assert_reads_as(data, fx.find(fx.INBOX, next(o.uid for o in originals
                                                               if o.name == name)))

    def assert_unseen_fetched(self, rc, messages, calls):
        """fetchmail ended well and delivered the unseen messages; the messages fetched are
        marked read, and only they, and the host got the calls given besides."""
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_delivered(messages, UNSEEN)
        self.assert_calls([("mark", "inbox.box/" + m.name, UNREAD, 0) for m in UNSEEN] + calls)
        self.assert_store_through_calls()


class FetchmailFlow(FetchmailClient):

    def test_keep(self):
        self.check_keep(*self.fetchmail("--keep"))

    def test_all_keep(self):
        rc, out, err, messages = self.fetchmail("--all", "--keep")
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_delivered(messages, fx.in_folder(fx.INBOX))
        # Every message is marked read (by its size in exact mode, after its fetch in extended
        # mode); nothing is deleted.
        self.assert_calls(SIZE_MARKS)
        self.assert_store_through_calls()
        self.assert_unread(fx.INBOX, [])
        # A second run with --keep finds no new mail.
        rc, out, err, messages = self.fetchmail("--keep")
        self.assertEqual((rc, messages), (1, []), self.describe_runs())

    def test_delete(self):
        self.check_delete(*self.fetchmail())


class ExactModeTest(FetchmailFlow, ClientCase):
    extended = False

    def assert_no_unseen_found(self, rc, err, messages):
        # fetchmail asks for the unseen messages; SEARCH knows only ALL and finds none, so
        # fetchmail reports no mail (exit code 1) although four are unseen.
        self.assertEqual((rc, messages), (1, []), self.describe_runs())
        self.assert_exchange(rb"^\w+ SEARCH UNSEEN", b" OK SEARCH complated\r\n",
                             starts=b"* SEARCH\r\n")
        self.assert_store_unchanged()

    def check_keep(self, rc, out, err, messages):
        self.assert_no_unseen_found(rc, err, messages)

    def check_delete(self, rc, out, err, messages):
        # fetchmail first expunges what earlier runs left marked deleted; EXPUNGE is not
        # implemented, and fetchmail gives up with a synchronization error.
        self.assertEqual((rc, messages), (7, []), self.describe_runs())
        self.assert_exchange(rb"^\w+ EXPUNGE$", b" BAD Command Not impremented EXPUNGE\r\n")
        self.assertIn("expunge failed", err)
        self.assert_store_unchanged()


class ExtendedModeTest(FetchmailFlow, ClientCase):
    extended = True

    def check_keep(self, rc, out, err, messages):
        self.assert_unseen_fetched(rc, messages, [])
        self.assert_unread(fx.INBOX, [])
        # The messages stay: a second run with --all --keep delivers all of them again.
        rc, out, err, messages = self.fetchmail("--all", "--keep")
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_delivered(messages, fx.in_folder(fx.INBOX))

    def check_delete(self, rc, out, err, messages):
        # Each fetched message is marked deleted and then deleted by the host.
        self.assert_unseen_fetched(rc, messages, [
            call for m in UNSEEN for call in (("mark", "inbox.box/" + m.name, DELETED, 1),
                                              ("delete", "inbox.box/" + m.name))])
        self.assertEqual(sorted(self.flags_of(fx.INBOX)),
                         sorted(m.name for m in fx.in_folder(fx.INBOX) if m.seen))


class FetchmailTls(FetchmailClient):
    """fetchmail in its default configuration, which upgrades the connection with STARTTLS,
    against a server with a certificate."""

    tls = True
    rc_template = "fetchmailrc-tls"


class ExtendedModeTlsTest(FetchmailTls, ClientCase):
    extended = True

    def test_default_configuration_over_starttls(self):
        rc, out, err, messages = self.fetchmail()
        self.assertIn("upgrade to TLS succeeded", out)
        self.assert_exchange(rb"^\w+ STARTTLS$", b" OK Begin TLS negotiation now\r\n")
        self.assert_password_never_in_clear()
        # Fetched and deleted as over a plain connection.
        ExtendedModeTest.check_delete(self, rc, out, err, messages)


class ExactModeTlsTest(FetchmailTls, ClientCase):
    extended = False

    def test_default_configuration_finds_no_starttls(self):
        # The exact mode offers no STARTTLS; fetchmail tries it all the same, is refused and
        # gives up before it logs in (exit code 2, a socket or TLS error).
        rc, out, err, messages = self.fetchmail()
        self.assertEqual((rc, messages), (2, []), self.describe_runs())
        self.assertIn("upgrade to TLS failed", err)
        self.assert_exchange(rb"^\w+ STARTTLS$", b" BAD Command Not impremented STARTTLS\r\n")
        self.assertNotIn(b"LOGIN", self.relay.client_bytes())
        self.assert_store_unchanged()


if __name__ == "__main__":
    unittest.main()
