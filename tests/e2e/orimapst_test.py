"""The settings and accounts tool orimapst and the setup module behind the host's --setup: the
files they write, what they refuse, and that the server accepts the users they make."""

import os
import unittest

from harness import HostTestCase, host_program, orimapst_program, run, stored_line

RESTART_NOTICE = "サーバーの設定を変更した場合は Orvexを再起動してください"


class OrimapstTest(HostTestCase):

    def test_show_settings_and_users(self):
        os.remove(self.mailbox.settings_path)
        rc, out, err = self.mailbox.orimapst("show")
        self.assertEqual(rc, 0, err)
        self.assertIn("PortNo      143 (default)", out)
        self.assertIn("FolderName  1 (folder titles) (default)", out)
        self.assertIn("(none)", out)
        # Where the server's log goes, as the server reads the keys.
        self.assertIn("Log         %s\n" % os.path.join(self.mailbox.path, "Imap4.log"), out)
        self.mailbox.add_user("user1", "secret", "root1")
        self.assertEqual(self.mailbox.orimapst("set", "PortNo", "8143")[0], 0)
        self.assertEqual(self.mailbox.orimapst("set", "foldername", "0")[0], 0)
        rc, out, err = self.mailbox.orimapst("show")
        self.assertIn("PortNo      8143\n", out)
        self.assertIn("FolderName  0 (directory names)\n", out)
        self.mailbox.set_server_key("LogFile", "logs/imap.log")
        self.assertIn("Log         %s\n" % os.path.join(self.mailbox.path, "logs/imap.log"),
                      self.orimapst_ok("show"))
        self.mailbox.set_server_key("Log", 0)
        self.assertIn("Log         (off)\n", self.orimapst_ok("show"))
        self.assertIn("user1  mail root root1", out)
        with open(self.mailbox.settings_path, "rb") as f:
            settings = f.read()
        self.assertIn(b"[Server]", settings)
        self.assertIn(b"PortNo=8143", settings)
        self.assertIn(b"FolderName=0", settings)

    def test_require_tls_without_the_extended_mode_is_named_as_of_no_effect(self):
        note = "RequireTls has no effect until Extended is 1"
        self.setting("Extended", "0")
        self.assertIn(note, self.orimapst_ok("set", "RequireTls", "1"))
        self.assertIn("RequireTls  1 (no effect: it needs Extended 1", self.orimapst_ok("show"))
        # The server says it once at start-up, and LOGIN in the clear goes on.
        self.mailbox.add_user("user1", "secret")
        host = self.start_host()
        self.exchange(self.greeted(), b"a1 LOGIN user1 secret", b"a1 OK LOGIN complated\r\n")
        self.assert_stops_cleanly(host)
        self.assertEqual(host.stderr().count("RequireTls=1 has no effect"), 1)
        # With the extended mode the setting holds, and nothing is noted.
        self.assertNotIn(note, self.orimapst_ok("set", "Extended", "1"))
        self.assertIn("RequireTls  1 (LOGIN over TLS only)", self.orimapst_ok("show"))

    def test_settings_refused(self):
        with open(self.mailbox.settings_path, "rb") as f:
            before = f.read()
        for key, value in (("PortNo", "0"), ("PortNo", "65536"), ("PortNo", "12ab"),
                           ("PortNo", ""), ("FolderName", "2"), ("FolderName", "yes"),
                           ("TlsCert", "missing.pem"), ("TlsKey", "no/such/key.pem")):
            with self.subTest(key=key, value=value):
                rc, out, err = self.mailbox.orimapst("set", key, value)
                self.assertEqual(rc, 1)
                self.assertIn(key, err)
        rc, out, err = self.mailbox.orimapst("set", "Color", "1")
        self.assertEqual(rc, 2)
        self.assertIn("unknown setting", err)
        with open(self.mailbox.settings_path, "rb") as f:
            self.assertEqual(f.read(), before)

    def test_user_lines_and_what_the_server_accepts(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.add_user("user2", "other", "shared")
        data = self.mailbox.read_passwd()
        lines = data.split(b"\n")
        self.assertEqual(lines[2], b"")
        self.assertTrue(lines[0].startswith(b"user1:user1:"))
        self.assertTrue(lines[1].startswith(b"shared:user2:"))
        # The stored password is base64 of whole 8-byte blocks: "user1secret" takes two.
        self.assertRegex(lines[0], rb"^user1:user1:[A-Za-z0-9+/]{22}==$")

        rc, out, err = self.mailbox.orimapst("passwd", "user1", stdin_bytes=b"changed\n")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.mailbox.read_passwd().split(b"\n")[1], lines[1])

        self.start_host()
        client = self.greeted()
        client.send(b"a1 LOGIN user1 secret\r\n")
        client.expect(b"a1 NO username or password is incorrect\r\n")
        client.send(b"a2 LOGIN user1 changed\r\n")
        client.expect(b"a2 OK LOGIN complated\r\n")
        client.send(b"a3 LOGIN user2 other\r\n")
        client.expect(b"a3 OK LOGIN complated\r\n")

    def test_rewrites_keep_other_lines_byte_for_byte(self):
        ann = stored_line("ann", "pw", "ann")
        odd = b"odd line without colons"
        self.mailbox.write_passwd(ann + b"\r\n" + odd + b"\r\n\r\nlate:user:x")
        inode = os.stat(self.mailbox.passwd_path).st_ino

        self.mailbox.add_user("bob", "pw-bob")
        data = self.mailbox.read_passwd()
        # The new line goes before the empty line that ends the server's reading, with the
        # file's own line end.
        head, tail = data.split(b"\r\n\r\n")
        self.assertEqual(tail, b"late:user:x")
        head_lines = head.split(b"\r\n")
        self.assertEqual(head_lines[:2], [ann, odd])
        self.assertTrue(head_lines[2].startswith(b"bob:bob:"))
        # Replaced by a rename, never written in place; no temporary file is left.
        self.assertNotEqual(os.stat(self.mailbox.passwd_path).st_ino, inode)
        self.assertEqual(sorted(os.listdir(self.mailbox.path)), ["Imap4.ini", "passwd"])

        rc, out, err = self.mailbox.orimapst("remove-user", "ann")
        self.assertEqual(rc, 0, err)
        self.assertEqual(self.mailbox.read_passwd(),
                         odd + b"\r\n" + head_lines[2] + b"\r\n\r\nlate:user:x")

    def test_remove_user_removes_every_line_of_the_name(self):
        self.mailbox.write_passwd(stored_line("ann", "1", "a") + b"\n" +
                                  stored_line("bob", "2", "b") + b"\n" +
                                  stored_line("ann", "3", "c") + b"\n")
        rc, out, err = self.mailbox.orimapst("remove-user", "ann")
        self.assertEqual(rc, 0, err)
        self.assertIn("2 lines", out)
        self.assertEqual(self.mailbox.read_passwd(), stored_line("bob", "2", "b") + b"\n")

    def test_refusals_leave_the_account_file_alone(self):
        self.mailbox.add_user("user1", "secret")
        before = self.mailbox.read_passwd()
        cases = [
            (("add-user", "root", ""), b"pw\n", "user name must not be empty"),
            (("add-user", "", "name"), b"pw\n", "mail root must not be empty"),
            (("add-user", "root", "a:b"), b"pw\n", "must not contain ':'"),
            (("add-user", "ro:ot", "name"), b"pw\n", "must not contain ':'"),
            (("add-user", "root", "a\rb"), b"pw\n", "carriage return"),
            (("add-user", "root\nx", "name"), b"pw\n", "line feed"),
            (("add-user", "root", "user1"), b"pw\n", "already exists"),
            (("add-user", "root", "name"), b"", "no password"),
            (("add-user", "root", "name"), b"\n", "password must not be empty"),
            (("passwd", "nobody"), b"pw\n", "no user nobody"),
            (("passwd", "a:b"), b"pw\n", "must not contain ':'"),
            (("remove-user", "nobody"), b"", "no user nobody"),
        ]
        for args, stdin_bytes, message in cases:
            with self.subTest(args=args):
                rc, out, err = self.mailbox.orimapst(*args, stdin_bytes=stdin_bytes)
                self.assertEqual(rc, 1)
                self.assertIn(message, err)
                self.assertEqual(self.mailbox.read_passwd(), before)

    def test_command_line_errors(self):
        for args in (["show"], ["--mailbox", self.mailbox.path],
                     ["--mailbox", self.mailbox.path, "frob"],
                     ["--mailbox", self.mailbox.path, "add-user", "x"]):
            with self.subTest(args=args):
                rc, out, err = run([orimapst_program()] + args)
                self.assertEqual(rc, 2)
                self.assertIn("usage:", err)
        rc, out, err = run([orimapst_program(), "--mailbox", os.path.join(self.tmp, "nowhere"), "show"])
        self.assertEqual(rc, 1)
        self.assertIn("does not exist", err)


class SetupModuleTest(HostTestCase):
    """OPCSetup through the host's --setup: the setup module's menu, fed on standard input."""

    def setup(self, answers):
        return run([host_program(), "--mailbox", self.mailbox.path, "--setup"], answers)

    def test_changes_are_saved_and_the_restart_notice_shown(self):
        rc, out, err = self.setup(b"1\n8025\n2\n0\n3\nroot1\nuser1\nsecret\n6\n0\n")
        self.assertEqual(rc, 0, err)
        self.assertIn("PortNo      8025", out)
        self.assertIn("FolderName  0 (directory names)", out)
        self.assertIn("user1  mail root root1", out)
        self.assertIn(RESTART_NOTICE, err)
        self.assertIn("=== OrImap4S ===", err)
        self.assertTrue(self.mailbox.read_passwd().startswith(b"root1:user1:"))

    def test_no_change_no_notice(self):
        self.mailbox.add_user("user1", "secret")
        before = self.mailbox.read_passwd()
        # Refused answers change nothing; the end of the input ends the menu.
        rc, out, err = self.setup(b"1\n99999\n3\nroot\nbad:name\n5\nnobody\n7\n")
        self.assertEqual(rc, 0, err)
        self.assertIn("error: PortNo (the port number) must be", out)
        self.assertIn("error: the user name must not contain ':'", out)
        self.assertIn("error: there is no user nobody", out)
        self.assertIn("error: choose one of 0 to 6", out)
        self.assertNotIn(RESTART_NOTICE, err)
        self.assertEqual(self.mailbox.read_passwd(), before)

    def test_password_change_and_removal(self):
        self.mailbox.add_user("user1", "secret")
        self.mailbox.add_user("user2", "secret")
        rc, out, err = self.setup(b"4\nuser1\nnew\n5\nuser2\n0\n")
        self.assertEqual(rc, 0, err)
        self.assertIn(RESTART_NOTICE, err)
        self.assertEqual(self.mailbox.read_passwd().count(b"\n"), 1)
        self.start_host()
        client = self.greeted()
        client.send(b"a1 LOGIN user1 new\r\n")
        client.expect(b"a1 OK LOGIN complated\r\n")
        client.send(b"a2 LOGIN user2 secret\r\n")
        client.expect(b"a2 NO username or password is incorrect\r\n")


if __name__ == "__main__":
    unittest.main()
