"""What a program built on an IMAP library does, as a migration script or a mail app runs it:
the flow of the script beside this file (imapclient_flow.pl). The script
logs in, lists the folders, reads every message of INBOX and 仕事 (its bytes, its flags and the
subject as the library decodes it), sets \\Seen and \\Flagged on one INBOX message, clears
\\Seen on another and sets then clears \\Flagged on a third, appends a Japanese message with
\\Seen and \\Flagged to 仕事, moves the first message to 仕事/報告書 as the library moves, and
reads the flags of the three folders again. It is given a plan (JSON) and writes what it got
as JSON: each step's error (null when it worked), the folder names, the messages read, the
appended and moved UIDs and the flags read at the end."""

import base64
import json
import os

import fixture_store as fx
from client_case import PASSWORD, USER
from harness import ANSWERED, UNREAD

HERE = os.path.dirname(os.path.abspath(__file__))

# A message as a library's user composes it: encoded-word headers, UTF-8 text in base64.
APPENDED = fx.Original(fx.WORK, "new", 0, "ライブラリから追加したメール", "中村 六郎",
                       "nakamura@example.jp", "スクリプトから追加した本文です。\n二行目〜です。\n")

# The INBOX messages the flow changes: MARKED gets \Seen and \Flagged and is then moved,
# READ_AGAIN (read in the store) loses \Seen, FLAG_UNFLAG gets \Flagged and loses it again.
MARKED = fx.PLAIN
READ_AGAIN = fx.find(fx.INBOX, 4)
FLAG_UNFLAG = fx.QUOTED
STEPS = ["login", "list", "read INBOX", "read 仕事", "flags", "append", "move", "flags INBOX",
         "flags 仕事", "flags 仕事/報告書", "logout"]


def utf8_word(text):
    return "=?UTF-8?B?%s?=" % base64.b64encode(text.encode()).decode()


def appended_bytes():
    o = APPENDED
    header = ("From: %s <%s>\r\nTo: %s@example.jp\r\nSubject: %s\r\n"
              "Date: Tue, 04 Mar 2025 09:00:00 +0900\r\nMessage-ID: <appended.library@example.jp>"
              "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n" %
              (utf8_word(o.from_name), o.from_addr, USER, utf8_word(o.subject)))
    body = base64.encodebytes(o.body.replace("\n", "\r\n").encode()).decode()
    return (header + body.replace("\n", "\r\n")).encode()


def flag_set(flags):
    """A flag list without \\Recent, which only says who saw the message first."""
    return set(flags) - {"\\Recent"}


class LibraryFlow:
    """Runs the script of a library (the program and its script: self.command) and checks
    what it read; check_changes (of each mode's test) checks the rest."""

    command = None

    def run_flow(self):
        message = os.path.join(self.work, "appended.eml")
        with open(message, "wb") as f:
            f.write(appended_bytes())
        plan = {"port": self.client_port, "user": USER, "password": PASSWORD,
                "read": [fx.INBOX.name, fx.WORK.name],
                "change": {"folder": fx.INBOX.name, "mark": MARKED.uid,
                           "unread": READ_AGAIN.uid, "flag_unflag": FLAG_UNFLAG.uid,
                           "move_to": fx.REPORTS.name},
                "append": {"folder": fx.WORK.name, "flags": ["\\Seen", "\\Flagged"],
                           "date": "04-Mar-2025 09:00:00 +0900",
                           "date_iso": "2025-03-04T09:00:00+09:00", "file": message},
                "check": [fx.INBOX.name, fx.WORK.name, fx.REPORTS.name]}
        path = os.path.join(self.work, "plan.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump(plan, f, ensure_ascii=False)
        rc, out, err = self.run_client(self.command + [path])
        self.assertEqual(rc, 0, self.describe_runs())
        report = json.loads(out)
        self.assertEqual(sorted(report["steps"]), sorted(STEPS), self.describe_runs())
        return report

    def failed_steps(self, report):
        return {name: error for name, error in report["steps"].items() if error is not None}

    def test_flow(self):
        report = self.run_flow()
        self.assertEqual(sorted(report["folders"]), sorted(f.name for f in fx.FOLDERS))
        for folder in (fx.INBOX, fx.WORK):
            read = report["read"][folder.name]
            sources = [base64.b64decode(m["source"]) for m in read]
            self.assert_folder_downloaded(folder, sources)
            for message in read:
                original = fx.find(folder, message["uid"])
                flags = flag_set(message["flags"])
                self.assertEqual("\\Seen" in flags, original.seen, original.name)
                self.assertEqual("\\Answered" in flags, bool(original.status & ANSWERED))
                # The subject as the library decodes it; the exact mode's form of text beyond
                # JIS X 0208 is read by no standard decoder (the message checks above say how
                # far it goes).
                if self.extended or not original.beyond_jis:
                    self.assertEqual(message["subject"], original.subject, original.name)
        self.check_changes(report)

    def expected_inbox_flags(self, moved):
        """{uid: flags} the INBOX must show at the end: the store's flags, READ_AGAIN unread,
        MARKED gone when moved."""
        flags = {}
        for original in fx.in_folder(fx.INBOX):
            if moved and original is MARKED:
                continue
            got = set()
            if original.seen and original is not READ_AGAIN:
                got.add("\\Seen")
            if original.status & ANSWERED:
                got.add("\\Answered")
            flags[str(original.uid)] = got
        return flags

    def final_flags(self, report, folder):
        return {uid: flag_set(flags) for uid, flags in report["flags"][folder.name].items()}

    def check_extended(self, report, move_calls):
        """The whole flow worked as asked, and reached the host as move_calls and the other
        changes' calls say."""
        self.assertEqual(self.failed_steps(report), {}, self.describe_runs())
        self.assertEqual(self.final_flags(report, fx.INBOX),
                         self.expected_inbox_flags(moved=True))
        # The appended message with its flags.
        appended = report["appended_uid"]
        self.assertEqual(self.final_flags(report, fx.WORK),
                         {"1": {"\\Seen"}, str(appended): {"\\Seen", "\\Flagged"}})
        reports = self.final_flags(report, fx.REPORTS)
        moved = [uid for uid in reports if fx.find(fx.REPORTS, int(uid)) is None]
        self.assertEqual(len(moved), 1, reports)
        self.assert_calls([("mark", "inbox.box/AAAA0001", UNREAD, 0),
                           ("mark", "inbox.box/AAAA0004", UNREAD, 1),
                           ("import", "temp", "work.box", 0),
                           ("import", "inbox.box/AAAA0001", "work.box/reports.box", 0)] +
                          move_calls)
        stored = self.assert_store_through_calls()
        self.assertEqual(len(stored["work.box"]), 1)
        self.assertEqual(self.message_problems(self.read_back(fx.WORK, appended), APPENDED), [])
        self.assert_reads_as(self.read_back(fx.REPORTS, int(moved[0])), MARKED)
        # The moved message keeps \Seen (the host's) and \Flagged (the server's).
        self.assertEqual(reports, {moved[0]: {"\\Seen", "\\Flagged"}, "1": set()})
