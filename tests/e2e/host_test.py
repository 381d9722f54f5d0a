"""The host stand-in and the plug-in's life in it: stopping with clients connected, a port in
use, a host that lacks a function, the journal of host calls, the version dialog, where the
plug-in is found and the command line."""

import os
import shutil
import signal
import socket
import threading
import unittest

from harness import (STOP_BYE, Client, HostTestCase, built, host_program, run)

# The error box of a refused load, as the terminal shows it.
LOAD_ERROR_CAPTION = "プラグインエラー"
LOAD_ERROR_TEXT = ("プラグイン「OrvImapS Ver0.1」でエラーが発生しました。\n"
                   "  Orvex32とプラグインのバージョンを確認してください")


class StopTest(HostTestCase):

    def test_sigterm_says_bye_to_every_client_and_exits_0(self):
        self.mailbox.add_user("user1", "secret")
        host = self.start_host()
        fresh = self.greeted()
        logged_in = self.greeted()
        logged_in.send(b"a1 LOGIN user1 secret\r\n")
        logged_in.expect(b"a1 OK LOGIN complated\r\n")
        # Half a command line waits in the server's line buffer.
        partial = self.greeted()
        partial.send(b"b1 NO")
        gone = self.greeted()
        gone.send(b"c1 LOGOUT\r\n")
        gone.expect(b"* BYE Orvex IMAP4rev1 Server logging out\r\nc1 OK LOGOUT complated\r\n")
        gone.expect_closed()

        self.assertEqual(host.stop(signal.SIGTERM), 0, host.stderr())
        for client in (fresh, logged_in, partial):
            client.expect(STOP_BYE)
            client.expect_closed()
        self.assertIn("stopping", host.stdout())
        # The port is free again.
        with self.assertRaises(ConnectionRefusedError):
            Client(self.port)

    def test_sigterm_reaches_a_client_in_idle(self):
        host = self.start_host()
        idle = self.greeted()
        idle.send(b"b1 IDLE\r\n")
        idle.expect(b"+ idling\r\n")
        self.assertEqual(host.stop(signal.SIGTERM), 0, host.stderr())
        idle.expect(STOP_BYE)
        idle.expect_closed()

    def test_sigint_stops_the_server_too(self):
        host = self.start_host()
        client = self.greeted()
        self.assertEqual(host.stop(signal.SIGINT), 0, host.stderr())
        client.expect(STOP_BYE)
        client.expect_closed()

    def test_stop_while_clients_keep_sending(self):
        host = self.start_host()
        clients = [self.greeted() for _ in range(3)]
        stop = threading.Event()

        def chatter(client):
            # NOOPs until the server goes; the stop must not hang on a busy connection.
            try:
                while not stop.is_set():
                    client.send(b"n NOOP\r\n")
                    client.sock.recv(4096)
            except OSError:
                pass

        threads = [threading.Thread(target=chatter, args=(c,)) for c in clients]
        for t in threads:
            t.start()
        try:
            self.assertEqual(host.stop(), 0, host.stderr())
        finally:
            stop.set()
            for t in threads:
                t.join(timeout=10)


class StartTest(HostTestCase):

    def test_port_in_use_exits_1_with_a_clear_message(self):
        blocker = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(blocker.close)
        blocker.bind(("0.0.0.0", self.port))
        blocker.listen(1)
        host = self.new_host().start()
        self.assertEqual(host.wait(), 1)
        self.assertIn("port %d" % self.port, host.stderr())
        self.assertIn("in use", host.stderr())
        self.assertNotIn("listening", host.stdout())

    def test_a_host_lacking_a_function_has_the_load_refused(self):
        host = self.new_host("--plugin", built("bin", "OrvImapS.so"),
                             program=built("tests", "orvex-host-incomplete")).start()
        self.assertNotEqual(host.wait(), 0)
        err = host.stderr()
        self.assertIn(LOAD_ERROR_CAPTION, err)
        self.assertIn(LOAD_ERROR_TEXT, err)
        self.assertIn("refused to load", err)
        self.assertNotIn("listening", host.stdout())
        with self.assertRaises(ConnectionRefusedError):
            Client(self.port)

    def test_plugin_found_beside_the_program_from_any_directory(self):
        # A relative mailbox path, with and without its trailing "/", from the temp directory;
        # no --plugin: the plug-in beside the program is loaded.
        self.mailbox.add_user("user1", "secret")
        for mailbox in ("mail", "mail/"):
            with self.subTest(mailbox=mailbox):
                host = self.new_host(mailbox=mailbox).start()
                host.wait_listening(self.port)
                client = self.greeted()
                client.send(b"a1 LOGIN user1 secret\r\n")
                client.expect(b"a1 OK LOGIN complated\r\n")
                client.close()
                self.assertEqual(host.stop(), 0)

    def test_missing_mailbox_directory(self):
        rc, out, err = run([host_program(), "--mailbox", os.path.join(self.tmp, "nowhere")])
        self.assertEqual(rc, 1)
        self.assertIn("does not exist", err)

    def test_missing_plugin(self):
        rc, out, err = run([host_program(), "--mailbox", self.mailbox.path,
                            "--plugin", os.path.join(self.tmp, "none.so")])
        self.assertEqual(rc, 1)
        self.assertIn("cannot load the plug-in", err)

    def test_command_line(self):
        rc, out, err = run([host_program(), "--help"])
        self.assertEqual(rc, 0)
        for option in ("--mailbox", "--plugin", "--journal", "--version-info", "--setup"):
            self.assertIn(option, out)
        for args in ([], ["--mailbox"], ["--bogus"], ["--mailbox", self.mailbox.path, "--setup",
                                                      "--version-info"]):
            with self.subTest(args=args):
                rc, out, err = run([host_program()] + args)
                self.assertEqual(rc, 2)
                self.assertIn("orvex-host:", err)

    def test_version_info_shows_the_dialog_texts(self):
        rc, out, err = run([host_program(), "--mailbox", self.mailbox.path, "--version-info"])
        self.assertEqual(rc, 0, err)
        self.assertIn("=== ﾊﾞｰｼﾞｮﾝ情報(OrvImapS) ===", err)
        self.assertIn("  OrvImapS.dll  Version 0.1\n", err)
        self.assertIn("Copyright", err)
        self.assertIn("[ OK ]", err)
        self.assertIn("returned 1", out)


class JournalTest(HostTestCase):

    def test_every_host_call_is_one_line(self):
        # A stand-in plug-in calls all 34 host functions, the three the server uses from four
        # threads at once.
        journal = os.path.join(self.tmp, "journal.txt")
        host = self.new_host("--plugin", built("tests", "journal_probe.so"),
                             "--journal", journal).start()
        host.wait_listening(self.port)
        self.assertEqual(host.stop(), 0, host.stderr())
        with open(journal, "rb") as f:
            lines = f.read().split(b"\n")
        self.assertEqual(lines.pop(), b"")  # every line ends with LF

        others = lines[:31]
        self.assertIn(b"_OPAIsBusy@0", others)
        self.assertIn(b"_OPAKillTimer@4\t1", others)
        self.assertIn(b"_OPAMoveMail@8\t1\t2", others)
        self.assertIn(b"_OPASetTimer@12\t1\t2\t3", others)
        self.assertIn(b"_OPASaveMail@16\t1\t2\t3\t4", others)
        self.assertIn(b"_OPAViewChangeMail@8\t1\t2", others)
        self.assertEqual(len(set(others)), 31)

        server_calls = lines[31:]
        expected = set()
        for t in range(4):
            for n in range(50):
                mask, value = (b"0x40000000", b"0") if n % 2 == 0 else (b"0x20000000", b"1")
                expected.add(b"_OPAMarkMail@12\tuser%d\\inbox.box\\T%dN%04d\t%s\t%s" %
                             (t, t, n, mask, value))
        marks = [l for l in server_calls if l.startswith(b"_OPAMarkMail@12")]
        self.assertEqual(len(marks), 200)
        self.assertEqual(set(marks), expected)
        imports = [l for l in server_calls if l.startswith(b"_OPAImportFile@12")]
        self.assertEqual(imports, [b"_OPAImportFile@12\t/tmp/imp1A2B.tmp\tuser1\\\x8e\xf3\x90M.box"
                                   b"\t0x40000000"] * 200)
        mailbox_calls = [l for l in server_calls if l.startswith(b"_OPAGetMailbox@0")]
        self.assertEqual(mailbox_calls, [b"_OPAGetMailbox@0"] * 200)
        self.assertEqual(len(server_calls), 600)

    def test_the_servers_calls_are_written_at_once(self):
        journal = os.path.join(self.tmp, "journal.txt")
        host = self.start_host("--journal", journal)

        def count():
            with open(journal, "rb") as f:
                data = f.read()
            self.assertTrue(data.endswith(b"\n"))
            self.assertEqual(set(data.splitlines()), {b"_OPAGetMailbox@0"})
            return len(data.splitlines())

        # The settings and the account file were read at start-up.
        at_start = count()
        self.assertGreaterEqual(at_start, 2)
        # Each new connection reads the folder-name setting, while the host runs.
        client = self.greeted()
        client.send(b"a1 NOOP\r\n")
        client.expect(b"a1 OK NOOP complated\r\n")
        self.assertGreater(count(), at_start)
        self.assertEqual(host.stop(), 0)


class InstallationTest(HostTestCase):
    """A copy of the programs in a directory of its own, to show where libraries are found."""

    def install(self, *files):
        bin_dir = os.path.join(self.tmp, "bin")
        os.makedirs(bin_dir, exist_ok=True)
        for source, target in files:
            os.makedirs(os.path.dirname(os.path.join(bin_dir, target)), exist_ok=True)
            shutil.copy2(built("bin", source), os.path.join(bin_dir, target))
        return os.path.join(bin_dir, "orvex-host")

    def test_setup_without_a_setup_module(self):
        host = self.install(("orvex-host", "orvex-host"), ("OrvImapS.so", "OrvImapS.so"))
        rc, out, err = run([host, "--mailbox", self.mailbox.path, "--setup"], b"0\n")
        self.assertEqual(rc, 1)
        self.assertIn("setup module OrImapSt could not be loaded", err)

    def test_setup_module_in_the_plugins_folder(self):
        host = self.install(("orvex-host", "orvex-host"), ("OrvImapS.so", "OrvImapS.so"),
                            ("OrImapSt.so", "Plugins/OrImapSt.so"))
        rc, out, err = run([host, "--mailbox", self.mailbox.path, "--setup"], b"1\n8143\n0\n")
        self.assertEqual(rc, 0, err)
        self.assertIn("port number changed", out)
        with open(self.mailbox.settings_path, "rb") as f:
            self.assertIn(b"PortNo=8143", f.read())


if __name__ == "__main__":
    unittest.main()
