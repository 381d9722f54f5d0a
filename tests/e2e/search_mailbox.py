"""Helpers of the extended SEARCH end-to-end tests: a folder of message files written the way
the host keeps them, the setting that turns extended mode on, and a client that reads whole
lines and sends literals the way IMAP clients do (waiting for the continuation)."""

import base64
import calendar
import os
import struct

STATUS_UNREAD = 0x40000000
STATUS_ANSWERED = 0x20000000
STATUS_DELETED = 0x00020000


def enable_extended(mailbox):
    """Rewrites the mailbox's Imap4.ini with its port and Extended=1."""
    with open(mailbox.settings_path, "wb") as f:
        f.write(b"[Server]\r\nPortNo=%d\r\nExtended=1\r\n" % mailbox.port)


def utc(year, month, day, hour=0, minute=0, second=0):
    """Seconds since 1970 for a UTC time."""
    return calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))


def write_folder(mailbox_path, mail_root, messages, folder="inbox.box"):
    """Writes a folder as the host keeps it. messages: (file name, status word, message bytes,
    last-write time in UTC seconds) in index order."""
    directory = os.path.join(mailbox_path, mail_root, folder)
    os.makedirs(directory, exist_ok=True)
    index = b""
    for name, status, data, written in messages:
        path = os.path.join(directory, name + ".orv")
        with open(path, "wb") as f:
            f.write(b"X-Orvex-Status: %08X\r\n" % status + data)
        os.utime(path, (written, written))
        record = struct.pack("<III", status, len(data), written)
        index += name.encode() + b"=" + base64.b64encode(record) + b"\r\n"
    with open(os.path.join(directory, "Entry.lst"), "wb") as f:
        f.write(index)
    with open(os.path.join(directory, "Entry.ini"), "wb") as f:
        f.write(b"[Property]\r\nTitle=Inbox\r\nTotal=%d\r\n" % len(messages))
    with open(os.path.join(directory, "Imap4.ini"), "wb") as f:
        f.write(b"[IMAP4]\r\nUID=7\r\n")


class Literal:
    """Bytes a command sends as a literal."""

    def __init__(self, data):
        self.data = data


class LineClient:
    """Whole lines over a harness Client."""

    def __init__(self, client):
        self.client = client

    def line(self):
        data = b""
        while not data.endswith(b"\r\n"):
            byte = self.client.read(1)
            if not byte:
                raise AssertionError("the connection ended after %r" % data)
            data += byte
        return data

    def command(self, tag, *pieces):
        """Sends tag and the pieces (bytes, or Literal sent as "{n}" and then its bytes once the
        server asks for them); returns every line up to and including the tagged one."""
        pending = tag + b" "
        for piece in pieces:
            if isinstance(piece, Literal):
                self.client.send(pending + b"{%d}\r\n" % len(piece.data))
                answer = self.line()
                if not answer.startswith(b"+ "):
                    raise AssertionError("expected a continuation, got %r" % answer)
                pending = piece.data
            else:
                pending += piece
        self.client.send(pending + b"\r\n")
        lines = []
        while True:
            lines.append(self.line())
            if lines[-1].startswith(tag + b" "):
                return lines

    def ok(self, tag, *pieces):
        """command() that must end with OK; returns the untagged lines."""
        lines = self.command(tag, *pieces)
        if not lines[-1].startswith(tag + b" OK "):
            raise AssertionError("%r failed: %r" % (tag, lines))
        return lines[:-1]
