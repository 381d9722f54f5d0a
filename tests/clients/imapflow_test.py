"""imapflow 2.10.2, the Node.js IMAP library of many mail apps (installed from the npm registry
by install.sh into $ORV_NODE_MODULES_DIR), running the flow of library_flow.py through
imapflow_flow.js: it enables UTF8=ACCEPT where offered, reads with BODY.PEEK[], sets flags with
UID STORE, appends with a flag list and a date, and moves with MOVE where offered, else with
COPY, \\Deleted and EXPUNGE."""

import os
import unittest

from client_case import ClientCase
import fixture_store as fx
from harness import DELETED, UNREAD
from library_flow import HERE, LibraryFlow

MODULES = os.path.join(os.environ.get("ORV_NODE_MODULES_DIR", "/var/tmp/orv-clients/node"),
                       "node_modules")


class ImapflowFlow(LibraryFlow):
    command = ["node", os.path.join(HERE, "imapflow_flow.js")]
    env = {"NODE_PATH": MODULES}

    def setUp(self):
        if not os.path.exists(os.path.join(MODULES, "imapflow", "package.json")):
            self.skipTest("imapflow is not installed in %s: tests/clients/install.sh could not "
                          "reach the npm registry" % MODULES)
        super().setUp()


class ExtendedModeTest(ImapflowFlow, ClientCase):
    extended = True

    def check_changes(self, report):
        self.assert_exchange(rb"^\d+ ENABLE .*UTF8=ACCEPT", b" OK ENABLE complated\r\n",
                             starts=b"* ENABLED UTF8=ACCEPT\r\n")
        self.check_extended(report, [("delete", "inbox.box/AAAA0001")])


class ExactModeTest(ImapflowFlow, ClientCase):
    extended = False

    def check_changes(self, report):
        # Without MOVE the library copies, marks the original \Deleted and expunges, which is
        # not implemented: the move fails and the original stays beside its copy.
        self.assertEqual(list(self.failed_steps(report)), ["move"], self.describe_runs())
        self.assert_exchange(rb"^\d+ EXPUNGE$", b" BAD Command Not impremented EXPUNGE\r\n")
        # \Flagged is dropped, and APPEND gives no APPENDUID and takes no flags: the appended
        # message and the copy arrive unread.
        inbox = self.expected_inbox_flags(moved=False)
        inbox[str(fx.PLAIN.uid)] |= {"\\Seen", "\\Deleted"}
        self.assertEqual(self.final_flags(report, fx.INBOX), inbox)
        self.assertIsNone(report["appended_uid"])
        self.assertEqual(self.final_flags(report, fx.WORK), {"1": {"\\Seen"}, "2": set()})
        self.assertEqual(self.final_flags(report, fx.REPORTS), {"1": set(), "2": set()})
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("mark", "inbox.box/AAAA0004", UNREAD, 1),
                           ("import", "temp", "work.box", UNREAD),
                           ("import", "inbox.box/AAAA0001", "work.box/reports.box", UNREAD),
                           ("mark", "inbox.box/AAAA0001", DELETED, 1)])
        self.assert_store_through_calls()


if __name__ == "__main__":
    unittest.main()
