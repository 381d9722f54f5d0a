"""A migration of the whole store to a standard IMAP server with that server's own tool, as an
administrator moving a user off this server does: Dovecot's `doveadm backup -R imapc:` pulls
the account through Dovecot's IMAP client storage into a Maildir, once after messages were
flagged on this server and again after one more change (the last run before the switch). The
store is the demo's kind: Japanese folders, one whose Entry.ini has no title, a bare one, and
a draft. Every folder must arrive under its name and every message reading as in the store
with \\Seen, \\Answered, \\Draft and \\Flagged. doveadm runs as an ordinary account on a
throw-away configuration in the test's directory; no Dovecot service is started. The demo store
that orvex-host --make-demo writes is migrated as well, checked against its files."""

import email
import email.policy
import imaplib
import os
import shutil
import unittest

from client_case import ClientCase, decoded, give_to, read_maildirs, use_unprivileged_user
import fixture_store as fx
from harness import (ANSWERED, DRAFT, UNREAD, StoreTree, host_program, mutf7, read_tree,
                     run)

# Flagged through this server before the migration.
FLAGGED = [fx.QUOTED, fx.find(fx.REPORTS, 1)]


class DoveadmFlow:
    store_folders = fx.DEMO_FOLDERS

    def doveadm_backup(self):
        """doveadm backup -R imapc: into the Maildir of self.home; returns what run_client
        returns."""
        uid, gid = use_unprivileged_user()
        self.home = os.path.join(self.work, "home")
        if not os.path.isdir(self.home):
            os.makedirs(self.home)
            for sub in ("run", "state"):
                os.makedirs(os.path.join(self.work, "dovecot", sub))
            give_to(self.home, uid, gid, self.tmp)
        config = self.config("dovecot.conf", "dovecot.conf", uid=uid, gid=gid)
        return self.run_client(["doveadm", "-c", config, "backup", "-R", "imapc:"],
                               env={"USER": self.user, "HOME": self.home})

    def store_flags(self, changes):
        """UID STORE straight to the server, one (folder, uid, change) each."""
        c = imaplib.IMAP4("127.0.0.1", self.port, timeout=60)
        try:
            c.login(self.user, self.password)
            for folder, uid, change in changes:
                name = folder if isinstance(folder, str) else folder.name
                self.assertEqual(c.select('"%s"' % mutf7(name).decode())[0], "OK")
                self.assertEqual(c.uid("STORE", str(uid), change)[0], "OK")
        finally:
            c.logout()


class ExtendedModeTest(DoveadmFlow, ClientCase):
    extended = True

    def assert_migrated(self, flagged, read):
        """Every folder in the Maildir, its messages reading as the originals, each with the
        Maildir flags of the store's status, \\Seen for those of read, \\Flagged for those of
        flagged."""
        folders = read_maildirs(os.path.join(self.home, "Maildir"))
        self.assertEqual(sorted(folders), sorted(f.name for f in self.store_folders))
        for folder in self.store_folders:
            self.assert_folder_downloaded(folder, [m[2] for m in folders[folder.name]])
            for name, letters, data in folders[folder.name]:
                original = self.original_of(data)
                wanted = {"S": original.seen or original in read, "F": original in flagged,
                          "R": bool(original.status & ANSWERED),
                          "D": bool(original.status & DRAFT)}
                self.assertEqual(sorted(l for l in "DFRS" if l in letters),
                                 sorted(l for l, on in wanted.items() if on),
                                 (folder.name, original.name, name))

    def test_flow(self):
        self.store_flags([(m.folder, m.uid, "+FLAGS.SILENT (\\Flagged)") for m in FLAGGED])
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_migrated(FLAGGED, [])
        # Pulling only reads: nothing reached the host.
        self.assert_calls([])

        # One message read and one unflagged on this server since; the next run brings both.
        self.store_flags([(fx.INBOX, fx.PLAIN.uid, "+FLAGS.SILENT (\\Seen)"),
                          (fx.INBOX, fx.QUOTED.uid, "-FLAGS.SILENT (\\Flagged)")])
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 0, self.describe_runs())
        self.assert_migrated(FLAGGED[1:], [fx.PLAIN])
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0)])
        self.assert_store_through_calls()


def reading(msg, store_form=False):
    """What a reader sees of a message: its address and date fields, and each leaf part's type,
    file name and content (text for text parts, bytes for others). store_form: msg was parsed
    from the host's file decoded as code page 932, where text parts are not transfer-encoded
    unless in base64, which then holds Shift_JIS."""
    def addresses(field):
        return [(a.display_name, a.addr_spec) for a in msg[field].addresses]

    parts = []
    for part in msg.walk():
        if part.is_multipart():
            continue
        if part.get_content_maintype() != "text":
            content = part.get_payload(decode=True)
        elif not store_form:
            content = part.get_content()
        elif part["content-transfer-encoding"] == "base64":
            content = part.get_payload(decode=True).decode("cp932")
        else:
            content = part.get_payload()
        if isinstance(content, str):
            content = content.replace("\r\n", "\n")
        parts.append((part.get_content_type(), part.get_filename(), content))
    return (str(msg["subject"]), addresses("from"), addresses("to"), str(msg["date"]),
            str(msg["message-id"]).strip(), parts)


class DemoStoreTest(DoveadmFlow, ClientCase):
    """The demo store, as orvex-host --make-demo writes it, migrated whole."""

    extended = True
    user = password = "demo"
    # Directory under the mail root -> the name each folder must arrive under.
    FOLDERS = {"inbox.box": "INBOX", "outbox.box": "送信箱", "work.box": "仕事",
               "work.box/projects.box": "仕事/プロジェクト", "work.box/reports.box": "仕事/報告書",
               "news.box": "Newsletters", "backup": "backup"}
    # Flagged through this server before the migration: (folder, UID, Message-ID).
    FLAGGED = [("INBOX", 3, "<20250304140210.1002@demo.example>"),
               ("仕事/報告書", 1, "<20250331174000.3004@demo.example>")]

    def build_store(self):
        demo = os.path.join(self.tmp, "demo")
        rc, out, err = run([host_program(), "--mailbox", demo, "--make-demo"])
        self.assertEqual(rc, 0, err)
        shutil.copytree(os.path.join(demo, "demo"), os.path.join(self.mailbox.path, "demo"))
        shutil.copy(os.path.join(demo, "passwd"), self.mailbox.passwd_path)
        self.setting("FolderName", "1")
        self.store = StoreTree(self.mailbox.path, "demo")

    def store_messages(self, path):
        """{Message-ID: (reading, Maildir flag letters)} of a folder's files and index."""
        out = {}
        for name, status, _, _, _ in self.store.index(path):
            data = self.store.read(path, name.decode() + ".orv").split(b"\r\n", 1)[1]
            msg = email.message_from_string(data.decode("cp932"), policy=email.policy.default)
            r = reading(msg, store_form=True)
            flags = {"S": not status & UNREAD, "R": bool(status & ANSWERED),
                     "D": bool(status & DRAFT), "F": r[4] in [f[2] for f in self.FLAGGED]}
            out[r[4]] = (r, "".join(sorted(l for l, on in flags.items() if on)))
        return out

    def test_flow(self):
        self.store_flags([(f, uid, "+FLAGS.SILENT (\\Flagged)") for f, uid, _ in self.FLAGGED])
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 0, self.describe_runs())

        folders = read_maildirs(os.path.join(self.home, "Maildir"))
        self.assertEqual(sorted(folders), sorted(self.FOLDERS.values()))
        count = 0
        for path, name in self.FOLDERS.items():
            got = {}
            for _, letters, data in folders[name]:
                r = reading(decoded(data))
                got[r[4]] = (r, "".join(sorted(l for l in "DFRS" if l in letters)))
            self.assertEqual(got, self.store_messages(path), name)
            count += len(got)
        self.assertEqual(count, 12)
        # Pulling only reads: the host's files are as they were.
        host_files = lambda: {p: d for p, d in read_tree(self.store.root).items()
                              if not os.path.basename(p).startswith("Imap4.")}
        self.assertEqual(host_files(), {p: d for p, d in self.before.items()
                                        if not os.path.basename(p).startswith("Imap4.")})
        self.assert_calls([])


class ExactModeTest(DoveadmFlow, ClientCase):
    extended = False

    def test_flow(self):
        # Dovecot opens each folder with EXAMINE, which the exact mode does not implement:
        # doveadm stops at the first folder (exit code 75, a temporary failure), having read
        # no message.
        rc, out, err = self.doveadm_backup()
        self.assertEqual(rc, 75, self.describe_runs())
        self.assertIn("Command Not impremented EXAMINE", err)
        self.assert_exchange(rb"^\d+ EXAMINE ", b" BAD Command Not impremented EXAMINE\r\n")
        self.assertNotIn(b"FETCH", self.relay.client_bytes())
        self.assert_store_unchanged()


if __name__ == "__main__":
    unittest.main()
