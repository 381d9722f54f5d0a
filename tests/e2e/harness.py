"""Shared pieces of the end-to-end tests: the built programs, a temporary mailbox directory
with its settings and users, the host stand-in as a child process, and a raw-socket IMAP
client that checks exact bytes. Every wait is bounded."""

import os
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


class Host:
    """orvex-host (or another host program) as a child process, its output kept in files."""

    def __init__(self, directory, args, program=None, cwd=None):
        self.args = [program or host_program()] + list(args)
        self.out_path = os.path.join(directory, "host-%d.out" % id(self))
        self.err_path = os.path.join(directory, "host-%d.err" % id(self))
        self.cwd = cwd or directory
        self.process = None

    def start(self):
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.process = subprocess.Popen(self.args, stdin=subprocess.DEVNULL, stdout=out,
                                            stderr=err, cwd=self.cwd)
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

    def new_host(self, *args, program=None, mailbox=None, cwd=None):
        """A host on the test's mailbox (not started)."""
        host = Host(self.tmp, ["--mailbox", mailbox or self.mailbox.path] + list(args),
                    program=program, cwd=cwd)
        self.addCleanup(host.kill)
        return host

    def start_host(self, *args):
        """A started host on the test's mailbox, listening."""
        host = self.new_host(*args).start()
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
