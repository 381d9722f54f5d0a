"""mbsync (isync) as a person syncing a laptop: a full pull of every folder into a Maildir,
then a flag changed locally and pushed, then a message written locally and pushed; a second,
fresh pull shows the flags and the message the host now keeps. The same flow again with
mbsync's default connection security (STARTTLS) and authentication against a server with a
certificate, which the exact mode cannot serve."""

import os
import quopri
import unittest
from email.header import Header

from client_case import ClientCase, read_maildirs
import fixture_store as fx
from harness import UNREAD

PUSHED = fx.Original(fx.INBOX, "new", UNREAD, "ローカルで書いたメール", "松本 七子",
                     "matsumoto@example.jp", "mbsync で送ったメールです。\nよろしく。\n")


def pushed_bytes():
    """A Japanese message in UTF-8, quoted-printable, as a local mail program saves it."""
    o = PUSHED
    header = ("From: %s <%s>\nTo: user1@example.jp\nSubject: %s\n"
              "Date: Thu, 06 Mar 2025 08:00:00 +0900\nMessage-ID: <pushed.mbsync@example.jp>\n"
              "MIME-Version: 1.0\nContent-Type: text/plain; charset=utf-8\n"
              "Content-Transfer-Encoding: quoted-printable\n\n" %
              (Header(o.from_name, "utf-8").encode(), o.from_addr,
               Header(o.subject, "utf-8").encode()))
    return header.encode() + quopri.encodestring(o.body.encode())


class MbsyncFlow:

    # The configuration template: mbsyncrc keeps TLS off and logs in with LOGIN.
    rc_template = "mbsyncrc"

    def mbsync(self, maildir="mail"):
        config = self.config(self.rc_template, "mbsyncrc-" + maildir, maildir=maildir,
                             cert=self.cert)
        os.makedirs(os.path.join(self.work, maildir), exist_ok=True)
        return self.run_client(["mbsync", "--config", config, "--verbose", "all"])

    def folders(self, maildir="mail"):
        """{title: [(file name, flags, bytes)]} of a local Maildir tree."""
        return read_maildirs(os.path.join(self.work, maildir))

    def assert_pulled(self, folders, changed):
        """Every folder pulled, each message reading as its original, with the flags of the
        host's store, where the INBOX messages named in changed are seen now."""
        self.assertEqual(sorted(folders), sorted(f.name for f in fx.FOLDERS))
        for folder in fx.FOLDERS:
            got = [m for m in folders[folder.name] if b"<pushed.mbsync@" not in m[2]]
            self.assert_folder_downloaded(folder, [m[2] for m in got])
            for name, flags, data in got:
                original = self.original_of(data)
                seen = original.seen or (folder is fx.INBOX and original.name in changed)
                self.assertEqual("S" in flags, seen, (folder.name, original.name, name))
                self.assertEqual("R" in flags, original.name == "AAAA0002", name)

    def test_flow(self):
        rc, out, err = self.mbsync()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_pulled(self.folders(), [])
        # A pull reads with BODY.PEEK: nothing is marked.
        self.assert_calls([])

        # Message 1 read locally, pushed.
        inbox = os.path.join(self.work, "mail", "INBOX")
        for sub in ("new", "cur"):
            for name in os.listdir(os.path.join(inbox, sub)):
                with open(os.path.join(inbox, sub, name), "rb") as f:
                    if self.original_of(f.read()) is fx.PLAIN:
                        base = name.split(":2,")[0]
                        os.rename(os.path.join(inbox, sub, name),
                                  os.path.join(inbox, "cur", base + ":2,S"))
        self.check_flag_push(*self.mbsync())
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0)])

        # A message written locally, pushed.
        with open(os.path.join(inbox, "new", "1741215600.1.local"), "wb") as f:
            f.write(pushed_bytes())
        self.check_push(*self.mbsync())


class ExactModeTest(MbsyncFlow, ClientCase):
    extended = False

    def check_flag_push(self, rc, out, err):
        # The flag reaches the host, but the CHECK that mbsync sends to commit it is not
        # implemented, and mbsync gives up.
        self.assertEqual(rc, 1, self.describe_runs())
        self.assert_exchange(rb"^\d+ UID STORE 1 \+FLAGS.SILENT \(\\Seen\)$",
                             b" OK STORE complated\r\n")
        self.assert_exchange(rb"^\d+ CHECK$", b" BAD Command Not impremented CHECK\r\n")
        self.assertIn("IMAP command 'CHECK' returned an error", err)

    def check_push(self, rc, out, err):
        # mbsync appends a message without flags without a flag list, which is refused; it
        # warns and goes on, so the message never reaches the host.
        self.assertIn("far side refuses to store message", err)
        self.assert_exchange(rb'^\d+ APPEND "INBOX" \{\d+\}$', b" NO please give arguments\r\n")
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0)])
        self.assert_store_through_calls()


class ExtendedModeTest(MbsyncFlow, ClientCase):
    extended = True

    def check_flag_push(self, rc, out, err):
        self.assertEqual(rc, 0, self.describe_runs())

    def check_push(self, rc, out, err):
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("import", "temp", "inbox.box", UNREAD)])
        self.assert_stored_once("inbox.box", PUSHED)
        # A fresh pull: the flag set and the pushed message, as the host keeps them.
        rc, out, err = self.mbsync("again")
        self.assertEqual(rc, 0, self.describe_runs())
        folders = self.folders("again")
        self.assert_pulled(folders, ["AAAA0001"])
        pushed = [m for m in folders["INBOX"] if b"<pushed.mbsync@" in m[2]]
        self.assertEqual(len(pushed), 1)
        self.assertEqual(self.message_problems(pushed[0][2], PUSHED), [])
        self.assertNotIn("S", pushed[0][1])


class ExtendedModeTlsTest(ExtendedModeTest):
    tls = True
    rc_template = "mbsyncrc-tls"

    def test_flow(self):
        super().test_flow()
        self.assert_exchange(rb"^\w+ STARTTLS$", b" OK Begin TLS negotiation now\r\n")
        self.assert_password_never_in_clear()


class ExactModeTlsTest(MbsyncFlow, ClientCase):
    extended = False
    tls = True
    rc_template = "mbsyncrc-tls"

    def test_flow(self):
        # The exact mode offers no STARTTLS, and mbsync will not go on without it: it ends
        # after CAPABILITY, before it logs in.
        rc, out, err = self.mbsync()
        self.assertEqual(rc, 1, self.describe_runs())
        self.assertIn("SSL support not available", err)
        self.assertEqual(self.relay.client_bytes(), b"1 CAPABILITY\r\n")
        self.assert_store_unchanged()


if __name__ == "__main__":
    unittest.main()
