"""The store every client test starts from: one user's Japanese folders and messages in the
host's Shift_JIS form, described once here (in Unicode) so the tests can check what a client
downloads against what the store holds, by content."""

import base64
import hashlib
import os
import sys

# The end-to-end tests' harness is shared.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "e2e"))

from harness import ANSWERED, DRAFT, UNREAD, StoreTree, sjis, uid_of  # noqa: E402

USER = "user1"
PASSWORD = "secret"


def jis_x0208_prefix(text):
    """The text before its first character beyond ASCII and JIS X 0208 (what ISO-2022-JP
    carries); all of it when it has none."""
    for at, char in enumerate(text):
        try:
            char.encode("iso2022_jp")
        except UnicodeEncodeError:
            return text[:at]
    return text


class Folder:
    """A folder: its directory path under the mail root, its title, the name a client sees
    (the title; the inbox is INBOX), and UIDVALIDITY kept in its own Imap4.ini. A bare folder
    is a directory without Entry.ini."""

    def __init__(self, path, title, name, uid_validity, type=None, bare=False):
        self.path = path
        self.title = title
        self.name = name
        self.uid_validity = uid_validity
        self.type = type
        self.bare = bare


INBOX = Folder("inbox.box", "受信トレイ", "INBOX", 3001)
WORK = Folder("work.box", "仕事", "仕事", 3002, type="Subfolder")
REPORTS = Folder("work.box/reports.box", "報告書", "仕事/報告書", 3003)
OUTBOX = Folder("outbox.box", "送信箱", "送信箱", 3004)
FOLDERS = [INBOX, WORK, REPORTS, OUTBOX]
# What the demo store has besides, for a migration of a whole store: a folder whose Entry.ini
# names no title and a bare one, both seen by their directory names in the extended mode.
UNTITLED = Folder("archive", None, "archive", 3005)
BARE = Folder("backup", None, "backup", 3006, bare=True)
DEMO_FOLDERS = FOLDERS + [UNTITLED, BARE]


class Original:
    """One message of the store: where it lies, its status word, and the text a reader must
    see: subject, From display name and address, the body text of its first text part (line
    ends as LF) and, for an attachment, its file name and bytes."""

    def __init__(self, folder, name, status, subject, from_name, from_addr, body,
                 attachment=None, line_end="\r\n", header_only=False, extra_headers=""):
        self.folder = folder
        self.name = name
        self.status = status
        self.subject = subject
        self.from_name = from_name
        self.from_addr = from_addr
        self.body = body
        self.attachment = attachment  # (file name, bytes) or None
        self.line_end = line_end
        self.header_only = header_only
        self.extra_headers = extra_headers

    @property
    def uid(self):
        return uid_of(self.name)

    @property
    def seen(self):
        return not self.status & UNREAD

    @property
    def beyond_jis(self):
        """Whether any of its text holds a character that ISO-2022-JP has no place for."""
        texts = [self.subject, self.from_name, self.body]
        texts += [self.attachment[0]] if self.attachment is not None else []
        return any(jis_x0208_prefix(text) != text for text in texts)

    @property
    def message_id(self):
        return "<%s.%s@store.example.jp>" % (self.folder.path.replace("/", "."), self.name)

    def from_field(self):
        """The From field as the host keeps it: a display name that needs quoting is quoted."""
        if any(c in self.from_name for c in '"\\,<>@:;()'):
            quoted = self.from_name.replace("\\", "\\\\").replace('"', '\\"')
            return '"%s" <%s>' % (quoted, self.from_addr)
        return "%s <%s>" % (self.from_name, self.from_addr)

    def text(self):
        """The message as the host keeps it (without its status line), in Shift_JIS."""
        header = ("From: %s\nTo: %s <%s@example.jp>\nSubject: %s\n"
                  "Date: Mon, 03 Mar 2025 10:15:00 +0900\nMessage-ID: %s\nMIME-Version: 1.0\n" %
                  (self.from_field(), USER, USER, self.subject, self.message_id))
        header += self.extra_headers
        text_part = ("Content-Type: text/plain; charset=ISO-2022-JP\n"
                     "Content-Transfer-Encoding: 7bit\n")
        if self.header_only:
            data = sjis(header + text_part)
        elif self.attachment is None:
            data = sjis(header + text_part + "\n" + self.body)
        else:
            file_name, content = self.attachment
            encoded = base64.b64encode(content).decode()
            lines = "".join(encoded[i:i + 76] + "\n" for i in range(0, len(encoded), 76))
            data = sjis(header + 'Content-Type: multipart/mixed; boundary="part-boundary"\n\n'
                        "This is a multi-part message in MIME format.\n\n"
                        "--part-boundary\n" + text_part + "\n" + self.body + "\n"
                        "--part-boundary\n"
                        'Content-Type: application/octet-stream; name="%s"\n'
                        "Content-Transfer-Encoding: base64\n"
                        'Content-Disposition: attachment; filename="%s"\n\n' %
                        (file_name, file_name)) + lines.encode() + b"\n--part-boundary--\n"
        if self.line_end == "\r\n":
            data = data.replace(b"\n", b"\r\n")
        return data


def _estimate():
    return sjis("品名,数量,単価\r\nIMAPサーバー導入,1,50000\r\n設定作業,2,15000\r\n")


def _large_attachment():
    """About 2.3 MB of bytes that do not compress, made the same way every time."""
    out, seed = [], b"orvex"
    while sum(len(b) for b in out) < 2300000:
        seed = hashlib.sha256(seed).digest()
        out.append(seed * 32)
    return b"".join(out)[:2300000]


MESSAGES = [
    Original(INBOX, "AAAA0001", UNREAD, "打ち合わせの件", "山田 太郎", "yamada@example.jp",
             "ユーザー様\n\n来週の打ち合わせは水曜日の午後二時からです。\n"
             "場所は第三会議室を予約してあります。\n\n山田\n"),
    # Text beyond JIS X 0208 in every field: IBM extension kanji (kept as the host keeps them,
    # 0xFA40-0xFC4B), the NEC special row, half-width katakana and a user-defined code.
    Original(INBOX, "AAAA0002", ANSWERED, "見積書を送付します 髙橋様 Ⅱ期① ㈱ｶﾀｶﾅ\ue000",
             "山﨑 花子 ㈱ｶﾀｶﾅ\ue000", "yamazaki@example.jp",
             "髙橋様\n\nいつもお世話になっております。㈱ｶﾀｶﾅの山﨑です。\n"
             "Ⅱ期分の見積書①を添付いたします。\ue000\n",
             attachment=("見積書_德永Ⅱ期①ｶﾅ\ue000.csv", _estimate())),
    Original(INBOX, "AAAA0003", UNREAD, "本文のないお知らせ", "システム管理者",
             "admin@example.jp", "", header_only=True),
    Original(INBOX, "AAAA0004", 0, "改行がLFだけのメール", "田中 次郎", "tanaka@example.jp",
             "このメールの行末はLFだけです。\n二行目です。\n", line_end="\n"),
    Original(INBOX, "AAAA0005", UNREAD, "大きな添付ファイル", "高橋 三郎",
             "takahashi@example.jp", "大きなファイルを添付します。\n",
             attachment=("データ.bin", _large_attachment())),
    Original(INBOX, "AAAA0006", UNREAD, '「"至急"」 "確認" のお願い', '鈴木 "スズキ" 一郎',
             "suzuki@example.jp", "引用符の入った件名と差出人のメールです。\n"),
    Original(INBOX, "AAAB0001", 0, "Lunch on Friday?", "Alice Walker", "alice@example.com",
             "Are you free for lunch on Friday?\n"),
    Original(WORK, "AAAA0001", 0, "週次報告", "鈴木 一郎", "suzuki@example.jp",
             "今週の作業は予定どおり終わりました。\n"),
    Original(REPORTS, "AAAA0001", UNREAD, "月次報告書", "伊藤 四郎", "ito@example.jp",
             "今月の報告書です。\n売上は前月より増えました。\n"),
    Original(UNTITLED, "AAAA0001", DRAFT, "書きかけの返事", "ユーザー", "user1@example.jp",
             "お問い合わせの件、下書きです。\n"),
]

# Each file line of the large message is converted separately; the big one is the fifth.
LARGE = MESSAGES[4]
BEYOND_JIS = MESSAGES[1]
QUOTED = MESSAGES[5]
PLAIN = MESSAGES[0]


def in_folder(folder):
    return [m for m in MESSAGES if m.folder is folder]


def find(folder, uid):
    for m in MESSAGES:
        if m.folder is folder and m.uid == uid:
            return m
    return None


def find_by_id(message_id):
    for m in MESSAGES:
        if m.message_id == message_id:
            return m
    return None


def build(mailbox_path, folders=FOLDERS):
    """Writes the folders of USER into the mailbox directory; returns the StoreTree."""
    tree = StoreTree(mailbox_path, USER)
    for folder in folders:
        tree.folder(folder.path, title=folder.title, type=folder.type,
                    uid_validity=folder.uid_validity, entry_ini=not folder.bare,
                    messages=[(m.name, m.status, m.text()) for m in in_folder(folder)])
    return tree
