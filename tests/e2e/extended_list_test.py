"""LIST and LSUB of the extended mode, every response read by the independent reader: patterns
and references, CHILDREN attributes, LIST-EXTENDED options, LIST-STATUS, the selected state;
and the folders' unique names, which SELECT, STATUS, APPEND and COPY take, in both naming
modes and in UTF-8."""

import unittest

from fetch_fixtures import ImapClient
from harness import UNREAD, StoreTestCase, decode_mutf7, mutf7

NOINF, HAS, HASNO = (b"\\Noinferiors",), (b"\\HasChildren",), (b"\\HasNoChildren",)
SUB = b"\\Subscribed"
WORK = mutf7("仕事")
YEAR = WORK + b"/" + mutf7("2001年")
DEEP = YEAR + b"/" + mutf7("深い")
MEMO = WORK + b"/memo"
SPAM = b"INBOX/" + mutf7("迷惑")
SAME1, SAME2 = b"Same (same1.box)", b"Same (same2.box)"
# Every folder in the order LIST gives them, with its attributes; the unsubscribed ones.
TREE = [(NOINF, b"backup"), (HASNO, b"Empty"), (HAS, b"INBOX"), (NOINF, SPAM),
        (NOINF, mutf7("送信箱")), (NOINF, SAME1), (NOINF, SAME2), (NOINF, mutf7("a／b")),
        (HAS, WORK), (HAS, YEAR), (NOINF, DEEP), (NOINF, MEMO)]
UNSUBSCRIBED = {SPAM, WORK, YEAR}


def quoted(name):
    return b'"' + name.replace(b"\\", b"\\\\").replace(b'"', b'\\"') + b'"'


def text(n):
    return b"Subject: message %d\r\n\r\nbody %d\r\n" % (n, n)


class ListTestCase(StoreTestCase):
    """backup (no Entry.ini); Empty (Subfolder, empty); the inbox (Subfolder, 3 messages, 1
    unread) with 迷惑 (unsubscribed); the outbox; two folders titled Same; one titled a/b; 仕事
    (Subfolder, unsubscribed) with 2001年 (Subfolder, unsubscribed) holding 深い, and memo."""

    extended = True

    def setUp(self):
        super().setUp()
        s = self.store
        s.folder("backup", entry_ini=False)
        s.folder("empty.box", title="Empty", type="Subfolder")
        s.folder("inbox.box", title="受信トレイ", type="Subfolder", uid_validity=7, messages=[
            ("AAAA0001", 0, text(1)), ("AAAA0002", UNREAD, text(2)), ("AAAA0003", 0, text(3))])
        s.folder("inbox.box/spam.box", title="迷惑", subscribe=0)
        s.folder("outbox.box", title="Sent mail")
        s.folder("same1.box", title="Same", uid_validity=11, messages=[("AAAA0001", 0, text(4))])
        s.folder("same2.box", title="Same", uid_validity=12)
        s.folder("slash.box", title="a/b")
        s.folder("work.box", title="仕事", type="Subfolder", subscribe=0)
        s.folder("work.box/2001.box", title="2001年", type="Subfolder", subscribe=0,
                 uid_validity=9, messages=[("AAAA0001", UNREAD, text(5))])
        s.folder("work.box/2001.box/deep.box", title="深い")
        s.folder("work.box/misc.box", title="memo")
        self.host = self.start_store_host(check_stop=True)
        self.client = self.greeted(ImapClient)
        self.client.command(b"L1 LOGIN user1 secret")

    def listing(self, line, allow_8bit=False):
        """(attributes, name, extended data) of each LIST or LSUB line of a command that
        must succeed."""
        exchange = self.client.command(line, allow_8bit)
        self.assertEqual(exchange.tagged.status, b"OK", (line, exchange.raw))
        for e in exchange.lists:
            self.assertEqual((e.word, e.delimiter), (line.split()[1], b"/"))
        return [(tuple(e.attributes), e.name, e.extended) for e in exchange.lists]

    def use(self, name, allow_8bit=False):
        """SELECT and STATUS with a listed name; returns the folder's UIDVALIDITY."""
        exchange = self.client.command(b"s1 SELECT " + quoted(name), allow_8bit)
        self.assertEqual(exchange.tagged.status, b"OK", (name, exchange.raw))
        status = self.client.command(b"t1 STATUS " + quoted(name) + b" (UIDVALIDITY)", allow_8bit)
        self.assertEqual(status.statuses[0].name, name)
        return status.statuses[0].items[0][1]


class ListTest(ListTestCase):

    def test_patterns_references_and_lsub(self):
        tree = [(a, n, []) for a, n in TREE]

        def names(test):
            return [e for e in tree if test(e[1])]

        for arguments, expected in [
                (b'"" *', tree),
                (b'"" %', names(lambda n: b"/" not in n)),
                (b'"" "*/*"', names(lambda n: b"/" in n)),
                (b'&TtVOiw-/ %', names(lambda n: n in (YEAR, MEMO))),
                (b'&TtVOiw- *', names(lambda n: n.startswith(WORK))),  # 仕事* by the joined rule
                (b'"" ' + mutf7("*箱"), names(lambda n: n == mutf7("送信箱"))),  # characters
                (b'"" InBox/%', names(lambda n: n == SPAM)),
                (b'"&TtVOiw-/" ""', [((b"\\Noselect",), b"", [])])]:
            with self.subTest(arguments=arguments):
                self.assertEqual(self.listing(b"p1 LIST " + arguments), expected)
        # LSUB: subscribed folders, and with a final "%" the unsubscribed level above them.
        lsub = [(tuple(x for x in a if x in NOINF), n, []) for a, n in TREE
                if n not in UNSUBSCRIBED]
        self.assertEqual(self.listing(b'b1 LSUB "" *'), lsub)
        self.assertEqual(self.listing(b"b2 lsub &TtVOiw-/ %"),
                         [((b"\\Noselect",), YEAR, []), (NOINF, MEMO, [])])
        # Served in the selected state too.
        self.client.command(b"s1 SELECT INBOX")
        self.assertEqual(self.listing(b'b3 LSUB "" *'), lsub)

    def test_extended_options_and_status(self):
        marked = [(a + ((SUB,) if n not in UNSUBSCRIBED else ()), n, []) for a, n in TREE]
        self.assertEqual(self.listing(b'x1 LIST (SUBSCRIBED) "" *'),
                         [e for e in marked if e[1] not in UNSUBSCRIBED])
        childinfo = [(b"CHILDINFO", [b"SUBSCRIBED"])]
        self.assertEqual(self.listing(b"x2 LIST (REMOTE RECURSIVEMATCH SUBSCRIBED) &TtVOiw-/ % "
                                      b"RETURN (CHILDREN)"),
                         [(HAS, YEAR, childinfo), (NOINF + (SUB,), MEMO, [])])
        # Several patterns; a folder two of them match is listed once.
        self.assertEqual(self.listing(b'x3 LIST "" (INBOX inbox "&TtVOiw-/*") '
                                      b"RETURN (SUBSCRIBED)"),
                         [e for e in marked if e[1] == b"INBOX" or e[1].startswith(WORK + b"/")])
        # Each LIST line is followed by its folder's STATUS, as STATUS gives it.
        items = b"(MESSAGES UNSEEN UIDNEXT UIDVALIDITY RECENT)"
        exchange = self.client.command(b'x4 LIST "" * RETURN (STATUS ' + items + b")")
        listed, statuses = exchange.responses[0:-1:2], exchange.responses[1:-1:2]
        self.assertEqual([e.name for e in listed], [n for _, n in TREE])
        for entry, status in zip(listed, statuses):
            alone = self.client.command(b"t1 STATUS " + quoted(entry.name) + b" " + items)
            self.assertEqual((status.name, status.items), (entry.name, alone.statuses[0].items))
        self.assertEqual(dict(statuses[2].items), {b"MESSAGES": 3, b"UNSEEN": 1, b"UIDNEXT": 4,
                                                   b"UIDVALIDITY": 7, b"RECENT": 1})
        for line in (b'r1 LIST (RECURSIVEMATCH) "" *', b'r2 LIST (NOSUCH) "" *',
                     b'r3 LIST "" * RETURN (STATUS (MESSAGES FOO))', b'r4 LSUB "" (a b)',
                     b"r5 STATUS INBOX (MESSAGES FOO)", b'r6 LIST "" "*'):
            self.assertEqual(self.client.command(line).responses[0].status, b"BAD", line)


class NameTest(ListTestCase):

    def test_every_listed_name_names_its_own_folder(self):
        validities = {n: self.use(n) for _, n, _ in self.listing(b'n1 LIST "" *')}
        self.assertEqual((validities[SAME1], validities[SAME2], validities[YEAR]), (11, 12, 9))
        self.client.send(b"a1 APPEND " + quoted(SAME2) + b" {%d}\r\n" % len(text(7)))
        self.client.read_until(b"+ OK please give datas\r\n")
        self.client.send(text(7) + b"\r\n")
        self.assertIn(b"a1 OK [APPENDUID 12 1]", self.client.read_until(b"\r\n"))
        self.client.command(b"s2 SELECT INBOX")
        self.assertEqual(self.client.command(b"c1 COPY 1 " + quoted(SAME1)).tagged.text,
                         b"[COPYUID 11 1 2] COPY complated")
        # The old forms name nothing: the shared title, the empty one, a/b as two levels.
        for name in (b"Same", b'""', b"a/b"):
            self.assertEqual(self.client.command(b"s3 SELECT " + name).tagged.status, b"NO")
        # A folder the host adds is found at once, and takes the bare name from its twin.
        self.store.folder("empty2.box", title="Empty", uid_validity=14)
        self.assertIn(b"Empty (empty2.box)", [n for _, n, _ in self.listing(b'n2 LIST "" E*')])
        self.assertEqual(self.use(b"Empty (empty2.box)"), 14)

    def test_directory_names_and_utf8(self):
        self.client.command(b"e1 ENABLE UTF8=ACCEPT")
        listed = self.listing(b'u1 LIST "" ' + '"仕事/*"'.encode(), allow_8bit=True)
        self.assertEqual([n for _, n, _ in listed],
                         [decode_mutf7(n.decode()).encode() for n in (YEAR, DEEP, MEMO)])
        self.assertEqual(self.use(listed[0][1], allow_8bit=True), 9)
        self.use_directory_names()
        self.client = self.greeted(ImapClient)
        self.client.command(b"L1 LOGIN user1 secret")
        names = [n for _, n, _ in self.listing(b'd1 LIST "" *')]
        self.assertEqual(names[2:5], [b"INBOX", b"INBOX/spam.box", b"outbox.box"])
        for name in names:
            self.use(name)


if __name__ == "__main__":
    unittest.main()
