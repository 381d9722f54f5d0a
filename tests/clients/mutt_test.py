"""mutt as a person uses it, in a terminal (tmux, driven by send-keys and read by
capture-pane): open the inbox, read two Japanese messages, one with text beyond JIS X 0208
(the screen shows their text), mark one message read, copy one to 仕事, delete one and sync,
quit; then open the inbox again and see the flags that were set."""

import os
import re
import subprocess
import time
import unittest

from client_case import ClientCase
import fixture_store as fx
from harness import ANSWERED, DELETED, UNREAD

SCREEN_TIMEOUT = 60


class Terminal:
    """A tmux server of the test's own (its socket in the test's directory) running one
    program in a window of 160 x 40 UTF-8 cells."""

    def __init__(self, case, command, env):
        self.case = case
        self.socket = os.path.join(case.tmp, "tmux.sock")
        self.env = dict(os.environ)
        self.env.update(env)
        self.tmux("new-session", "-d", "-s", "main", "-x", "160", "-y", "40", command)

    def tmux(self, *args):
        done = subprocess.run(["tmux", "-u", "-S", self.socket] + list(args),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=self.env,
                              timeout=30)
        return done.returncode, done.stdout.decode("utf-8", "replace")

    def screen(self):
        rc, out = self.tmux("capture-pane", "-p", "-t", "main")
        return out if rc == 0 else ""

    def alive(self):
        return self.tmux("has-session", "-t", "main")[0] == 0

    def keys(self, *keys):
        self.tmux("send-keys", "-t", "main", *keys)

    def type(self, text):
        self.tmux("send-keys", "-t", "main", "-l", text)

    def wait_for(self, condition, what):
        """Waits until condition(screen) holds; fails with the screen after the time-out."""
        deadline = time.monotonic() + SCREEN_TIMEOUT
        while time.monotonic() < deadline:
            screen = self.screen()
            if condition(screen):
                return screen
            time.sleep(0.1)
        self.case.fail("the screen never showed %s:\n%s\n%s" %
                       (what, self.screen(), self.case.relay.transcript()))

    def wait_text(self, text):
        return self.wait_for(lambda s: text in s, repr(text))

    def wait_end(self):
        deadline = time.monotonic() + SCREEN_TIMEOUT
        while self.alive():
            if time.monotonic() > deadline:
                self.case.fail("mutt did not end:\n" + self.screen())
            time.sleep(0.1)

    def stop(self):
        self.tmux("kill-server")


class MuttFlow:

    def mutt(self):
        muttrc = self.config("muttrc", "muttrc")
        command = "mutt -n -F %s" % muttrc
        terminal = Terminal(self, command, {"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8",
                                            "HOME": self.work, "TERM": "xterm-256color"})
        self.addCleanup(terminal.stop)
        return terminal

    def jump(self, terminal, number):
        """Moves the index cursor to a message number."""
        terminal.type(str(number))
        terminal.wait_text("Jump to message:")
        terminal.keys("Enter")

    def wait_calls(self, condition, what):
        deadline = time.monotonic() + SCREEN_TIMEOUT
        while not condition(self.calls()):
            if time.monotonic() > deadline:
                self.fail("the host never got %s: %r" % (what, self.calls()))
            time.sleep(0.1)

    def shown(self, text):
        """What mutt shows of a text: all of it; in the exact mode only the part before the
        first character beyond JIS X 0208, since mutt's ISO-2022-JP converter has none of the
        rows the exact mode sends the others in (what follows comes out garbled)."""
        return text if self.extended else fx.jis_x0208_prefix(text)

    def assert_shown(self, shown, text, where):
        """A text on the screen (shown) is what mutt shows of the text."""
        if self.shown(text) == text:
            self.assertEqual(shown, text, where)
        else:
            self.assertTrue(shown.startswith(self.shown(text)), where)

    def assert_index(self, screen, expected_new):
        """The index lists every inbox message by subject and From name, in the order of the
        store, marked N exactly when expected_new says so."""
        shown = [l for l in screen.splitlines() if re.match(r"\s*\d+ ", l)]
        self.assertEqual(len(shown), len(expected_new), screen)
        for line, (original, new) in zip(shown, expected_new):
            m = re.match(r"\s*\d+ (.)\s*(\S*)\s*\[(.*)\] <(.*)>$", line)
            self.assertIsNotNone(m, line)
            self.assert_shown(m.group(3), original.subject, line)
            self.assert_shown(m.group(4).strip(), original.from_name, line)
            self.assertEqual(m.group(1) == "N", new, line)

    def read_in_pager(self, terminal, number, original):
        """Opens a message in the pager and goes back to the index. The pager shows the
        subject and each line of the text (as shown() says); the From line, but in the exact
        mode for text beyond JIS X 0208 (which mutt quotes, garbled); and in the extended mode
        the attachment's name (the exact mode sends a part's header as body text)."""
        expected = ["Subject: " + self.shown(original.subject)]
        expected += [self.shown(line) for line in original.body.splitlines()]
        if self.extended and original.attachment is not None:
            expected.append("[-- Attachment #2: %s --]" % original.attachment[0])
        self.jump(terminal, number)
        terminal.keys("Enter")
        screen = terminal.wait_for(lambda s: all(e in s for e in expected), repr(expected))
        if self.extended or not original.beyond_jis:
            self.assertRegex(screen, "From: %s *<%s>" % (re.escape(original.from_name),
                                                         re.escape(original.from_addr)))
        terminal.keys("i")
        terminal.wait_text("[%s" % self.shown(original.subject))

    def check_copy(self):
        """The store changed only through the host calls, and the copy of message 2 holds
        its message file as it was and reads the same."""
        stored = self.assert_store_through_calls()
        self.assertEqual(stored["work.box"], [self.before["inbox.box/AAAA0002.orv"]])
        self.assert_reads_as(self.read_back(fx.WORK, 2), fx.BEYOND_JIS)

    def test_flow(self):
        inbox = sorted(fx.in_folder(fx.INBOX), key=lambda m: m.uid)
        terminal = self.mutt()
        screen = terminal.wait_text(fx.PLAIN.subject)
        self.assert_index(screen, [(m, not m.seen) for m in inbox])
        self.check_opened()

        # Read the Japanese messages, the second one beyond JIS X 0208.
        self.read_in_pager(terminal, 1, fx.PLAIN)
        self.read_in_pager(terminal, 2, fx.BEYOND_JIS)

        # Mark message 3 read, copy message 2 to 仕事, delete message 4, sync.
        self.jump(terminal, 3)
        terminal.keys("N")
        self.jump(terminal, 2)
        terminal.keys("C")
        terminal.wait_text("Copy to mailbox")
        terminal.type("=仕事")
        terminal.keys("Enter")
        self.wait_calls(lambda calls: any(c[0] == "import" for c in calls), "the copy")
        self.jump(terminal, 4)
        terminal.keys("d")
        terminal.keys("$")
        self.check_sync(terminal)
        terminal.keys("q")
        terminal.wait_end()
        self.check_after()


class ExactModeTest(MuttFlow, ClientCase):
    extended = False

    def check_opened(self):
        # mutt lists the folder with RFC822.SIZE, and in exact mode asking for a size marks a
        # message read: opening the inbox turns every message read in the host's store.
        self.assert_exchange(rb"^\w+ FETCH 1:7 \(UID FLAGS INTERNALDATE RFC822.SIZE ",
                             b" OK FETCH complated\r\n")
        self.wait_calls(lambda calls: len(calls) >= 7, "the marks of the listing")
        self.assertEqual(sorted(self.calls()),
                         sorted(("mark", "inbox.box/" + m.name, UNREAD, 0)
                                for m in fx.in_folder(fx.INBOX)))

    def check_sync(self, terminal):
        # The flags go to the host, but EXPUNGE is not implemented: the deleted message stays.
        terminal.wait_text("Command Not impremented EXPUNGE")
        self.assert_exchange(rb"^\w+ EXPUNGE$", b" BAD Command Not impremented EXPUNGE\r\n")

    def check_after(self):
        self.assert_calls([("mark", "inbox.box/" + m.name, UNREAD, 0)
                           for m in fx.in_folder(fx.INBOX)] +
                          [("import", "inbox.box/AAAA0002", "work.box", UNREAD),
                           ("mark", "inbox.box/AAAA0004", DELETED, 1)])
        self.check_copy()


class ExtendedModeTest(MuttFlow, ClientCase):
    extended = True

    def check_opened(self):
        self.assertEqual(self.calls(), [])
        # mutt takes headers and texts in UTF-8 as they are.
        self.assert_exchange(rb"^\w+ ENABLE UTF8=ACCEPT$", b" OK ENABLE complated\r\n",
                             starts=b"* ENABLED UTF8=ACCEPT\r\n")

    def check_sync(self, terminal):
        self.wait_calls(lambda calls: any(c[0] == "delete" for c in calls), "the delete")

    def check_after(self):
        # The copy keeps the flags of its source (answered, read).
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("mark", "inbox.box/AAAA0003", UNREAD, 0),
                           ("import", "inbox.box/AAAA0002", "work.box", ANSWERED),
                           ("mark", "inbox.box/AAAA0004", DELETED, 1),
                           ("delete", "inbox.box/AAAA0004")])
        self.check_copy()

        # Opened again: message 4 is gone, 1 and 3 are read, 5 and 6 still new.
        terminal = self.mutt()
        screen = terminal.wait_text(fx.PLAIN.subject)
        remaining = [m for m in sorted(fx.in_folder(fx.INBOX), key=lambda m: m.uid)
                     if m.name != "AAAA0004"]
        self.assert_index(screen, [(m, not m.seen and m.name not in ("AAAA0001", "AAAA0003"))
                                   for m in remaining])
        terminal.keys("q")
        terminal.wait_end()


if __name__ == "__main__":
    unittest.main()
