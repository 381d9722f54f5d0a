"""Faults the server must survive inside the host's process: clients that go away in the middle
of an APPEND literal, a large FETCH or IDLE; a thousand clients at once and then a stop; more
clients at once than the host has descriptors; the host rewriting its files while clients read
them; unreadable, truncated and binary files in the store; a temporary directory that is full
or missing during APPEND; and proof that a session changes the store only through the host's
functions (every file compared before and after).

After every fault the host's threads and descriptors must be back to what the idle host had,
and the host must stop with exit code 0 (so a sanitizer report fails the test). The slowest
tests here are the stop under a client that does not read (it waits out the stop's grace period
of five seconds) and the thousand clients (a few seconds under AddressSanitizer)."""

import os
import random
import re
import resource
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

import imap_reader
from fetch_fixtures import ImapClient
from harness import (ANSWERED, CONTINUE, DELETED, DRAFT, GREETING, STOP_BYE, TIMEOUT, UNREAD,
                     Host, StoreTestCase, host_program, index_value, message_file, parse_index,
                     read_tree, sjis, wait_until)

# When set, the tests print what they measured (counts and durations) to standard error.
FIGURES = bool(os.environ.get("ORV_FAULT_FIGURES"))


def figure(text, *args):
    if FIGURES:
        print("[figure] " + text % args, file=sys.stderr, flush=True)


def process_counts(pid):
    """(threads, open descriptors) of a running process."""
    return (len(os.listdir("/proc/%d/task" % pid)), len(os.listdir("/proc/%d/fd" % pid)))


def kept_indexes(pid):
    """How many descriptors the host keeps open however idle: the folder indexes its store
    keeps open between its marks (an "Entry.lst" open for reading and writing; the plug-in
    only ever reads one) with their folders' directories, and the instances of file change
    notices (one of the plug-in's, opened when it first reads a folder, and one of the
    store's, at its first mark) kept for the process's life."""
    kept = 0
    notices = 0
    folders = set()
    directories = []
    for fd in os.listdir("/proc/%d/fd" % pid):
        try:
            target = os.readlink("/proc/%d/fd/%s" % (pid, fd))
            with open("/proc/%d/fdinfo/%s" % (pid, fd)) as f:
                flags = int(re.search(r"flags:\s*([0-7]+)", f.read()).group(1), 8)
        except OSError:
            continue  # closed in the meantime
        if target.endswith("/Entry.lst") and flags & os.O_ACCMODE == os.O_RDWR:
            kept += 1
            folders.add(os.path.dirname(target))
        elif target == "anon_inode:inotify":
            notices += 1
        elif flags & os.O_DIRECTORY:
            directories.append(target)
    return kept + min(notices, 2) + sum(1 for d in directories if d in folders)


def text_message(subject, body_lines, line=b"The quick brown fox jumps over the lazy dog."):
    """A plain message in the host's form (without the status line): a Japanese subject and
    body_lines lines of ASCII text."""
    header = (b"Date: Mon, 1 Jan 2024 09:00:00 +0900\r\nFrom: sender@example.jp\r\n"
              b"To: user1@example.jp\r\nSubject: " + sjis(subject) + b"\r\n")
    return header + b"\r\n" + (line + b"\r\n") * body_lines


def multipart_message(subject):
    return (b"From: sender@example.jp\r\nSubject: " + sjis(subject) + b"\r\n"
            b"MIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
            b"--b1\r\nContent-Type: text/plain\r\n\r\n" + sjis("本文です。") + b"\r\n"
            b"--b1\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Transfer-Encoding: base64\r\n\r\nSGVsbG8=\r\n--b1--\r\n")


# Ways in which an answer about damaged files departs from the grammar while still being cut
# into whole responses: the server passes the bytes of the host's files on as they are.
UID_ZERO = "UID 0 (an index line cut short, such as \"AAAA\", computes to UID 0)"
NUL_BYTE = "NUL byte (a message file holding NUL bytes is sent as it is)"
EIGHT_BIT = "8-bit byte in a quoted string (a parameter value of Shift_JIS bytes)"
EMPTY_ADDRESSES = "() for an address header without addresses (such as a file cut after \"To:\")"
# The exact mode's own departure: it writes a folder's name in LIST and LSUB as it is.
UNQUOTED_NAME = "a LIST name as it is (the exact mode quotes none: an empty title, a blank)"
UNQUOTED_LIST = re.compile(rb"(\* (?:LIST|LSUB) \([^)]*\) \"/\" )(.*)\r\n\Z",
                           re.IGNORECASE | re.DOTALL)


def envelope_without_empty_lists(data):
    """The response with every "()" inside its ENVELOPE item written NIL."""
    start = data.find(b"ENVELOPE (")
    if start < 0:
        return data
    pos, depth = start + len(b"ENVELOPE "), 0
    while pos < len(data):
        c = data[pos:pos + 1]
        if c == b'"':
            pos = data.index(b'"', pos + 1)
        elif c == b"(":
            depth += 1
        elif c == b")":
            depth -= 1
            if depth == 0:
                break
        pos += 1
    inside = data[start:pos].replace(b"()", b"NIL")
    return data[:start] + inside + data[pos:]


def repaired(data, kinds, exact=False):
    """The response with one kind of departure more mended, or None when none is left to
    mend; the kind mended is added to kinds. exact: the exact mode's own departures too."""
    if UID_ZERO not in kinds:
        mended = re.sub(rb"^(\* \d+ FETCH \((?:.* )?UID )0([ )])", rb"\g<1>1\2", data)
        if mended.startswith(b"* SEARCH "):
            mended = re.sub(rb" 0(?= |\r)", b" 1", mended)
        if mended != data:
            kinds.append(UID_ZERO)
            return mended
    if NUL_BYTE not in kinds and b"\0" in data:
        kinds.append(NUL_BYTE)
        return data.replace(b"\0", b"\1")
    if EMPTY_ADDRESSES not in kinds and envelope_without_empty_lists(data) != data:
        kinds.append(EMPTY_ADDRESSES)
        return envelope_without_empty_lists(data)
    if exact and UNQUOTED_NAME not in kinds and UNQUOTED_LIST.match(data):
        kinds.append(UNQUOTED_NAME)
        m = UNQUOTED_LIST.match(data)
        name = m.group(2).replace(b"\\", b"\\\\").replace(b'"', b'\\"')
        return m.group(1) + b'"' + name + b'"\r\n'
    if EIGHT_BIT not in kinds:
        kinds.append(EIGHT_BIT)
        return data
    return None


def command(client, line, departures=None, exact=False):
    """Sends a command line and reads every response up to its tagged one; returns the
    tagged response. Every response must be whole and parse; with departures (a dictionary)
    given, the departures above are allowed (with exact, the exact mode's too) and counted
    there by kind."""
    client.send(line + b"\r\n")
    return answer(client, line.split(b" ", 1)[0], departures, exact)


def answer(client, tag, departures=None, exact=False):
    """Reads the responses up to the tagged one of tag, as command does."""
    while True:
        data = imap_reader.read_response(client.read_line, client.read_exact)
        kinds, attempt = [], data
        while True:
            try:
                parsed = imap_reader.parse_response(attempt, allow_8bit=EIGHT_BIT in kinds)
                break
            except imap_reader.ParseError as e:
                attempt = repaired(attempt, kinds, exact) if departures is not None else None
                if attempt is None:
                    raise AssertionError("a response that is not IMAP: %s" % e)
        for kind in kinds:
            departures[kind] = departures.get(kind, 0) + 1
        if isinstance(parsed, imap_reader.Tagged) and parsed.tag == tag:
            return parsed


# Every item FETCH knows, in the forms that do not mark a message as read where there is one.
FETCH_ITEMS = (b"(UID FLAGS RFC822.SIZE INTERNALDATE ENVELOPE BODYSTRUCTURE BODY "
               b"BODY.PEEK[HEADER] BODY.PEEK[TEXT] BODY.PEEK[1] "
               b"BODY.PEEK[HEADER.FIELDS (SUBJECT FROM)] BODY.PEEK[HEADER.FIELDS.NOT (DATE)] "
               b"BODY.PEEK[]<3.40> RFC822.HEADER)")


class FaultTestCase(StoreTestCase):
    """A store test whose host is started on demand (in extended mode when the class says
    so), with the host's threads and descriptors of its idle state kept as the baseline."""

    extended = False

    @property
    def mode(self):
        return "extended" if self.extended else "exact"

    def serve(self, **settings):
        for key, value in settings.items():
            self.mailbox.set_server_key(key, value)
        self.host = self.start_store_host(check_stop=True)
        self.baseline = process_counts(self.host.process.pid)
        return self.host

    def counts(self):
        return process_counts(self.host.process.pid)

    def counts_beside_kept(self):
        """counts(), without the descriptors the host keeps however idle (kept_indexes)."""
        threads, descriptors = self.counts()
        return (threads, descriptors - kept_indexes(self.host.process.pid))

    def assert_back_to_baseline(self):
        """Waits until the host has as many threads and descriptors as when it was idle, the
        indexes its store keeps open aside."""
        last = []

        def settled():
            last[:] = [self.counts_beside_kept()]
            return last[0] == self.baseline
        try:
            wait_until(settled, "the host's threads and descriptors to return")
        except AssertionError:
            self.fail("threads and descriptors %r, idle %r" % (last[0], self.baseline))

    def client(self, login=True, client_class=ImapClient):
        """A client that reads whole responses (each parsed), greeted and logged in."""
        client = self.greeted(client_class)
        if login:
            self.ok(client, b"L1 LOGIN user1 secret")
        return client

    def ok(self, client, line):
        """Sends a command, expects its tagged OK and returns the exchange."""
        exchange = client.command(line)
        self.assertEqual(exchange.tagged.status, b"OK", exchange.raw[-300:])
        return exchange

    def imports(self):
        return self.host_calls("_OPAImportFile@12")


def in_both_modes(cases):
    """Makes ExactNameTest and ExtendedNameTest of the cases class NameCases."""
    for prefix, extended in (("Exact", False), ("Extended", True)):
        name = prefix + cases.__name__[:-len("Cases")] + "Test"
        globals()[name] = type(name, (cases, FaultTestCase), {"extended": extended})
    return cases


# A client that goes away in the middle of a command.

class SlowClient(ImapClient):
    """A client whose receive buffer is made small before it connects, so that the server
    soon blocks sending to it once it stops reading."""

    def __init__(self, port):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        self.sock.settimeout(TIMEOUT)
        self.sock.connect(("127.0.0.1", port))
        self.pending = b""


class DisconnectCases:
    """Clients that go away inside a command; run in both modes by the classes below."""

    def setUp(self):
        super().setUp()
        big = text_message("大きな手紙", 160000)  # about 7 MiB
        self.big_body = big[big.index(b"\r\n\r\n") + 4:]
        self.store.folder("inbox.box", title="Inbox", uid_validity=5,
                          messages=[("AAAA0001", 0, big), ("AAAA0002", UNREAD,
                                                          text_message("小", 3))])
        self.serve()

    def slow_fetch(self, line):
        """A SlowClient that has selected the inbox and sent the FETCH line."""
        slow = self.client(client_class=SlowClient)
        self.ok(slow, b"S1 SELECT INBOX")
        slow.send(line + b"\r\n")
        return slow

    def test_disconnect_inside_an_append_literal(self):
        message = text_message("追加", 2000)
        cuts = {"before any byte": 0, "in the middle": len(message) // 2,
                "after the literal, before its line end": len(message)}
        for what, cut in cuts.items():
            with self.subTest(what):
                client = self.client()
                client.send(b"A1 APPEND INBOX () {%d}\r\n" % len(message))
                self.assertEqual(client.read_line(), CONTINUE)
                client.send(message[:cut])
                time.sleep(0.1)
                client.close()
                self.assert_back_to_baseline()
                self.assertEqual(os.listdir(self.host_tmp), [], "the temporary file is left")
        self.assertEqual(self.imports(), [])
        self.assertEqual(len(self.store.index("inbox.box")), 2)
        # The server goes on serving.
        exchange = self.ok(self.client(), b"S1 SELECT INBOX")
        self.assertIn(b"* 2 EXISTS\r\n", exchange.raw)

    def test_disconnect_during_a_large_fetch(self):
        for how in ("after reading a little", "without reading"):
            with self.subTest(how):
                slow = self.slow_fetch(b"F1 FETCH 1 (UID BODY.PEEK[])")
                if how == "after reading a little":
                    self.assertTrue(slow.read_line().startswith(b"* 1 FETCH (UID 1 BODY[] {"))
                    slow.read(100000)
                # The server is now stuck sending; another client is served meanwhile.
                time.sleep(0.3)
                other = self.client()
                self.ok(other, b"N1 NOOP")
                other.close()
                # Unread bytes make the close a reset.
                slow.close()
                self.assert_back_to_baseline()
        # The whole message still goes to a client that reads it.
        client = self.client()
        self.ok(client, b"S1 SELECT INBOX")
        fetch = self.ok(client, b"F1 FETCH 1 (RFC822.SIZE BODY.PEEK[])").fetches[0]
        self.assertEqual(len(fetch.get(b"BODY[]")), fetch.get(b"RFC822.SIZE"))
        self.assertTrue(fetch.get(b"BODY[]").endswith(self.big_body))

    def test_disconnect_during_idle(self):
        for how in ("idling", "half a DONE sent"):
            with self.subTest(how):
                client = self.client()
                self.ok(client, b"S1 SELECT INBOX")
                client.send(b"I1 IDLE\r\n")
                self.assertEqual(client.read_line(), b"+ idling\r\n")
                if how == "half a DONE sent":
                    client.send(b"DO")
                time.sleep(0.1)
                client.close()
                self.assert_back_to_baseline()
        self.ok(self.client(), b"N1 NOOP")


class ExactDisconnectTest(DisconnectCases, FaultTestCase):

    def test_stop_while_a_client_does_not_read_a_large_fetch(self):
        """Takes the stop's grace period of five seconds."""
        self.slow_fetch(b"F1 FETCH 1 BODY.PEEK[]")
        time.sleep(0.3)
        idle = self.client()
        started = time.monotonic()
        self.assertEqual(self.host.stop(), 0, self.host.stderr())
        took = time.monotonic() - started
        figure("stop with a client that does not read a 7 MiB FETCH: %.2f s", took)
        # The stop waits its grace period for the answer to drain, then closes the socket.
        self.assertLess(took, 5.0 + 3.0)
        idle.expect(STOP_BYE)
        idle.expect_closed()


class ExtendedDisconnectTest(DisconnectCases, FaultTestCase):
    extended = True

    def test_disconnect_inside_a_command_literal(self):
        client = self.client()
        client.send(b"S1 SELECT {5}\r\n")
        self.assertEqual(client.read_line(), b"+ Ready for literal data\r\n")
        client.send(b"IN")
        time.sleep(0.1)
        client.close()
        self.assert_back_to_baseline()
        self.ok(self.client(), b"N1 NOOP")


class ThousandClientsTest(FaultTestCase):
    """A thousand clients held at once, in both modes and in every state, twice: once all go
    away on their own, once the host stops under them. Slow: a few seconds."""

    CLIENTS = 1000

    def setUp(self):
        super().setUp()
        # Both this process and the host (which inherits the limit) hold a descriptor per
        # client.
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        wanted = self.CLIENTS + 200
        if hard != resource.RLIM_INFINITY and hard < wanted:
            self.skipTest("the descriptor limit %d is below %d" % (hard, wanted))
        if soft != resource.RLIM_INFINITY and soft < wanted:
            resource.setrlimit(resource.RLIMIT_NOFILE, (wanted, hard))
            self.addCleanup(resource.setrlimit, resource.RLIMIT_NOFILE, (soft, hard))
        self.store.folder("inbox.box", title="Inbox", uid_validity=5,
                          messages=[("AAAA0001", UNREAD, text_message("件名", 3))])
        self.serve(MaxConnections=self.CLIENTS + 100)

    def connect_all(self):
        """CLIENTS clients, greeted one after another (the listen queue is short); of each
        hundred, ten log in, five of those select the inbox and two of those idle. The first
        half is served in exact mode, the second in extended mode. Returns (client, what it
        did) pairs."""
        clients = []
        for i in range(self.CLIENTS):
            if i == self.CLIENTS // 2:
                self.mailbox.set_server_key("Extended", 0 if self.extended else 1)
            client = self.client(login=i % 10 == 0)
            state = "logged in" if i % 10 == 0 else "greeted"
            if i % 20 == 0:
                self.ok(client, b"S1 SELECT INBOX")
                state = "selected"
            if i % 50 == 0:
                client.send(b"I1 IDLE\r\n")
                self.assertEqual(client.read_line(), b"+ idling\r\n")
                state = "idling"
            clients.append((client, state))
        self.mailbox.set_server_key("Extended", 1 if self.extended else 0)
        # A connection is greeted before its thread starts: the last threads may come later.
        wanted = (self.baseline[0] + self.CLIENTS, self.baseline[1] + self.CLIENTS)
        last = []

        def all_served():
            last[:] = [self.counts_beside_kept()]
            return last[0] == wanted
        try:
            wait_until(all_served, "a thread and a descriptor per client")
        except AssertionError:
            self.fail("threads and descriptors %r, expected %r" % (last[0], wanted))
        return clients

    def test_a_thousand_clients_leave_and_then_a_stop_says_goodbye_to_a_thousand(self):
        started = time.monotonic()
        clients = self.connect_all()
        figure("%d clients connected in %.2f s (threads %d, descriptors %d)", self.CLIENTS,
               time.monotonic() - started, *self.counts())
        # A third of them just go away, the others log out.
        for i, (client, state) in enumerate(clients):
            if i % 3 == 0:
                client.close()
            elif state == "idling":
                client.send(b"DONE\r\nO1 LOGOUT\r\n")
            else:
                client.send(b"O1 LOGOUT\r\n")
        for i, (client, state) in enumerate(clients):
            if i % 3 != 0:
                client.read_until(b"O1 OK LOGOUT complated\r\n")
                client.expect_closed()
        self.assert_back_to_baseline()

        clients = self.connect_all()
        started = time.monotonic()
        self.host.process.send_signal(signal.SIGTERM)
        for client, state in clients:
            client.expect(STOP_BYE)
            client.expect_closed()
        code = self.host.wait()
        took = time.monotonic() - started
        figure("stop with %d clients: every one got the goodbye, exit %d after %.2f s",
               self.CLIENTS, code, took)
        self.assertEqual(code, 0, self.host.stderr())
        self.assertLess(took, 5.0)


# The host running out of descriptors.

# Runs a program (argv[2:]) with a soft limit of argv[1] open descriptors; the program keeps
# the process number.
WITH_DESCRIPTOR_LIMIT = (
    "import os, resource, sys\n"
    "soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)\n"
    "resource.setrlimit(resource.RLIMIT_NOFILE, (int(sys.argv[1]), hard))\n"
    "os.execv(sys.argv[2], sys.argv[2:])\n")


def listen_queue(port):
    """The number of connections waiting in the accept queue of the IPv4 socket listening on
    port, as the kernel shows it (the receive queue of a listening socket)."""
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            if fields[3] == "0A" and int(fields[1].split(":")[1], 16) == port:
                return int(fields[4].split(":")[1], 16)
    raise AssertionError("nothing listens on port %d" % port)


def cpu_seconds(pid):
    """The user and system CPU time a running process has used."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class DescriptorShortageCases:
    """A host with few descriptors (LIMIT) and a burst of more clients than that: accepts fail
    for want of a descriptor while the burst lasts. The connections the host already had must
    go on, and once the burst has gone a new client must be greeted and served."""

    LIMIT = 64
    BURST = 80

    def setUp(self):
        super().setUp()
        self.store.folder("inbox.box", title="Inbox", uid_validity=5,
                          messages=[("AAAA0001", UNREAD, text_message("件名", 3))])
        self.host = Host(self.tmp, ["-c", WITH_DESCRIPTOR_LIMIT, str(self.LIMIT), host_program(),
                                    "--mailbox", self.mailbox.path, "--journal", self.journal],
                         program=sys.executable, env={"TMPDIR": self.host_tmp})
        self.addCleanup(self.host.kill)
        self.host.start()
        self.host.wait_listening(self.port)
        self.addCleanup(self.assert_stops_cleanly, self.host)
        self.baseline = self.counts()
        self.assertLess(self.baseline[1] + 10, self.LIMIT, "the idle host has %d descriptors"
                        % self.baseline[1])

    def burst(self):
        """BURST connections: one after another, each greeted, while the host has descriptors
        to spare; the rest begun at once without waiting (they wait in, or outside, its listen
        queue)."""
        sockets = []
        for _ in range(self.BURST):
            if self.counts()[1] < self.LIMIT:
                client = self.connect()
                client.expect(GREETING)
                sockets.append(client.sock)
                continue
            s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
            self.addCleanup(s.close)
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", self.port))
            sockets.append(s)
        return sockets

    def test_accepting_goes_on_after_the_descriptors_ran_out(self):
        keeper = self.client()
        self.ok(keeper, b"S1 SELECT INBOX")
        burst = self.burst()
        wait_until(lambda: self.counts()[1] == self.LIMIT, "the host to use every descriptor")
        wait_until(lambda: listen_queue(self.port) > 0, "connections to wait in the queue")
        # Every further accept fails now; the accept thread must wait between attempts.
        time.sleep(0.2)
        pid = self.host.process.pid
        before = cpu_seconds(pid)
        time.sleep(1.0)
        spent = cpu_seconds(pid) - before
        figure("%s mode: %.2f s of CPU in 1 s while out of descriptors", self.mode, spent)
        self.assertLess(spent, 0.5, "the host keeps a core busy while out of descriptors")

        # The host takes the connections still queued and ends them with the others: its
        # queue empties, and its threads and descriptors come back to those of the idle host
        # and the keeper's.
        started = time.monotonic()
        for s in burst:
            s.close()
        idle_and_keeper = (self.baseline[0] + 1, self.baseline[1] + 1)
        wait_until(lambda: listen_queue(self.port) == 0 and
                   self.counts_beside_kept() == idle_and_keeper,
                   "the host to accept the queued connections and end them all")
        freed = time.monotonic() - started
        client = self.client()
        figure("%s mode: %d clients with %d descriptors: after they went away the host was "
               "back to idle in %.3f s and greeted a new client, logged in, %.3f s later",
               self.mode, self.BURST, self.LIMIT, freed, time.monotonic() - started - freed)
        self.ok(client, b"S1 SELECT INBOX")
        # The session from before the burst was left alone.
        self.ok(keeper, b"N1 NOOP")
        fetch = self.ok(keeper, b"F1 FETCH 1 (UID RFC822.SIZE)").fetches[0]
        self.assertEqual(fetch.get(b"UID"), 1)
        client.close()
        keeper.close()
        self.assert_back_to_baseline()


class DescriptorShortageTest(DescriptorShortageCases, FaultTestCase):
    """Accepting does not depend on the mode: the exact mode's host stands for both."""


# The host changing its files under the readers.

class StoreRewriter(threading.Thread):
    """Plays the host rewriting a folder for as long as it runs: its "Entry.lst" and message
    files replaced atomically (a new file renamed over the old), rewritten in place (truncated,
    then written in pieces), cut short, deleted and made again, from a fixed random seed."""

    def __init__(self, directory, versions, seed):
        super().__init__(daemon=True)
        self.directory = directory
        self.versions = versions  # file name -> list of message texts
        self.random = random.Random(seed)
        self.stopping = threading.Event()
        self.rewrites = 0

    def path(self, name):
        return os.path.join(self.directory, name)

    def index(self):
        names = list(self.versions)
        self.random.shuffle(names)
        names = sorted(names[:self.random.randint(0, len(names))])
        lines = b""
        for name in names:
            status = self.random.choice((0, UNREAD, ANSWERED | UNREAD, DELETED, DRAFT))
            size = self.random.randint(0, 100000)
            lines += name.encode() + b"=" + index_value(status, size, 1700000000) + b"\r\n"
        return lines

    def message(self):
        name = self.random.choice(list(self.versions))
        text = self.random.choice(self.versions[name])
        return name + ".orv", message_file(self.random.choice((0, UNREAD)), text)

    def atomically(self, name, data):
        temp = self.path(name + ".new")
        with open(temp, "wb") as f:
            f.write(data)
        os.replace(temp, self.path(name))

    def in_place(self, name, data):
        with open(self.path(name), "wb") as f:
            for start in range(0, len(data), max(1, len(data) // 3)):
                f.write(data[start:start + max(1, len(data) // 3)])
                f.flush()
                time.sleep(0.001)

    def cut(self, name):
        path = self.path(name)
        if os.path.exists(path):
            with open(path, "r+b") as f:
                f.truncate(self.random.randint(0, os.path.getsize(path)))

    def run(self):
        while not self.stopping.is_set():
            action = self.random.randrange(7)
            if action == 0:
                self.atomically("Entry.lst", self.index())
            elif action == 1:
                self.in_place("Entry.lst", self.index())
            elif action == 2:
                self.cut("Entry.lst")
            elif action == 3:
                self.atomically(*self.message())
            elif action == 4:
                self.in_place(*self.message())
            elif action == 5:
                self.cut(self.message()[0])
            else:
                name, data = self.message()
                if os.path.exists(self.path(name)):
                    os.remove(self.path(name))
                time.sleep(0.001)
                self.atomically(name, data)
            self.rewrites += 1
            time.sleep(0.002)


@in_both_modes
class RewriteCases:
    """Clients read a folder in a loop while the host rewrites it; run in both modes."""

    READERS = 3
    SECONDS = 4.0

    def test_host_rewrites_index_and_message_files_while_clients_read(self):
        versions = {
            "AAAA0001": [text_message("会議", 2), text_message("会議のお知らせ", 400)],
            "AAAA0002": [multipart_message("添付"), text_message("短い", 0)],
            "AAAA0003": [text_message("長い手紙", 3000), b"Subject: x\r\n\r\n"],
            "AAAA0004": [text_message("四", 10), multipart_message("四の添付")],
        }
        inbox = self.store.folder("inbox.box", title="Inbox", uid_validity=9, messages=[
            (name, UNREAD, texts[0]) for name, texts in versions.items()])
        self.serve()
        rewriter = StoreRewriter(inbox, versions, seed=11)
        failures = []
        done = [0] * self.READERS
        departures = {}
        commands = [b"S1 SELECT INBOX", b"F1 FETCH 1:* " + FETCH_ITEMS,
                    b"F2 FETCH 1:* (FLAGS BODY.PEEK[])", b"F3 UID FETCH 1:* (UID FLAGS)",
                    b"T1 STATUS INBOX (MESSAGES RECENT UIDNEXT UIDVALIDITY UNSEEN)",
                    b"R1 SEARCH ALL", b"N1 NOOP"]
        if self.extended:
            commands += [b"E1 EXAMINE INBOX", b"F4 FETCH 1:* (FLAGS BODY[])",
                         b"R2 SEARCH TEXT fox", b"C1 CHECK"]

        def read(number):
            try:
                client = self.client(login=False)
                self.assertEqual(command(client, b"L1 LOGIN user1 secret").status, b"OK")
                while not rewriter.stopping.is_set():
                    for line in commands:
                        tagged = command(client, line, departures)
                        if tagged.status == b"BAD":
                            raise AssertionError("%r answered %r" % (line, tagged.text))
                        done[number] += 1
            except Exception as e:  # handed to the test's thread
                failures.append(e)

        readers = [threading.Thread(target=read, args=(i,), daemon=True)
                   for i in range(self.READERS)]
        rewriter.start()
        for reader in readers:
            reader.start()
        time.sleep(self.SECONDS)
        rewriter.stopping.set()
        rewriter.join(TIMEOUT)
        for reader in readers:
            reader.join(TIMEOUT * 3)
            self.assertFalse(reader.is_alive(), "a reader hangs")
        figure("%s mode: %d commands by %d readers during %d rewrites, none failed; "
               "departures: %r", self.mode, sum(done),
               self.READERS, rewriter.rewrites, departures)
        if failures:
            raise failures[0]
        self.assertGreater(min(done), len(commands))
        self.assertGreater(rewriter.rewrites, 100)
        self.assertEqual(self.host.process.poll(), None, "the host ended")


# Files in the store that cannot be read, or hold what the host never writes.

def nested_message(depth):
    """A message of depth multipart levels, each holding the next."""
    header = b"Subject: deep\r\nMIME-Version: 1.0\r\n"
    body = b"innermost\r\n"
    for level in range(depth, 0, -1):
        body = (b"Content-Type: multipart/mixed; boundary=\"b%d\"\r\n\r\n--b%d\r\n" %
                (level, level) + body + b"\r\n--b%d--\r\n" % level)
    return header + body


@in_both_modes
class BrokenFileCases:
    """A store with unreadable, truncated and binary files, read with every command; run in
    both modes. The answers must parse and the host must stay up."""

    def write_broken_store(self):
        rng = random.Random(5)
        noise = bytes(rng.randrange(256) for _ in range(8192))
        status = b"X-Orvex-Status: 40000000\r\n"
        broken = [
            ("AAAA0001", status + text_message("正常", 3)),               # a sound one
            ("AAAA0002", b""),                                          # empty
            ("AAAA0003", b"X-Orvex-Sta"),                               # cut in the status line
            ("AAAA0004", status + b"Subject: cut in the hea"),          # cut in the header
            ("AAAA0005", status + b"Subject: \x82\xa0\x82"),            # lone lead byte at the end
            ("AAAA0006", status + b"Subject: x\r\n\r\nbody \x81"),      # the same in the body
            ("AAAA0007", noise),                                        # random bytes
            ("AAAA0008", status + noise),
            ("AAAA0009", status + b"Subject: a\x00b\r\nFrom: \x00<a@b>\r\n\r\n\x00\x00body\x00"),
            ("AAAA0011", status + b"Subject: long\r\n\r\n" + b"x" * 300000),  # one long line
            ("AAAA0012", status + b"\r" * 5000),                        # CR without LF
            ("AAAA0013", status + b"Content-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
             b"Content-Type: text/plain; charset=\x82\r\nContent-Transfer-Encoding: base64"
             b"\r\n\r\n@@@="),                                          # cut inside a part
            ("AAAA0014", status + nested_message(60)),
            ("AAAA0015", status + b"Content-Type: multipart/mixed; boundary=\r\n\r\n--\r\n--\r\n"),
        ]
        inbox = self.store.folder("inbox.box", title="Inbox", uid_validity=3, messages=[
            (name, UNREAD, b"") for name, _ in broken] + [("AAAA0010", UNREAD, b""),
                                                           ("AAAA0016", UNREAD, b"")])
        for name, data in broken:
            self.store.write("inbox.box", name + ".orv", data)
        # A directory where a message file should be, and a listed message without a file.
        os.remove(os.path.join(inbox, "AAAA0010.orv"))
        os.mkdir(os.path.join(inbox, "AAAA0010.orv"))
        os.remove(os.path.join(inbox, "AAAA0016.orv"))

        # Indexes the host never writes.
        self.store.folder("noise.box", title="Noise", total=5)
        self.store.write("noise.box", "Entry.lst", noise)
        record = index_value(UNREAD, 10, 1700000000)
        self.store.folder("lines.box", title="Lines", total=9)
        self.store.write("lines.box", "Entry.lst", b"".join([
            b"no equals sign\r\n", b"=" + record + b"\r\n", b"AAAA0001=!!not base64!!\r\n",
            b"AAAA0002=\r\n", b"AAAA0003===" + record + b"\r\n",
            b"AAAA0004=" + index_value(UNREAD)[:4] + b"\r\n",
            b"AAAA0005=" + index_value(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF) + b"\r\n",
            b"AAAA0006=" + record + b"\r", b"AAAA0006=" + record + b"\n",
            b"Z" * 5000 + b"=" + record + b"\r\n", b"\x82\xa0\x82\xa0=" + record + b"\r\n",
            b"\x00\x00\x00\x00=" + record + b"\r\n", b"ZZZZ9999999999=" + record]))
        self.store.folder("empty.box", title="Empty", total=3)
        self.store.write("empty.box", "Entry.lst", b"")
        # Directories where a folder's files should be.
        self.store.folder("dirs.box", title="Dirs", total=2)
        for name in ("Entry.lst", "Imap4.ini"):
            os.mkdir(self.store.path("dirs.box", name))
        self.store.folder("noini.box", entry_ini=False, messages=[("AAAA0001", 0, b"")])
        os.mkdir(self.store.path("noini.box", "Entry.ini"))
        # Settings files of random bytes.
        self.store.folder("binini.box", messages=[("AAAA0001", 0, text_message("x", 1))])
        self.store.write("binini.box", "Entry.ini", b"[Property]\r\nTitle=" + noise[:300])
        self.store.write("binini.box", "Imap4.ini", noise[300:900])
        folders = ["inbox.box", "noise.box", "lines.box", "empty.box", "dirs.box", "noini.box",
                   "binini.box"]
        if os.geteuid() != 0:
            # Without the right to read (root reads them anyway, so there only the directory
            # tricks above stand for unreadable files).
            self.store.folder("locked.box", title="Locked",
                              messages=[("AAAA0001", 0, text_message("x", 1)),
                                        ("AAAA0002", 0, text_message("y", 1))])
            os.chmod(self.store.path("locked.box", "AAAA0001.orv"), 0)
            os.chmod(self.store.path("locked.box", "Entry.ini"), 0)
            self.addCleanup(os.chmod, self.store.path("locked.box", "Entry.ini"), 0o644)
            folders.append("locked.box")
        return folders

    def test_unreadable_truncated_and_binary_files(self):
        folders = self.write_broken_store()
        self.use_directory_names()
        self.serve()
        client = self.client()
        answered = 0
        departures = {}
        commands = [b"T1 STATUS %s (MESSAGES RECENT UIDNEXT UIDVALIDITY UNSEEN)",
                    b"S1 SELECT %s", b"F1 FETCH 1:* " + FETCH_ITEMS,
                    b"F2 FETCH 1:* (BODY.PEEK[] BODY.PEEK[2] BODY.PEEK[1.1] BODY.PEEK[1.MIME])",
                    b"F3 UID FETCH 1:* (FLAGS RFC822.SIZE)", b"R1 SEARCH ALL",
                    b"R2 UID SEARCH ALL", b"W1 STORE 1:* +FLAGS (\\\\Answered)",
                    b"F4 FETCH 1:* (RFC822 RFC822.TEXT BODY[TEXT])",
                    b"C1 COPY 1 empty.box", b"N1 NOOP"]
        if self.extended:
            commands += [b"R3 SEARCH TEXT x", b"R4 SEARCH OR SUBJECT cut FROM a BODY body",
                         b"R5 SEARCH SINCE 1-Jan-2000 LARGER 1 UNSEEN", b"E1 EXAMINE %s",
                         b"F5 FETCH 1:* (BODY[] BODYSTRUCTURE)", b"K1 CHECK", b"U1 UNSELECT"]
        for folder in folders:
            for line in commands:
                if b"%s" in line:
                    line = line % folder.encode()
                tagged = command(client, line, departures)
                self.assertIn(tagged.status, (b"OK", b"NO"), (folder, line, tagged.text))
                answered += 1
        # The folder list, with titles that are random bytes, in both naming modes.
        for names in (b"0", b"1"):
            self.mailbox.set_server_key("FolderName", int(names))
            lister = self.client()
            for line in (b"L1 LIST \"\" *", b"L2 LSUB \"\" *", b"L3 LIST \"\" %"):
                tagged = command(lister, line, departures, exact=not self.extended)
                self.assertEqual(tagged.status, b"OK")
                answered += 1
        figure("%s mode: %d commands on %d broken folders answered; departures: %r",
               self.mode, answered, len(folders), departures)
        self.assertEqual(self.host.process.poll(), None, "the host ended")


# A temporary directory that cannot take the APPEND literal.

@in_both_modes
class TempDirectoryCases:
    """APPEND while the host's temporary directory is full, read-only, missing or a file; run
    in both modes. The server must answer, go on serving and hand the host nothing: a message
    that could not be written whole must not be stored cut short."""

    def mount_tmpfs(self, options):
        """Mounts a small file system on the host's temporary directory; False when this
        system does not allow it (mounting needs privileges a container may lack)."""
        try:
            done = subprocess.run(["mount", "-t", "tmpfs", "-o", options, "tmpfs",
                                   self.host_tmp], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        except OSError:
            return False
        return done.returncode == 0

    def unmount(self):
        while os.path.ismount(self.host_tmp):
            subprocess.run(["umount", "-l", self.host_tmp], check=True)

    def enter(self, state):
        """Puts the temporary directory (empty and writable before) into a state."""
        if state == "full":
            self.assertTrue(self.mount_tmpfs("size=64k"))
        elif state == "read-only" and self.can_mount:
            self.assertTrue(self.mount_tmpfs("size=64k,ro"))
        elif state == "read-only":
            os.chmod(self.host_tmp, 0o555)  # not root here, so this stops writes
        elif state == "missing":
            os.rmdir(self.host_tmp)
        else:
            os.rmdir(self.host_tmp)
            with open(self.host_tmp, "wb"):
                pass

    def leave(self, state):
        if state in ("full", "read-only"):
            self.assertEqual(os.listdir(self.host_tmp), [], "a cut temporary file is left")
            self.unmount()
            os.chmod(self.host_tmp, 0o755)
        elif state == "missing":
            os.mkdir(self.host_tmp)
        else:
            os.remove(self.host_tmp)
            os.mkdir(self.host_tmp)

    def test_append_with_a_temporary_directory_that_cannot_take_the_message(self):
        self.store.folder("inbox.box", title="Inbox", uid_validity=4,
                          messages=[("AAAA0001", 0, text_message("一", 1))])
        self.serve()
        self.addCleanup(self.unmount)
        states = ["missing", "a file"]
        self.can_mount = self.mount_tmpfs("size=64k")
        if self.can_mount:
            self.unmount()
            states = ["full", "read-only"] + states
        elif os.geteuid() != 0:
            states = ["read-only"] + states
            print("no tmpfs can be mounted here (mounting needs privileges): the full "
                  "temporary directory is not tried", file=sys.stderr)
        else:
            print("no tmpfs can be mounted here (mounting needs privileges) and root writes "
                  "into any directory: the full and read-only temporary directory are not "
                  "tried", file=sys.stderr)
        client = self.client()
        message = text_message("大きい", 4000)  # about 180 KiB, more than the full one holds
        for n, state in enumerate(states):
            with self.subTest(state):
                self.enter(state)
                try:
                    tag = b"A%d" % n
                    client.append(tag + b" APPEND INBOX () {%d}" % len(message), message)
                    tagged = answer(client, tag)
                    self.assertEqual(command(client, b"N%d NOOP" % n).status, b"OK")
                    self.assertEqual(tagged.status, b"NO", tagged.text)
                    self.assertEqual(self.imports(), [])
                    self.assertEqual(len(self.store.index("inbox.box")), 1)
                finally:
                    self.leave(state)
        figure("%s mode: APPEND refused with nothing stored for a temporary directory %s",
               self.mode, ", ".join(states))
        # With room again the same APPEND stores the whole message.
        client.append(b"A9 APPEND INBOX () {%d}" % len(message), message)
        self.assertEqual(answer(client, b"A9").status, b"OK")
        self.assertEqual(len(self.imports()), 1)
        self.assertEqual(self.store.read("inbox.box", "AAAA0002.orv"),
                         message_file(UNREAD, message))


# Proof that the server changes the store only through the host's functions.

def ini_entries(data):
    """A settings file as {(section, key): value}."""
    entries, section = {}, None
    for line in data.splitlines():
        line = line.strip()
        if line.startswith(b"[") and line.endswith(b"]"):
            section = line[1:-1]
        elif b"=" in line:
            key, _, value = line.partition(b"=")
            entries[(section, key)] = value
    return entries


class StoreChanges:
    """What became of a mailbox directory between two readings of it (read_tree): the files
    that appeared, went away or changed."""

    def __init__(self, before, after):
        self.added = sorted(set(after) - set(before))
        self.removed = sorted(set(before) - set(after))
        self.changed = sorted(p for p in set(before) & set(after) if before[p] != after[p])


def folder_of_key(key):
    """The folder directory (relative to the mailbox directory) and file name that a message
    key names."""
    parts = key.split(b"\\")
    return os.path.join(*[p.decode("cp932") for p in parts[:-1]]), parts[-1].decode("cp932")


STATUS_LINE = re.compile(rb"X-Orvex-Status: ([0-9A-F]{8})\r\n")


@in_both_modes
class StoreHashCases:
    """A store read whole before and after sessions in both modes: a long read-only session with
    every read command must leave every file as it was, but for the settings it may write (the
    exact mode's UIDVALIDITY counter, a folder's own UIDVALIDITY in extended mode, the Subscribe
    key); a session that stores flags and appends and copies mail may change only what the
    host's functions do, call by call as the journal lists them."""

    ROUNDS = 20

    def write_hash_store(self, status):
        """The folders of the tests: an inbox with its own UIDVALIDITY, a folder of type
        Subfolder without one and its subfolder, an unsubscribed empty folder and a folder
        without Entry.ini (each message with the status word status, or a mix of it)."""
        self.store.folder("inbox.box", title="受信トレイ", uid_validity=42, messages=[
            ("AAAA0001", status, text_message("会議", 5)),
            ("AAAA0002", status | ANSWERED, multipart_message("添付")),
            ("AAAA0003", status | DELETED | DRAFT, text_message("下書き", 1))])
        self.store.folder("work.box", title="仕事", type="Subfolder", subscribe=1, messages=[
            ("AAAA0001", status, text_message("仕事一", 2)),
            ("AAAB0007", status | ANSWERED, text_message("仕事二", 40))])
        self.store.folder("work.box/sub.box", title="下位", messages=[
            ("AAAA0001", status, multipart_message("下位"))])
        self.store.folder("empty.box", title="Empty", subscribe=0)
        self.store.folder("plain.box", entry_ini=False, messages=[
            ("AAAA0001", status, text_message("plain", 1))])

    def folders(self):
        """The folders' names as the client gives them (titles, the default naming)."""
        return [b"INBOX", b"&TtVOiw-", b"&TtVOiw-/&TgtPTQ-", b"Empty"]

    def read_commands(self):
        lines = [b"C1 CAPABILITY", b"N1 NOOP", b"L1 LIST \"\" *", b"L2 LIST \"\" %",
                 b"L3 LSUB \"\" *", b"L4 LIST \"&TtVOiw-\" *"]
        for name in self.folders():
            lines += [b"T1 STATUS %s (MESSAGES RECENT UIDNEXT UIDVALIDITY UNSEEN)" % name,
                      b"S1 SELECT %s" % name, b"F1 FETCH 1:* " + FETCH_ITEMS,
                      b"F2 FETCH 1:* (BODY[] RFC822 RFC822.TEXT BODY[TEXT] BODY[HEADER])",
                      b"F3 FETCH 1:* ALL", b"F4 FETCH 1:* FAST", b"F5 FETCH 1:* FULL",
                      b"F6 UID FETCH 1:* (UID FLAGS)", b"R1 SEARCH ALL", b"R2 UID SEARCH ALL",
                      b"N2 NOOP"]
            if self.extended:
                lines += [b"E1 EXAMINE %s" % name, b"F7 FETCH 1:* (BODY[] RFC822 FLAGS)",
                          b"R3 SEARCH OR TEXT fox SUBJECT x", b"R4 UID SEARCH 1:* NOT SEEN",
                          b"R5 SEARCH SINCE 1-Jan-2000 SMALLER 100000", b"K1 CHECK",
                          b"U1 UNSELECT", b"E2 EXAMINE %s" % name, b"X1 CLOSE"]
        return lines

    def session(self, client, lines):
        for line in lines:
            tagged = command(client, line, {}, exact=not self.extended)
            self.assertEqual(tagged.status, b"OK", (line, tagged.text))
        return len(lines)

    def test_a_long_read_only_session_leaves_the_store_as_it_was(self):
        # Every message is read already, so the marks that reading asks for change nothing.
        self.write_hash_store(0)
        self.serve()
        before = read_tree(self.mailbox.path)
        commands = 0
        started = time.monotonic()
        for _ in range(self.ROUNDS):
            # A new connection each round: the exact mode lists folders only before a SELECT.
            client = self.client()
            commands += 1 + self.session(client, self.read_commands())
            client.send(b"I1 IDLE\r\n")
            self.assertEqual(client.read_line(), b"+ idling\r\n")
            client.send(b"DONE\r\n")
            self.assertEqual(answer(client, b"I1").status, b"OK")
            # SUBSCRIBE and UNSUBSCRIBE write the folder's Subscribe key, and nothing else.
            commands += self.session(client, [b"B1 SUBSCRIBE Empty", b"B2 UNSUBSCRIBE Empty",
                                              b"B3 SUBSCRIBE INBOX", b"B4 SUBSCRIBE &TtVOiw-"])
            client.send(b"O1 LOGOUT\r\n")
            client.read_until(b"O1 OK LOGOUT complated\r\n")
            client.close()
        after = read_tree(self.mailbox.path)
        changes = StoreChanges(before, after)
        figure("%s mode: %d read commands in %.1f s; %d files compared; added %r, changed %r",
               self.mode, commands + self.ROUNDS, time.monotonic() - started, len(before),
               changes.added, changes.changed)

        self.assertEqual(changes.removed, [])
        # Each folder without one gets its own lasting UIDVALIDITY in extended mode.
        self.assertEqual(self.take_settings(changes, before, after),
                         ["user1/empty.box", "user1/work.box", "user1/work.box/sub.box"]
                         if self.extended else [])
        # No flag was set: no record of kept flags is made.
        self.assertEqual(self.take_kept_flags(changes, after), {})
        # The Subscribe key of the folders subscribed to or from.
        for path in [p for p in changes.changed if p.endswith("Entry.ini")]:
            changes.changed.remove(path)
            old, new = ini_entries(before[path]), ini_entries(after[path])
            old.pop((b"IMAP4", b"Subscribe"), None)
            self.assertIn(new.pop((b"IMAP4", b"Subscribe")), (b"0", b"1"))
            self.assertEqual(old, new, path)
        # What the server learned of the message files it read, in its own file per folder.
        for path in [p for p in changes.added if os.path.basename(p) == "Imap4.cache"]:
            changes.added.remove(path)
            self.assertTrue(after[path].startswith(b"Imap4.cache 1\n"), path)
        self.assertEqual((changes.added, changes.changed), ([], []))
        # The host was asked for nothing but marks of read messages as read.
        for call in self.host_calls():
            self.assertEqual(call[0], b"_OPAMarkMail@12", call)
            self.assertEqual(call[2:], [b"0x%08X" % UNREAD, b"0"], call)

    def take_settings(self, changes, before, after):
        """Takes the settings a session may write out of changes, checking each: the counter
        of UIDVALIDITY values in the settings file, which only grows, and, in extended mode
        only, a folder's own "Imap4.ini" made or changed to hold its lasting UIDVALIDITY (and the
        mark that it keeps a UID record) and nothing else, with the record "Imap4.uid" beside
        it under that value. Returns the folders whose "Imap4.ini" was made. The server's log
        beside the settings is taken too, which must hold whole lines only."""
        for found in (changes.added, changes.changed):
            if "Imap4.log" in found:
                found.remove("Imap4.log")
                self.assertTrue(after["Imap4.log"].endswith(b"\r\n"))
                self.assertNotIn(b"\n", after["Imap4.log"].replace(b"\r\n", b""))
        if "Imap4.ini" in changes.changed:
            changes.changed.remove("Imap4.ini")
            old, new = ini_entries(before["Imap4.ini"]), ini_entries(after["Imap4.ini"])
            self.assertGreater(int(new.pop((b"IMAP4", b"UID"))),
                               int(old.pop((b"IMAP4", b"UID"), b"0")))
            self.assertEqual(old, new)
        made = sorted(p for p in changes.added if os.path.basename(p) == "Imap4.ini")
        for path in made:
            self.assertTrue(self.extended, path)
            changes.added.remove(path)
            entries = ini_entries(after[path])
            self.assertEqual(list(entries), [(b"IMAP4", b"UID"), (b"IMAP4", b"UIDRecord")], path)
            self.assertGreater(int(entries[(b"IMAP4", b"UID")]), 0)
        for path in [p for p in changes.changed if os.path.basename(p) == "Imap4.ini"]:
            self.assertTrue(self.extended, path)
            changes.changed.remove(path)
            old, new = ini_entries(before[path]), ini_entries(after[path])
            self.assertEqual(new.pop((b"IMAP4", b"UIDRecord")), b"1", path)
            self.assertEqual(old, new, path)
        for path in [p for p in changes.added if os.path.basename(p) == "Imap4.uid"]:
            self.assertTrue(self.extended, path)
            changes.added.remove(path)
            validity = ini_entries(after[os.path.join(os.path.dirname(path), "Imap4.ini")])
            self.assertTrue(after[path].startswith(
                b"Imap4.uid 2\nvalidity %s " % validity[(b"IMAP4", b"UID")]), path)
        return [os.path.dirname(p) for p in made]

    def take_kept_flags(self, changes, after):
        """Takes the records of kept flags ("Imap4.flg", extended mode only) out of the files
        added, checking each: its text whole, under the folder's lasting UIDVALIDITY, each UID
        one the folder's UID record gives a message. Returns, per folder, the flag texts of its
        messages, sorted."""
        kept = {}
        for path in [p for p in changes.added if os.path.basename(p) == "Imap4.flg"]:
            self.assertTrue(self.extended, path)
            changes.added.remove(path)
            folder = os.path.dirname(path)
            validity = ini_entries(after[os.path.join(folder, "Imap4.ini")])[(b"IMAP4", b"UID")]
            found = re.fullmatch(rb"Imap4\.flg 1\nvalidity (\d+) count (\d+)\n((?:\d+ [^\n]+\n)*)"
                                 rb"end\n", after[path])
            self.assertIsNotNone(found, after[path])
            self.assertEqual(found.group(1), validity, path)
            lines = [line.split(b" ", 1) for line in found.group(3).splitlines()]
            self.assertEqual(len(lines), int(found.group(2)), path)
            record = after[os.path.join(folder, "Imap4.uid")].splitlines()
            given = {line.split(b" ")[0] for line in
                     record[2:2 + int(record[1].split(b" count ")[1].split(b" ")[0])]}
            for uid, _ in lines:
                self.assertIn(uid, given, path)
            kept[folder] = sorted(flags for _, flags in lines)
        return kept

    def test_flags_appends_and_copies_change_only_what_the_journal_says(self):
        self.write_hash_store(UNREAD)
        self.serve()
        root = self.mailbox.path
        before = read_tree(root)
        appended = [text_message("追加一", 3), multipart_message("追加二")]
        client = self.client()
        lines = [b"S1 SELECT INBOX", b"F1 FETCH 1 BODY[]", b"W1 STORE 2 +FLAGS (\\Deleted \\Seen)",
                 b"W2 STORE 3 -FLAGS (\\Draft)", b"W3 UID STORE 1 +FLAGS (\\Answered)",
                 b"W4 STORE 1 -FLAGS (\\Seen)", b"C1 COPY 2 &TtVOiw-/&TgtPTQ-",
                 b"S2 SELECT &TtVOiw-", b"W5 STORE 2 +FLAGS (\\Seen)", b"C2 COPY 1 INBOX"]
        flag_lists = [b"()", b"()"]
        if self.extended:
            # The flags the server keeps itself go to its own records, and follow a message
            # that MOVE takes to another folder.
            lines += [b"S3 SELECT INBOX", b"X1 EXPUNGE", b"W6 STORE 1:* FLAGS (\\Draft)",
                      b"W7 STORE 1 +FLAGS (\\Flagged $Label1)",
                      b"W8 STORE 2 +FLAGS.SILENT ($Label2)", b"M1 MOVE 1 &TtVOiw-"]
            flag_lists[1] = b"(\\Seen $Label3)"
        self.session(client, lines)
        for n, (name, message) in enumerate(zip((b"&TtVOiw-", b"INBOX"), appended)):
            client.append(b"A%d APPEND %s %s {%d}" % (n, name, flag_lists[n], len(message)),
                          message)
            self.assertEqual(answer(client, b"A%d" % n).status, b"OK")
        after = read_tree(root)
        changes = StoreChanges(before, after)
        self.take_settings(changes, before, after)
        self.assertEqual(self.take_kept_flags(changes, after), {
            "user1/inbox.box": [b"$Label2", b"$Label3"],
            "user1/work.box": [b"\\Flagged $Label1"]} if self.extended else {})

        # The folders' indexes and message files as the journal's calls, in their order,
        # make them out of the store before.
        indexes = {os.path.dirname(p): [list(line) for line in parse_index(d)]
                   for p, d in before.items() if os.path.basename(p) == "Entry.lst"}
        imports = {}   # folder -> [(status, the message given to the host)]
        deleted = []
        later_marks = []
        appends = iter(appended)
        calls = self.host_calls()
        for call in calls:
            if call[0] == b"_OPAMarkMail@12":
                folder, name = folder_of_key(call[1])
                mask, on = int(call[2], 16), call[3] == b"1"
                lines = [l for l in indexes[folder] if l[0].decode("cp932").lower() == name.lower()]
                if not lines:
                    # A message imported during the session: marked once its line is known.
                    later_marks.append((folder, name, mask, on))
                for line in lines:
                    line[1] = line[1] | mask if on else line[1] & ~mask
            elif call[0] == b"_OPAImportFile@12":
                source = call[1].decode("cp932")
                if source.startswith(self.host_tmp):
                    text = next(appends)
                else:
                    text = before[os.path.relpath(source.replace("\\", "/"), root)]
                folder = call[2].decode("cp932").replace("\\", "/")
                imports.setdefault(folder, []).append((int(call[3], 16), text))
            elif call[0] == b"_OPADeleteMail@4":
                folder, name = folder_of_key(call[1])
                gone = [l for l in indexes[folder] if l[0].decode("cp932").lower() == name.lower()]
                indexes[folder] = [l for l in indexes[folder] if l not in gone]
                deleted += [os.path.join(folder, l[0].decode("cp932") + ".orv") for l in gone]
            else:
                self.fail("an unexpected host call %r" % call)
        self.assertEqual(next(appends, None), None, "an APPEND that the host was not given")
        self.assertEqual(sum(len(v) for v in imports.values()), 5 if self.extended else 4)
        # Message 3 was marked deleted already, message 2 is marked by the session; MOVE
        # deletes message 1.
        self.assertEqual(len(deleted), 3 if self.extended else 0)

        self.assertEqual(sorted(changes.removed), sorted(deleted))
        for folder, lines in indexes.items():
            index_path = os.path.join(folder, "Entry.lst")
            now = parse_index(after[index_path])
            self.assertEqual([tuple(l) for l in now[:len(lines)]], [tuple(l) for l in lines],
                             index_path)
            added = now[len(lines):]
            self.assertEqual(len(added), len(imports.get(folder, [])), index_path)
            wanted_statuses = [status for status, _ in imports.get(folder, [])]
            for marked_folder, marked, mask, on in later_marks:
                for n, line in enumerate(added):
                    if marked_folder == folder and line[0].decode().lower() == marked.lower():
                        status = wanted_statuses[n]
                        wanted_statuses[n] = status | mask if on else status & ~mask
            for (name, status, size, _, _), wanted, (imported, text) in zip(
                    added, wanted_statuses, imports.get(folder, [])):
                path = os.path.join(folder, name.decode() + ".orv")
                changes.added.remove(path)
                data = after[path]
                self.assertEqual((status, size), (wanted, len(data)), path)
                self.assertEqual(STATUS_LINE.match(data).group(1), b"%08X" % imported, path)
                # The host keeps a message in its own form; its subject and its last lines
                # (plain ASCII in every message here) come through unchanged.
                self.assertIn(re.search(rb"Subject: [^\r]*\r\n", text).group(0), data, path)
                self.assertEqual(data[-40:], text[-40:], path)
            if lines != [list(l) for l in parse_index(before[index_path])] or added:
                changes.changed.remove(index_path)
            # The folder's Total follows the messages it gained and lost.
            ini_path = os.path.join(folder, "Entry.ini")
            if ini_path in changes.changed:
                changes.changed.remove(ini_path)
                old, new = ini_entries(before[ini_path]), ini_entries(after[ini_path])
                lost = sum(1 for p in deleted if os.path.dirname(p) == folder)
                self.assertEqual(int(new.pop((b"Property", b"Total"))),
                                 int(old.pop((b"Property", b"Total"))) + len(added) - lost)
                self.assertEqual(old, new, ini_path)
        figure("%s mode: %d host calls account for every change: %d files changed, %d added, "
               "%d removed", self.mode, len(calls),
               len(StoreChanges(before, after).changed),
               sum(len(v) for v in imports.values()), len(deleted))
        self.assertEqual((changes.added, changes.changed), ([], []))


if __name__ == "__main__":
    unittest.main()
