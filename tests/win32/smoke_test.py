"""The Windows build on its real platform: the host stand-in orvex-host.exe loads OrvImapS.dll
under Wine (a Japanese system: code page 932) and serves a store that a Linux IMAP client
reads and changes: Japanese folder titles (which reach modified UTF-7 through the code page
conversion, so a wrong table shows there), names whose characters the OS's own conversion maps
otherwise (the JIS wave dash, the yen sign), envelopes, body structures and bodies, flag changes
and an appended message that is read back, and a stop that says goodbye to a connected client.
Also: the same session gives the same bytes as the Linux build, the version dialog runs from
the DLL's resources, the setup command finds the setup module, and the three binaries export
exactly their names.

Run by tests/win32/run.sh, which builds into ORV_WIN32_BUILD and prepares the Wine prefix."""

import email.header
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))
from harness import (ANSWERED, GREETING, STOP_BYE, UNREAD, Client, Host,  # noqa: E402
                     StoreTree, decode_mutf7, free_port, mutf7, sjis, wait_until)

BIN = os.path.join(os.environ.get("ORV_WIN32_BUILD", "build-win32"), "bin")
OBJDUMP = os.environ.get("ORV_OBJDUMP", "i686-w64-mingw32-objdump")
WINDRES = os.environ.get("ORV_WINDRES", "i686-w64-mingw32-windres")
# Wine starts a program in a second or two; a whole start with the plug-in's load is slower.
WINE_TIMEOUT = 60.0

# The environment of every Windows program here: a Japanese system, so that the ANSI code
# page (CP_ACP) is 932 and file names are Shift_JIS on the Windows side.
WINE_ENV = {"LANG": "ja_JP.UTF-8", "LC_ALL": "ja_JP.UTF-8", "WINEDEBUG": "-all"}

ENTRY_POINTS = sorted([
    "OPCGetPlugName", "OPCVersionInfo", "OPCStartUp", "OPCCleanUp", "OPCSetup", "OPCRecFilter",
    "OPCFolderPreOpenView", "OPCSendPost", "OPCFolderLoad", "OPCFolderClose", "OPCFolderCreate",
    "OPCFolderEndRetrieve", "OPCSendClose", "OPCSendCreate", "OPCViewClose", "OPCViewCreate",
    "OPCFolderInitMenu", "OPCSendInitMenu", "OPCViewInitMenu", "OPCViewLoadMail"])

HOST_FUNCTIONS = sorted([
    "_OPARegistCallback@8", "_OPASetTimer@12", "_OPAKillTimer@4", "_OPAIsBusy@0",
    "_OPAExecOrvex@4", "_OPAGetMailbox@0", "_OPAGetAccount@4", "_OPAGetFolderName@4",
    "_OPAImportFile@12", "_OPASaveMail@16", "_OPAMoveMail@8", "_OPAMarkMail@12",
    "_OPADeleteMail@4", "_OPAFolderGetCurrentFolder@4", "_OPAFolderGetCurrentEntry@4",
    "_OPAFolderGetSelectEntry@8", "_OPAFolderChangePassword@8", "_OPAFolderMailTo@8",
    "_OPAFolderReply@8", "_OPAFolderForward@8", "_OPAFolderOpenMail@12", "_OPASendGetText@8",
    "_OPASendGetHeader@4", "_OPASendSetText@8", "_OPASendSetHeader@8", "_OPASendGetEditor@4",
    "_OPAViewGetText@4", "_OPAViewGetHeader@4", "_OPAViewSetText@8", "_OPAViewGetPath@4",
    "_OPAViewGetEditor@4", "_OPAViewChangeMail@8", "_OPASjisToJis@12", "_OPAJisToSjis@12"])

# The folder the smoke adds to the demo user's tree, and its two messages.
FOLDER_DIR = "smoke.box"
FOLDER_TITLE = "日本語テスト"
SUBJECT = "会議室の予約について"
BODY = "山田です。\r\n明日の会議は第三会議室で行います。\r\n表示と能力の確認です。\r\n"
FIRST = ("From: 山田 太郎 <yamada@example.jp>\r\n"
         "To: demo <demo@example.jp>\r\n"
         "Subject: " + SUBJECT + "\r\n"
         "Date: Tue, 04 Mar 2025 09:30:00 +0900\r\n"
         "Message-ID: <smoke-1@example.jp>\r\n"
         "MIME-Version: 1.0\r\n"
         "Content-Type: text/plain; charset=ISO-2022-JP\r\n"
         "Content-Transfer-Encoding: 7bit\r\n"
         "\r\n" + BODY)
SECOND = ("From: demo <demo@example.jp>\r\n"
          "To: yamada@example.jp\r\n"
          "Subject: Re: plain\r\n"
          "Date: Tue, 04 Mar 2025 10:00:00 +0900\r\n"
          "\r\n"
          "plain text\r\n")

# Folders whose names the OS's own conversion treats otherwise than the plug-in: one titled
# with the code page's wave dash (0x8160), which clients name with the JIS form U+301C
# ("&MBw-"), and two titled as "?" or the OS's look-alike (the path separator) would make of
# the yen sign, which has no code ("Yen&AKU-" must name neither).
WAVE_SELECT = b"SELECT &MBw-"
YEN = b"Yen&AKU-"


def add_name_folders(store):
    store.folder("wave.box", title="\uff5e", uid_validity=31,
                 messages=[("AAAA0001", 0, sjis(SECOND))])
    store.folder("yen.box", title="Yen?", uid_validity=32)
    store.folder("yen2.box", title="Yen\\", uid_validity=33)


def windows_path(path):
    """The Windows form of a Linux path under Wine's drive Z: (the Linux root)."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_program(name):
    path = os.path.join(BIN, name)
    if not os.path.exists(path):
        raise AssertionError("%s was not built" % path)
    return path


def wine_env():
    env = dict(os.environ)
    env.update(WINE_ENV)
    return env


def run_wine(*args, stdin=None):
    """Runs a Windows program under Wine to its end, with stdin (bytes) as its input;
    (exit code, stdout, stderr)."""
    done = subprocess.run(["wine"] + list(args), input=stdin,
                          stdin=subprocess.DEVNULL if stdin is None else None,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=wine_env(),
                          timeout=WINE_TIMEOUT, cwd=BIN)
    return (done.returncode, done.stdout.decode("utf-8", "replace"),
            done.stderr.decode("utf-8", "replace"))


def close_host_dialog(test, host, saying):
    """Closes the dialog a started host shows, as a user closes it from the window's close box:
    WM_CLOSE, which a dialog takes for Cancel. Nobody sees it (Wine draws no window here), so
    taskkill posts it to the process the host names by number in its line "process N " +
    saying (under an emulator of 32-bit programs the process list is empty, so a search by
    image name finds nothing). The request is repeated until the dialog exists and has closed;
    the host must then end with 0."""
    deadline = time.monotonic() + WINE_TIMEOUT
    pid = None
    while pid is None and host.process.poll() is None and time.monotonic() < deadline:
        m = re.search(r"process (\d+) " + saying, host.stdout())
        pid = m.group(1) if m else None
        time.sleep(0.1)
    test.assertIsNotNone(pid, host.stdout() + host.stderr())
    while host.process.poll() is None and time.monotonic() < deadline:
        run_wine("taskkill", "/PID", pid)
        time.sleep(0.5)
    test.assertEqual(host.wait(), 0, host.stdout() + host.stderr())


def exports(binary):
    """The names in a PE file's export table, as objdump lists them."""
    text = subprocess.run([OBJDUMP, "-p", binary], stdout=subprocess.PIPE, check=True,
                          timeout=WINE_TIMEOUT).stdout.decode("latin-1")
    table = text.split("[Ordinal/Name Pointer] Table", 1)
    if len(table) < 2:
        return []
    names = []
    for line in table[1].splitlines()[1:]:
        m = re.match(r"\s*\[\s*\d+\]\s+(\S+)$", line)
        if not m:
            break
        names.append(m.group(1))
    return sorted(names)


def decode_words(value):
    """A header value with encoded words, decoded."""
    return str(email.header.make_header(email.header.decode_header(value)))


class Session:
    """One IMAP connection with tagged commands and literal-aware reading of the answers."""

    def __init__(self, port):
        self.client = Client(port)
        self.tag = 0

    def command(self, text):
        """Sends one command; returns (tag, the raw answer up to and including its tagged line)."""
        self.tag += 1
        tag = b"t%d" % self.tag
        return tag, self.client.answer(tag + b" " + text)

    def close(self):
        self.client.close()


class WineHostCase(unittest.TestCase):
    """A demo store with the smoke's own Japanese folder, served by orvex-host.exe under Wine
    on a free port for the whole class."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.mkdtemp(prefix="orv-win32-")
        cls.mailbox = os.path.join(cls.tmp, "mail")
        cls.port = free_port()
        rc, out, err = run_wine(wine_program("orvex-host.exe"), "--mailbox",
                                windows_path(cls.mailbox), "--make-demo")
        if rc != 0:
            raise AssertionError("--make-demo failed (%d): %s%s" % (rc, out, err))
        # The base mode on a port of our own; the demo's user demo (password demo) stays.
        with open(os.path.join(cls.mailbox, "Imap4.ini"), "wb") as f:
            f.write(b"[Server]\r\nPortNo=%d\r\nFolderName=1\r\n" % cls.port)
        cls.store = StoreTree(cls.mailbox, "demo")
        cls.store.folder(FOLDER_DIR, title=FOLDER_TITLE, uid_validity=777, messages=[
            ("AAAA0001", UNREAD, sjis(FIRST)),
            ("AAAA0002", 0, sjis(SECOND)),
        ])
        add_name_folders(cls.store)
        cls.host = Host(cls.tmp, [wine_program("orvex-host.exe"), "--mailbox",
                                  windows_path(cls.mailbox)], program="wine", env=WINE_ENV)
        cls.host.start()
        try:
            cls.host.wait_listening(cls.port)
        except AssertionError:
            cls.host.kill()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.host.kill()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def session(self, login=True):
        s = Session(self.port)
        self.addCleanup(s.close)
        s.client.expect(GREETING)
        if login:
            tag, answer = s.command(b"LOGIN demo demo")
            self.assertEqual(answer, tag + b" OK LOGIN complated\r\n")
        return s

    def select_smoke(self, s):
        name = self.mailbox_names()[FOLDER_TITLE]
        tag, answer = s.command(b"SELECT " + name)
        self.assertTrue(answer.endswith(tag + b" OK [READ-WRITE] SELECT complated\r\n"), answer)
        return answer

    def mailbox_names(self):
        """Decoded mailbox name -> name on the wire, from a LIST of a fresh session."""
        s = Session(self.port)
        try:
            s.client.expect(GREETING)
            s.command(b"LOGIN demo demo")
            _, answer = s.command(b'LIST "" "*"')
        finally:
            s.close()
        names = {}
        for line in answer.split(b"\r\n"):
            m = re.match(rb'\* LIST \([^)]*\) "/" (.*)$', line)
            if m:
                names[decode_mutf7(m.group(1).decode("ascii"))] = m.group(1)
        return names


class ServeTest(WineHostCase):

    def test_greeting_login_and_japanese_folder_titles(self):
        s = self.session(login=False)
        tag, answer = s.command(b"LOGIN demo wrong")
        self.assertTrue(answer.startswith(tag + b" NO"), answer)
        tag, answer = s.command(b"LOGIN demo demo")
        self.assertEqual(answer, tag + b" OK LOGIN complated\r\n")
        names = self.mailbox_names()
        for title in ("INBOX", "送信箱", "仕事", "仕事/プロジェクト", "仕事/報告書",
                      FOLDER_TITLE):
            self.assertIn(title, names)
        # Titles go out in modified UTF-7 only.
        self.assertEqual(names[FOLDER_TITLE], mutf7(FOLDER_TITLE))
        # The log beside the settings, in the same lines as on Linux.
        with open(os.path.join(self.mailbox, "Imap4.log"), "rb") as f:
            lines = f.read().split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        line = re.compile(rb"\A\d{4}-\d\d-\d\d \d\d:\d\d:\d\d [+-]\d{4} #(\d+) (\S+) (.+)\Z")
        events = [line.match(l).group(3) for l in lines[:-1]]
        self.assertTrue(events[0].startswith(b"started: port %d, exact mode" % self.port), events)
        for event in (b'login failed: user "demo": wrong password', b'login: user "demo"'):
            self.assertIn(event, events)

    def test_select_and_fetch_flags_envelope_structure_and_japanese_body(self):
        s = self.session()
        answer = self.select_smoke(s)
        self.assertIn(b"* 2 EXISTS\r\n", answer)
        self.assertIn(b"* OK [UIDVALIDITY 777]", answer)

        tag, answer = s.command(b"FETCH 1:2 (FLAGS ENVELOPE BODYSTRUCTURE)")
        self.assertTrue(answer.endswith(tag + b" OK FETCH complated\r\n"), answer)
        first, second = answer.split(b"\r\n* 2 FETCH ")
        self.assertTrue(first.startswith(b"* 1 FETCH (FLAGS (\\Recent) ENVELOPE "), first)
        self.assertTrue(second.startswith(b"(FLAGS (\\Seen) ENVELOPE "), second)
        subject = re.search(rb'ENVELOPE \("[^"]*" "([^"]*)"', first).group(1).decode("ascii")
        self.assertTrue(subject.startswith("=?ISO-2022-JP?B?"), subject)
        self.assertEqual(decode_words(subject), SUBJECT)
        sender = re.search(rb'\(\("([^"]*)" NIL "yamada" "example.jp"\)\)', first)
        self.assertEqual(decode_words(sender.group(1).decode("ascii")), "山田 太郎")
        self.assertIn(b'"<smoke-1@example.jp>")', first)
        self.assertRegex(first, rb'BODYSTRUCTURE \("text" "plain" \("charset" "ISO-2022-JP"\) '
                                rb'NIL NIL "7bit" \d+ 3 NIL NIL NIL\)\)$')
        self.assertIn(b'ENVELOPE ("Tue, 04 Mar 2025 10:00:00 +0900" "Re: plain"', second)

        tag, answer = s.command(b"FETCH 1 BODY[TEXT]")
        m = re.match(rb"\* 1 FETCH \(BODY\[TEXT\] \{(\d+)\}\r\n", answer)
        self.assertIsNotNone(m, answer)
        text = answer[m.end():m.end() + int(m.group(1))]
        self.assertNotIn(b"\x1b$B\x1b", text)
        self.assertEqual(text.decode("iso-2022-jp"), BODY)
        self.assertTrue(answer.endswith(b")\r\n" + tag + b" OK FETCH complated\r\n"), answer)

    def test_store_reaches_the_hosts_store(self):
        s = self.session()
        self.select_smoke(s)
        tag, answer = s.command(b"STORE 2 +FLAGS (\\Answered)")
        self.assertEqual(answer, b"* 2 FETCH (FLAGS (\\Seen \\Answered))\r\n" + tag +
                         b" OK STORE complated\r\n")

        def answered_in_index():
            return any(name == b"AAAA0002" and status & ANSWERED
                       for name, status, _, _, _ in self.store.index(FOLDER_DIR))
        wait_until(answered_in_index, "the host to mark the message answered")

        # A new session sees the change.
        s2 = self.session()
        self.select_smoke(s2)
        tag, answer = s2.command(b"FETCH 2 FLAGS")
        self.assertEqual(answer, b"* 2 FETCH (FLAGS (\\Seen \\Answered))\r\n" + tag +
                         b" OK FETCH complated\r\n")

    def test_append_then_read_back(self):
        s = self.session()
        name = self.mailbox_names()["仕事"]
        subject = "追加のテスト"
        message = ("From: demo <demo@example.jp>\r\n"
                   "Subject: " + email.header.Header(subject, "iso-2022-jp").encode() + "\r\n"
                   "Date: Wed, 05 Mar 2025 08:00:00 +0900\r\n"
                   "Message-ID: <smoke-append@example.jp>\r\n"
                   "\r\n"
                   "appended over IMAP\r\n").encode("ascii")
        s.tag += 1
        tag = b"t%d" % s.tag
        s.client.append(tag + b" APPEND " + name + b" () {%d}" % len(message), message)
        answer = s.client.read_answer(tag)
        self.assertTrue(answer.endswith(tag + b" OK APPEND complated\r\n"), answer)
        # The host filed it in the folder's index, unread.
        index = self.store.index("work.box")
        self.assertEqual(len(index), 2)
        self.assertTrue(index[1][1] & UNREAD)

        tag, answer = s.command(b"SELECT " + name)
        self.assertIn(b"* 2 EXISTS\r\n", answer)
        tag, answer = s.command(b"FETCH 2 (ENVELOPE BODY[TEXT])")
        self.assertTrue(answer.endswith(tag + b" OK FETCH complated\r\n"), answer)
        self.assertIn(b'"<smoke-append@example.jp>"', answer)
        subject_word = re.search(rb'ENVELOPE \("[^"]*" "([^"]*)"', answer).group(1)
        self.assertEqual(decode_words(subject_word.decode("ascii")), subject)
        self.assertIn(b"BODY[TEXT] {20}\r\nappended over IMAP\r\n", answer)
        # Reading the text marked it seen in the host's store.
        wait_until(lambda: not self.store.index("work.box")[1][1] & UNREAD,
                   "the host to mark the appended message seen")

    def test_folder_names_convert_as_on_linux(self):
        s = self.session()
        tag, answer = s.command(WAVE_SELECT)
        self.assertIn(b"* 1 EXISTS\r\n", answer)
        self.assertIn(b"* OK [UIDVALIDITY 31]", answer)
        self.assertTrue(answer.endswith(tag + b" OK [READ-WRITE] SELECT complated\r\n"), answer)
        for command in (b"SELECT " + YEN, b"STATUS " + YEN + b" (MESSAGES)"):
            tag, answer = s.command(command)
            self.assertEqual(answer, tag + b" NO No such folder.\r\n")
        # Both look-alike folders are there, under their own names.
        names = self.mailbox_names()
        self.assertIn("Yen?", names)
        self.assertIn("Yen\\", names)
        s = self.session()
        tag, answer = s.command(b'LIST "" ' + YEN)
        self.assertEqual(answer, tag + b" OK LIST complated\r\n")

    def test_logout(self):
        s = self.session()
        tag, answer = s.command(b"LOGOUT")
        self.assertEqual(answer, b"* BYE Orvex IMAP4rev1 Server logging out\r\n" + tag +
                         b" OK LOGOUT complated\r\n")
        s.client.expect_closed()


class StopTest(WineHostCase):

    def test_interrupt_says_bye_to_a_connected_client(self):
        s = self.session()
        idle = self.session(login=False)
        self.assertEqual(self.host.stop(signal.SIGINT), 0, self.host.stderr())
        for session in (s, idle):
            session.client.expect(STOP_BYE)
            session.client.expect_closed()
        self.assertIn("stopping (signal 2)", self.host.stdout())
        with self.assertRaises(OSError):
            socket.create_connection(("127.0.0.1", self.port), timeout=2).close()


class SameAsLinuxTest(unittest.TestCase):
    """The Windows build answers byte for byte as the Linux build does, on copies of one store
    (with the same file times). Needs the Linux build: ORV_NATIVE_BUILD (run.sh's argument)."""

    COMMANDS = [
        b"LOGIN demo demo",
        b'LIST "" "*"',
        b'LSUB "" "*"',
        b'LIST "" ' + YEN,
        b"STATUS " + YEN + b" (MESSAGES)",
        b"STATUS &MBw- (MESSAGES UIDVALIDITY)",
        WAVE_SELECT,
        b"SELECT " + YEN,
        b"STATUS INBOX (MESSAGES RECENT UNSEEN UIDNEXT UIDVALIDITY)",
        b"SELECT INBOX",
        b"FETCH 1:* (UID FLAGS INTERNALDATE RFC822.SIZE ENVELOPE BODYSTRUCTURE)",
        b"FETCH 1:* BODY.PEEK[]",
        b"FETCH 2 (BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)] BODY.PEEK[TEXT]<10.40>)",
        b"UID SEARCH UNSEEN",
        b"SEARCH SUBJECT Welcome",
        b"SELECT " + mutf7(FOLDER_TITLE),
        b"FETCH 1:* (FLAGS ENVELOPE BODYSTRUCTURE BODY.PEEK[1] RFC822.HEADER)",
        b"STORE 1 +FLAGS (\\Deleted)",
        b"FETCH 1 FLAGS",
        b"NOOP",
        b"LOGOUT",
    ]

    def transcript(self, program, mailbox_arg, mailbox_dir, env):
        port = free_port()
        with open(os.path.join(mailbox_dir, "Imap4.ini"), "wb") as f:
            f.write(b"[Server]\r\nPortNo=%d\r\nFolderName=1\r\n" % port)
        host = Host(os.path.dirname(mailbox_dir), program[1:] + ["--mailbox", mailbox_arg],
                    program=program[0], env=env)
        host.start()
        self.addCleanup(host.kill)
        host.wait_listening(port)
        s = Session(port)
        self.addCleanup(s.close)
        out = s.client.read_until(b"\r\n")
        for command in self.COMMANDS:
            out += s.command(command)[1]
        self.assertEqual(host.stop(signal.SIGINT), 0, host.stderr())
        return out

    def test_one_session_gives_the_same_bytes_on_windows_and_linux(self):
        native = os.environ.get("ORV_NATIVE_BUILD")
        if not native:
            self.skipTest("no Linux build given (ORV_NATIVE_BUILD)")
        tmp = tempfile.mkdtemp(prefix="orv-win32-same-")
        self.addCleanup(shutil.rmtree, tmp, True)
        windows_store = os.path.join(tmp, "w", "mail")
        os.makedirs(os.path.dirname(windows_store))
        rc, out, err = run_wine(wine_program("orvex-host.exe"), "--mailbox",
                                windows_path(windows_store), "--make-demo")
        self.assertEqual(rc, 0, out + err)
        store = StoreTree(windows_store, "demo")
        store.folder(FOLDER_DIR, title=FOLDER_TITLE, uid_validity=9,
                     messages=[("AAAA0001", UNREAD, sjis(FIRST)), ("AAAA0002", 0, sjis(SECOND))])
        add_name_folders(store)
        linux_store = os.path.join(tmp, "n", "mail")
        shutil.copytree(windows_store, linux_store)  # file times included

        windows = self.transcript(["wine", wine_program("orvex-host.exe")],
                                  windows_path(windows_store), windows_store, WINE_ENV)
        linux = self.transcript([os.path.join(native, "bin", "orvex-host")], linux_store,
                                linux_store, None)
        self.assertIn(b"BODYSTRUCTURE", windows)
        self.assertEqual(windows.split(b"\r\n"), linux.split(b"\r\n"))


class VersionDialogTest(unittest.TestCase):

    def test_the_dialog_runs_from_the_plug_ins_resources_and_closes_with_1(self):
        tmp = tempfile.mkdtemp(prefix="orv-win32-dialog-")
        self.addCleanup(shutil.rmtree, tmp, True)
        host = Host(tmp, [wine_program("orvex-host.exe"), "--mailbox", windows_path(tmp),
                          "--version-info"], program="wine", env=WINE_ENV)
        host.start()
        self.addCleanup(host.kill)
        close_host_dialog(self, host, "shows the version dialog")
        self.assertIn("the version dialog returned 1", host.stdout())

    def test_the_dialog_template_strings_and_icon_are_resources_of_the_plug_in(self):
        rc = subprocess.run([WINDRES, "-J", "coff", "-O", "rc", "-i",
                             os.path.join(BIN, "OrvImapS.dll")], stdout=subprocess.PIPE,
                            check=True, timeout=WINE_TIMEOUT).stdout.decode("latin-1")
        dialog = re.search(r"^100 DIALOG 0, 0, 187, 95\n(.*?)^END", rc, re.M | re.S)
        self.assertIsNotNone(dialog, rc[-3000:])

        def text(escaped):
            # windres writes each UTF-16 unit of a wide string as \xNNNN.
            return re.sub(r"\\x([0-9a-fA-F]{4})", lambda m: chr(int(m.group(1), 16)), escaped)
        body = dialog.group(1)
        self.assertEqual(text(re.search(r'CAPTION L?"(.*)"', body).group(1)),
                         "ﾊﾞｰｼﾞｮﾝ情報(OrvImapS)")
        self.assertEqual(text(re.search(r'FONT 9, L?"(.*)"', body).group(1)), "ＭＳ Ｐゴシック")
        self.assertRegex(body, r"ICON 1, 65535, 7, 7,")
        self.assertRegex(body, r'LTEXT "", 1000, 39, 10, 106, 8,')
        self.assertRegex(body, r'LTEXT "", 1002, 7, 29, 173, 8,')
        self.assertRegex(body, r'DEFPUSHBUTTON "OK", 1, 148, 7, 32, 14,')
        self.assertIn('105, "OrvImapS.dll  Version 0.1"', rc)
        self.assertRegex(rc, r'106, "Copyright [^"]+"')
        self.assertRegex(rc, r"(?m)^1 14 /\* RT_GROUP_ICON \*/")


class SetupTest(unittest.TestCase):
    """The setup module's dialog, driven through its controls by setup_driver.exe (typing,
    picking a user, pressing buttons, closing the boxes that refuse a value), and orimapst.exe:
    what they write is, byte for byte, what the Linux orimapst writes for the same changes."""

    START = [("set", "PortNo", "14300"), ("add-user", "root1", "user1", b"secret\n")]
    CHANGES = [("set", "Extended", "1"), ("add-user", "root2", "user2", b"pass2\n"),
               ("passwd", "user1", b"better\n")]

    def mailbox(self, tag, commands):
        """A mailbox directory made by orimapst.exe from commands (a last bytes item is the
        input)."""
        path = os.path.join(self.tmp, tag)
        os.makedirs(path)
        for command in commands:
            words, given = ((command[:-1], command[-1]) if isinstance(command[-1], bytes)
                            else (command, None))
            rc, out, err = run_wine(wine_program("orimapst.exe"), "--mailbox",
                                    windows_path(path), *words, stdin=given)
            self.assertEqual(rc, 0, out + err)
        return path

    def files(self, path):
        found = {}
        for name in ("Imap4.ini", "passwd"):
            with open(os.path.join(path, name), "rb") as f:
                found[name] = f.read()
        return found

    def drive(self, path, *steps):
        rc, out, err = run_wine(wine_program("setup_driver.exe"), windows_path(path) + "\\",
                                *steps)
        self.assertEqual(rc, 0, out + err)
        return out.splitlines()

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-win32-setup-")
        self.addCleanup(shutil.rmtree, self.tmp, True)

    def test_the_dialog_and_orimapst_exe_write_what_orimapst_writes(self):
        port = str(free_port())
        dialog = self.mailbox("dialog", self.START)
        lines = self.drive(
            dialog, "seen:1101", "type:1101=" + port, "check:1103",
            "type:1111=root2", "type:1112=user2", "type:1113=pass2", "type:1114=pass2x",
            "press-refused:1120", "type:1114=pass2", "press:1120", "seen:1113",
            "pick:1110=0", "seen:1112", "type:1113=better", "type:1114=better", "press:1121",
            "type:1104=missing.pem", "press-refused:1", "type:1104=", "press:1")
        self.assertEqual(lines, [
            "seen 1101 14300",
            "refused the two passwords differ: type the same password twice",
            "seen 1113 ",
            "seen 1112 user1",
            "refused TlsCert must name a PEM file that exists, not 'missing.pem'",
            "result 1"])
        changes = [("set", "PortNo", port)] + self.CHANGES
        by_exe = self.mailbox("exe", self.START + changes)
        self.assertEqual(self.files(dialog), self.files(by_exe))
        native = os.environ.get("ORV_NATIVE_BUILD")
        if not native:
            self.skipTest("no Linux build given (ORV_NATIVE_BUILD)")
        linux = os.path.join(self.tmp, "linux")
        os.makedirs(linux)
        for command in self.START + changes:
            words, given = ((command[:-1], command[-1]) if isinstance(command[-1], bytes)
                            else (command, None))
            subprocess.run([os.path.join(native, "bin", "orimapst"), "--mailbox", linux] +
                           list(words), input=given, check=True, stdout=subprocess.DEVNULL,
                           timeout=WINE_TIMEOUT)
        self.assertEqual(self.files(dialog), self.files(linux))

    def test_cancel_and_the_setup_command_change_nothing(self):
        path = self.mailbox("cancel", self.START)
        before = self.files(path)
        lines = self.drive(path, "type:1101=15000", "type:1112=user1", "press:1122",
                           "seen:1112", "press:2")
        self.assertEqual(lines, ["seen 1112 ", "result 0"])
        self.assertEqual(self.files(path), before)
        self.assertEqual(sorted(os.listdir(path)), ["Imap4.ini", "passwd"])

        # The host's setup command shows the same dialog; closed from its close box, it changes
        # nothing.
        host = Host(self.tmp, [wine_program("orvex-host.exe"), "--mailbox", windows_path(path),
                               "--setup"], program="wine", env=WINE_ENV)
        host.start()
        self.addCleanup(host.kill)
        close_host_dialog(self, host, "runs the setup")
        self.assertIn("orvex-host: setup finished", host.stdout())
        self.assertEqual(self.files(path), before)


class ExportsTest(unittest.TestCase):

    def test_the_plug_in_exports_exactly_the_twenty_entry_points(self):
        self.assertEqual(exports(os.path.join(BIN, "OrvImapS.dll")), ENTRY_POINTS)

    def test_the_setup_module_exports_its_entry(self):
        self.assertEqual(exports(os.path.join(BIN, "OrImapSt.dll")), ["SetUpImap4"])

    def test_the_host_exports_its_functions_under_their_decorated_names(self):
        self.assertEqual(exports(os.path.join(BIN, "orvex-host.exe")), HOST_FUNCTIONS)


if __name__ == "__main__":
    unittest.main()
