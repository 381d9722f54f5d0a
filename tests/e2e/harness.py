"""Shared pieces of the end-to-end tests: the built programs, a temporary mailbox directory
with its settings and users, folder trees written the way the host writes them, the host
stand-in as a child process with its journal of host calls, and a raw-socket IMAP client that
checks exact bytes. Every wait is bounded."""

import base64
import calendar
import hashlib
import os
import re
import struct
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

# Anything that should happen at once must happen within this many seconds.
TIMEOUT = 10.0
# Starting and stopping a sanitizer build of the host takes longer.
PROCESS_TIMEOUT = 60.0

GREETING = b"* OK Orvex IMAP4rev1 server ready\r\n"
STOP_BYE = b"* BYE IMAP4rev1 Server logging out\r\n"
# The continuation that asks for an APPEND's literal.
CONTINUE = b"+ OK please give datas\r\n"
# What a sanitizer writes to a host's standard error when it reports.
SANITIZER_REPORTS = ("Sanitizer", "runtime error:")


def build_dir():
    """The build directory under test: $ORV_BUILD_DIR, else build/ of the checkout."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    return os.path.abspath(os.environ.get("ORV_BUILD_DIR") or os.path.join(root, "build"))


def built(*parts):
    """The path of a built file; fails the test when it was not built."""
    path = os.path.join(build_dir(), *parts)
    if not os.path.exists(path):
        raise AssertionError("%s was not built (ORV_BUILD_DIR=%s)" % (path, build_dir()))
    return path


def host_program():
    return built("bin", "orvex-host")


def orimapst_program():
    return built("bin", "orimapst")


def free_port():
    """A TCP port that nothing listens on right now."""
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as s:
        s.bind(("0.0.0.0", 0))
        return s.getsockname()[1]


def run(args, stdin_bytes=b"", cwd=None):
    """Runs a program to its end; returns (exit code, stdout text, stderr text)."""
    done = subprocess.run(args, input=stdin_bytes, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, cwd=cwd, timeout=PROCESS_TIMEOUT)
    return (done.returncode, done.stdout.decode("utf-8", "replace"),
            done.stderr.decode("utf-8", "replace"))


class Mailbox:
    """A mailbox directory with an Imap4.ini that sets the port, and users made with orimapst.
    Failed LOGINs are answered at once and close nothing, unless a test sets the keys
    (LoginFailureDelay, MaxLoginFailures) itself."""

    def __init__(self, path, port):
        self.path = path
        self.port = port
        os.makedirs(path)
        with open(self.settings_path, "wb") as f:
            f.write(b"[Server]\r\nPortNo=%d\r\nLoginFailureDelay=0\r\nMaxLoginFailures=0\r\n"
                    % port)

    @property
    def settings_path(self):
        return os.path.join(self.path, "Imap4.ini")

    @property
    def passwd_path(self):
        return os.path.join(self.path, "passwd")

    def set_server_key(self, key, value):
        """key=value in the [Server] section of the settings file, written directly (for the
        keys orimapst does not set, and while a host runs)."""
        with open(self.settings_path, "rb") as f:
            data = f.read()
        data = re.sub(rb"(?m)^" + key.encode() + rb"=.*\r\n", b"", data)
        value = value if isinstance(value, bytes) else str(value).encode()
        line = b"%s=%s\r\n" % (key.encode(), value)
        data = data.replace(b"[Server]\r\n", b"[Server]\r\n" + line, 1)
        with open(self.settings_path, "wb") as f:
            f.write(data)

    def orimapst(self, *args, stdin_bytes=b""):
        """Runs orimapst on this mailbox; returns (exit code, stdout, stderr)."""
        return run([orimapst_program(), "--mailbox", self.path] + list(args), stdin_bytes)

    def add_user(self, name, password, mail_root=None):
        rc, out, err = self.orimapst("add-user", mail_root or name, name,
                                     stdin_bytes=password.encode() + b"\n")
        if rc != 0:
            raise AssertionError("orimapst add-user %s failed: %s%s" % (name, out, err))

    def read_passwd(self):
        with open(self.passwd_path, "rb") as f:
            return f.read()

    def write_passwd(self, data):
        with open(self.passwd_path, "wb") as f:
            f.write(data)


def stored_line(name, password, mail_root):
    """The account file line that orimapst writes for a user (made in a scratch directory)."""
    scratch = tempfile.mkdtemp(prefix="orv-e2e-line-")
    try:
        mailbox = Mailbox(os.path.join(scratch, "m"), 0)
        mailbox.add_user(name, password, mail_root)
        return mailbox.read_passwd().rstrip(b"\r\n")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


# The host's status bits.
UNREAD = 0x40000000
ANSWERED = 0x20000000
DRAFT = 0x01000000
DELETED = 0x00020000


def _ibm_codes():
    """{character: its IBM extension code} for the characters that Python's cp932 writes with
    a NEC-selected code (0xED40-0xEEFC) where the host writes the IBM one (0xFA40-0xFC4B)."""
    codes = {}
    for code in range(0xFA40, 0xFC4C):
        try:
            char = code.to_bytes(2, "big").decode("cp932")
        except UnicodeDecodeError:
            continue
        if 0xED40 <= int.from_bytes(char.encode("cp932"), "big") <= 0xEEFC:
            codes[char] = code.to_bytes(2, "big")
    return codes


_IBM_CODES = _ibm_codes()
_IBM_CHARACTER = re.compile("([%s])" % "".join(_IBM_CODES))


def sjis(text):
    """Text in the host's Shift_JIS form (code page 932 as the host writes it: 髙 is 0xFBFC,
    where Python's cp932 gives 0xEEE0)."""
    return b"".join(_IBM_CODES.get(piece) or piece.encode("cp932")
                    for piece in _IBM_CHARACTER.split(text))


def sjis_of_jis(j1, j2):
    """The Shift_JIS code of the JIS X 0208 code j1 j2, by the arithmetic of the two codes."""
    s1 = (j1 + 1) // 2 + (0x70 if j1 <= 0x5E else 0xB0)
    s2 = j2 + (0x1F if j2 <= 0x5F else 0x20) if j1 % 2 else j2 + 0x7E
    return bytes([s1, s2])


def mutf7(name):
    """A mailbox name in the modified UTF-7 of IMAP, for expected answers."""
    out, pending = "", ""

    def flush():
        return ("&" + base64.b64encode(pending.encode("utf-16-be")).decode()
                .rstrip("=").replace("/", ",") + "-") if pending else ""

    for c in name:
        if 0x20 <= ord(c) <= 0x7E:
            out += flush()
            pending = ""
            out += "&-" if c == "&" else c
        else:
            pending += c
    return (out + flush()).encode("ascii")


def decode_mutf7(name):
    """A mailbox name in the modified UTF-7 of IMAP (text), decoded."""
    out, i = "", 0
    while i < len(name):
        if name[i] != "&":
            out += name[i]
            i += 1
            continue
        end = name.index("-", i)
        chunk = name[i + 1:end].replace(",", "/")
        if chunk:
            out += base64.b64decode(chunk + "=" * (-len(chunk) % 4)).decode("utf-16-be")
        else:
            out += "&"
        i = end + 1
    return out


def utc(year, month, day, hour=0, minute=0, second=0):
    """Seconds since 1970 for a UTC time."""
    return calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))


# The flags an extended-mode SELECT names before the folder's keywords: it keeps \Flagged and
# keywords itself.
EXTENDED_FLAGS = b"\\Answered \\Deleted \\Draft \\Flagged \\Seen"


def select_answer(tag, exists, recent, validity, uidnext, word=b"SELECT", mode=b"READ-WRITE",
                  permanent=b"\\* \\Answered \\Deleted \\Draft \\Seen",
                  flags=b"\\Answered \\Deleted \\Draft \\Seen"):
    """The whole answer to a SELECT (or EXAMINE) of a folder with these counts."""
    return (b"* %d EXISTS\r\n* %d RECENT\r\n" % (exists, recent) +
            b"* OK [UIDVALIDITY %d] UIDs valid\r\n" % validity +
            b"* OK [UIDNEXT %d] Predicted next UID\r\n" % uidnext +
            b"* FLAGS (" + flags + b")\r\n"
            b"* OK [PERMANENTFLAGS (" + permanent + b")] Permanent flags\r\n" +
            tag + b" OK [" + mode + b"] " + word + b" complated\r\n")


def index_value(status, size=0, time=0):
    """The value of an Entry.lst line: base64 of status, size and time (little-endian)."""
    return base64.b64encode(struct.pack("<III", status, size, time))


def parse_index(data):
    """An Entry.lst as a list of (name, status, size, time, line end)."""
    lines = []
    for line in data.splitlines(keepends=True):
        body = line.rstrip(b"\r\n")
        name, _, value = body.partition(b"=")
        record = base64.b64decode(value) + bytes(12)
        status, size, time = struct.unpack("<III", record[:12])
        lines.append((name, status, size, time, line[len(body):]))
    return lines


def uid_of(name):
    """The UID of a message file name: its four letters as a number in base 26, times 10000,
    and the digits after them."""
    letters = 0
    for c in name[:4].upper():
        letters = letters * 26 + ord(c) - ord("A")
    return letters * 10000 + int(re.match(r"\d*", name[4:]).group(0) or "0")


def message_file(status, text):
    """A message file as the host writes it: its status line, then the message."""
    return b"X-Orvex-Status: %08X\r\n" % status + text


class StoreTree:
    """One user's folder tree in a mailbox directory, written as the host writes it: folder
    directories with Entry.ini (titles in Shift_JIS), Imap4.ini, Entry.lst and message files."""

    def __init__(self, mailbox_path, mail_root):
        self.root = os.path.join(mailbox_path, mail_root)
        os.makedirs(self.root, exist_ok=True)

    def path(self, folder, *names):
        return os.path.join(self.root, *folder.split("/"), *names)

    def folder(self, folder, title=None, type=None, subscribe=None, uid_validity=None,
               messages=(), total=None, entry_ini=True):
        """Makes a folder. messages: (file name, status, text[, written]) each; the text goes
        into the message file after its status line; written (UTC seconds) is the file's
        last-write time and the index's time. total: the Total key (default: the count)."""
        directory = self.path(folder)
        os.makedirs(directory, exist_ok=True)
        if entry_ini:
            ini = b"[Property]\r\n"
            if title is not None:
                ini += b"Title=" + sjis(title) + b"\r\n"
            if type is not None:
                ini += b"Type=" + type.encode() + b"\r\n"
            ini += b"Total=%d\r\n" % (len(messages) if total is None else total)
            if subscribe is not None:
                ini += b"[IMAP4]\r\nSubscribe=%d\r\n" % subscribe
            self.write(folder, "Entry.ini", ini)
        if uid_validity is not None:
            self.write(folder, "Imap4.ini", b"[IMAP4]\r\nUID=%d\r\n" % uid_validity)
        if messages:
            index = b""
            for name, status, text, *written in messages:
                data = message_file(status, text)
                self.write(folder, name + ".orv", data)
                if written:
                    os.utime(self.path(folder, name + ".orv"), (written[0], written[0]))
                index += name.encode() + b"=" + index_value(status, len(data),
                                                            (written or [1700000000])[0])
                index += b"\r\n"
            self.write(folder, "Entry.lst", index)
        return directory

    def write(self, folder, name, data):
        with open(self.path(folder, name), "wb") as f:
            f.write(data)

    def read(self, folder, name):
        with open(self.path(folder, name), "rb") as f:
            return f.read()

    def index(self, folder):
        """The folder's Entry.lst parsed (parse_index); empty when it has none."""
        if not os.path.exists(self.path(folder, "Entry.lst")):
            return []
        return parse_index(self.read(folder, "Entry.lst"))

    def names(self, folder):
        """The file names (text) of the folder's Entry.lst, in its order."""
        return [entry[0].decode() for entry in self.index(folder)]

    def total(self, folder):
        """The Total key of the folder's Entry.ini (None when missing)."""
        if not os.path.exists(self.path(folder, "Entry.ini")):
            return None
        for line in self.read(folder, "Entry.ini").splitlines():
            if line.startswith(b"Total="):
                return int(line[6:])
        return None


def read_tree(root):
    """Every file under root: its path relative to root -> its bytes."""
    files = {}
    for directory, _, names in os.walk(root):
        for name in names:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                files[os.path.relpath(path, root)] = f.read()
    return files


def hash_tree(root):
    """The SHA-256 of every file under root, by its path relative to root."""
    return {path: hashlib.sha256(data).hexdigest() for path, data in read_tree(root).items()}


def journal_calls(path):
    """The journal's lines without the mailbox-directory calls, each split at its tabs."""
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        lines = f.read().splitlines()
    return [l.split(b"\t") for l in lines if l != b"_OPAGetMailbox@0"]


def wait_until(condition, what, timeout=TIMEOUT):
    """Polls condition() until it is true; fails after timeout seconds."""
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            raise AssertionError("gave up waiting for " + what)
        time.sleep(0.02)


class Host:
    """orvex-host (or another host program) as a child process, its output kept in files."""

    def __init__(self, directory, args, program=None, cwd=None, env=None):
        self.args = [program or host_program()] + list(args)
        self.out_path = os.path.join(directory, "host-%d.out" % id(self))
        self.err_path = os.path.join(directory, "host-%d.err" % id(self))
        self.cwd = cwd or directory
        self.env = env
        self.process = None

    def start(self):
        env = None
        if self.env:
            env = dict(os.environ)
            env.update(self.env)
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(self.args, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err, cwd=self.cwd, env=env)
        return self

    def stdout(self):
        with open(self.out_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def stderr(self):
        with open(self.err_path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def wait_listening(self, port):
        """Waits for the line that says the server listens; fails when the host ends first."""
        line = "listening on port %d" % port
        deadline = time.monotonic() + PROCESS_TIMEOUT
        while time.monotonic() < deadline:
            if line in self.stdout():
                return
            if self.process.poll() is not None:
                raise AssertionError("the host ended with %d before listening:\n%s%s" %
                                     (self.process.returncode, self.stdout(), self.stderr()))
            time.sleep(0.02)
        raise AssertionError("the host did not say it listens on port %d" % port)

    def wait(self):
        """Waits for the host to end and returns its exit code."""
        return self.process.wait(timeout=PROCESS_TIMEOUT)

    def stop(self, sig=signal.SIGTERM):
        self.process.send_signal(sig)
        return self.wait()

    def kill(self):
        if self.process is not None and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=PROCESS_TIMEOUT)


def read_to_end(sock):
    """Every byte a socket receives until the other side closes it."""
    data = b""
    while True:
        chunk = sock.recv(65536)
        if not chunk:
            return data
        data += chunk


class Literal:
    """Bytes that Client.send_command sends as a literal."""

    def __init__(self, data):
        self.data = data


class Client:
    """A raw IMAP client: sends bytes as given and checks the bytes that come back."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=TIMEOUT)
        # Each send goes out as its own packet, so that splits reach the server as made.
        self.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.pending = b""

    def send(self, data):
        self.sock.sendall(data)

    def send_in_pieces(self, *pieces):
        """Sends each piece as a packet of its own, with a pause between them."""
        for piece in pieces:
            self.sock.sendall(piece)
            time.sleep(0.1)

    def read(self, n):
        """Exactly n bytes (fewer only when the connection ends first)."""
        while len(self.pending) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                break
            self.pending += chunk
        data, self.pending = self.pending[:n], self.pending[n:]
        return data

    def read_until(self, marker):
        """The bytes up to and including the first marker (fails on a time-out or close)."""
        while marker not in self.pending:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise AssertionError("closed before %r; received %r" % (marker, self.pending))
            self.pending += chunk
        end = self.pending.index(marker) + len(marker)
        data, self.pending = self.pending[:end], self.pending[end:]
        return data

    def expect(self, expected):
        """Reads as many bytes as expected holds and fails unless they are exactly those."""
        try:
            got = self.read(len(expected))
        except socket.timeout:
            got = self.pending + b" <time-out>"
        if got != expected:
            raise AssertionError("expected %r\n     got %r" % (expected, got))

    def read_answer(self, tag):
        """The bytes of the responses up to and including the tagged line of tag; a literal's
        bytes are taken by their count, whatever they hold."""
        answer = b""
        while True:
            line = self.read_until(b"\r\n")
            answer += line
            literal = re.search(rb"\{(\d+)\}\r\n\Z", line)
            if literal:
                answer += self.read(int(literal.group(1)))
            elif line.startswith(tag + b" "):
                return answer

    def answer(self, line):
        """Sends a command line (CR LF added); the bytes of its answer through its tagged
        line."""
        self.send(line + b"\r\n")
        return self.read_answer(line.split(b" ", 1)[0])

    def send_command(self, tag, *pieces):
        """Sends tag and the pieces as one command line: bytes as they are, a Literal as "{n}"
        and then, once the server has asked for it, its bytes."""
        pending = tag + b" "
        for piece in pieces:
            if isinstance(piece, Literal):
                self.send(pending + b"{%d}\r\n" % len(piece.data))
                line = self.read_until(b"\r\n")
                if not line.startswith(b"+ "):
                    raise AssertionError("expected a continuation, got %r" % line)
                pending = piece.data
            else:
                pending += piece
        self.send(pending + b"\r\n")

    def append(self, line, literal):
        """Sends an APPEND line that ends with the literal's "{n}", waits for the continuation
        and sends the literal with the line end; the answer is left unread."""
        self.send(line + b"\r\n")
        self.expect(CONTINUE)
        self.send(literal + b"\r\n")

    def expect_closed(self):
        """Fails unless the server closes the connection with no further byte."""
        try:
            rest = self.pending + self.sock.recv(65536)
            while True:
                chunk = self.sock.recv(65536)
                if not chunk:
                    break
                rest += chunk
        except ConnectionResetError:
            rest = self.pending
        except socket.timeout:
            raise AssertionError("the connection is still open (received %r)" % self.pending)
        if rest:
            raise AssertionError("expected the connection to close, got %r" % rest)

    def close(self):
        self.sock.close()


class HostTestCase(unittest.TestCase):
    """A test with its own temporary directory, mailbox and port, in extended mode when the
    class says so; hosts and clients it starts are stopped when it ends."""

    extended = False

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.port = free_port()
        self.mailbox = Mailbox(os.path.join(self.tmp, "mail"), self.port)
        if self.extended:
            self.use_extended_mode()

    def new_host(self, *args, program=None, mailbox=None, cwd=None, env=None):
        """A host on the test's mailbox (not started)."""
        host = Host(self.tmp, ["--mailbox", mailbox or self.mailbox.path] + list(args),
                    program=program, cwd=cwd, env=env)
        self.addCleanup(host.kill)
        return host

    def start_host(self, *args, env=None):
        """A started host on the test's mailbox, listening."""
        host = self.new_host(*args, env=env).start()
        host.wait_listening(self.port)
        return host

    def assert_stops_cleanly(self, host):
        """Stops the host unless it has ended: it must end with 0 and no sanitizer report."""
        code = host.stop() if host.process.poll() is None else host.process.returncode
        for report in SANITIZER_REPORTS:
            self.assertNotIn(report, host.stderr())
        self.assertEqual(code, 0, host.stderr())

    def orimapst_ok(self, *args):
        """Runs orimapst on the test's mailbox, which must succeed; returns its output."""
        rc, out, err = self.mailbox.orimapst(*args)
        self.assertEqual(rc, 0, err)
        return out

    def setting(self, key, value):
        """orimapst set key value on the test's mailbox."""
        self.orimapst_ok("set", key, value)

    def use_directory_names(self):
        """FolderName 0: mailbox names are directory names (read at each connection start)."""
        self.setting("FolderName", "0")

    def use_extended_mode(self):
        """Extended=1 in [Server]: extended mode (read at each connection start)."""
        self.setting("Extended", "1")

    def connect(self, client_class=None):
        """A client (a Client, or of client_class) connected to the test's port; the greeting
        is left unread."""
        client = (client_class or Client)(self.port)
        self.addCleanup(client.close)
        return client

    def greeted(self, client_class=None):
        """A client that has read the greeting."""
        client = self.connect(client_class)
        client.expect(GREETING)
        return client

    def logged_in(self, user=b"user1", password=b"secret"):
        """A client that has read the greeting and logged in."""
        client = self.greeted()
        client.send(b"L1 LOGIN " + user + b" " + password + b"\r\n")
        client.expect(b"L1 OK LOGIN complated\r\n")
        return client

    def exchange(self, client, line, answer):
        """Sends a command line (CR LF added) and expects exactly the answer bytes."""
        client.send(line + b"\r\n")
        client.expect(answer)

    def exchanges(self, client, pairs):
        """exchange for each (command line, answer) pair, in order, each a subtest."""
        for line, answer in pairs:
            with self.subTest(line=line):
                self.exchange(client, line, answer)


class StoreTestCase(HostTestCase):
    """A test with a user user1 (password secret, mail root user1), the folder tree self.store
    to fill, a private temporary directory for the host's temporary files (self.host_tmp) and
    a journal of its host calls (self.journal)."""

    def setUp(self):
        super().setUp()
        self.mailbox.add_user("user1", "secret")
        self.store = StoreTree(self.mailbox.path, "user1")
        self.host_tmp = os.path.join(self.tmp, "host-tmp")
        os.makedirs(self.host_tmp)
        self.journal = os.path.join(self.tmp, "journal.txt")

    def start_store_host(self, *args, check_stop=False, env=None):
        """The host on the test's mailbox with the journal and temporary directory (and the
        environment variables of env). With check_stop, it is stopped when the test ends (after
        its clients are closed) and must exit with 0, so a sanitizer report of the host fails
        the test."""
        host = self.start_host("--journal", self.journal, *args,
                               env=dict(env or {}, TMPDIR=self.host_tmp))
        if check_stop:
            self.addCleanup(self.assert_stops_cleanly, host)
        return host


    def run_probe(self, *lines):
        """Runs the host with the store probe plug-in (tests/store_probe.so), which makes the
        host calls of the script lines (fields: text, or bytes such as a Shift_JIS name), and
        stops it, which must go cleanly."""
        with open(os.path.join(self.mailbox.path, "store-probe.txt"), "wb") as f:
            for line in lines:
                f.write(b"\t".join(os.fsencode(field) for field in line) + b"\n")
        host = self.new_host("--plugin", built("tests", "store_probe.so"),
                             "--journal", self.journal).start()
        host.wait_listening(self.port)
        self.assertEqual(host.stop(), 0, host.stderr())

    def host_calls(self, name=None):
        """The journal's calls other than _OPAGetMailbox@0, those of one name when given."""
        calls = journal_calls(self.journal)
        return [c for c in calls if name is None or c[0] == name.encode()]
