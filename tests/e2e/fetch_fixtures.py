"""The store of the FETCH, STORE and SEARCH tests: user1 with an inbox of three messages
(UIDs 3, 5 and 9) in Shift_JIS files with the host's status line first, CR LF and LF line
ends, and an empty folder. Also what a client should receive for such a file, computed here
with Python's own codecs; a client that reads whole responses and parses every one with the
independent reader; and the test case that starts the host stand-in on the store."""

import base64
import os
import re
import socket

import imap_reader
from harness import (ANSWERED, DELETED, DRAFT, UNREAD, Client, StoreTestCase,
                     message_file, sjis, uid_of, utc)

USER = "user1"
PASSWORD = "secret"
INBOX_TITLE = "受信トレイ"
INBOX_VALIDITY = 42


def text_lines(items, eol=b"\r\n"):
    """Message text: each item (text in Shift_JIS, or bytes) ended by eol unless it ends with
    LF already."""
    out = b""
    for item in items:
        data = sjis(item) if isinstance(item, str) else item
        out += data if data.endswith(b"\n") else data + eol
    return out


class Message:
    """One message of the fixture folder: its file name, status word, file bytes (status line
    first) and last-write time."""

    def __init__(self, file_name, status, header, body, mtime, eol=b"\r\n"):
        self.file_name = file_name
        self.status = status
        self.text = text_lines(header, eol) + eol + text_lines(body, eol)
        self.data = message_file(status, self.text)
        self.mtime = mtime

    @property
    def uid(self):
        return uid_of(self.file_name)


# Message 1: plain text with CR LF lines (one body line ends in LF alone); two Received fields
# folded over several lines, a From display name in quotes that holds a comma and is folded
# with a tab, To addresses with a comment and a backslash, a Subject in Shift_JIS folded onto a
# second line.
MESSAGE_1 = Message("AAAA0003", UNREAD, [
    "Received: from mx.example.jp (mx.example.jp [192.0.2.1])",
    "\tby mail.example.jp; Sun, 4 Mar 2001 10:00:00 +0900",
    "Received: from client.example.jp",
    " by mx.example.jp; Sun, 4 Mar 2001 09:59:00 +0900",
    "Date: Sun, 4 Mar 2001 10:02:03 +0900",
    "From: \"Yamada, Taro\"",
    "\t<taro@example.jp>",
    "To: hanako@example.jp (Hanako Sato),",
    " \"Jiro \\ Suzuki\" <jiro@example.com>",
    "Cc: <cc@example.org>",
    "Subject: 会議のお知らせ",
    " (3月分)",
    "Message-ID: <20010304100203.A1@example.jp>",
    "X-Mailer: Orvex",
], [
    "本日の会議は十時からです。",
    b"Line two ends in LF alone.\n",
    "以上",
], utc(2001, 3, 4, 1, 2, 3))

# Message 2: multipart/mixed with CR LF lines, a text part and an attachment whose name is
# Japanese; a From display name in Shift_JIS, Sender with a comment, two Reply-To addresses and
# a Subject with a double quote and a backslash.
MESSAGE_2 = Message("AAAA0005", ANSWERED, [
    "Date: Sat, 30 Dec 2000 12:00:00 +0900",
    "From: 山田 太郎 <taro@example.jp>",
    "Sender: secretary@example.jp (Office)",
    "Reply-To: \"List\" <list@example.jp>, other@example.jp",
    "To: hanako@example.jp",
    "Subject: Re: \"quoted\" C:\\path",
    "In-Reply-To: <1@example.jp>",
    "Message-ID: <2@example.jp>",
    "MIME-Version: 1.0",
    "Content-Type: multipart/mixed;",
    "\tboundary=\"xyz\"",
], [
    "This is a multi-part message.",
    "--xyz",
    "Content-Type: text/plain; charset=ISO-2022-JP",
    "",
    "添付します。",
    "--xyz",
    "Content-Type: application/octet-stream; name=\"報告.txt\"",
    "Content-Disposition: attachment; filename=\"報告.txt\"",
    "Content-Transfer-Encoding: base64",
    "",
    "SGVsbG8sIHdvcmxkIQ==",
    "--xyz--",
], utc(2000, 12, 31, 20, 0, 0))

# Message 3: LF line ends after the host's status line, no Sender or Reply-To, an empty body.
MESSAGE_3 = Message("AAAA0009", UNREAD | DELETED | DRAFT, [
    "Date: Sun, 29 Feb 2004 00:30:00 +0900",
    "From: nobody@example.net",
    "Subject: empty",
], [], utc(2004, 2, 28, 15, 30, 0), eol=b"\n")

INBOX_MESSAGES = [MESSAGE_1, MESSAGE_2, MESSAGE_3]


def write_store(store):
    """Fills the harness's folder tree of user1: the inbox of the three messages, with their
    last-write times, and an empty folder "Empty". Yields the inbox directory."""
    store.folder("empty.box", title="Empty", uid_validity=7)
    inbox = store.folder("inbox.box", title=INBOX_TITLE, uid_validity=INBOX_VALIDITY,
                         messages=[(m.file_name, m.status, m.text) for m in INBOX_MESSAGES])
    for m in INBOX_MESSAGES:
        path = os.path.join(inbox, m.file_name + ".orv")
        with open(path, "rb") as f:
            assert f.read() == m.data
        os.utime(path, (m.mtime, m.mtime))
    return inbox


def message_key(message, folder="inbox.box"):
    """The host's name for a message, as the server hands it to _OPAMarkMail@12."""
    return ("%s\\%s\\%s" % (USER, folder, message.file_name)).encode()


# What a client receives for a message file: header lines without the status line, Shift_JIS
# runs of the header as ISO-2022-JP encoded words, body lines in ISO-2022-JP.

def _is_double_byte(ch):
    return len(ch.encode("cp932")) == 2


def encode_header_words(line):
    """A header line (Shift_JIS bytes) with each run of double-byte characters, blanks between
    and after them included, as one "=?ISO-2022-JP?B?...?=" word."""
    text = line.decode("cp932")
    out = b""
    i = 0
    while i < len(text):
        if not _is_double_byte(text[i]):
            out += text[i].encode("cp932")
            i += 1
            continue
        j = i
        while j < len(text) and (_is_double_byte(text[j]) or text[j] == " "):
            j += 1
        out += (b"=?ISO-2022-JP?B?" + base64.b64encode(text[i:j].encode("iso2022_jp")) +
                b"?=")
        i = j
    return out


def split_lines(data):
    """Lines, each up to and including its LF (the last one may lack it)."""
    return re.findall(rb"[^\n]*\n|[^\n]+\Z", data)


def client_form(message):
    """(header, body) as the server should send them."""
    header, body = b"", b""
    in_header = True
    for line in split_lines(message.data):
        if in_header:
            if line in (b"\r\n", b"\n"):
                in_header = False
            elif not line.lower().startswith(b"x-orvex-status:"):
                header += encode_header_words(line)
        else:
            body += line.decode("cp932").encode("iso2022_jp")
    return header, body


def whole_message(message):
    header, body = client_form(message)
    return header + b"\r\n" + body


def header_fields(message):
    """The client-form header as fields, each with its continuation lines."""
    header, _ = client_form(message)
    fields = []
    for line in split_lines(header):
        if line[:1] in (b" ", b"\t") and fields:
            fields[-1] += line
        else:
            fields.append(line)
    return fields


# A client that reads whole responses and parses each of them.

class Exchange:
    """One command and its answer: every byte, the parsed responses and the tagged line."""

    def __init__(self, raw, responses):
        self.raw = raw
        self.responses = responses
        self.tagged = responses[-1]

    @property
    def fetches(self):
        return [r for r in self.responses if isinstance(r, imap_reader.Fetch)]

    @property
    def searches(self):
        return [r for r in self.responses if isinstance(r, imap_reader.Search)]

    @property
    def lists(self):
        return [r for r in self.responses if isinstance(r, imap_reader.MailboxList)]

    @property
    def statuses(self):
        return [r for r in self.responses if isinstance(r, imap_reader.Status)]


class ImapClient(Client):
    """The raw client of the harness, reading whole responses: every response it reads must
    parse with the independent reader, so no test can pass over a malformed FETCH."""

    def read_line(self):
        while b"\r\n" not in self.pending:
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                raise AssertionError("no whole line within the time-out; got %r" % self.pending)
            if not chunk:
                raise AssertionError("the connection ended; got %r" % self.pending)
            self.pending += chunk
        end = self.pending.index(b"\r\n") + 2
        line, self.pending = self.pending[:end], self.pending[end:]
        return line

    def read_exact(self, n):
        data = self.read(n)
        if len(data) != n:
            raise AssertionError("the connection ended inside a literal: %r" % data)
        return data

    def read_response(self, allow_8bit=False):
        """(bytes, parsed form) of the next response."""
        data = imap_reader.read_response(self.read_line, self.read_exact)
        try:
            return data, imap_reader.parse_response(data, allow_8bit)
        except imap_reader.ParseError as e:
            raise AssertionError("a response that is not IMAP: %s" % e)

    def command(self, line, allow_8bit=False):
        """Sends one command line and reads the responses up to the tagged one of its tag."""
        tag = line.split(b" ", 1)[0]
        self.send(line + b"\r\n")
        raw, responses = b"", []
        while True:
            data, parsed = self.read_response(allow_8bit)
            raw += data
            responses.append(parsed)
            if isinstance(parsed, imap_reader.Tagged) and parsed.tag == tag:
                return Exchange(raw, responses)


class MessageStoreTestCase(StoreTestCase):
    """The harness's store test with the fixture store written and the host stand-in serving
    it, its journal on. When the test ends the host is stopped and must end cleanly, without
    a sanitizer report."""

    def setUp(self):
        super().setUp()
        self.inbox_dir = write_store(self.store)
        self.host = self.start_store_host(check_stop=True)
        self.marks_seen = 0

    def marks(self):
        """Every _OPAMarkMail@12 call so far, as (key, mask, value)."""
        return [(key, int(mask, 16), int(value))
                for _, key, mask, value in self.host_calls("_OPAMarkMail@12")]

    def new_marks(self):
        """The _OPAMarkMail@12 calls since the last call of new_marks."""
        marks = self.marks()
        fresh = marks[self.marks_seen:]
        self.marks_seen = len(marks)
        return fresh

    def login_client(self):
        client = self.greeted(ImapClient)
        self.assertEqual(client.command(b"l1 LOGIN user1 secret").raw,
                         b"l1 OK LOGIN complated\r\n")
        return client

    def select(self, client, name=b"INBOX"):
        answer = client.command(b"s1 SELECT " + name)
        self.assertEqual(answer.tagged.status, b"OK", answer.raw)
        return answer

    def selected(self, name=b"INBOX"):
        """A client logged in as user1 with the folder selected."""
        client = self.login_client()
        self.select(client, name)
        return client

    def assert_refused(self, before_select, arguments, folder=b"INBOX"):
        """Each (line, answer) of before_select is answered so before a SELECT; once the
        folder is selected, each line of arguments is refused for its argument count; nothing
        is marked. Returns the client, with the folder selected."""
        client = self.login_client()
        for line, answer in before_select:
            self.assertEqual(client.command(line).raw, answer)
        self.select(client, folder)
        for line in arguments:
            with self.subTest(line=line):
                self.assertEqual(client.command(line).raw,
                                 line.split(b" ")[0] + b" NO please give arguments\r\n")
        self.assertEqual(self.marks(), [])
        return client
