"""The host stand-in's own store: messages imported and status bits marked through its host
functions (called by a stand-in plug-in that runs a script of calls), from several threads at
once; the demo store of --make-demo served to a client; and ./run.sh on the demo."""

import base64
import os
import random
import shutil
import signal
import socket
import stat
import struct
import subprocess
import time
import unittest

from faults_test import figure
from harness import (ANSWERED, DELETED, PROCESS_TIMEOUT, UNREAD, Client, GREETING,
                     StoreTestCase, StoreTree, build_dir, built, host_program, index_value,
                     message_file, mutf7, parse_index, run, stored_line, wait_until)

IMPORT = b"_OPAImportFile@12"
MARK = b"_OPAMarkMail@12"


class ProbeTestCase(StoreTestCase):

    def message(self, name, data):
        """A file holding one message, to import."""
        path = os.path.join(self.host_tmp, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


class ImportTest(ProbeTestCase):

    def test_names_files_index_and_total(self):
        s = self.store
        s.folder("fresh.box", entry_ini=False)
        # Highest UID 9999 in lower case; the next name carries into the letters.
        s.folder("carry.box", title="carry", total=5)
        s.write("carry.box", "Entry.lst",
                b"AAAA0007=" + index_value(0) + b"\r\naaaz9999=" + index_value(0))
        # A message file that the index does not list still holds its name.
        s.folder("stray.box", messages=[("AAAA0001", 0, b"x")])
        s.write("stray.box", "AAAC0001.orv", b"stray")
        s.folder("empty.box", title="empty")
        text = b"From: a\nSubject: x\n\nbody\r\nend\rstill\n"
        m = self.message("m1", text)
        before = time.time()
        self.run_probe(("import", m, "user1\\fresh.box", "0x40000000"),
                       ("import", m, "user1\\fresh.box", "0"),
                       ("import", m, "user1/carry.box", "0x0102ABCD"),
                       ("import", m, "user1\\stray.box", "0x40000000"),
                       ("import", self.message("m2", b""), "user1\\empty.box", "0x40000000"))
        # Every LF without a CR before it gets one; a lone CR stays.
        stored = b"From: a\r\nSubject: x\r\n\r\nbody\r\nend\rstill\r\n"
        cases = [
            ("fresh.box", ["AAAA0001", "AAAA0002"], [UNREAD, 0], 2),
            ("carry.box", ["AAAA0007", "aaaz9999", "AABA0000"], [0, 0, 0x0102ABCD], 6),
            ("stray.box", ["AAAA0001", "AAAC0002"], [0, UNREAD], 2),
            ("empty.box", ["AAAA0001"], [UNREAD], 1),
        ]
        for folder, names, statuses, total in cases:
            with self.subTest(folder=folder):
                index = s.index(folder)
                self.assertEqual([e[0].decode() for e in index], names)
                self.assertEqual([e[1] for e in index], statuses)
                self.assertEqual(s.total(folder), total)
                new = index[-1]
                body = b"" if folder == "empty.box" else stored
                data = s.read(folder, names[-1] + ".orv")
                self.assertEqual(data, message_file(statuses[-1], body))
                self.assertEqual(new[2], len(data))
                self.assertTrue(before - 2 <= new[3] <= time.time() + 2, new[3])
                self.assertEqual(new[4], b"\r\n")
                # Only the stored files: no temporary file is left behind.
                self.assertEqual(sorted(f for f in os.listdir(s.path(folder))
                                        if f.endswith(".orv")),
                                 sorted(f for f in os.listdir(s.path(folder))
                                        if not f.startswith(("Entry.", "Imap4."))))
        self.assertEqual(s.read("fresh.box", "AAAA0002.orv")[:26], b"X-Orvex-Status: 00000000\r\n")
        self.assertEqual(s.read("carry.box", "AABA0000.orv")[:26], b"X-Orvex-Status: 0102ABCD\r\n")
        # The index line the carry folder had without a line end got one.
        self.assertTrue(s.read("carry.box", "Entry.lst").startswith(
            b"AAAA0007=" + index_value(0) + b"\r\naaaz9999=" + index_value(0) + b"\r\nAABA0000="))
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 5)

    def test_imports_that_store_nothing(self):
        self.store.folder("inbox.box", messages=[("AAAA0001", 0, b"x")])
        before = sorted(os.listdir(self.store.path("inbox.box")))
        index = self.store.read("inbox.box", "Entry.lst")
        m = self.message("m1", b"hello")
        outside = os.path.join(self.mailbox.path, "outside")
        os.makedirs(outside)
        self.run_probe(("import", os.path.join(self.host_tmp, "missing"), "user1\\inbox.box",
                        "0x40000000"),
                       ("import", m, "user1\\missing.box", "0x40000000"),
                       ("import", m, "user1\\..\\outside", "0x40000000"),
                       ("import", m, "\\outside", "0x40000000"),
                       ("import", m, "user1\\inbox.box\\..\\..\\outside", "0x40000000"))
        self.assertEqual(sorted(os.listdir(self.store.path("inbox.box"))), before)
        self.assertEqual(self.store.read("inbox.box", "Entry.lst"), index)
        self.assertEqual(os.listdir(outside), [])
        self.assertFalse(os.path.exists(self.store.path("missing.box")))
        # Every call is in the journal all the same.
        self.assertEqual(len(self.host_calls("_OPAImportFile@12")), 5)


    def test_a_folder_name_with_a_backslash_trail_byte(self):
        # 表 is 0x95 0x5C in Shift_JIS: its second byte is no separator.
        folder = "表.box".encode("cp932")
        directory = os.path.join(os.fsencode(self.store.root), folder)
        os.makedirs(directory)
        m = self.message("m", b"x")
        key = b"user1\\" + folder + b"\\AAAA0001"
        self.run_probe(("import", m, b"user1\\" + folder, "0x40000000"),
                       ("mark", key, "0x40000000", "0"), ("mark", key, "0x20000000", "1"))
        with open(os.path.join(directory, b"Entry.lst"), "rb") as f:
            self.assertEqual([e[:2] for e in parse_index(f.read())], [(b"AAAA0001", ANSWERED)])
        with open(os.path.join(directory, b"AAAA0001.orv"), "rb") as f:
            self.assertEqual(f.read(), message_file(UNREAD, b"x"))


class MarkTest(ProbeTestCase):

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", total=4)
        self.lines = [
            b"AAAA0001=" + index_value(UNREAD, 100, 1700000000) + b"\r\n",
            b"AAAA0002=" + index_value(0, 200, 1700000001) + b"\n",
            # A record longer than the three words keeps its other bytes.
            b"AAAA0003=" + base64.b64encode(struct.pack("<IIII", ANSWERED | UNREAD, 300, 5,
                                                        0xDEADBEEF)) + b"\r\n",
            b"AAAA0004=" + index_value(DELETED, 400, 6),
        ]
        self.store.write("inbox.box", "Entry.lst", b"".join(self.lines))

    def test_set_and_clear_bits(self):
        self.run_probe(("mark", "user1\\inbox.box\\aaaa0001", "0x40000000", "0"),
                       ("mark", "user1\\inbox.box\\AAAA0002", "0x20000000", "1"),
                       ("mark", "user1\\inbox.box\\AaAa0002", "0x00020000", "1"),
                       ("mark", "user1/inbox.box/AAAA0003", "0x20000000", "0"),
                       # Already clear, and already set: no change.
                       ("mark", "user1\\inbox.box\\AAAA0004", "0x40000000", "0"),
                       ("mark", "user1\\inbox.box\\AAAA0004", "0x00020000", "1"))
        index = parse_index(self.store.read("inbox.box", "Entry.lst"))
        self.assertEqual(index, [
            (b"AAAA0001", 0, 100, 1700000000, b"\r\n"),
            (b"AAAA0002", ANSWERED | DELETED, 200, 1700000001, b"\n"),
            (b"AAAA0003", UNREAD, 300, 5, b"\r\n"),
            (b"AAAA0004", DELETED, 400, 6, b""),
        ])
        lines = self.store.read("inbox.box", "Entry.lst").splitlines(keepends=True)
        self.assertEqual(struct.unpack("<I", base64.b64decode(lines[2][9:])[12:]), (0xDEADBEEF,))
        self.assertEqual(lines[3], self.lines[3])
        # The message files are not touched.
        self.assertEqual(sorted(os.listdir(self.store.path("inbox.box"))),
                         ["Entry.ini", "Entry.lst"])
        self.assertEqual(len(self.host_calls("_OPAMarkMail@12")), 6)

    def test_changes_made_between_marks_are_seen(self):
        # Another program changes the index between marks, in place and then by a rename
        # over it, in a folder whose time is long settled: a mark that would change nothing in
        # the index as last read still finds and changes what the file holds now.
        folder = self.store.path("inbox.box")
        path = self.store.path("inbox.box", "Entry.lst")
        in_place = self.message("in-place", b"".join(self.lines))
        lines = list(self.lines)
        lines[1] = b"AAAA0002=" + index_value(UNREAD, 200, 1700000001) + b"\n"
        renamed = self.message("renamed", b"".join(lines))
        settled = time.time() - 3600
        os.utime(folder, (settled, settled))
        first, second = "user1\\inbox.box\\AAAA0001", "user1\\inbox.box\\AAAA0002"
        self.run_probe(("mark", first, "0x40000000", "0"),
                       ("mark", first, "0x40000000", "0"),
                       ("copy", in_place, path),
                       ("mark", first, "0x40000000", "0"),
                       ("replace", renamed, path),
                       ("mark", second, "0x40000000", "0"),
                       ("mark", first, "0x40000000", "0"))
        index = parse_index(self.store.read("inbox.box", "Entry.lst"))
        self.assertEqual([e[:2] for e in index], [(b"AAAA0001", 0), (b"AAAA0002", 0),
                                                  (b"AAAA0003", ANSWERED | UNREAD),
                                                  (b"AAAA0004", DELETED)])

    def test_unknown_keys_change_nothing(self):
        path = self.store.path("inbox.box", "Entry.lst")
        before = os.stat(path)
        keys = ["user1\\inbox.box\\AAAA0009", "user1\\inbox.box\\AAAA000",
                "user1\\nosuch.box\\AAAA0001", "user1\\inbox.box", "AAAA0001",
                "user1\\inbox.box\\..\\inbox.box\\AAAA0001"]
        self.run_probe(*[("mark", key, "0x40000000", "0") for key in keys])
        after = os.stat(path)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        self.assertEqual(self.store.read("inbox.box", "Entry.lst"), b"".join(self.lines))
        self.assertEqual(len(self.host_calls("_OPAMarkMail@12")), 6)


class MarkThroughTheServerTest(StoreTestCase):

    def test_store_marks_the_message_in_the_hosts_index(self):
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=3, messages=[
            ("AAAA0001", UNREAD, b"Subject: a\r\n\r\nx\r\n"),
            ("AAAA0002", UNREAD, b"Subject: b\r\n\r\ny\r\n"),
        ])
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.send(b"a1 SELECT INBOX\r\n")
        client.expect(b"* 2 EXISTS\r\n* 2 RECENT\r\n")
        client.read_until(b"a1 OK [READ-WRITE] SELECT complated\r\n")
        client.send(b"a2 STORE 1 +FLAGS (\\Seen \\Answered)\r\n")
        client.send(b"a3 UID STORE 2 +FLAGS (\\Deleted)\r\n")
        client.read_until(b"a3 OK STORE complated\r\n")
        self.assertEqual(self.host_calls(), [
            [MARK, b"user1\\inbox.box\\AAAA0001", b"0x40000000", b"0"],
            [MARK, b"user1\\inbox.box\\AAAA0001", b"0x20000000", b"1"],
            [MARK, b"user1\\inbox.box\\AAAA0002", b"0x00020000", b"1"],
        ])
        self.assertEqual([e[:2] for e in self.store.index("inbox.box")],
                         [(b"AAAA0001", ANSWERED), (b"AAAA0002", UNREAD | DELETED)])
        # The next SELECT reads the changed index.
        client.send(b"a5 SELECT INBOX\r\n")
        client.expect(b"* 2 EXISTS\r\n* 1 RECENT\r\n")


class ConcurrencyTest(ProbeTestCase):

    def test_calls_from_eight_threads_at_once(self):
        self.store.folder("inbox.box", title="受信トレイ", messages=[("AAAA0001", 0, b"x")])
        m = self.message("m", b"Subject: same\n\nfrom every thread\n")
        script = [("threads", "8")]
        for _ in range(5):
            script.append(("import", m, "user1\\inbox.box", "0x40000000"))
            # Each thread sets a bit of its own on the first message: none may get lost.
            script.append(("mark", "user1\\inbox.box\\AAAA0001", "%b", "1"))
        self.run_probe(*script)
        index = self.store.index("inbox.box")
        self.assertEqual([e[0] for e in index], [b"AAAA%04d" % i for i in range(1, 42)])
        self.assertEqual(index[0][1], 0xFF)
        self.assertEqual(self.store.total("inbox.box"), 41)
        files = os.listdir(self.store.path("inbox.box"))
        self.assertEqual(len([f for f in files if f.endswith(".orv")]), 41)
        self.assertEqual(len(files), 41 + 2)  # and Entry.ini and Entry.lst: no temporary file
        calls = self.host_calls()
        self.assertEqual(len([c for c in calls if c[0] == IMPORT]), 40)
        self.assertEqual(sorted(c[2] for c in calls if c[0] == MARK),
                         sorted(b"0x%08X" % (1 << t) for t in range(8) for _ in range(5)))


class KillTest(ProbeTestCase):
    """The host killed (SIGKILL) while several threads import and delete: the folder's Total
    and its index must agree once the host has started again, however the kill fell, and no
    temporary file of the store may be left. Between the kill and the next start, Total may
    run ahead of the index but never behind it, so no listed message is ever hidden."""

    ROUNDS = 10

    def start_probe(self, script):
        with open(os.path.join(self.mailbox.path, "store-probe.txt"), "wb") as f:
            for line in script:
                f.write(b"\t".join(os.fsencode(field) for field in line) + b"\n")
        return self.new_host("--plugin", built("tests", "store_probe.so"),
                             "--journal", self.journal).start()

    def leftovers(self):
        return sorted(os.path.relpath(os.path.join(d, n), self.store.root)
                      for d, _, names in os.walk(self.store.root) for n in names
                      if not (n.endswith(".orv") or n in ("Entry.ini", "Entry.lst")))

    def test_the_next_start_sets_right_what_a_crash_left(self):
        s = self.store
        lines = lambda n: b"".join(b"AAAA%04d=" % i + index_value(0) + b"\r\n"
                                   for i in range(1, n + 1))
        # Stopped between Total and the index of an import, and of a delete; in a folder
        # without Entry.ini before its first import; a folder written by hand whose Total
        # differs from its index, with no marker, is left as it is.
        for folder, total, listed in (("import.box", 4, 3), ("delete.box", 5, 2),
                                      ("fresh.box", None, 1), ("hand.box", 7, 2),
                                      ("sub.box/deep.box", 0, 2)):
            s.folder(folder, title="t", entry_ini=total is not None, total=total)
            s.write(folder, "Entry.lst", lines(listed))
        for folder in ("import.box", "delete.box", "fresh.box", "sub.box/deep.box"):
            s.write(folder, "chg1F.tmp", b"")
        # Files written before their rename, and a profile's.
        s.write("import.box", "orv2A.tmp", b"AAAA0004=")
        s.write("hand.box", "orvFF.tmp", b"X-Orvex-Status: 0")
        s.write("hand.box", "Entry.ini.1f.2.tmp", b"[Property]\r\n")
        s.write("hand.box", "other.tmp", b"not the store's")
        self.run_probe()
        for folder, total in (("import.box", 3), ("delete.box", 2), ("fresh.box", 1),
                              ("hand.box", 7), ("sub.box/deep.box", 2)):
            with self.subTest(folder=folder):
                self.assertEqual(s.total(folder), total)
        self.assertEqual(self.leftovers(), ["hand.box/other.tmp"])
        # Titles and other keys stay.
        self.assertEqual(s.read("delete.box", "Entry.ini"), b"[Property]\r\nTitle=t\r\nTotal=2\r\n")

    def test_total_and_index_agree_after_a_kill(self):
        self.store.folder("inbox.box", title="受信トレイ")
        m = self.message("m", b"Subject: burst\n\n" + b"line of the body\n" * 40)
        chance = random.Random(7)
        rounds = []
        for _ in range(self.ROUNDS):
            # Four threads import; each also deletes some of what was listed.
            listed = self.store.names("inbox.box")
            script = [("threads", "4")]
            for n in range(150):
                script.append(("import", m, "user1\\inbox.box", "0x40000000"))
                if n % 3 == 0 and n // 3 < len(listed):
                    script.append(("delete", "user1\\inbox.box\\" + listed[n // 3]))
            host = self.start_probe(script)
            # Killed once some calls are done, at a moment the seed picks.
            wait_until(lambda: len(self.host_calls()) >= 20 or host.process.poll() is not None,
                       "the first calls")
            time.sleep(chance.uniform(0.0, 0.5))
            mid_burst = "listening" not in host.stdout()
            host.process.send_signal(signal.SIGKILL)
            host.process.wait(timeout=PROCESS_TIMEOUT)
            killed = (len(self.store.index("inbox.box")), self.store.total("inbox.box"))
            # The next start puts the two in agreement and clears what the kill left.
            again = self.start_probe([])
            again.wait_listening(self.port)
            self.assertEqual(again.stop(), 0, again.stderr())
            started = (len(self.store.index("inbox.box")), self.store.total("inbox.box"))
            rounds.append((mid_burst, killed, started, self.leftovers()))
        figure("kill test: %d of %d kills mid-burst; Total behind the index after %d kills, "
               "ahead after %d; Total and index agreeing after %d next starts, temporary files "
               "left after %d", sum(r[0] for r in rounds), len(rounds),
               sum(1 for r in rounds if r[1][1] < r[1][0]),
               sum(1 for r in rounds if r[1][1] > r[1][0]),
               sum(1 for r in rounds if r[2][1] == r[2][0]), sum(1 for r in rounds if r[3]))
        for n, (_, (lines, total), (lines_then, total_then), left) in enumerate(rounds):
            with self.subTest(round=n):
                self.assertGreaterEqual(total, lines, "Total behind the index after the kill")
                self.assertEqual(total_then, lines_then, "Total and index after the next start")
                self.assertEqual(left, [])
        # The kills fell while the calls went on, so they tested something.
        self.assertGreater(sum(r[0] for r in rounds), self.ROUNDS // 2)
        # A client sees every listed message.
        self.start_store_host(check_stop=True)
        client = self.logged_in()
        client.send(b"a1 SELECT INBOX\r\n")
        client.expect(b"* %d EXISTS\r\n" % len(self.store.index("inbox.box")))


class DemoTest(StoreTestCase):

    def make_demo(self, path):
        return run([host_program(), "--mailbox", path, "--make-demo"])

    def test_make_demo_writes_the_store(self):
        path = os.path.join(self.tmp, "demo")
        rc, out, err = self.make_demo(path)
        self.assertEqual(rc, 0, err)
        self.assertIn("user demo, password demo, port 10143", out)
        with open(os.path.join(path, "passwd"), "rb") as f:
            self.assertEqual(f.read(), stored_line("demo", "demo", "demo") + b"\n")
        with open(os.path.join(path, "Imap4.ini"), "rb") as f:
            self.assertEqual(f.read().split(),
                             [b"[Server]", b"PortNo=10143", b"FolderName=1", b"Extended=1"])

        tree = StoreTree(path, "demo")
        folders = {"inbox.box": "受信トレイ", "outbox.box": "送信箱", "work.box": "仕事",
                   "work.box/projects.box": "プロジェクト", "work.box/reports.box": "報告書",
                   "news.box": "Newsletters"}
        count = 0
        for folder, title in folders.items():
            with self.subTest(folder=folder):
                ini = tree.read(folder, "Entry.ini")
                self.assertIn(b"Title=" + title.encode("cp932") + b"\r\n", ini)
                self.assertEqual(b"Type=Subfolder" in ini, folder == "work.box")
                index = tree.index(folder)
                self.assertEqual(tree.total(folder), len(index))
                for name, status, size, _, _ in index:
                    data = tree.read(folder, name.decode() + ".orv")
                    self.assertEqual(size, len(data))
                    self.assertTrue(data.startswith(b"X-Orvex-Status: %08X\r\n" % status))
                    self.assertEqual(data.count(b"\n"), data.count(b"\r\n"))
                    data.decode("cp932")
                count += len(index)
        self.assertEqual(count, 12)
        self.assertEqual(os.listdir(tree.path("backup")), [])

        inbox = b"".join(tree.read("inbox.box", "AAAA%04d.orv" % i) for i in range(1, 7))
        self.assertIn("Subject: 打ち合わせの件\r\n".encode("cp932"), inbox)
        self.assertIn(b"Content-Disposition: attachment", inbox)
        self.assertIn(b"Subject: Welcome to the OrvImapS demo\r\n", inbox)
        self.assertGreater(max(os.path.getsize(tree.path("inbox.box", "AAAA%04d.orv" % i))
                               for i in range(1, 7)), 10000)

        # Never into a directory that holds anything.
        rc, out, err = self.make_demo(path)
        self.assertEqual(rc, 1)
        self.assertIn("not empty", err)


class RunScriptTest(StoreTestCase):
    """./run.sh in a copy of the checkout whose build/bin is the build under test and whose
    cmake is a stand-in, so no build runs."""

    DEMO_PORT = 10143

    def checkout(self, name):
        """A directory with run.sh, the build under test as build/bin, and a cmake on PATH
        that only notes its arguments. Returns (directory, environment, cmake log)."""
        root = os.path.join(self.tmp, name)
        os.makedirs(os.path.join(root, "build"))
        here = os.path.dirname(os.path.abspath(__file__))
        shutil.copy2(os.path.join(here, "..", "..", "run.sh"), root)
        # The package check it makes first finds everything installed.
        os.makedirs(os.path.join(root, "tests"))
        shutil.copy2(os.path.join(here, "..", "install_packages.sh"), os.path.join(root, "tests"))
        os.symlink(os.path.join(build_dir(), "bin"), os.path.join(root, "build", "bin"))
        tools = os.path.join(root, "tools")
        os.makedirs(tools)
        log = os.path.join(root, "cmake.log")
        with open(os.path.join(tools, "cmake"), "w") as f:
            f.write('#!/bin/sh\necho "$@" >> "%s"\n' % log)
        os.chmod(os.path.join(tools, "cmake"), stat.S_IRWXU)
        return root, dict(os.environ, PATH=tools + os.pathsep + os.environ["PATH"]), log

    def start_run(self, root, env, port):
        """Starts ./run.sh and waits until the server listens; returns (process, output)."""
        out_path = os.path.join(root, "run.out")
        with open(out_path, "wb") as out:
            process = subprocess.Popen(["bash", "run.sh"], cwd=root, env=env,
                                       stdin=subprocess.DEVNULL, stdout=out,
                                       stderr=subprocess.STDOUT)
        self.addCleanup(lambda: process.poll() is None and process.kill())

        def output():
            with open(out_path, "rb") as f:
                return f.read().decode("utf-8", "replace")

        line = "listening on port %d" % port
        wait_until(lambda: line in output() or process.poll() is not None,
                   "the demo to listen", timeout=PROCESS_TIMEOUT)
        if port == self.DEMO_PORT and "in use" in output():
            self.skipTest("port %d is in use" % port)  # taken since the check
        self.assertIn(line, output())
        self.assertIn("curl -u demo:demo imap://127.0.0.1:%d/" % port, output())
        return process, output

    def stop_run(self, process, output):
        process.send_signal(signal.SIGINT)  # what Ctrl-C sends
        self.assertEqual(process.wait(timeout=PROCESS_TIMEOUT), 0, output())
        self.assertIn("stopping", output())

    def test_fresh_checkout_makes_and_serves_the_demo(self):
        with socket.socket() as s:
            try:
                s.bind(("0.0.0.0", self.DEMO_PORT))
            except OSError:
                self.skipTest("port %d is in use" % self.DEMO_PORT)
        root, env, log = self.checkout("fresh")
        process, output = self.start_run(root, env, self.DEMO_PORT)
        self.assertIn("demo store written", output())
        with open(log) as f:
            self.assertIn("-DCMAKE_BUILD_TYPE=Release", f.read())
        self.assertTrue(os.path.isdir(os.path.join(root, "demo-store", "demo", "inbox.box")))
        self.assertFalse(os.path.exists(os.path.join(root, "demo-store.new")))

        client = Client(self.DEMO_PORT)
        self.addCleanup(client.close)
        client.expect(GREETING)
        client.send(b'a1 LOGIN demo demo\r\na2 LIST "" INBOX\r\n')
        client.expect(b"a1 OK LOGIN complated\r\n"
                      b'* LIST (\\Noinferiors) "/" INBOX\r\na2 OK LIST complated\r\n')
        # The client closes first: a connection the server ends (as at LOGOUT) would keep the
        # port from being bound again for a minute.
        client.close()
        self.stop_run(process, output)

    def test_an_existing_demo_store_is_served_as_it_is(self):
        root, env, _ = self.checkout("again")
        store = os.path.join(root, "demo-store")
        self.assertEqual(run([host_program(), "--mailbox", store, "--make-demo"])[0], 0)
        rc, out, err = run([built("bin", "orimapst"), "--mailbox", store, "set", "PortNo",
                            str(self.port)])
        self.assertEqual(rc, 0, err)
        process, output = self.start_run(root, env, self.port)
        self.assertNotIn("demo store written", output())
        client = self.logged_in(b"demo", b"demo")
        work = mutf7("仕事")
        # The demo is served in the extended mode, which names the folder without an Entry.ini
        # after its directory and tells which folder has subfolders.
        names = [b"backup", b"INBOX", b"Newsletters", mutf7("送信箱"), work,
                 work + b"/" + mutf7("プロジェクト"), work + b"/" + mutf7("報告書")]
        self.exchange(client, b'a1 LIST "" *',
                      b"".join(b"* LIST (" + (b"\\HasChildren" if n == work else b"\\Noinferiors") +
                               b') "/" ' + n + b"\r\n" for n in names) +
                      b"a1 OK LIST complated\r\n")
        self.exchange(client, b"a2 SELECT INBOX",
                      b"* 6 EXISTS\r\n* 3 RECENT\r\n* OK [UIDVALIDITY 101] UIDs valid\r\n"
                      b"* OK [UIDNEXT 7] Predicted next UID\r\n"
                      b"* FLAGS (\\Answered \\Deleted \\Draft \\Flagged \\Seen)\r\n"
                      b"* OK [PERMANENTFLAGS (\\* \\Answered \\Deleted \\Draft \\Flagged "
                      b"\\Seen)] Permanent flags\r\na2 OK [READ-WRITE] SELECT complated\r\n")
        statuses = [(work, 1, 0), (names[5], 2, 1), (names[6], 1, 0), (names[3], 1, 0),
                    (b"Newsletters", 1, 1)]
        for n, (name, messages, unseen) in enumerate(statuses):
            tag = b"s%d" % n
            self.exchange(client, tag + b" STATUS " + name + b" (MESSAGES UNSEEN)",
                          b"* STATUS " + name + b" (MESSAGES %d UNSEEN %d)\r\n" %
                          (messages, unseen) + tag + b" OK STATUS complated\r\n")
        client.close()
        self.stop_run(process, output)


if __name__ == "__main__":
    unittest.main()
