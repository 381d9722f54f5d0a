"""What every client test shares: the store of fixture_store in a fresh mailbox directory, the
host on it (exact or extended mode) behind a relay that records each connection's exchange,
the client programs run with a time limit, and the checks by content: messages decoded with
Python's email package against the originals, folder names decoded to their titles, the host
calls in the journal, and the store changed only through those calls."""

import base64
import collections
import email
import email.policy
import os
import re
import socket
import string
import subprocess
import threading

import fixture_store as fx
from harness import (UNREAD, StoreTestCase, decode_mutf7, mutf7, parse_index, read_tree,
                     sjis_of_jis)

HERE = os.path.dirname(os.path.abspath(__file__))

# A client run that takes longer than this has hung.
CLIENT_TIMEOUT = 120

MARK = "_OPAMarkMail@12"
IMPORT = "_OPAImportFile@12"
DELETE = "_OPADeleteMail@4"

# The blank-free account most client configurations need.
USER, PASSWORD = fx.USER, fx.PASSWORD


class Relay:
    """A TCP relay from a port of its own to the server's, keeping every connection's bytes in
    both directions, so a test can show the exact exchange that broke a client."""

    def __init__(self, target_port):
        self.target = target_port
        self.listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listener.bind(("127.0.0.1", 0))
        self.listener.listen(16)
        self.port = self.listener.getsockname()[1]
        self.lock = threading.Lock()
        self.sessions = []  # [client bytes, server bytes] per connection, in accept order
        self.threads = []
        self.sockets = []
        self.stopped = False
        self.acceptor = threading.Thread(target=self._accept, daemon=True)
        self.acceptor.start()

    def _accept(self):
        while True:
            try:
                client, _ = self.listener.accept()
            except OSError:
                return
            try:
                server = socket.create_connection(("127.0.0.1", self.target), timeout=10)
                server.settimeout(None)
            except OSError:
                client.close()
                continue
            session = [bytearray(), bytearray()]
            with self.lock:
                if self.stopped:
                    client.close()
                    server.close()
                    return
                self.sessions.append(session)
                self.sockets += [client, server]
            for source, sink, record in ((client, server, session[0]),
                                         (server, client, session[1])):
                t = threading.Thread(target=self._pump, args=(source, sink, record), daemon=True)
                t.start()
                self.threads.append(t)

    def _pump(self, source, sink, record):
        try:
            while True:
                data = source.recv(65536)
                if not data:
                    break
                with self.lock:
                    record += data
                sink.sendall(data)
        except OSError:
            pass
        for s in (sink, source):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    def stop(self):
        with self.lock:
            self.stopped = True
        self.listener.close()
        with self.lock:
            sockets = list(self.sockets)
        for s in sockets:
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
        for t in self.threads:
            t.join(10)
        for s in sockets:
            s.close()

    def exchange(self, pattern):
        """The first command line matching the regular expression (bytes) and the server's
        answer to it: its tagged line with the untagged and continuation lines just before it
        (None when it has none). None when no client sent such a command."""
        with self.lock:
            sessions = [(bytes(c), bytes(s)) for c, s in self.sessions]
        for sent, answered in sessions:
            for line in sent.split(b"\r\n"):
                if not re.search(pattern, line):
                    continue
                tag = line.split(b" ", 1)[0]
                lines = answered.split(b"\r\n")
                for i, answer in enumerate(lines):
                    if answer.startswith(tag + b" "):
                        start = i
                        while start > 0 and lines[start - 1][:2] in (b"* ", b"+ "):
                            start -= 1
                        return line, b"\r\n".join(lines[start:i + 1]) + b"\r\n"
                return line, None
        return None

    def client_bytes(self):
        """Every byte any client sent, all connections together."""
        with self.lock:
            return b"".join(bytes(c) for c, _ in self.sessions)

    def transcript(self):
        """All the bytes of every connection, for a failure message."""
        with self.lock:
            return b"\n".join(b"C: %r\nS: %r" % (bytes(c)[-3000:], bytes(s)[-3000:])
                              for c, s in self.sessions)


def file_status(data):
    """The status word of a message file's first line (the one the host was given at the
    import); the unread bit alone for no file."""
    if data is None:
        return UNREAD
    found = re.match(rb"X-Orvex-Status: ([0-9A-F]{8})\r\n", data)
    if found is None:
        raise AssertionError("a message file without its status line: %r" % data[:40])
    return int(found.group(1), 16)


def decoded(data):
    """A message parsed with Python's email package, as a reader decodes it."""
    return email.message_from_bytes(data, policy=email.policy.default)


def header_text(value):
    """A header value as a reader of UTF-8 headers (RFC 6532, sent after ENABLE UTF8=ACCEPT)
    sees it: Python's email package keeps raw 8-bit bytes as surrogate escapes."""
    text = str(value)
    try:
        return text.encode("utf-8", "surrogateescape").decode("utf-8")
    except UnicodeError:
        return text


def body_text(message):
    """The text of the first plain-text part, line ends as LF ('' for none)."""
    part = message.get_body(preferencelist=("plain",))
    if part is None:
        return ""
    return part.get_content().replace("\r\n", "\n")


class ClientCase(StoreTestCase):
    """A fresh copy of the fixture store in a new mailbox directory, the host serving it in
    exact mode (extended = True: extended mode) with its journal, and a relay in front of it
    whose port (self.client_port) the client is given. With tls = True the server has a
    certificate for localhost made by orimapst make-cert (self.cert, for the client to
    trust), so the extended mode offers STARTTLS. store_folders: the folders of the store."""

    extended = False
    tls = False
    store_folders = fx.FOLDERS
    # The account the client configurations name.
    user, password = USER, PASSWORD

    def setUp(self):
        super().setUp()
        self.build_store()
        self.cert = None
        if self.tls:
            self.orimapst_ok("make-cert", "localhost")
            self.cert = os.path.join(self.mailbox.path, "imap-cert.pem")
        self.before = read_tree(self.store.root)
        self.host = self.start_store_host(check_stop=True)
        self.relay = Relay(self.port)
        self.addCleanup(self.relay.stop)
        self.client_port = self.relay.port
        self.work = os.path.join(self.tmp, "client")
        os.makedirs(self.work)
        self.runs = []

    def build_store(self):
        """Fills the mailbox before the host starts (the folders of store_folders)."""
        fx.build(self.mailbox.path, self.store_folders)

    # Running clients.

    def run_client(self, args, env=None, input_bytes=b"", cwd=None, timeout=CLIENT_TIMEOUT):
        """Runs a client program to its end; returns (exit code, stdout, stderr) as text. A
        client that does not end in time fails the test with what the relay saw."""
        full_env = dict(os.environ)
        full_env.update({"LC_ALL": "C.UTF-8", "LANG": "C.UTF-8", "HOME": self.work})
        full_env.update(env or {})
        try:
            done = subprocess.run(args, input=input_bytes, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, env=full_env, cwd=cwd or self.work,
                                  timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail("%s did not end within %d s; exchange:\n%s" %
                      (args[0], timeout, self.relay.transcript().decode("ascii", "replace")))
        result = (done.returncode, done.stdout.decode("utf-8", "replace"),
                  done.stderr.decode("utf-8", "replace"))
        self.runs.append((args, result))
        return result

    def describe_runs(self):
        return "\n".join("$ %s\n-> %d\n%s\n%s" % (" ".join(a), r[0], r[1][-2000:], r[2][-2000:])
                         for a, r in self.runs)

    def config(self, template, name, **values):
        """Writes a client configuration from a template of this directory, filled with the
        port, the account, the test's work directory and the given values; returns its path."""
        with open(os.path.join(HERE, "config", template), encoding="utf-8") as f:
            text = string.Template(f.read()).substitute(
                port=self.client_port, user=self.user, password=self.password, work=self.work,
                **values)
        path = os.path.join(self.work, name)
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)
        os.chmod(path, 0o600)
        return path

    # The exchange a client had.

    def assert_exchange(self, pattern, answer, starts=b""):
        """Some client sent a command matching pattern (a regular expression, bytes) and the
        server's answer to it, through its tagged line, ends with answer (the tag left out)
        and starts with starts."""
        found = self.relay.exchange(pattern)
        self.assertIsNotNone(found, "no command %r in:\n%s" % (pattern, self.relay.transcript()))
        line, got = found
        self.assertIsNotNone(got, "no answer to %r" % line)
        tag = line.split(b" ", 1)[0]
        self.assertTrue(got.endswith(tag + answer), "answer to %r:\n%r\nexpected to end with %r"
                        % (line, got, tag + answer))
        self.assertTrue(got.startswith(starts), "answer to %r:\n%r" % (line, got))

    def assert_password_never_in_clear(self):
        """The client sent the password only over TLS: its bytes never crossed the relay."""
        self.assertNotIn(PASSWORD.encode(), self.relay.client_bytes(), self.describe_runs())

    # Messages by content.

    def message_problems(self, data, original, header_only=False):
        """How a downloaded message differs from the original, read as a person reads it:
        subject, From display name and address, the text of the first text part and the
        attachment's bytes (header_only: a header section, only its fields). Empty when it
        reads the same."""
        msg = decoded(data)
        problems = []
        # Blanks around a value are not part of it (a client that writes the message again
        # may fold the field before its first word).
        if header_text(msg["subject"]).strip() != original.subject:
            problems.append("subject %r" % str(msg["subject"]))
        addresses = msg["from"].addresses if msg["from"] is not None else ()
        if len(addresses) != 1:
            problems.append("From %r" % msg["from"])
        else:
            # A display name's leading and trailing blanks are not part of it.
            if header_text(addresses[0].display_name).strip() != original.from_name:
                problems.append("From name %r" % addresses[0].display_name)
            if addresses[0].addr_spec != original.from_addr:
                problems.append("From address %r" % addresses[0].addr_spec)
        if header_only:
            return problems
        if body_text(msg) != original.body:
            problems.append("body %r" % body_text(msg)[:200])
        if original.attachment is not None:
            contents = [p.get_content() for p in msg.iter_attachments()]
            if contents != [original.attachment[1]]:
                problems.append("attachment of %s bytes" % [len(c) for c in contents])
            # The exact mode sends a part's header lines as body text, so the Japanese
            # attachment name arrives in raw ISO-2022-JP; the extended mode encodes it.
            names = [header_text(p.get_filename()) for p in msg.iter_attachments()]
            if self.extended and names != [original.attachment[0]]:
                problems.append("attachment name %r" % names)
        return problems

    def exact_form_text(self, data):
        """A message in the exact mode's form read back into the store's text: encoded words
        opened, each ESC $ B run turned back into Shift_JIS by the JIS arithmetic, the whole
        decoded as code page 932, line ends made LF. The exact mode sends the IBM extension
        codes in seven bits, as the codes of the same characters in the rows ISO-2022-JP has
        (89-92 for the NEC-selected ones, which standard decoders lack); only half-width
        katakana (outside the runs) and user-defined codes (within them), which ISO-2022-JP has
        no place for, stay 8-bit. Any other 8-bit byte fails the test."""
        opened = re.sub(rb"=\?ISO-2022-JP\?B\?([A-Za-z0-9+/=]*)\?=",
                        lambda m: base64.b64decode(m.group(1)), data)
        pieces = re.split(rb"\x1b\$B(.*?)\x1b\(B", opened, flags=re.S)
        out = b""
        for at, piece in enumerate(pieces):
            if at % 2 == 0:
                self.assertIsNone(re.search(rb"[\x80-\xa0\xe0-\xff]", piece), piece)
                out += piece
                continue
            for pair in (piece[i:i + 2] for i in range(0, len(piece), 2)):
                if len(pair) == 2 and 0xF0 <= pair[0] <= 0xF9:
                    out += pair
                else:
                    self.assertTrue(len(pair) == 2 and all(0x21 <= b <= 0x7E for b in pair),
                                    piece)
                    out += sjis_of_jis(*pair)
        return out.decode("cp932").replace("\r\n", "\n")

    def exact_form_problems(self, data, original, header_only=False):
        """How a message in the exact mode's form differs from the original, read back with
        exact_form_text: its Subject and From lines, the text of its first part, the
        attachment's name and (read by Python's email package) its bytes."""
        text = "\n" + self.exact_form_text(data)
        problems = ["%s line" % name for name, value in
                    (("Subject", original.subject), ("From", original.from_field()))
                    if "\n%s: %s\n" % (name, value) not in text]
        if header_only:
            return problems
        if "\n\n" + original.body not in text:
            problems.append("body")
        if original.attachment is not None:
            if 'filename="%s"' % original.attachment[0] not in text:
                problems.append("attachment name")
            if [p.get_content() for p in decoded(data).iter_attachments()] != \
                    [original.attachment[1]]:
                problems.append("attachment bytes")
        return problems

    def assert_reads_as(self, data, original, header_only=False):
        """The downloaded message (header_only: a header section) reads as the original; in
        the exact mode except for the quoted display name (assert_quoted_name_fault), which
        the extended mode mends, and, for text beyond JIS X 0208, as exact_form_problems
        reads it, since standard decoders cannot."""
        if original.beyond_jis and not self.extended:
            problems = self.exact_form_problems(data, original, header_only)
        else:
            problems = self.message_problems(data, original, header_only)
        if original is fx.QUOTED and not self.extended:
            problems = [p for p in problems if not p.startswith("From name")]
            self.assert_quoted_name_fault(data)
        self.assertEqual(problems, [], "%s/%s" % (original.folder.path, original.name))

    def assert_quoted_name_fault(self, data):
        """A display name holding '"' reaches clients as a quoted string with encoded words
        inside it, which RFC 2047 forbids, and reads with one word still encoded: the server
        encodes each run of double-byte characters where it stands, also within quotes."""
        field = re.search(rb"^From:(.*(?:\r?\n[ \t].*)*)", data, re.MULTILINE).group(1)
        # Any folding a client added is undone.
        self.assertEqual(re.sub(rb"\s+", b" ", field).strip(),
                         b'"=?ISO-2022-JP?B?GyRCTmtMWhsoQiA=?=\\"=?ISO-2022-JP?B?GyRCJTklOiUtGyhC?='
                         b'\\" =?ISO-2022-JP?B?GyRCMGxPOhsoQg==?=" <suzuki@example.jp>')
        self.assertEqual(decoded(data)["from"].addresses[0].display_name.strip(),
                         '鈴木 "=?ISO-2022-JP?B?GyRCJTklOiUtGyhC?=" 一郎')

    def original_of(self, data):
        """The original of a downloaded message, found by its Message-ID."""
        msg_id = decoded(data)["message-id"]
        original = fx.find_by_id(str(msg_id).strip()) if msg_id is not None else None
        self.assertIsNotNone(original, "a message that the store does not hold: %r" % data[:300])
        return original

    def assert_folder_downloaded(self, folder, messages):
        """messages (bytes each) are exactly the folder's originals, each reading as its
        original."""
        got = sorted((self.original_of(m).name, m) for m in messages)
        self.assertEqual([n for n, _ in got], sorted(m.name for m in fx.in_folder(folder)),
                         folder.title)
        for name, data in got:
            self.assert_reads_as(data, next(m for m in fx.in_folder(folder) if m.name == name))

    def read_back(self, folder, uid):
        """A message as the server hands it out now (BODY.PEEK[] through imaplib, straight to
        the server, so the client's exchange stays apart)."""
        import imaplib
        c = imaplib.IMAP4("127.0.0.1", self.port, timeout=60)
        try:
            c.login(USER, PASSWORD)
            typ, _ = c.select('"%s"' % mutf7(folder.name).decode(), readonly=False)
            self.assertEqual(typ, "OK")
            typ, data = c.uid("FETCH", str(uid), "(BODY.PEEK[])")
            self.assertEqual(typ, "OK")
            return next(item[1] for item in data if isinstance(item, tuple))
        finally:
            c.logout()

    # Host calls and the store.

    def calls(self):
        """The journal's host calls in a comparable form: ("mark", folder/name, mask, value),
        ("import", source, folder, status) with source "temp" for a file of the host's
        temporary directory, else folder/name of the copied message, and ("delete",
        folder/name)."""
        out = []
        prefix = USER + "\\"
        for call in self.host_calls():
            name, args = call[0].decode(), [a.decode("cp932") for a in call[1:]]
            if name == MARK:
                self.assertTrue(args[0].startswith(prefix), args)
                out.append(("mark", args[0][len(prefix):].replace("\\", "/"), int(args[1], 16),
                            int(args[2])))
            elif name == DELETE:
                self.assertTrue(args[0].startswith(prefix), args)
                out.append(("delete", args[0][len(prefix):].replace("\\", "/")))
            elif name == IMPORT:
                source = args[0].replace("\\", "/")
                if os.path.dirname(source) == self.host_tmp:
                    source = "temp"
                else:
                    root = self.store.root + "/"
                    self.assertTrue(source.startswith(root), source)
                    source = source[len(root):-len(".orv")]
                self.assertTrue(args[1].startswith(prefix), args)
                out.append(("import", source, args[1][len(prefix):].replace("\\", "/"),
                            int(args[2], 16)))
            else:
                self.fail("a host call no flow makes: %r" % (call,))
        return out

    def assert_calls(self, expected):
        """The journal holds exactly the expected calls: each import and delete as often as
        listed; each mark at least once (and never one that is not listed), since a client
        may fetch a message twice and each fetch asks the host again."""
        got = self.calls()
        self.assertEqual(collections.Counter(c for c in got if c[0] != "mark"),
                         collections.Counter(c for c in expected if c[0] != "mark"),
                         self.describe_runs())
        self.assertEqual({c for c in got if c[0] == "mark"},
                         {c for c in expected if c[0] == "mark"}, self.describe_runs())

    def assert_store_through_calls(self):
        """The store now is the store before, changed only as the journal's calls say: marks
        change the status word of the named messages' index records and nothing else, deletes
        remove a message's file and record and lower Total, imports add one file and record
        each in their folder and raise Total. Returns {folder: [new message bytes]}."""
        after = read_tree(self.store.root)
        model = {}
        for folder in self.store_folders:
            lst = self.before.get(os.path.join(folder.path, "Entry.lst"), b"")
            model[folder.path] = collections.OrderedDict(
                (e[0].decode(), list(e[1:4])) for e in parse_index(lst))
        had = {folder: list(names) for folder, names in model.items()}
        imports = collections.Counter()
        # The status words the imports into each folder were given (the exact mode gives every
        # import the unread bit alone): a new message's file begins with one of them.
        import_statuses = collections.defaultdict(list)
        # Status words of imported messages, from their import's and then the marks.
        new_status = {}
        for call in self.calls():
            if call[0] == "import":
                imports[call[2]] += 1
                import_statuses[call[2]].append(call[3])
                continue
            folder, name = call[1].rsplit("/", 1)
            if call[0] == "mark":
                if name in model[folder]:
                    record = model[folder][name]
                else:
                    self.assertNotIn(name, had[folder], "a mark of a deleted message")
                    record = new_status.setdefault(
                        (folder, name), [file_status(after.get(folder + "/" + name + ".orv"))])
                record[0] = record[0] | call[2] if call[3] else record[0] & ~call[2]
            elif name in model[folder]:
                del model[folder][name]
            else:
                self.assertNotIn(name, had[folder], "a message deleted twice")
                imports[folder] -= 1
                new_status.pop((folder, name), None)
        new_messages = {}
        expected_files = dict(self.before)
        for folder in self.store_folders:
            lst = os.path.join(folder.path, "Entry.lst")
            ini = os.path.join(folder.path, "Entry.ini")
            index = [(e[0].decode(), list(e[1:4])) for e in parse_index(after.get(lst, b""))]
            self.assertEqual([e for e in index if e[0] in had[folder.path]],
                             list(model[folder.path].items()), folder.title)
            new = [(name, record) for name, record in index if name not in had[folder.path]]
            self.assertEqual(len(new), imports[folder.path], folder.title)
            for name in had[folder.path]:
                if name not in model[folder.path]:
                    expected_files.pop(os.path.join(folder.path, name + ".orv"))
            for name, record in new:
                path = os.path.join(folder.path, name + ".orv")
                self.assertIn(path, after)
                imported = file_status(after[path])
                self.assertIn(imported, import_statuses[folder.path], name)
                import_statuses[folder.path].remove(imported)
                if not self.extended:
                    self.assertEqual(imported, UNREAD, name)
                self.assertEqual(record[0], new_status.get((folder.path, name), [imported])[0],
                                 name)
                expected_files[path] = after[path]
                new_messages.setdefault(folder.path, []).append(
                    after[path].split(b"\r\n", 1)[1])
            expected_files.pop(lst, None)
            if lst in after:
                expected_files[lst] = after[lst]
            if not folder.bare:
                expected_files[ini] = re.sub(rb"(\r\nTotal=)\d+", rb"\g<1>%d" % len(index),
                                             self.before[ini])
        # The server's own files: in extended mode each folder opened gets its UID record,
        # under the UIDVALIDITY its Imap4.ini keeps, which gains only the mark of the record.
        for path in [p for p in after if os.path.basename(p) == "Imap4.uid"]:
            self.assertTrue(self.extended, path)
            ini = os.path.join(os.path.dirname(path), "Imap4.ini")
            self.assertEqual(after[ini], self.before[ini] + b"UIDRecord=1\r\n", ini)
            validity = re.search(rb"UID=(\d+)", self.before[ini]).group(1)
            self.assertTrue(after[path].startswith(b"Imap4.uid 2\nvalidity %s " % validity))
            expected_files[path], expected_files[ini] = after[path], after[ini]
        # In extended mode a folder whose messages got \\Flagged or keywords has their record,
        # under the same UIDVALIDITY.
        for path in [p for p in after if os.path.basename(p) == "Imap4.flg"]:
            self.assertTrue(self.extended, path)
            ini = os.path.join(os.path.dirname(path), "Imap4.ini")
            validity = re.search(rb"UID=(\d+)", self.before[ini]).group(1)
            self.assertTrue(after[path].startswith(b"Imap4.flg 1\nvalidity %s " % validity))
            expected_files[path] = after[path]
        # What the server learned of the message files it read, in its own file per folder.
        for path in [p for p in after if os.path.basename(p) == "Imap4.cache"]:
            self.assertTrue(after[path].startswith(b"Imap4.cache 1\n"), path)
            expected_files[path] = after[path]
        self.assertEqual(sorted(after), sorted(expected_files))
        for path in after:
            self.assertEqual(after[path], expected_files[path], path)
        return new_messages

    def assert_stored_once(self, folder, original):
        """The store changed only through the host calls (assert_store_through_calls), and
        the folder (its path) gained one message: the original in the host's form, its subject
        in Shift_JIS. Returns that message's bytes."""
        stored = self.assert_store_through_calls().get(folder, [])
        self.assertEqual(len(stored), 1)
        self.assertIn(b"Subject: " + fx.sjis(original.subject) + b"\r\n", stored[0])
        return stored[0]

    def assert_store_unchanged(self):
        """The host was asked for nothing, and the store is as it was."""
        self.assert_calls([])
        self.assert_store_through_calls()

    def flags_of(self, folder):
        """{name: status word} of the folder's index now."""
        return {e[0].decode(): e[1] for e in self.store.index(folder.path)}

    def assert_unread(self, folder, names):
        """Exactly the named messages of the folder are unread in the host's store."""
        self.assertEqual(sorted(n for n, s in self.flags_of(folder).items() if s & UNREAD),
                         sorted(names), folder.title)


def use_unprivileged_user(name="orvclient"):
    """An ordinary account to run a client as (some refuse to run as root); made with useradd
    when missing. Returns (uid, gid)."""
    import pwd
    try:
        entry = pwd.getpwnam(name)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/bin/sh", name],
                       check=True, timeout=60)
        entry = pwd.getpwnam(name)
    return entry.pw_uid, entry.pw_gid


def give_to(path, uid, gid, top):
    """Hands a directory tree to the account, so a client running as it can write there, and
    opens the way down to it from top (the test's own directory) for the account."""
    for directory, dirs, files in os.walk(path):
        os.chown(directory, uid, gid)
        for name in files:
            os.chown(os.path.join(directory, name), uid, gid)
    parent = os.path.dirname(path)
    while True:
        mode = os.stat(parent).st_mode
        if not mode & 0o001:
            os.chmod(parent, mode | 0o001)
        if os.path.samefile(parent, top):
            break
        parent = os.path.dirname(parent)


def read_maildir(path):
    """The messages of one Maildir folder: [(file name, flag letters, bytes)]."""
    out = []
    for sub in ("new", "cur"):
        directory = os.path.join(path, sub)
        for name in sorted(os.listdir(directory)) if os.path.isdir(directory) else []:
            flags = name.split(":2,", 1)[1] if ":2," in name else ""
            with open(os.path.join(directory, name), "rb") as f:
                out.append((name, flags, f.read()))
    return out


def read_maildirs(root):
    """The Maildir folders under root (directories holding cur/): {folder name decoded from
    its path relative to root: read_maildir of it}."""
    return {decode_mutf7(os.path.relpath(directory, root)): read_maildir(directory)
            for directory, dirs, _ in os.walk(root) if "cur" in dirs}
