"""Shared pieces of the end-to-end tests: the built programs, a temporary mailbox directory
with its settings and users, folder trees written the way the host writes them, the host
stand-in as a child process with its journal of host calls, and a raw-socket IMAP client that
checks exact bytes. Every wait is bounded."""

import base64
import os
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
    """A mailbox directory with an Imap4.ini that sets the port, and users made with orimapst."""

    def __init__(self, path, port):
        self.path = path
        self.port = port
        os.makedirs(path)
        with open(self.settings_path, "wb") as f:
            f.write(b"[Server]\r\nPortNo=%d\r\n" % port)

    @property
    def settings_path(self):
        return os.path.join(self.path, "Imap4.ini")

    @property
    def passwd_path(self):
        return os.path.join(self.path, "passwd")

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


def sjis(text):
    """Text in the host's Shift_JIS form."""
    return text.encode("cp932")


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
        """Makes a folder. messages: (file name, status, text) each; the text goes into the
        message file after its status line. total: the Total key (default: the count)."""
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
            for name, status, text in messages:
                data = message_file(status, text)
                self.write(folder, name + ".orv", data)
                index += name.encode() + b"=" + index_value(status, len(data), 1700000000)
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

    def total(self, folder):
        """The Total key of the folder's Entry.ini (None when missing)."""
        if not os.path.exists(self.path(folder, "Entry.ini")):
            return None
        for line in self.read(folder, "Entry.ini").splitlines():
            if line.startswith(b"Total="):
                return int(line[6:])
        return None


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
    """A test with its own temporary directory, mailbox and port; hosts and clients it starts
    are stopped when it ends."""

    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="orv-e2e-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.port = free_port()
        self.mailbox = Mailbox(os.path.join(self.tmp, "mail"), self.port)

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

    def connect(self):
        """A client connected to the test's port; the greeting is left unread."""
        client = Client(self.port)
        self.addCleanup(client.close)
        return client

    def greeted(self):
        """A client that has read the greeting."""
        client = self.connect()
        client.expect(GREETING)
        return client

    def logged_in(self, user=b"user1", password=b"secret"):
        """A client that has read the greeting and logged in."""
        client = self.greeted()
        client.send(b"L1 LOGIN " + user + b" " + password + b"\r\n")
        client.expect(b"L1 OK LOGIN complated\r\n")
        return client


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

    def start_store_host(self, *args, check_stop=False):
        """The host on the test's mailbox with the journal and temporary directory. With
        check_stop, it is stopped when the test ends (after its clients are closed) and must
        exit with 0, so a sanitizer report of the host fails the test."""
        host = self.start_host("--journal", self.journal, *args, env={"TMPDIR": self.host_tmp})
        if check_stop:
            self.addCleanup(lambda: self.assertEqual(host.stop(), 0, host.stderr()))
        return host

    def use_directory_names(self):
        """FolderName 0: mailbox names are directory names (read at each connection start)."""
        rc, out, err = self.mailbox.orimapst("set", "FolderName", "0")
        self.assertEqual(rc, 0, err)

    def use_extended_mode(self):
        """Extended=1 in [Server]: extended mode (read at each connection start)."""
        rc, out, err = self.mailbox.orimapst("set", "Extended", "1")
        self.assertEqual(rc, 0, err)

    def host_calls(self, name=None):
        """The journal's calls other than _OPAGetMailbox@0, those of one name when given."""
        calls = journal_calls(self.journal)
        return [c for c in calls if name is None or c[0] == name.encode()]

    def exchange(self, client, line, answer):
        """Sends a command line (CR LF added) and expects exactly the answer bytes."""
        client.send(line + b"\r\n")
        client.expect(answer)
