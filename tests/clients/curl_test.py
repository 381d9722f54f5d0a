"""curl's IMAP URLs as a shell script uses them: the folder list, a message by ;UID= and by
;MAILINDEX=, a body part (;SECTION=1), chosen header fields, a SEARCH through -X, and an upload
of a Japanese ISO-2022-JP message with -T, read back afterwards."""

import base64
import re
import unittest

from client_case import PASSWORD, USER, ClientCase, decoded
import fixture_store as fx
from harness import UNREAD, decode_mutf7, mutf7

UPLOADED = fx.Original(fx.WORK, "new", UNREAD, "アップロードした報告", "中村 六郎",
                       "nakamura@example.jp", "curl でアップロードしました。\n以上です。\n")


def jis_word(text):
    return "=?ISO-2022-JP?B?%s?=" % base64.b64encode(text.encode("iso-2022-jp")).decode()


def uploaded_bytes():
    """The message as a Japanese mail program writes it: ISO-2022-JP words and text, 7bit."""
    o = UPLOADED
    header = ("From: %s <%s>\r\nTo: %s@example.jp\r\nSubject: %s\r\n"
              "Date: Wed, 05 Mar 2025 18:00:00 +0900\r\nMessage-ID: <uploaded.curl@example.jp>\r\n"
              "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n"
              "Content-Transfer-Encoding: 7bit\r\n\r\n" %
              (jis_word(o.from_name), o.from_addr, USER, jis_word(o.subject)))
    return header.encode() + o.body.replace("\n", "\r\n").encode("iso-2022-jp")


class CurlFlow:

    def curl(self, url, *options):
        """curl on a URL of the server (path after the port); returns (exit code, output)."""
        rc, out, err = self.run_client(
            ["curl", "--silent", "--show-error", "--max-time", "60", "--user",
             "%s:%s" % (USER, PASSWORD)] + list(options) +
            ["imap://127.0.0.1:%d/%s" % (self.client_port, url)])
        return rc, out

    def curl_bytes(self, url):
        """The bytes curl writes for a URL (fails unless curl succeeds)."""
        path = "%s/out-%d" % (self.work, len(self.runs))
        rc, _ = self.curl(url, "--output", path)
        self.assertEqual(rc, 0, self.describe_runs())
        with open(path, "rb") as f:
            return f.read()

    def test_flow(self):
        # The folders, by their titles.
        rc, listing = self.curl("")
        self.assertEqual(rc, 0, self.describe_runs())
        names = [decode_mutf7(re.match(r'\* LIST \(.*?\) "/" (.*)$', line).group(1))
                 for line in listing.splitlines()]
        self.assertEqual(sorted(names), sorted(f.name for f in fx.FOLDERS))

        # Messages by UID and by sequence number.
        self.assert_reads_as(self.curl_bytes("INBOX;UID=1"), fx.PLAIN)
        self.assert_reads_as(self.curl_bytes("INBOX;UID=10001"), fx.find(fx.INBOX, 10001))
        self.assert_reads_as(self.curl_bytes("INBOX;MAILINDEX=6"), fx.QUOTED)
        self.assert_reads_as(self.curl_bytes("INBOX;UID=2"), fx.BEYOND_JIS)
        self.assert_reads_as(self.curl_bytes("%s;UID=1" % mutf7("仕事/報告書").decode()),
                             fx.find(fx.REPORTS, 1))

        # Chosen header fields, also of text beyond JIS X 0208.
        for uid in (4, 2):
            header = self.curl_bytes("INBOX;UID=%d;SECTION=HEADER.FIELDS%%20(SUBJECT%%20FROM)"
                                     % uid)
            self.assert_reads_as(header, fx.find(fx.INBOX, uid), header_only=True)
            self.assertEqual(sorted(decoded(header).keys()), ["From", "Subject"])

        # A body part.
        self.check_body_part()

        # SEARCH through -X, after the fetches above marked messages 1 and 6 read.
        rc, found = self.curl("INBOX", "--request", "SEARCH UNSEEN")
        self.assertEqual(rc, 0, self.describe_runs())
        self.check_search(found)

        # An upload into 仕事, read back.
        path = "%s/upload.eml" % self.work
        with open(path, "wb") as f:
            f.write(uploaded_bytes())
        rc, _ = self.curl(mutf7("仕事").decode(), "--upload-file", path)
        self.assertEqual(rc, 0, self.describe_runs())
        self.assertEqual(self.message_problems(self.curl_bytes("%s;UID=2" % mutf7("仕事").decode()),
                                               UPLOADED), [])
        stored = self.assert_stored_once("work.box", UPLOADED)
        self.assertTrue(stored.endswith(fx.sjis(UPLOADED.body.replace("\n", "\r\n"))))

        # BODY[] marks a message read, so does a header section, and so does a part number
        # where it is answered (the extended mode).
        calls = [("mark", "inbox.box/AAAA0001", UNREAD, 0),
                 ("mark", "inbox.box/AAAB0001", UNREAD, 0),
                 ("mark", "inbox.box/AAAA0006", UNREAD, 0),
                 ("mark", "work.box/reports.box/AAAA0001", UNREAD, 0),
                 ("mark", "inbox.box/AAAA0004", UNREAD, 0),
                 ("mark", "inbox.box/AAAA0002", UNREAD, 0),
                 ("mark", "work.box/AAAA0002", UNREAD, 0),
                 # curl uploads with the flag \Seen, which the extended mode keeps.
                 ("import", "temp", "work.box", 0 if self.extended else UNREAD)]
        if self.extended:
            calls.append(("mark", "inbox.box/AAAA0002", UNREAD, 0))
        self.assert_calls(calls)
        self.assert_unread(fx.INBOX, ["AAAA0003", "AAAA0005"])



class ExactModeTest(CurlFlow, ClientCase):
    extended = False

    def check_body_part(self):
        # Part numbers are echoed with no data (a FETCH item without a value), so curl
        # reports a bad answer, as the server renders only whole messages, headers and texts.
        rc, out = self.curl("INBOX;UID=2;SECTION=1")
        self.assertEqual((rc, out), (8, ""))
        self.assert_exchange(rb"^\w+ UID FETCH 2 BODY\[1\]$", b" OK FETCH complated\r\n",
                             starts=b"* 2 FETCH (UID 2 BODY[1])\r\n")

    def check_search(self, found):
        # SEARCH knows only ALL: UNSEEN finds nothing although messages 3 and 5 are unseen.
        self.assertEqual(found.strip(), "* SEARCH")


class ExtendedModeTest(CurlFlow, ClientCase):
    extended = True

    def check_body_part(self):
        # Part 1 of the multipart message is its text, beyond JIS X 0208: UTF-8 in base64.
        text = base64.b64decode(self.curl_bytes("INBOX;UID=2;SECTION=1")).decode("utf-8")
        self.assertEqual(text.replace("\r\n", "\n"), fx.BEYOND_JIS.body)

    def check_search(self, found):
        self.assertEqual(found.strip(), "* SEARCH 3 5")


if __name__ == "__main__":
    unittest.main()
