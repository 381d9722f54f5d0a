#!/usr/bin/env python3
"""The benchmark runner (bench/run.sh calls it after installing and building): the host
stand-in with the plug-in and Dovecot serve the same generated mail, the load client
imap_load measures the same operations on both, and the results go into one table, a JSON
file, a bar chart of the ratios and a chart of how the cost of the index work grows with the
size of the folder.

    run.py --build DIR [--cache DIR] [--results DIR] [--smoke] [--ours-only] [--extended]
           [--limit S] [--no-scaling]
"""

import argparse
import datetime
import hashlib
import json
import os
import platform
import re
import shutil
import signal
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
USER = "bench"
PASSWORD = "bench"
# The account Dovecot's mail processes run as (it refuses root); the Maildir is given to it.
MAIL_UID = 65534
SEEN_FLAG = "\\Seen"


def log(text):
    print(text, flush=True)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_port(port, process, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise RuntimeError("the server ended with %d before listening" % process.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError("nothing listens on port %d" % port)


# ---------------------------------------------------------------------------------------------
# The store: generated once per generator version and size, then reused.

def prepare_store(args, bindir):
    generator = os.path.join(HERE, "make_store.py")
    stamp = store_stamp(args)
    directory = os.path.join(args.cache, "smoke" if args.smoke else "full")
    stamp_path = os.path.join(directory, "stamp")
    if os.path.exists(stamp_path) and open(stamp_path).read().strip() == stamp:
        log("store: reusing %s" % directory)
        return directory
    log("store: generating into %s (once; kept for later runs)" % directory)
    started = time.monotonic()
    shutil.rmtree(directory, ignore_errors=True)
    fresh = directory + ".new"
    shutil.rmtree(fresh, ignore_errors=True)
    os.makedirs(fresh)
    command = [sys.executable, generator, fresh] + (["--smoke"] if args.smoke else [])
    subprocess.run(command, check=True)
    mailbox = os.path.join(fresh, "store")
    orimapst = os.path.join(bindir, "orimapst")
    subprocess.run([orimapst, "--mailbox", mailbox, "add-user", USER, USER],
                   input=(PASSWORD + "\n").encode(), check=True, stdout=subprocess.DEVNULL)
    subprocess.run([orimapst, "--mailbox", mailbox, "set", "FolderName", "1"], check=True,
                   stdout=subprocess.DEVNULL)
    # The pristine index of the folder whose messages get marked read, to undo each run.
    shutil.copyfile(os.path.join(mailbox, USER, "mark.box", "Entry.lst"),
                    os.path.join(fresh, "mark-Entry.lst"))
    give_to_mail_user(os.path.join(fresh, "maildir"))
    with open(os.path.join(fresh, "stamp"), "w") as f:
        f.write(stamp + "\n")
    os.rename(fresh, directory)
    log("store: generated in %.0f s" % (time.monotonic() - started))
    return directory


def store_stamp(args):
    """Names the generator's version and the store's size: a store of another is made again."""
    with open(os.path.join(HERE, "make_store.py"), "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()[:16] + ("-smoke" if args.smoke else "-full")


def give_to_mail_user(path):
    """Dovecot's mail processes run as MAIL_UID and must own the Maildir they write into."""
    if os.geteuid() == 0:
        subprocess.run(["chown", "-R", "%d:%d" % (MAIL_UID, MAIL_UID), path], check=True)


def add_folder(args, directory, name):
    """Adds a folder the generator makes only when asked (the million messages) to the store,
    the first time a run needs it; it is kept, with its own stamp, until the store is made
    again. A folder whose making was cut is made again from the start."""
    stamp = store_stamp(args)
    stamp_path = os.path.join(directory, "stamp-" + name)
    if os.path.exists(stamp_path) and open(stamp_path).read().strip() == stamp:
        return
    log("store: adding '%s' to %s (once; kept for later runs)" % (name, directory))
    started = time.monotonic()
    maildir = os.path.join(directory, "maildir", "Maildir", "." + name)
    shutil.rmtree(os.path.join(directory, "store", USER, name + ".box"), ignore_errors=True)
    shutil.rmtree(maildir, ignore_errors=True)
    command = [sys.executable, os.path.join(HERE, "make_store.py"), directory, "--only", name]
    subprocess.run(command + (["--smoke"] if args.smoke else []), check=True)
    give_to_mail_user(maildir)
    with open(stamp_path, "w") as f:
        f.write(stamp + "\n")
    log("store: '%s' added in %.0f s" % (name, time.monotonic() - started))


def read_folders(directory):
    """{mailbox name: (messages, bytes in client form)} as the generator wrote them."""
    folders = {}
    with open(os.path.join(directory, "folders.txt")) as f:
        for line in f:
            name, count, size = line.split()
            folders[name] = (int(count), int(size))
    return folders


def read_tree(path):
    """Reads every file under path once, so the measurement finds them in the page cache."""
    total = 0
    for root, _, files in os.walk(path):
        for name in files:
            try:
                with open(os.path.join(root, name), "rb", buffering=0) as f:
                    while True:
                        block = f.read(1 << 20)
                        if not block:
                            break
                        total += len(block)
            except OSError:
                pass
    return total


# ---------------------------------------------------------------------------------------------
# Memory: the peak resident memory of a server's processes during one measurement.

def children(pid):
    out = []
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                out.extend(int(c) for c in f.read().split())
    except OSError:
        pass
    return out


def process_tree(pid):
    pids, todo = [], [pid]
    while todo:
        p = todo.pop()
        pids.append(p)
        todo.extend(children(p))
    return pids


def status_kib(pid, key):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(key + ":"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


def pss_kib(pid):
    try:
        with open("/proc/%d/smaps_rollup" % pid) as f:
            for line in f:
                if line.startswith("Pss:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return 0


class MemoryWatch:
    """Samples a server while a measurement runs. One process (ours): its VmHWM, reset at the
    start through clear_refs, and sampled VmRSS as a fallback. Several processes (Dovecot's
    master and its children): the sum of their proportional set sizes (shared pages split
    between the processes that share them, so counted once), sampled."""

    def __init__(self, pid, tree, interval):
        self.pid = pid
        self.tree = tree
        self.interval = interval
        self.peak_kib = 0
        self._stop = threading.Event()
        self._thread = None

    def __enter__(self):
        if not self.tree:
            try:
                with open("/proc/%d/clear_refs" % self.pid, "w") as f:
                    f.write("5")
            except OSError:
                pass
        self._sample()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()
        return self

    def _sample(self):
        if self.tree:
            value = sum(pss_kib(p) for p in process_tree(self.pid))
        else:
            value = status_kib(self.pid, "VmRSS")
        self.peak_kib = max(self.peak_kib, value)

    def _run(self):
        while not self._stop.wait(self.interval):
            self._sample()

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()
        self._sample()
        if not self.tree:
            self.peak_kib = max(self.peak_kib, status_kib(self.pid, "VmHWM"))


# ---------------------------------------------------------------------------------------------
# The servers.

# The listening backlog the plug-in is given for the benchmark.
BACKLOG = 128
# The UIDVALIDITY of a folder the runner copies for the plug-in (the generator's folders have
# 1001 to 1006).
COPY_UIDVALIDITY = 1007


def stop_process(process, out):
    """Ends a server started by the benchmark (SIGTERM, then a kill after a minute) and closes
    its output file."""
    if process and process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    out.close()


def set_ini_key(path, section, key, value):
    """Sets key=value in [section] of an INI file with CR LF lines, keeping everything else."""
    try:
        with open(path, "rb") as f:
            lines = f.read().decode("latin-1").splitlines()
    except FileNotFoundError:
        lines = []
    out, in_section, done = [], False, False
    for line in lines:
        stripped = line.strip()
        if stripped.startswith("[") and stripped.endswith("]"):
            if in_section and not done:
                out.append("%s=%s" % (key, value))
                done = True
            in_section = stripped[1:-1].lower() == section.lower()
        elif in_section and stripped.split("=", 1)[0].strip().lower() == key.lower():
            if not done:
                out.append("%s=%s" % (key, value))
                done = True
            continue
        out.append(line)
    if not done:
        if not in_section:
            out.append("[%s]" % section)
        out.append("%s=%s" % (key, value))
    with open(path, "wb") as f:
        f.write(("\r\n".join(out) + "\r\n").encode("latin-1"))

class OurServer:
    name = "ours"
    tree = False

    def __init__(self, bindir, store, tmp, extended):
        self.extended = extended
        self.bindir = bindir
        self.store = store
        self.mailbox = os.path.join(store, "store")
        self.tmp = tmp
        self.port = free_port()
        self.process = None

    def set(self, key, value):
        subprocess.run([os.path.join(self.bindir, "orimapst"), "--mailbox", self.mailbox,
                        "set", key, str(value)], check=True, stdout=subprocess.DEVNULL)

    def start(self):
        for key, value in (("PortNo", self.port), ("Extended", 1 if self.extended else 0)):
            self.set(key, value)
        # The certificate both servers present for the download over TLS.
        subprocess.run([os.path.join(self.bindir, "orimapst"), "--mailbox", self.mailbox,
                        "make-cert", "localhost"], check=True, stdout=subprocess.DEVNULL)
        # The listening queue holds the session loop's clients that connect at the same
        # moment (the default of 5 drops some of 100); orimapst has no verb for it, so the
        # key is written into the plug-in's settings file directly.
        set_ini_key(os.path.join(self.mailbox, "Imap4.ini"), "Server", "Backlog", BACKLOG)
        self.launch("wb")

    def launch(self, mode):
        self.out = open(os.path.join(self.tmp, "orvex-host.log"), mode)
        self.process = subprocess.Popen([os.path.join(self.bindir, "orvex-host"), "--mailbox",
                                         self.mailbox], stdin=subprocess.DEVNULL,
                                        stdout=self.out, stderr=subprocess.STDOUT)
        wait_port(self.port, self.process)

    def stop(self):
        stop_process(self.process, self.out)

    def restart(self):
        """A new process on the same store and settings: what the old one kept in memory is
        gone, what it wrote down is not."""
        self.stop()
        self.launch("ab")

    def folder_paths(self, name):
        directory = {"INBOX": "inbox.box"}.get(name, name + ".box")
        return [os.path.join(self.mailbox, USER, directory)]

    def reset_mark(self, client):
        shutil.copyfile(os.path.join(self.store, "mark-Entry.lst"),
                        os.path.join(self.mailbox, USER, "mark.box", "Entry.lst"))

    def copy_folder(self, source, name):
        """Makes the folder name anew with the messages of source as the generator wrote them:
        their files and the host's index, none of the plug-in's own files."""
        source_dir = self.folder_paths(source)[0]
        target = os.path.join(self.mailbox, USER, name + ".box")
        shutil.rmtree(target, ignore_errors=True)
        os.makedirs(target)
        with os.scandir(source_dir) as entries:
            for entry in entries:
                if entry.name.endswith(".orv") or entry.name == "Entry.lst":
                    shutil.copy2(entry.path, os.path.join(target, entry.name))
        with open(os.path.join(source_dir, "Entry.ini"), "rb") as f:
            ini = f.read().decode("latin-1")
        ini = "".join("Title=%s\r\n" % name if line.startswith("Title=") else line
                      for line in ini.splitlines(True))
        with open(os.path.join(target, "Entry.ini"), "wb") as f:
            f.write(ini.encode("latin-1"))
        with open(os.path.join(target, "Imap4.ini"), "wb") as f:
            f.write(b"[IMAP4]\r\nUID=%d\r\n" % COPY_UIDVALIDITY)

    def drop_folder(self, name):
        shutil.rmtree(os.path.join(self.mailbox, USER, name + ".box"), ignore_errors=True)


DOVECOT_CONF = """\
# Throw-away configuration of the benchmark: one user from a passwd-file, plaintext login on
# 127.0.0.1, Maildir with index and control files in this directory, tuned for many short
# sessions as Dovecot's performance documentation advises.
base_dir = {tmp}/run
state_dir = {tmp}/state
instance_name = orv-bench-{port}
log_path = {tmp}/dovecot.log
listen = 127.0.0.1
protocols = imap
# TLS with the plug-in's certificate, for the download over TLS; LOGIN stays allowed without.
ssl = yes
ssl_cert = <{cert}
ssl_key = <{key}
disable_plaintext_auth = no
auth_mechanisms = plain login
first_valid_uid = 1
passdb {{
  driver = passwd-file
  args = scheme=PLAIN username_format=%u {tmp}/users
}}
userdb {{
  driver = passwd-file
  args = username_format=%u {tmp}/users
}}
mail_location = maildir:~/Maildir:INDEX={tmp}/index:CONTROL={tmp}/control
maildir_very_dirty_syncs = yes
# The host stand-in does not sync its writes either.
mail_fsync = never
default_process_limit = 1024
default_client_limit = 4096
service imap-login {{
  inet_listener imap {{
    address = 127.0.0.1
    port = {port}
  }}
  inet_listener imaps {{
    port = 0
  }}
  service_count = 0
  process_min_avail = {cores}
  process_limit = 1024
}}
service imap {{
  service_count = 0
  process_min_avail = {cores}
  process_limit = 1024
}}
service auth {{
  client_limit = 4096
}}
protocol imap {{
  mail_max_userip_connections = 1000
}}
"""


class Dovecot:
    name = "Dovecot"
    tree = True

    def __init__(self, store, tmp):
        self.store = store
        self.home = os.path.join(store, "maildir")
        self.tmp = os.path.join(tmp, "dovecot")
        self.port = free_port()
        self.process = None

    def start(self):
        os.makedirs(self.tmp)
        os.chmod(self.tmp, 0o755)
        for d in ("index", "control"):
            os.makedirs(os.path.join(self.tmp, d))
            os.chown(os.path.join(self.tmp, d), MAIL_UID, MAIL_UID)
        with open(os.path.join(self.tmp, "users"), "w") as f:
            f.write("%s:{PLAIN}%s:%d:%d::%s::\n" % (USER, PASSWORD, MAIL_UID, MAIL_UID, self.home))
        self.conf = os.path.join(self.tmp, "dovecot.conf")
        with open(self.conf, "w") as f:
            f.write(DOVECOT_CONF.format(tmp=self.tmp, port=self.port, cores=os.cpu_count() or 2,
                                        cert=os.path.join(self.store, "store", CERT),
                                        key=os.path.join(self.store, "store", KEY)))
        self.launch("wb")

    def launch(self, mode):
        self.out = open(os.path.join(self.tmp, "dovecot.out"), mode)
        self.process = subprocess.Popen(["dovecot", "-F", "-c", self.conf],
                                        stdin=subprocess.DEVNULL, stdout=self.out,
                                        stderr=subprocess.STDOUT)
        wait_port(self.port, self.process)

    def restart(self):
        """The master and all its processes stopped and started again; the index and cache
        files stay."""
        self.stop()
        self.launch("ab")

    def version(self):
        done = subprocess.run(["dovecot", "--version"], stdout=subprocess.PIPE, text=True)
        return done.stdout.split()[0] if done.stdout else "?"

    def stop(self):
        stop_process(self.process, self.out)

    def folder_paths(self, name):
        maildir = os.path.join(self.home, "Maildir")
        if name != "INBOX":
            maildir = os.path.join(maildir, "." + name)
        return [maildir, os.path.join(self.tmp, "index"), os.path.join(self.tmp, "control")]

    def reset_mark(self, client):
        client.commands(["SELECT mark", "STORE 1:* -FLAGS.SILENT (%s)" % SEEN_FLAG])

    def copy_folder(self, source, name):
        """Makes the folder name anew with the message files of source; Dovecot's index and
        UID list of it, in the run's temporary directory, begin with its first SELECT."""
        source_dir = self.folder_paths(source)[0]
        target = os.path.join(self.home, "Maildir", "." + name)
        shutil.rmtree(target, ignore_errors=True)
        shutil.copytree(os.path.join(source_dir, "cur"), os.path.join(target, "cur"))
        for d in ("new", "tmp"):
            os.makedirs(os.path.join(target, d))
        open(os.path.join(target, "maildirfolder"), "wb").close()
        give_to_mail_user(target)

    def drop_folder(self, name):
        shutil.rmtree(os.path.join(self.home, "Maildir", "." + name), ignore_errors=True)


# ---------------------------------------------------------------------------------------------
# The load client.

class Client:
    def __init__(self, bindir, server, limit):
        self.program = os.path.join(bindir, "imap_load")
        self.server = server
        self.limit = limit

    def commands(self, commands, limit=None):
        """Runs the commands in one session; returns the JSON line of each."""
        done = subprocess.run([self.program, "commands", "--port", str(self.server.port),
                               "--user", USER, "--password", PASSWORD, "--limit",
                               str(limit or self.limit)] + commands,
                              stdout=subprocess.PIPE, text=True)
        return [json.loads(line) for line in done.stdout.splitlines() if line.startswith("{")]

    def sessions(self, mailbox, clients, seconds):
        done = subprocess.run([self.program, "sessions", "--port", str(self.server.port),
                               "--user", USER, "--password", PASSWORD, "--mailbox", mailbox,
                               "--clients", str(clients), "--seconds", str(seconds)],
                              stdout=subprocess.PIPE, text=True)
        return json.loads(done.stdout.strip().splitlines()[-1])

    def loopback(self, seconds):
        """The machine's loopback bandwidth now, in MB/s (imap_load loopback); None when it
        could not be measured."""
        done = subprocess.run([self.program, "loopback", "--seconds", str(seconds)],
                              stdout=subprocess.PIPE, text=True)
        try:
            return json.loads(done.stdout)["mb_per_s"]
        except (ValueError, KeyError):
            return None

    def resync(self, mailbox, uid_validity, modseq, uid_next):
        """The timed return of a client to mailbox (imap_load resync): its JSON object, or
        None when it printed none."""
        done = subprocess.run([self.program, "resync", "--port", str(self.server.port),
                               "--user", USER, "--password", PASSWORD, "--mailbox", mailbox,
                               "--uidvalidity", str(uid_validity), "--modseq", str(modseq),
                               "--uidnext", str(uid_next), "--limit", str(self.limit)],
                              stdout=subprocess.PIPE, text=True)
        lines = [line for line in done.stdout.splitlines() if line.startswith("{")]
        return json.loads(lines[-1]) if lines else None


# ---------------------------------------------------------------------------------------------
# The download over TLS.

# The certificate (made by orimapst make-cert in the store's mailbox directory) that both
# servers present.
CERT, KEY = "imap-cert.pem", "imap-key.pem"


class TlsReader:
    """Responses read from a socket (plain or TLS), literals skipped by their count."""

    def __init__(self, sock, deadline):
        self.sock = sock
        self.deadline = deadline
        self.buf = bytearray(1 << 20)
        self.view = memoryview(self.buf)
        self.start = self.end = 0
        self.bytes = 0

    def fill(self):
        if time.monotonic() > self.deadline:
            raise TimeoutError
        n = self.sock.recv_into(self.view)
        if not n:
            raise EOFError
        self.start, self.end = 0, n
        self.bytes += n

    def line(self):
        out = b""
        while True:
            if self.start == self.end:
                self.fill()
            i = self.buf.find(b"\n", self.start, self.end)
            stop = self.end if i < 0 else i + 1
            out += self.buf[self.start:stop]
            self.start = stop
            if i >= 0:
                return out

    def skip(self, n):
        while n:
            if self.start == self.end:
                self.fill()
            take = min(n, self.end - self.start)
            self.start += take
            n -= take

    def response(self, counts):
        """One response (its literals skipped); returns its first line."""
        head = line = self.line()
        while line.endswith(b"}\r\n") and b"{" in line:
            size = int(line[line.rindex(b"{") + 1:-3])
            self.skip(size)
            counts["literal_bytes"] += size
            line = self.line()
        if head.startswith(b"* ") and b" FETCH " in head[:40]:
            counts["fetches"] += 1
        return head

    def until(self, tag, counts=None):
        """Reads up to the tagged line of tag; returns it."""
        counts = counts if counts is not None else {"literal_bytes": 0, "fetches": 0}
        while True:
            head = self.response(counts)
            if head.startswith(tag + b" "):
                return head


def tls_download(port, cafile, mailbox, limit):
    """UID FETCH 1:* BODY.PEEK[] of mailbox after STARTTLS and LOGIN, read by Python's ssl
    module (the same client for both servers): seconds, bytes and counts as the load client
    reports them, or a fault."""
    deadline = time.monotonic() + limit
    sock = socket.create_connection(("127.0.0.1", port), timeout=limit)
    try:
        plain = TlsReader(sock, deadline)
        plain.line()
        sock.sendall(b"t STARTTLS\r\n")
        if not plain.until(b"t").startswith(b"t OK"):
            return {"fault": "STARTTLS refused"}
        tls = ssl.create_default_context(cafile=cafile).wrap_socket(sock,
                                                                   server_hostname="localhost")
        reader = TlsReader(tls, deadline)
        for tag, command in ((b"l", b"LOGIN %s %s" % (USER.encode(), PASSWORD.encode())),
                             (b"s", b"SELECT " + mailbox.encode())):
            tls.sendall(tag + b" " + command + b"\r\n")
            if not reader.until(tag).startswith(tag + b" OK"):
                return {"fault": command.split()[0].decode() + " refused"}
        counts = {"literal_bytes": 0, "fetches": 0}
        started = time.monotonic()
        reader.bytes = 0
        tls.sendall(b"f UID FETCH 1:* BODY.PEEK[]\r\n")
        tagged = reader.until(b"f", counts)
        seconds = time.monotonic() - started
        result = dict(counts, seconds=seconds, elapsed=seconds, bytes=reader.bytes)
        if not tagged.startswith(b"f OK"):
            result["fault"] = tagged.decode("ascii", "replace").strip()
        return result
    except (OSError, EOFError, TimeoutError, ssl.SSLError) as e:
        return {"fault": "TLS download: %s" % (e.__class__.__name__,)}
    finally:
        sock.close()


# ---------------------------------------------------------------------------------------------
# Resynchronisation with CONDSTORE and QRESYNC (RFC 7162).

# The folder of the line, copied afresh from RESYNC_SOURCE for each server, and what a second
# client changes in it between the first client's two visits.
RESYNC, RESYNC_SOURCE = "resync", "few"
RESYNC_CHANGED, RESYNC_NEW = 10, 5


class SetupSession:
    """One untimed session over a plain socket: commands sent one at a time, each answered
    with the first lines of its untagged responses and its tagged line (CR LF taken off)."""

    def __init__(self, port, limit):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=limit)
        self.reader = TlsReader(self.sock, time.monotonic() + limit)
        self.reader.line()
        self.tag = 0

    def command(self, text, literal=None):
        """(untagged first lines, tagged line); raises SetupFault unless the tagged line is
        OK. A literal is sent after the server's continuation request."""
        self.tag += 1
        tag = b"s%d" % self.tag
        if literal is None:
            self.sock.sendall(tag + b" " + text.encode() + b"\r\n")
        else:
            self.sock.sendall(tag + b" " + text.encode() + b" {%d}\r\n" % len(literal))
            while True:
                line = self.reader.line()
                if line.startswith(b"+"):
                    self.sock.sendall(literal + b"\r\n")
                    break
                if line.startswith(tag + b" "):
                    raise SetupFault("%s: %s" % (text, line.decode("ascii", "replace").strip()))
        heads = []
        counts = {"literal_bytes": 0, "fetches": 0}
        while True:
            head = self.reader.response(counts).decode("ascii", "replace").strip()
            if head.startswith(tag.decode() + " "):
                if not head[len(tag) + 1:].upper().startswith("OK"):
                    raise SetupFault("%s: %s" % (text, head))
                return heads, head
            heads.append(head)

    def close(self):
        try:
            self.command("LOGOUT")
        except (OSError, EOFError, TimeoutError, SetupFault):
            pass
        self.sock.close()


class SetupFault(Exception):
    pass


def response_number(heads, pattern):
    """The number the first matching untagged line gives, or None."""
    for head in heads:
        match = re.match(pattern, head, re.IGNORECASE)
        if match:
            return int(match.group(1))
    return None


def resync_message(n):
    return ("From: Resync Bench <resync@example.com>\r\nTo: bench <bench@example.jp>\r\n"
            "Subject: New message %d after the first visit\r\n"
            "Date: Mon, 7 Dec 2026 10:%02d:00 +0000\r\n"
            "Message-ID: <resync.%d@example.com>\r\nMIME-Version: 1.0\r\n"
            "Content-Type: text/plain; charset=us-ascii\r\n\r\n"
            "A short message appended between two visits of a client.\r\n" % (n, n, n)).encode()


def resync_setup(port, limit):
    """The two untimed sessions before the timed one: a first client notes the folder's
    UIDVALIDITY, UIDNEXT and HIGHESTMODSEQ; then another changes the flags of RESYNC_CHANGED
    messages spread over the folder (half of them flagged, half made unread) and appends
    RESYNC_NEW messages. Returns (what the first client noted, the changed UIDs, the new
    UIDs); raises SetupFault."""
    first = SetupSession(port, limit)
    try:
        first.command("LOGIN %s %s" % (USER, PASSWORD))
        first.command("ENABLE QRESYNC")
        heads, _ = first.command("SELECT " + RESYNC)
    finally:
        first.close()
    noted = {key: response_number(heads, pattern) for key, pattern in (
        ("uidvalidity", r"\* OK \[UIDVALIDITY (\d+)\]"), ("uidnext", r"\* OK \[UIDNEXT (\d+)\]"),
        ("modseq", r"\* OK \[HIGHESTMODSEQ (\d+)\]"), ("exists", r"\* (\d+) EXISTS"))}
    if noted["modseq"] is None:
        raise SetupFault("the SELECT after ENABLE QRESYNC gave no HIGHESTMODSEQ "
                         "(no CONDSTORE/QRESYNC)")
    if None in noted.values():
        raise SetupFault("the SELECT gave no " + ", ".join(
            key.upper() for key, value in noted.items() if value is None))

    second = SetupSession(port, limit)
    try:
        second.command("LOGIN %s %s" % (USER, PASSWORD))
        second.command("SELECT " + RESYNC)
        step = noted["exists"] // RESYNC_CHANGED
        numbers = [1 + step // 2 + i * step for i in range(RESYNC_CHANGED)]
        heads, _ = second.command("FETCH %s (UID)" % ",".join(map(str, numbers)))
        changed = sorted({int(m.group(1)) for head in heads
                          for m in [re.search(r"\bUID (\d+)", head)] if m})
        if len(changed) != RESYNC_CHANGED:
            raise SetupFault("FETCH (UID) of %d messages gave %d UIDs" % (RESYNC_CHANGED,
                                                                         len(changed)))
        for i, uid in enumerate(changed):
            second.command("UID STORE %d %s" % (uid, "+FLAGS (\\Flagged)" if i % 2 == 0 else
                                                "-FLAGS (%s)" % SEEN_FLAG))
        for n in range(RESYNC_NEW):
            second.command("APPEND " + RESYNC, resync_message(n + 1))
        # A server may tell of messages appended to the selected folder only at a NOOP.
        second.command("NOOP")
        heads, _ = second.command("UID SEARCH UID %d:*" % noted["uidnext"])
        new = sorted(uid for head in heads if head.upper().startswith("* SEARCH")
                     for uid in map(int, head.split()[2:]) if uid >= noted["uidnext"])
        if len(new) != RESYNC_NEW:
            raise SetupFault("%d messages at or above UIDNEXT %d after %d APPENDs" % (
                len(new), noted["uidnext"], RESYNC_NEW))
    finally:
        second.close()
    return noted, changed, new


def check_resync(answer, changed, new):
    """What is wrong with the timed session's answer, or None: its SELECT must report the
    changed and new messages in FETCH responses, each once and no others (it may leave the
    new ones to their EXISTS), and the UID FETCH that follows must bring the new ones."""
    steps = answer["steps"]
    if not answer["ok"]:
        if not answer["connected"] or not steps:
            return "no session (%s)" % ("greeting " + answer["greeting"] if answer["connected"]
                                        else "connection refused")
        last = steps[-1]
        return "%s: %s %s" % (last["command"], last["outcome"], last["tagged"])
    if not answer["enabled"]:
        return "ENABLE QRESYNC answered no ENABLED QRESYNC"
    expected = set(changed) | set(new)
    reported = steps[2]["uids"]
    faults = []
    others = [uid for uid in reported if uid not in expected]
    if others:
        faults.append("the SELECT sent %d FETCH responses of unchanged messages" % len(others))
    if len(set(reported)) != len(reported):
        faults.append("the SELECT sent %d FETCH responses twice" % (len(reported) -
                                                                   len(set(reported))))
    missed = set(changed) - set(reported)
    if missed:
        faults.append("the SELECT left out %d of the %d changed messages" % (len(missed),
                                                                          len(changed)))
    if len(steps) < 4:
        faults.append("the SELECT reported no new messages, so no UID FETCH was sent")
    elif sorted(steps[3]["uids"]) != sorted(new):
        faults.append("the UID FETCH of the new messages brought UIDs %s, %s expected" % (
            short_uids(steps[3]["uids"]), short_uids(new)))
    return "; ".join(faults) or None


def short_uids(uids):
    """UIDs for a note: the first few of them and how many there are."""
    text = ",".join(map(str, uids[:8]))
    return "(%s%s: %d)" % (text, ",..." if len(uids) > 8 else "", len(uids))


def measure_resync(server, client, limit):
    """The resynchronisation line on a fresh copy of RESYNC_SOURCE (copy_folder): the setup
    sessions, then the timed one (imap_load resync). Its time counts only when the answer is
    right; a wrong one keeps its time as "elapsed" and says what was wrong."""
    server.copy_folder(RESYNC_SOURCE, RESYNC)
    try:
        noted, changed, new = resync_setup(server.port, limit)
    except SetupFault as e:
        return {"fault": str(e), "kib": None}
    except (OSError, EOFError, TimeoutError) as e:
        return {"fault": "setup: %s" % e.__class__.__name__, "kib": None}
    with MemoryWatch(server.process.pid, server.tree, 0.05) as watch:
        answer = client.resync(RESYNC, noted["uidvalidity"], noted["modseq"], noted["uidnext"])
    if answer is None:
        return {"fault": "imap_load resync printed nothing", "kib": watch.peak_kib}
    steps = answer["steps"]
    result = {"elapsed": answer["seconds"], "bytes": answer["bytes"], "kib": watch.peak_kib,
              "noted": noted, "changed": changed, "new": new,
              "highestmodseq": answer["highestmodseq"], "vanished": answer["vanished"],
              "select_fetches": steps[2]["fetches"] if len(steps) > 2 else None,
              "new_fetches": steps[3]["fetches"] if len(steps) > 3 else None,
              "steps": [{key: step[key] for key in ("command", "outcome", "seconds", "bytes",
                                                     "fetches")} for step in steps]}
    fault = check_resync(answer, changed, new)
    if fault:
        result["fault"] = "%s (took %s, %d bytes)" % (fault, format_seconds(answer["seconds"]),
                                                     answer["bytes"])
    else:
        result["seconds"] = answer["seconds"]
    return result


# ---------------------------------------------------------------------------------------------
# The measurements.

# The folders of small messages, 10,000 to 1,000,000, on which SELECT and UID FETCH FLAGS show
# how the cost grows with the size of a folder.
SCALING = ("few", "big", "huge")
# Seconds allowed to the untimed first pass over them.
WARM_UP_LIMIT = 1800
# Seconds of each loopback measurement just before and just after the full downloads.
LOOPBACK_AROUND = 2
# Full downloads of each server, the servers in turns; the fastest counts.
DOWNLOAD_TRIES = 3

def run_session(server, client, commands, timed, expect=None, limit=None, interval=0.05):
    """Runs commands in a fresh session; the indexes in timed are measured. expect: the
    FETCH responses each timed command must bring, or a list of them, one per command."""
    with MemoryWatch(server.process.pid, server.tree, interval) as watch:
        lines = client.commands(commands, limit)
    out = []
    expects = expect if isinstance(expect, list) else [expect] * len(timed)
    for index, wanted in zip(timed, expects):
        index += 1  # LOGIN comes first
        if index >= len(lines):
            out.append({"fault": "no answer (%s)" % (lines[-1]["outcome"] if lines else
                                                     "no session"), "kib": watch.peak_kib})
            continue
        line = lines[index]
        result = {"seconds": line["seconds"], "elapsed": line["seconds"],
                  "bytes": line["bytes"],
                  "literal_bytes": line["literal_bytes"], "fetches": line["fetches"],
                  "kib": watch.peak_kib}
        if line["outcome"] == "timeout" and wanted and line["fetches"] > 0:
            result["estimated"] = True
            result["seconds"] = line["seconds"] * wanted / line["fetches"]
            result["fault"] = "cut after %.0f s at %d of %d" % (
                line["seconds"], line["fetches"], wanted)
        elif line["outcome"] != "OK":
            result["fault"] = "%s: %s" % (line["outcome"], line["tagged"])
        elif wanted is not None and line["fetches"] != wanted:
            result["fault"] = "%d FETCH responses, %d expected" % (line["fetches"], wanted)
        out.append(result)
    return out


def check_download(result, extended, folders):
    """The download's messages against the generator's: byte for byte in the client form
    the generator writes; in the plug-in's extended form (its own encoded words, parts
    relabelled as UTF-8) by their number only."""
    if "fault" in result or result.get("estimated"):
        return
    large = folders["large"][0]
    if extended and result["fetches"] != large:
        result["fault"] = "%d FETCH responses, %d expected" % (result["fetches"], large)
    elif not extended and result["literal_bytes"] != folders["large"][1]:
        result["fault"] = "%d message bytes, %d expected" % (result["literal_bytes"],
                                                             folders["large"][1])


def downloads_in_turns(servers, bindir, folders, args):
    """{server name: result} of the full download of 'large' (UID FETCH 1:* BODY.PEEK[]), the
    servers started again side by side and downloading in turns, DOWNLOAD_TRIES times each, so
    that they are measured under the same conditions: the machine's bandwidth moves with its
    neighbours by half from one minute to the next, and one download lasts about a second. The
    fastest try counts, with the highest peak memory of all; a wrong answer ends the tries. Each
    result also holds the loopback measured just before and just after the turns, the limit of
    any download then, and the folder's files are read again before each try (the page cache
    of an idle file does not last long here)."""
    large = folders["large"][0]
    seconds = 1 if args.smoke else LOOPBACK_AROUND
    for server in servers:
        server.launch("ab")
    try:
        clients = [Client(bindir, server, args.limit) for server in servers]
        around = [clients[0].loopback(seconds)]
        tries = {server.name: [] for server in servers}
        for _ in range(DOWNLOAD_TRIES):
            for server, client in zip(servers, clients):
                if any("fault" in t for t in tries[server.name]):
                    continue
                for path in server.folder_paths("large"):
                    read_tree(path)
                attempt = run_session(server, client, ["SELECT large", "UID FETCH 1:* BODY.PEEK[]"],
                                      [1], large)[0]
                if "elapsed" in attempt:
                    # A cut download still measures its rate on what it received.
                    attempt["rate"] = attempt["bytes"] / attempt["elapsed"] / 1e6
                    check_download(attempt, isinstance(server, OurServer) and args.extended,
                                   folders)
                tries[server.name].append(attempt)
        around.append(clients[0].loopback(seconds))
    finally:
        for server in servers:
            server.stop()
    results = {}
    for server in servers:
        attempts = tries[server.name]
        faulty = [t for t in attempts if "fault" in t]
        best = dict(faulty[0] if faulty else max(attempts, key=lambda t: t.get("rate", 0)))
        best["kib"] = max((t.get("kib") or 0) for t in attempts) or None
        best["rates"] = [t["rate"] for t in attempts if "rate" in t]
        if None not in around:
            best["loopback"] = sum(around) / len(around)
            best["loopback_around"] = around
        results[server.name] = best
    return results


def measure_server(server, client, folders, args):
    """{operation key: result} for one server. A result: value, unit, peak memory (KiB),
    and a fault text when the answer was wrong or the command was cut."""
    results = {}
    interval = 0.05

    def run(commands, timed, expect=None, limit=None):
        return run_session(server, client, commands, timed, expect, limit, interval)

    def prewarm(name):
        for path in server.folder_paths(name):
            read_tree(path)

    big, inbox, large, mark = (folders[n][0] for n in ("big", "INBOX", "large", "mark"))

    # One untimed pass over every folder, so that each server's indexes and caches are built.
    log("  warm-up pass")
    client.commands(["SELECT big", "UID FETCH 1:* (UID FLAGS)",
                     "SELECT INBOX", "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)",
                     "FETCH 1:* BODYSTRUCTURE", "FETCH 1:20 (FLAGS BODY.PEEK[HEADER])",
                     "SELECT large", "UID FETCH 1:* (UID FLAGS)",
                     "SELECT mark", "UID FETCH 1:* (UID FLAGS)"])

    log("  index work: 'big'")
    prewarm("big")
    results["select"] = run(["SELECT big"], [0])[0]
    results["uid_flags"] = run(["SELECT big", "UID FETCH 1:* (UID FLAGS)"], [1], big)[0]

    log("  envelopes and structures: INBOX")
    prewarm("INBOX")
    first, second = run(["SELECT INBOX", "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)",
                         "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)"], [1, 2], inbox)
    results["envelope1"] = first
    results["envelope2"] = second
    results["bodystructure"] = run(["SELECT INBOX", "FETCH 1:* BODYSTRUCTURE"], [1], inbox)[0]

    log("  marking read: 'mark'")
    server.reset_mark(client)
    prewarm("mark")
    results["store"] = run(["SELECT mark", "STORE 1:* +FLAGS (%s)" % SEEN_FLAG], [1], mark)[0]

    ours = isinstance(server, OurServer)
    log("  full download over TLS: 'large'")
    prewarm("large")
    # STARTTLS is the plug-in's extended mode's; the mode is read at each connection's start.
    exact = ours and not args.extended
    if exact:
        server.set("Extended", 1)
    try:
        with MemoryWatch(server.process.pid, server.tree, interval) as watch:
            tls = tls_download(server.port, os.path.join(server.store, "store", CERT), "large",
                               args.limit)
    finally:
        if exact:
            server.set("Extended", 0)
    tls["kib"] = watch.peak_kib
    if "elapsed" in tls:
        tls["rate"] = tls["bytes"] / tls["elapsed"] / 1e6
        check_download(tls, ours, folders)
    results["download_tls"] = tls

    log("  session loop: %d clients for %g s" % (args.clients, args.seconds))
    prewarm("INBOX")
    with MemoryWatch(server.process.pid, server.tree, 0.25) as watch:
        loop = client.sessions("INBOX", args.clients, args.seconds)
    loop["kib"] = watch.peak_kib
    results["sessions"] = loop

    # After the rest, so that neither the restart nor the million messages changes what the
    # lines above measure; the restart also leaves behind what the session loop held, so
    # the memory of the lines below is the folder's own.
    log("  restart, then the first listing of INBOX")
    server.restart()
    prewarm("INBOX")
    select, listing = run(["SELECT INBOX", "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE)"], [0, 1],
                          [None, inbox])
    listing["select_seconds"] = select.get("seconds")
    results["restart"] = listing

    if args.scaling:
        log("  how cost grows: %s" % ", ".join("'%s'" % name for name in SCALING))
        # A first pass over the folders, not timed: Dovecot builds its index of the new ones
        # here, which for a million messages may take longer than --limit.
        first = client.commands([command for name in SCALING
                                 for command in ("SELECT " + name, "UID FETCH 1:* (UID FLAGS)")],
                                max(args.limit, WARM_UP_LIMIT))
        log("  first pass: %.1f s" % sum(line["seconds"] for line in first))
        for line in first:
            if line["outcome"] != "OK":
                log("  first pass: %s: %s" % (line["command"], line["outcome"]))
        for name in SCALING:
            prewarm(name)
            count = folders[name][0]
            results["select_" + name] = run(["SELECT " + name], [0])[0]
            results["uid_flags_" + name] = run(["SELECT " + name, "UID FETCH 1:* (UID FLAGS)"],
                                               [1], count)[0]

    log("  resynchronisation with QRESYNC: a copy of '%s'" % RESYNC_SOURCE)
    # CONDSTORE and QRESYNC are the plug-in's extended mode's, as STARTTLS is.
    if exact:
        server.set("Extended", 1)
    try:
        results["resync"] = measure_resync(server, client, args.limit)
    finally:
        if exact:
            server.set("Extended", 0)
    return results


# ---------------------------------------------------------------------------------------------
# The report.

# key, label, kind: "time" (seconds, lower is better), "rate" (higher is better).
OPERATIONS = [
    ("select", "SELECT ({big:,} messages)", "time"),
    ("uid_flags", "UID FETCH 1:* (UID FLAGS), {big:,}", "time"),
    ("envelope1", "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE), {INBOX:,}, 1st", "time"),
    ("envelope2", "FETCH 1:* (FLAGS RFC822.SIZE ENVELOPE), {INBOX:,}, 2nd", "time"),
    ("restart", "  the same after a restart of the server", "time"),
    ("bodystructure", "FETCH 1:* BODYSTRUCTURE, {INBOX:,}", "time"),
    ("store", "STORE 1:* +FLAGS (\\Seen), {mark:,} unread", "time"),
    ("resync", "resync (QRESYNC), {few:,}: %d changed, %d new" % (RESYNC_CHANGED, RESYNC_NEW),
     "time"),
    ("download", "UID FETCH 1:* BODY.PEEK[], {large_mb:,.0f} MB", "rate"),
    ("download_tls", "  the same over TLS (STARTTLS, read by Python's ssl)", "rate"),
    ("sessions", "session loop, {clients} clients: sessions/s", "rate"),
    ("p50", "  session latency p50", "time"),
    ("p99", "  session latency p99", "time"),
    ("errors", "  session errors", "count"),
]
SHORT = {"select": "SELECT", "uid_flags": "UID FLAGS", "envelope1": "ENVELOPE 1st",
         "envelope2": "ENVELOPE 2nd", "restart": "after restart",
         "bodystructure": "BODYSTRUCTURE", "store": "STORE Seen", "resync": "QRESYNC",
         "download": "download", "download_tls": "download TLS", "sessions": "sessions/s",
         "p50": "p50", "p99": "p99"}
# The lines of how the cost grows, after the others: per operation, one line per folder.
SCALED = [("select", "SELECT"), ("uid_flags", "UID FETCH 1:* (UID FLAGS)")]


def short_count(n):
    return "%gM" % (n / 1e6) if n >= 1000000 else "%gk" % (n / 1e3) if n >= 1000 else str(n)


def operations(folders, scaling):
    """(key, label, kind, short name, whether it goes into the chart of ratios) of every line
    of the table, in order."""
    out = [(key, label, kind, SHORT.get(key), True) for key, label, kind in OPERATIONS]
    if scaling:
        out.append((None, "how cost grows (small messages):", "heading", None, False))
        for key, label in SCALED:
            for name in SCALING:
                count = folders[name][0]
                out.append(("%s_%s" % (key, name), "  %s, %s" % (label, format(count, ",")),
                            "time", "%s %s" % (SHORT[key], short_count(count)), False))
    return out


def value_of(results, key):
    """(number, text, fault, peak KiB) of one operation of one server."""
    if results is None:
        return None, "-", None, None
    if key in ("p50", "p99", "errors", "sessions"):
        loop = results["sessions"]
        if key == "errors":
            kinds = ", ".join("%s %d" % kv for kv in loop["kinds"].items())
            return loop["errors"], str(loop["errors"]), kinds or None, None
        if key == "sessions":
            fault = "no session completed" if loop["sessions"] == 0 else None
            return loop["rate"], "%.1f /s" % loop["rate"], fault, loop["kib"]
        return loop[key], format_seconds(loop[key]), None, None
    r = results[key]
    fault = r.get("fault")
    if key in ("download", "download_tls"):
        if "rate" not in r:
            return None, "failed", fault, r["kib"]
        return r["rate"], ("~" if r.get("estimated") else "") + "%.1f MB/s" % r["rate"], \
            fault, r["kib"]
    if "seconds" not in r:
        return None, "failed", fault, r["kib"]
    return r["seconds"], ("~" if r.get("estimated") else "") + format_seconds(r["seconds"]), \
        fault, r["kib"]


def per_message(result, count):
    """The time of an operation divided by the messages of its folder, in microseconds."""
    if not result or "seconds" not in result:
        return "-"
    return ("~" if result.get("estimated") else "") + "%.2f us" % (result["seconds"] / count * 1e6)


def resync_bytes(result):
    """The bytes of the resynchronisation's timed session, with its FETCH responses."""
    counts = ["-" if result[key] is None else result[key]
              for key in ("select_fetches", "new_fetches")]
    return "%s (FETCH responses: %s to the SELECT, %s to the UID FETCH)" % (
        format(result["bytes"], ","), counts[0], counts[1])


def format_seconds(s):
    return "%.3f s" % s if s >= 1 else "%.1f ms" % (s * 1000)


def mib(kib):
    return "-" if kib is None else "%.1f MiB" % (kib / 1024)


def machine():
    cpu = "?"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    with open("/proc/meminfo") as f:
        total = int(f.readline().split()[1]) / 1024 / 1024
    return "%s, %d cores, %.0f GiB, Linux %s" % (cpu, os.cpu_count() or 0, total,
                                                 platform.release())


def report(ours, theirs, loopback, folders, dovecot_version, args):
    """The table (text) and the rows with a ratio, for the chart."""
    rows, chart = [], []
    sizes = dict(((name, count) for name, (count, _) in folders.items()),
                 large_mb=folders["large"][1] / 1e6, clients=args.clients)
    for key, label, kind, short, charted in operations(folders, args.scaling):
        label = label.format(**sizes)
        if kind == "heading":
            rows.append((label, "", "", "", "", "", None, None))
            continue
        a, a_text, a_fault, a_kib = value_of(ours, key)
        b, b_text, b_fault, b_kib = value_of(theirs, key)
        ratio = "-"
        if a and b and kind == "time":
            ratio_value = a / b
        elif a and b and kind == "rate":
            ratio_value = b / a
        else:
            ratio_value = None
        if ratio_value is not None:
            ratio = "%.2f" % ratio_value
            if charted:
                chart.append((short, ratio_value))
        rows.append((label, a_text, b_text, ratio, mib(a_kib) if a_kib is not None else "",
                     mib(b_kib) if b_kib is not None else "", a_fault, b_fault))
    widths = [max(len(r[i]) for r in rows + [HEADER]) for i in range(6)]
    lines = []
    title = "OrvImapS (orvex-host%s) vs Dovecot %s, %s UTC" % (
        ", extended mode" if args.extended else "", dovecot_version, datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M"))
    lines.append(title)
    lines.append("machine: " + machine())
    lines.append("load average (1 min) at the start of each server's run: " + ", ".join(
        "%s %s" % (name, load) for name, load in args.loads))
    lines.append("folders: " + ", ".join("%s %d messages %.1f MB" % (n, c, s / 1e6)
                                         for n, (c, s) in folders.items()))
    around = ours["download"].get("loopback_around") if ours is not None else None
    lines.append("loopback bandwidth (plain socket copy): %.0f MB/s at the start" % loopback +
                 ("; around the full downloads, made in turns: %.0f MB/s (%.0f before, %.0f "
                  "after)" % (sum(around) / len(around), around[0], around[1]) if around else ""))
    lines.append("")
    fmt = "  ".join("%%-%ds" % w if i == 0 else "%%%ds" % w for i, w in enumerate(widths))
    lines.append(fmt % HEADER)
    lines.append(fmt % tuple("-" * w for w in widths))
    notes = []
    for r in rows:
        lines.append((fmt % r[:6]).rstrip())
        for who, fault in (("ours", r[6]), ("Dovecot", r[7])):
            if fault:
                notes.append("%s, %s: %s" % (r[0].strip(), who, fault))
    lines.append("")
    lines.append("ours/Dovecot is the ratio of times (for rates, Dovecot's rate over ours): "
                 "below 1.00 we are faster.")
    lines.append("Peak RSS: ours the VmHWM of orvex-host during the session that runs the "
                 "operation; Dovecot the sampled peak of the summed PSS of all its processes.")
    lines.append("~ marks a figure extrapolated from a command cut after --limit seconds.")
    if args.scaling:
        lines.append("How cost grows: time per message at %s messages." % " / ".join(
            format(folders[name][0], ",") for name in SCALING))
        for key, label in SCALED:
            parts = []
            for who, results in (("ours", ours), ("Dovecot", theirs)):
                if results is not None:
                    times = [per_message(results.get("%s_%s" % (key, name)), folders[name][0])
                             for name in SCALING]
                    parts.append("%s %s" % (who, " / ".join(times)))
            lines.append("  %s: %s" % (label, "; ".join(parts)))
    resync = [(who, results["resync"]) for who, results in (("ours", ours), ("Dovecot", theirs))
              if results is not None and "bytes" in results.get("resync", {})]
    if resync:
        lines.append("Resync (QRESYNC): bytes received from connect to the last FETCH: " +
                     "; ".join("%s %s" % (who, resync_bytes(r)) for who, r in resync))
    tries = [(who, results["download"]["rates"]) for who, results in (("ours", ours),
                                                                       ("Dovecot", theirs))
             if results is not None and results["download"].get("rates")]
    if tries:
        lines.append("Full download, the servers in turns, the fastest of each server's tries "
                     "counts: " + "; ".join("%s %s MB/s" % (who, ", ".join("%.0f" % r for r in rates))
                                            for who, rates in tries))
    for note in notes:
        lines.append("note: " + note)
    if ours is not None:
        lines.append("")
        lines.extend(goals(ours, theirs, loopback, folders, args.scaling))
    return "\n".join(lines) + "\n", chart


HEADER = ("operation", "ours", "Dovecot", "ours/Dovecot", "peak RSS ours", "peak RSS Dovecot")


def goals(ours, theirs, loopback, folders, scaling):
    out = ["Goals:"]
    if theirs is not None:
        behind, missing = [], []
        for key, _, kind, short, _ in operations(folders, scaling):
            if kind in ("count", "heading"):
                continue
            a, _, _, _ = value_of(ours, key)
            b, _, _, _ = value_of(theirs, key)
            if not a or not b:
                missing.append(short)
            elif kind == "time" and a > b or kind == "rate" and a < b:
                behind.append(short)
        verdict = "met" if not behind and not missing else "not met"
        if behind:
            verdict += "; behind: " + ", ".join(behind)
        if missing:
            verdict += "; not measured: " + ", ".join(missing)
        out.append("  ratio <= 1.00 everywhere: " + verdict)
    rate = ours["download"].get("rate")
    # Held to the loopback measured around the download, when it was.
    loopback = ours["download"].get("loopback", loopback)
    if rate:
        out.append("  full download >= half the loopback around it (%.0f MB/s): %.1f MB/s, %s" %
                   (loopback / 2, rate, "met" if rate >= loopback / 2 else "not met"))
    kib = ours["download"]["kib"]
    out.append("  peak RSS during the full download < 64 MiB: %s, %s" %
               (mib(kib), "met" if kib < 64 * 1024 else "not met"))
    errors = ours["sessions"]["errors"]
    out.append("  no errors in the session loop: %d, %s" % (errors, "met" if errors == 0 else
                                                          "not met"))
    return out


def draw_chart(chart, path):
    data = path[:-4] + ".dat"
    with open(data, "w") as f:
        for label, value in chart:
            f.write('"%s" %.4f\n' % (label, value))
    top = max([v for _, v in chart] + [2]) * 3
    bottom = min([v for _, v in chart] + [0.5]) / 3
    script = """
set terminal pngcairo size 1000,520 font "sans,10"
set output '{png}'
set title "OrvImapS / Dovecot, time ratio per operation (log scale; below 1, green: OrvImapS is faster)"
set style fill solid 0.85 border -1
set boxwidth 0.6
set logscale y
set yrange [{bottom}:{top}]
set xrange [-0.7:{right}]
set grid ytics
set xtics rotate by -30
set key off
set ylabel "ours / Dovecot"
plot '{dat}' using 0:2:($2 > 1 ? 0xcc4444 : 0x44aa77):xtic(1) with boxes linecolor rgb variable, \\
     1 with lines linecolor rgb "#333333" dashtype 2 linewidth 1.5, \\
     '{dat}' using 0:($2*1.3):(sprintf("%.2f",$2)) with labels
""".format(png=path, dat=data, top=top, bottom=bottom, right=len(chart) - 0.3)
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def scaling_table(measured, folders):
    """Rows of (messages, then milliseconds or None: ours and Dovecot for each of SCALED)."""
    rows = []
    for name in SCALING:
        row = [folders[name][0]]
        for key, _ in SCALED:
            for who in ("ours", "Dovecot"):
                result = (measured.get(who) or {}).get("%s_%s" % (key, name), {})
                row.append(result["seconds"] * 1000 if "seconds" in result else None)
        rows.append(row)
    return rows


def draw_scaling(rows, path):
    """Time against the folder's size, log-log: a line of slope 1 is a cost that grows in
    proportion to the messages; the dotted line is one microsecond per message."""
    data = path[:-4] + ".dat"
    with open(data, "w") as f:
        f.write("# messages, then ms: SELECT ours, SELECT Dovecot, "
                "UID FETCH 1:* (UID FLAGS) ours, the same Dovecot\n")
        for row in rows:
            f.write(" ".join("?" if v is None else "%.4f" % v if i else "%d" % v
                             for i, v in enumerate(row)) + "\n")
    times = [v for row in rows for v in row[1:] if v]
    if not times:
        return
    script = """
set terminal pngcairo size 1000,560 font "sans,10"
set output '{png}'
set title "Time against the folder's size (log-log; dotted: one microsecond per message)"
set datafile missing "?"
set logscale xy
set xrange [{left}:{right}]
set yrange [{bottom}:{top}]
set grid xtics ytics mxtics mytics
set format x "%.0s%c"
set xlabel "messages in the folder"
set ylabel "time (ms)"
set key top left
plot '{dat}' using 1:2 with linespoints linecolor rgb "#2a8a5a" linewidth 2 pointtype 7 \\
         title "SELECT, OrvImapS", \\
     '{dat}' using 1:3 with linespoints linecolor rgb "#2a8a5a" linewidth 2 pointtype 6 \\
         dashtype 2 title "SELECT, Dovecot", \\
     '{dat}' using 1:4 with linespoints linecolor rgb "#c05030" linewidth 2 pointtype 5 \\
         title "UID FETCH 1:* (UID FLAGS), OrvImapS", \\
     '{dat}' using 1:5 with linespoints linecolor rgb "#c05030" linewidth 2 pointtype 4 \\
         dashtype 2 title "UID FETCH 1:* (UID FLAGS), Dovecot", \\
     x / 1000.0 with lines linecolor rgb "#888888" dashtype 3 notitle
""".format(png=path, dat=data, left=rows[0][0] / 2, right=rows[-1][0] * 2,
           bottom=min(times + [rows[0][0] / 1000.0]) / 3,
           top=max(times + [rows[-1][0] / 1000.0]) * 3)
    subprocess.run(["gnuplot"], input=script, text=True, check=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", required=True, help="the build directory (bin/ inside)")
    parser.add_argument("--cache", default=os.environ.get("ORV_BENCH_CACHE",
                                                          "/var/tmp/orv-bench"))
    parser.add_argument("--results", default=os.path.join(HERE, "results"))
    parser.add_argument("--smoke", action="store_true",
                        help="small store, our server only, a few seconds; exit 1 on a fault")
    parser.add_argument("--ours-only", action="store_true")
    parser.add_argument("--extended", action="store_true",
                        help="serve in the plug-in's extended mode (Server/Extended=1)")
    parser.add_argument("--limit", type=float, default=60,
                        help="seconds after which a command is cut and its time extrapolated")
    parser.add_argument("--no-scaling", dest="scaling", action="store_false",
                        help="leave out how cost grows (and the folder of a million messages)")
    args = parser.parse_args()
    args.clients = 10 if args.smoke else 100
    args.seconds = 2 if args.smoke else 20
    if args.smoke:
        args.limit = min(args.limit, 20)
    ours_only = args.smoke or args.ours_only
    bindir = os.path.join(os.path.abspath(args.build), "bin")

    started = time.monotonic()
    store = prepare_store(args, bindir)
    if args.scaling:
        add_folder(args, store, "huge")
    folders = read_folders(store)
    tmp = tempfile.mkdtemp(prefix="orv-bench-")
    os.chmod(tmp, 0o755)  # Dovecot's processes read their files in it under their own users
    try:
        loop = json.loads(subprocess.run([os.path.join(bindir, "imap_load"), "loopback",
                                          "--seconds", "1" if args.smoke else "3"],
                                         stdout=subprocess.PIPE, text=True).stdout)
        loopback = loop["mb_per_s"]
        log("loopback: %.0f MB/s" % loopback)
        measured = {}
        servers = [OurServer(bindir, store, tmp, args.extended)]
        if not ours_only:
            servers.append(Dovecot(store, tmp))
        dovecot_version = "(not run)"
        args.loads = []
        for server in servers:
            with open("/proc/loadavg") as f:
                args.loads.append((server.name, f.read().split()[0]))
            log("%s on port %d" % (server.name, server.port))
            server.start()
            try:
                if isinstance(server, Dovecot):
                    dovecot_version = server.version()
                measured[server.name] = measure_server(server, Client(bindir, server, args.limit),
                                                       folders, args)
            finally:
                server.stop()
                server.drop_folder(RESYNC)
        log("full downloads of 'large', the servers in turns")
        for name, result in downloads_in_turns(servers, bindir, folders, args).items():
            measured[name]["download"] = result
        text, chart = report(measured["ours"], measured.get("Dovecot"), loopback, folders,
                             dovecot_version, args)
        log("")
        sys.stdout.write(text)
        log("(%.0f s in all)" % (time.monotonic() - started))
        faults = [line for line in text.splitlines() if line.startswith("note: ") and
                  "cut after" not in line]
        if args.smoke:
            return 1 if faults or measured["ours"]["sessions"]["errors"] else 0
        os.makedirs(args.results, exist_ok=True)
        with open(os.path.join(args.results, "latest.txt"), "w") as f:
            f.write(text)
        with open(os.path.join(args.results, "latest.json"), "w") as f:
            json.dump({"loopback_mb_per_s": loopback, "folders": folders,
                       "results": measured}, f, indent=1)
        if chart:
            draw_chart(chart, os.path.join(args.results, "ratios.png"))
            log("chart: %s" % os.path.join(args.results, "ratios.png"))
        if args.scaling:
            draw_scaling(scaling_table(measured, folders),
                         os.path.join(args.results, "scaling.png"))
            log("chart: %s" % os.path.join(args.results, "scaling.png"))
        return 0
    finally:
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
