#!/usr/bin/env python3
"""Writes the benchmark's mail twice, from one fixed seed:

- store/: the host's mailbox directory with the user "bench" (mail root bench/), in the form
  the host keeps: folder directories with Entry.ini, Imap4.ini (a fixed UIDVALIDITY), Entry.lst
  (NAME=base64 of status, size and time, 32-bit little-endian words) and Shift_JIS message
  files that begin with the host's status line;
- maildir/Maildir/: the same messages as the server hands them to a client (header lines with
  ISO-2022-JP encoded words, bodies in ISO-2022-JP, CR LF line ends), one file each, with the
  size in the file name so that the other server need not stat them.

Folders (mailbox name: contents):
  INBOX  10,000 realistic messages of 2-50 KB, Japanese and English, some multipart with
         attachments (envelope and body structure work, the session loop)
  big    100,000 small messages (index work)
  large  about 1 GB of messages up to 5 MB (full download)
  mark   10,000 small unread messages (marking them read)
  few    10,000 small messages  \ with big: how the cost of the index work grows
  huge   1,000,000 small messages / with the size of the folder

Every other message is read. A folder of more than PART messages is written in parts by as
many processes as there are cores. "huge" is made only when named: the runner adds it to a
store made before, the first time it is needed. The account file and the settings are left
to the runner, which makes them with the setup tool.

Usage: make_store.py OUT [--smoke] [--only NAME,...]
"""

import base64
import datetime
import multiprocessing
import os
import random
import re
import struct
import sys

SEED = 20250310
READ = 0
UNREAD = 0x40000000

# name: (directory, title, UIDVALIDITY, messages, size kind)
FULL = {
    "INBOX": ("inbox.box", "受信トレイ", 1001, 10000, "real"),
    "big": ("big.box", "big", 1002, 100000, "small"),
    "large": ("large.box", "large", 1003, 1000 * 1000 * 1000, "large"),
    "mark": ("mark.box", "mark", 1004, 10000, "small"),
    "few": ("few.box", "few", 1005, 10000, "small"),
    "huge": ("huge.box", "huge", 1006, 1000000, "small"),
}
SMOKE = {
    "INBOX": ("inbox.box", "受信トレイ", 1001, 300, "real"),
    "big": ("big.box", "big", 1002, 2000, "small"),
    "large": ("large.box", "large", 1003, 4 * 1000 * 1000, "large"),
    "mark": ("mark.box", "mark", 1004, 300, "small"),
    "few": ("few.box", "few", 1005, 500, "small"),
    "huge": ("huge.box", "huge", 1006, 5000, "small"),
}
# Made only when asked for by name (--only), into a store made before.
ON_DEMAND = {"huge"}

# ---------------------------------------------------------------------------------------------
# The server's conversions into client form, byte for byte: body runs of double-byte
# characters become ISO-2022-JP segments; header runs (double-byte characters and the blanks
# between and after them) become one "=?ISO-2022-JP?B?...?=" word each.

LEAD = rb"[\x81-\x9f\xe0-\xfc]"
TRAIL = rb"[\x40-\x7e\x80-\xfc]"
BODY_SEGMENT = re.compile(LEAD + rb"[\x00-\xff](?:" + LEAD + rb"[\x00-\xff])*")
HEADER_RUN = re.compile(LEAD + TRAIL + rb"(?:" + LEAD + TRAIL + rb"| )*")
_jis_codes = {}


def jis_code(pair):
    code = _jis_codes.get(pair)
    if code is None:
        s1, s2 = pair[0], pair[1]
        if s1 >= 0xF0:
            code = bytes((s1, s2))
        else:
            b = s1 - 0x70 if s1 < 0xA0 else s1 - 0xB0
            t = s2 - 1 if s2 >= 0x80 else s2
            code = bytes((2 * b, t - 0x7D)) if t >= 0x9E else bytes((2 * b - 1, t - 0x1F))
        _jis_codes[pair] = code
    return code


_segments = {}


def _segment(match):
    # Messages draw their text from a few sentences, so the same runs come back again and
    # again: each is converted once.
    run = match.group(0)
    segment = _segments.get(run)
    if segment is None:
        segment = (b"\x1b$B" + b"".join(jis_code(run[i:i + 2]) for i in range(0, len(run), 2))
                   + b"\x1b(B")
        if len(_segments) < 1 << 18:
            _segments[run] = segment
    return segment


def to_jis(sjis):
    return BODY_SEGMENT.sub(_segment, sjis)


def _word(match):
    return b"=?ISO-2022-JP?B?" + base64.b64encode(to_jis(match.group(0))) + b"?="


def encode_words(sjis):
    return HEADER_RUN.sub(_word, sjis)


# ---------------------------------------------------------------------------------------------
# Text to draw from.

JA_SENTENCES = [
    "いつもお世話になっております。", "先日の打ち合わせの件でご連絡いたします。",
    "資料を添付いたしますので、ご確認ください。", "来週の会議は水曜日の午後二時からに変更となりました。",
    "ご不明な点がございましたら、お気軽にお問い合わせください。", "お手数ですが、金曜日までにご返信をお願いいたします。",
    "見積書の内容について、いくつか質問があります。", "新しいサーバーの導入作業は予定どおり進んでいます。",
    "本日の作業報告をお送りします。", "障害の原因は設定ファイルの記述誤りでした。",
    "次回のリリースは来月の第二週を予定しています。", "出張の日程が決まりましたのでお知らせします。",
    "会議室の予約を変更しました。", "請求書の送付先が変わりましたのでご注意ください。",
    "テストの結果、三件の不具合が見つかりました。", "修正版を共有フォルダーに置きました。",
    "お客様からの問い合わせに回答しました。", "明日は午前中に外出しますので、午後にご連絡ください。",
    "年末年始の営業日についてご案内いたします。", "アンケートへのご協力をお願いいたします。",
    "研修の参加者名簿を更新しました。", "予算案の第二版をまとめました。",
    "新製品の発表会は東京と大阪で開催されます。", "システムの定期保守のため、土曜日の夜に停止します。",
    "ご意見をいただければ幸いです。", "引き続きよろしくお願いいたします。",
    "検討の結果、案Ｂで進めることになりました。", "納期について調整させていただけますでしょうか。",
    "議事録を作成しましたので、内容をご確認ください。", "担当者が変更になりましたのでご挨拶申し上げます。",
]
EN_SENTENCES = [
    "Thanks for the quick reply.", "Please find the updated schedule below.",
    "The build passed on all platforms this morning.", "Could you review the attached draft by Friday?",
    "We moved the meeting to Wednesday at 2 pm.", "Let me know if anything is unclear.",
    "The server migration finished without problems.", "I have added the figures for the third quarter.",
    "Our team will be out of office next Monday.", "The customer asked for a revised estimate.",
    "Here is a short summary of yesterday's discussion.", "I will send the minutes after lunch.",
    "The new release fixes the reported crash.", "Please update the wiki page when you are done.",
    "We still need two volunteers for the workshop.", "The invoice was sent to the new address.",
    "Tickets for the conference are now available.", "I pushed the fix to the main branch.",
    "The test suite takes about ten minutes now.", "Looking forward to seeing you in Osaka.",
]
JA_SUBJECTS = ["打ち合わせの件", "資料送付のお知らせ", "見積書について", "作業報告", "会議日程の変更",
               "障害報告", "リリースのご案内", "出張のご連絡", "請求書送付", "議事録の共有",
               "新製品発表会のご案内", "定期保守のお知らせ", "予算案の確認", "研修のご案内"]
EN_SUBJECTS = ["Weekly status", "Meeting notes", "Build report", "Quarterly figures",
               "Lunch on Friday?", "Release checklist", "Conference tickets", "Invoice",
               "Draft for review", "Server migration", "Workshop volunteers", "Travel plans"]
JA_PEOPLE = [("山田 太郎", "yamada"), ("佐藤 花子", "sato"), ("鈴木 一郎", "suzuki"),
             ("高橋 美咲", "takahashi"), ("田中 健", "tanaka"), ("伊藤 さくら", "ito"),
             ("渡辺 大輔", "watanabe"), ("中村 由美", "nakamura")]
EN_PEOPLE = [("Alice Walker", "alice"), ("Bob Tanaka", "bob"), ("Carol Smith", "carol"),
             ("David Lee", "david"), ("Emma Brown", "emma"), ("Frank Miller", "frank")]
ATTACHMENTS = [("application/pdf", "report.pdf"), ("image/jpeg", "photo.jpg"),
               ("image/png", "chart.png"), ("application/zip", "logs.zip"),
               ("application/vnd.ms-excel", "figures.xls")]

CRLF = b"\r\n"


def sjis(text):
    return text.encode("cp932")


def wrap(words, width):
    """Lines of at most about width characters from a list of sentences."""
    lines, line = [], ""
    for w in words:
        if line and len(line) + len(w) > width:
            lines.append(line)
            line = ""
        line += w if not line or line.endswith(("。", "、")) else " " + w
    if line:
        lines.append(line)
    return lines


class Piece:
    """A piece of a message body: Shift_JIS bytes, and whether they may hold double-byte
    text (only those go through the conversion, so attachments are not scanned)."""

    def __init__(self, data, text):
        self.data = data
        self.text = text


class MessageMaker:
    """Makes messages of a target size from one random generator."""

    def __init__(self, rng, start, step=900):
        self.rng = rng
        self.time = start
        self.step = step

    def text_body(self, japanese, size):
        rng = self.rng
        lines = []
        total = 0
        while total < size:
            sentences = [rng.choice(JA_SENTENCES if japanese else EN_SENTENCES)
                         for _ in range(rng.randint(2, 6))]
            for line in wrap(sentences, 36 if japanese else 72):
                data = sjis(line)
                lines.append(data)
                total += len(data) + 2
            lines.append(b"")
            total += 2
        return CRLF.join(lines) + CRLF

    def attachment(self, size):
        raw = self.rng.randbytes(max(1, size * 3 // 4))
        return base64.encodebytes(raw).replace(b"\n", CRLF)

    def header(self, japanese, content_type, index):
        rng = self.rng
        self.time += rng.randint(1, self.step)
        date = datetime.datetime.fromtimestamp(self.time, datetime.timezone(
            datetime.timedelta(hours=9 if japanese else 0)))
        people = JA_PEOPLE if japanese else EN_PEOPLE
        name, user = rng.choice(people)
        subject = rng.choice(JA_SUBJECTS if japanese else EN_SUBJECTS)
        if rng.random() < 0.3:
            subject = "Re: " + subject
        stamp = date.strftime("%a, %d %b %Y %H:%M:%S %z")
        domain = "example.jp" if japanese else "example.com"
        lines = []
        for hop in range(rng.randint(1, 3)):
            lines.append("Received: from mx%d.%s (mx%d.%s [192.0.2.%d])" %
                         (hop + 1, domain, hop + 1, domain, 10 + hop))
            lines.append("\tby mail.example.jp with ESMTP id %08X; %s" %
                         (rng.getrandbits(32), stamp))
        lines.append("From: %s <%s@%s>" % (name, user, domain))
        lines.append("To: bench <bench@example.jp>")
        if rng.random() < 0.3:
            cc = rng.sample(people, 2)
            lines.append("Cc: %s <%s@%s>, %s <%s@%s>" %
                         (cc[0][0], cc[0][1], domain, cc[1][0], cc[1][1], domain))
        lines.append("Subject: " + subject)
        lines.append("Date: " + stamp)
        lines.append("Message-ID: <%s.%d@%s>" % (date.strftime("%Y%m%d%H%M%S"), index, domain))
        if subject.startswith("Re: "):
            lines.append("In-Reply-To: <%d.%d@%s>" % (self.time - 3600, index, domain))
        if rng.random() < 0.4:
            lines.append("X-Mailer: Orvex 3.1")
        lines.append("MIME-Version: 1.0")
        lines.extend(content_type)
        return sjis("\r\n".join(lines) + "\r\n")

    @staticmethod
    def text_type(japanese):
        return ["Content-Type: text/plain; charset=%s" % ("ISO-2022-JP" if japanese else
                                                          "us-ascii"),
                "Content-Transfer-Encoding: 7bit"]

    def message(self, index, size, allow_multipart=True):
        """(header, [Piece], unix time) of a message of about size bytes."""
        rng = self.rng
        japanese = rng.random() < 0.6
        boundary = "=_bench_%08x" % rng.getrandbits(32)
        roll = rng.random() if allow_multipart else 1.0
        if size > 64 * 1024 or roll < 0.2:
            # Mixed: a text part and one or two attachments that fill the size.
            text_size = min(size // 4, rng.randint(400, 4000))
            count = 1 if size < 8192 or rng.random() < 0.7 else 2
            head = self.header(japanese, ['Content-Type: multipart/mixed; boundary="%s"' %
                                          boundary], index)
            pieces = [Piece(b"This is a multi-part message in MIME format.\r\n\r\n--" +
                            boundary.encode() + CRLF, False),
                      Piece(sjis("\r\n".join(self.text_type(japanese))) + CRLF + CRLF +
                            self.text_body(japanese, text_size), True)]
            left = max(256, size - len(head) - text_size - 400)
            for n in range(count):
                kind, name = rng.choice(ATTACHMENTS)
                part = (b"\r\n--" + boundary.encode() + CRLF +
                        ("Content-Type: %s; name=\"%s\"\r\n"
                         "Content-Transfer-Encoding: base64\r\n"
                         "Content-Disposition: attachment; filename=\"%s\"\r\n\r\n" %
                         (kind, name, name)).encode())
                pieces.append(Piece(part + self.attachment(left // count), False))
            pieces.append(Piece(b"\r\n--" + boundary.encode() + b"--\r\n", False))
        elif roll < 0.35:
            # Alternative: plain text and the same text as HTML.
            body = self.text_body(japanese, max(200, size // 2 - 300))
            html = (b"<html><body>\r\n" +
                    b"".join(b"<p>" + line + b"</p>\r\n" for line in body.split(CRLF) if line) +
                    b"</body></html>\r\n")
            charset = b"ISO-2022-JP" if japanese else b"us-ascii"
            head = self.header(japanese, ['Content-Type: multipart/alternative; boundary="%s"' %
                                          boundary], index)
            b = boundary.encode()
            pieces = [Piece(b"--" + b + CRLF + sjis("\r\n".join(self.text_type(japanese))) +
                            CRLF + CRLF + body + b"\r\n--" + b +
                            b"\r\nContent-Type: text/html; charset=" + charset +
                            b"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + html +
                            b"\r\n--" + b + b"--\r\n", True)]
        else:
            head = self.header(japanese, self.text_type(japanese), index)
            pieces = [Piece(self.text_body(japanese, max(100, size - len(head))), True)]
        return head, pieces, self.time


def sizes(kind, count, rng):
    """The target sizes of a folder; for "large", count is the total of bytes."""
    if kind == "small":
        return [rng.randint(800, 3000) for _ in range(count)]
    if kind == "real":
        return [int(2048 * (25 ** rng.random())) for _ in range(count)]
    out, total = [], 0
    while total < count:
        size = min(5 * 1000 * 1000, int(4096 * (1200 ** rng.random())))
        out.append(size)
        total += size
    return out


WRITE_FLAGS = os.O_WRONLY | os.O_CREAT | os.O_TRUNC | getattr(os, "O_CLOEXEC", 0)


def write(path, data, mtime=None):
    # Unbuffered and unsynced: a million small files are written in a few minutes.
    fd = os.open(path, WRITE_FLAGS, 0o644)
    try:
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view):]
        if mtime is not None:
            os.utime(fd, (mtime, mtime))
    finally:
        os.close(fd)


def uid_name(uid):
    letters, number = divmod(uid, 10000)
    name = ""
    for _ in range(4):
        letters, v = divmod(letters, 26)
        name = chr(ord("A") + v) + name
    return "%s%04d" % (name, number)


# The messages one process writes: a folder larger than this is made in parts, side by side.
PART = 100000
# Message times stay below 2038: the host keeps them in 32 bits.
LAST_TIME = 2 ** 31 - 1


def folder_dirs(out, name, directory):
    """The folder's directory in the host's store and its Maildir."""
    mail_dir = os.path.join(out, "maildir", "Maildir")
    if name != "INBOX":
        mail_dir = os.path.join(mail_dir, "." + name)
    return os.path.join(out, "store", "bench", directory), mail_dir


def make_part(out, name, spec, folder_index, part):
    """Writes messages part * PART + 1 ... of a folder (all of them for a folder of one part);
    returns their Entry.lst lines, their bytes in client form and their number."""
    directory, _, _, count, kind = spec
    host_dir, mail_dir = folder_dirs(out, name, directory)
    seed = SEED * 10 + folder_index
    rng = random.Random(seed if part == 0 else seed * 1000 + part)
    start = 1600000000 + folder_index * 10000000
    step = 900 if kind == "large" else max(1, min(900, (LAST_TIME - start) // count))
    maker = MessageMaker(rng, start + part * PART * step, step)
    status = UNREAD if name == "mark" else READ
    flags = "" if status == UNREAD else "S"
    first = part * PART
    targets = sizes(kind, count if kind == "large" else min(PART, count - first), rng)
    index = []
    total_bytes = 0
    for i, size in enumerate(targets):
        uid = first + i + 1
        head, pieces, when = maker.message(uid, size, kind != "small" or rng.random() < 0.1)
        stored = b"X-Orvex-Status: %08X\r\n" % status + head + CRLF + b"".join(
            p.data for p in pieces)
        client = encode_words(head) + CRLF + b"".join(
            to_jis(p.data) if p.text else p.data for p in pieces)
        file_name = uid_name(uid)
        write(os.path.join(host_dir, file_name + ".orv"), stored, when)
        index.append(file_name.encode() + b"=" + base64.b64encode(
            struct.pack("<III", status, len(stored), when)) + CRLF)
        write(os.path.join(mail_dir, "cur", "%d.M%dP%d.bench,S=%d,W=%d:2,%s" %
                           (when, uid, folder_index, len(client), len(client), flags)),
              client, when)
        total_bytes += len(client)
    return b"".join(index), total_bytes, len(targets)


def _make_part(job):
    return make_part(*job)


def make_folder(out, name, spec, folder_index):
    directory, title, uid_validity, count, kind = spec
    host_dir, mail_dir = folder_dirs(out, name, directory)
    for d in (host_dir, os.path.join(mail_dir, "cur"), os.path.join(mail_dir, "new"),
              os.path.join(mail_dir, "tmp")):
        os.makedirs(d, exist_ok=True)
    if name != "INBOX":
        write(os.path.join(mail_dir, "maildirfolder"), b"")
    parts = 1 if kind == "large" else (count + PART - 1) // PART
    jobs = [(out, name, spec, folder_index, part) for part in range(parts)]
    if parts == 1:
        made = [make_part(*jobs[0])]
    else:
        with multiprocessing.Pool(min(parts, os.cpu_count() or 1)) as pool:
            made = pool.map(_make_part, jobs, chunksize=1)
    messages = sum(m[2] for m in made)
    write(os.path.join(host_dir, "Entry.lst"), b"".join(m[0] for m in made))
    write(os.path.join(host_dir, "Entry.ini"),
          b"[Property]\r\nTitle=" + sjis(title) + b"\r\nTotal=%d\r\n" % messages)
    write(os.path.join(host_dir, "Imap4.ini"), b"[IMAP4]\r\nUID=%d\r\n" % uid_validity)
    return messages, sum(m[1] for m in made)


def read_made(out):
    """{mailbox name: line of folders.txt} of the folders made so far."""
    try:
        with open(os.path.join(out, "folders.txt")) as f:
            return {line.split()[0]: line.strip() for line in f if line.strip()}
    except FileNotFoundError:
        return {}


def main(argv):
    if len(argv) < 2 or argv[1].startswith("-"):
        sys.stderr.write(__doc__)
        return 2
    out = argv[1]
    options = argv[2:]
    folders = SMOKE if "--smoke" in options else FULL
    if "--only" in options and options.index("--only") + 1 < len(options):
        wanted = options[options.index("--only") + 1].split(",")
        unknown = [name for name in wanted if name not in folders]
        if unknown:
            sys.stderr.write("make_store.py: no folder %s\n" % ", ".join(unknown))
            return 2
    else:
        wanted = [name for name in folders if name not in ON_DEMAND]
    # What the runner checks the servers' answers against: messages and client bytes, kept
    # with the lines of the folders made before.
    lines = read_made(out)
    for n, (name, spec) in enumerate(folders.items()):
        if name not in wanted:
            continue
        messages, size = make_folder(out, name, spec, n + 1)
        lines[name] = "%s %d %d" % (name, messages, size)
        print("  %-6s %7d messages, %6.1f MB in client form" % (name, messages, size / 1e6),
              flush=True)
    write(os.path.join(out, "folders.txt"),
          "".join(lines[name] + "\n" for name in folders if name in lines).encode())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
