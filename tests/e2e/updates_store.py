"""A folder of the host's store that a test changes while a client has it selected, written the
way the host writes it: the ".orv" file first, then "Entry.lst", then "Total" in "Entry.ini",
each file replaced whole so a server reading at the same moment sees the old or the new one."""

import base64
import os
import struct

STATUS_UNREAD = 0x40000000
STATUS_ANSWERED = 0x20000000
STATUS_DELETED = 0x00020000

INBOX_TITLE = "受信トレイ".encode("cp932")


def _replace(path, data):
    partial = path + ".part"
    with open(partial, "wb") as f:
        f.write(data)
    os.replace(partial, path)


def _message(name, status):
    return (b"X-Orvex-Status: %08X\r\nSubject: message %s\r\n\r\nbody of %s\r\n" %
            (status, name.encode(), name.encode()))


class Folder:
    """One folder directory; messages are (file name, status) in "Entry.lst" order."""

    def __init__(self, directory, title=INBOX_TITLE, validity=None):
        self.directory = directory
        self.title = title
        self.messages = []
        os.makedirs(directory, exist_ok=True)
        if validity is not None:
            _replace(os.path.join(directory, "Imap4.ini"), b"[IMAP4]\r\nUID=%d\r\n" % validity)
        self._write_index()

    def _write_index(self):
        lines = b""
        for name, status in self.messages:
            size = os.path.getsize(os.path.join(self.directory, name + ".orv"))
            record = struct.pack("<III", status, size, 1000000000)
            lines += name.encode() + b"=" + base64.b64encode(record) + b"\r\n"
        _replace(os.path.join(self.directory, "Entry.lst"), lines)
        _replace(os.path.join(self.directory, "Entry.ini"),
                 b"[Property]\r\nTitle=" + self.title + b"\r\nTotal=%d\r\n" % len(self.messages))

    def add(self, name, status=STATUS_UNREAD):
        _replace(os.path.join(self.directory, name + ".orv"), _message(name, status))
        self.messages.append((name, status))
        self._write_index()

    def remove(self, *names):
        self.messages = [m for m in self.messages if m[0] not in names]
        self._write_index()
        for name in names:
            os.remove(os.path.join(self.directory, name + ".orv"))

    def set_status(self, name, status):
        self.messages = [(n, status if n == name else s) for n, s in self.messages]
        self._write_index()
