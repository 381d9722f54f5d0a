"""A reader of IMAP server responses, written from the formal syntax of IMAP4rev1 and knowing
nothing of the server: it cuts a byte stream into whole responses (literals included) and
parses the ones the message commands produce into Python values.

Parsed forms:
- "* n FETCH (...)": Fetch, with its items in order as (name, value) pairs. Names are the bytes
  as sent (BODY[HEADER.FIELDS (FROM)]<0> included). Values: numbers are int, quoted strings and
  literals are String (bytes with a literal flag), NIL is None, lists are Python lists, flags
  and other atoms are Atom. A FLAGS list is a list of Atom; an ENVELOPE is a list of ten
  fields, each address list a list of four-field lists; INTERNALDATE is checked against the
  date-time form and given as String.
- "* SEARCH n n ...": Search.
- "* LIST|LSUB (attributes) delimiter mailbox [(extended data)]": MailboxList, with the
  attributes as Atom, the delimiter as bytes (None for NIL), the name (an astring: an atom,
  a quoted string or a literal) as bytes, and the extended data of LIST-EXTENDED as a list of
  (tag, value) pairs, a value being a number, an astring or a list of them. The attributes
  must agree as the CHILDREN and LIST-EXTENDED extensions say: at most one of \\Noselect,
  \\Marked and \\Unmarked, never both \\HasChildren and \\HasNoChildren, never \\HasChildren
  with \\Noinferiors.
- "* STATUS mailbox (item number ...)": Status, its items as (Atom, int) pairs, each item one
  of the five of IMAP4rev1.
- "* FLAGS (...)": Flags, its flag list as a list of Atom.
- "* OK|NO|BAD [code] text": Condition, with the response code's name and value when it has
  one: PERMANENTFLAGS a list of Atom (b"\\*" among them), COPYUID (RFC 4315) a tuple of the
  UIDVALIDITY and the two UID sets, each as the list of its UIDs in order; any other code its
  bytes after the name (None without).
- "tag OK|NO|BAD text": Tagged. Any other untagged response: Untagged, its text unparsed.

Where this server departs from the grammar as its design says, the reader accepts it and says
so: an empty item list "()" gives no items; a text item (BODY[...], RFC822, RFC822.HEADER,
RFC822.TEXT) whose value is empty is sent without a value and is read with the value MISSING;
a multipart body structure may end with a blank before its ")".
Eight-bit bytes in a quoted string are an error unless the caller allows them.
"""

import re


class ParseError(Exception):
    pass


class Atom(bytes):
    """An atom, a flag such as \\Seen among them."""


class String(bytes):
    """A quoted string or a literal (literal is True for the {n} form)."""

    def __new__(cls, data, literal=False):
        obj = super().__new__(cls, data)
        obj.literal = literal
        return obj


class _Missing:
    def __repr__(self):
        return "MISSING"


# The value of a text item that the server sent without one.
MISSING = _Missing()


class _Value:
    """A parsed response: the values __init__ is given, as attributes named by fields."""

    fields = ()

    def __init__(self, *values):
        if len(values) != len(self.fields):
            raise TypeError("%s takes %d values" % (type(self).__name__, len(self.fields)))
        for name, value in zip(self.fields, values):
            setattr(self, name, value)

    def __repr__(self):
        return "%s(%s)" % (type(self).__name__,
                           ", ".join(repr(getattr(self, name)) for name in self.fields))


class Fetch(_Value):
    fields = ("sequence", "word", "items")

    def names(self):
        return [name for name, _ in self.items]

    def get(self, name):
        """The value of the first item of that name (compared exactly, case included)."""
        for item_name, value in self.items:
            if item_name == name:
                return value
        raise KeyError(name)


class Search(_Value):
    fields = ("word", "numbers")


class MailboxList(_Value):
    fields = ("word", "attributes", "delimiter", "name", "extended")


class Status(_Value):
    fields = ("word", "name", "items")


class Flags(_Value):
    fields = ("flags",)


class Condition(_Value):
    fields = ("status", "code", "value", "text")


class Tagged(_Value):
    fields = ("tag", "status", "text")


class Untagged(_Value):
    fields = ("text",)


_LITERAL_AT_END = re.compile(rb"\{(\d+)\}\r\n\Z")


def read_response(read_line, read_exact):
    """The bytes of one whole response. read_line yields the bytes up to and including the
    next CR LF; read_exact(n) yields n bytes. A line that ends with a literal's {n} is
    followed by the n bytes of the literal and then by the rest of the response."""
    data = b""
    while True:
        line = read_line()
        if not line.endswith(b"\r\n"):
            raise ParseError("the response ends without CR LF: %r" % (data + line))
        data += line
        m = _LITERAL_AT_END.search(line)
        if m is None:
            return data
        data += read_exact(int(m.group(1)))


# Bytes that never occur in an atom: atom-specials of the grammar.
_ATOM_SPECIALS = set(b'(){ %*"\\]') | set(range(0x00, 0x20)) | {0x7F}
_MONTHS = b"Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec"
_DATE_TIME = re.compile(rb"(?:[ 0-9][0-9])-(?:" + _MONTHS +
                        rb")-[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2} [+-][0-9]{4}\Z")
_TEXT_ITEMS = (b"RFC822", b"RFC822.HEADER", b"RFC822.TEXT")
_STATUS_ITEMS = (b"MESSAGES", b"RECENT", b"UIDNEXT", b"UIDVALIDITY", b"UNSEEN")


class _Parser:
    def __init__(self, data, allow_8bit):
        self.data = data
        self.pos = 0
        self.allow_8bit = allow_8bit

    def fail(self, what):
        raise ParseError("%s at byte %d of %r" % (what, self.pos, self.data))

    def peek(self, n=1):
        return self.data[self.pos:self.pos + n]

    def expect(self, token):
        if self.data[self.pos:self.pos + len(token)] != token:
            self.fail("expected %r" % token)
        self.pos += len(token)

    def expect_word(self, word):
        """A keyword, compared without regard to case; the bytes as sent are yielded."""
        got = self.data[self.pos:self.pos + len(word)]
        if got.upper() != word:
            self.fail("expected %r" % word)
        self.pos += len(word)
        return got

    def number(self, nonzero=False):
        m = re.compile(rb"[0-9]+").match(self.data, self.pos)
        if m is None:
            self.fail("expected a number")
        text = m.group(0)
        if nonzero and (text.startswith(b"0")):
            self.fail("expected a non-zero number without leading zeros")
        value = int(text)
        if value > 0xFFFFFFFF:
            self.fail("number out of range")
        self.pos = m.end()
        return value

    def atom(self):
        start = self.pos
        while self.pos < len(self.data) and self.data[self.pos] not in _ATOM_SPECIALS \
                and self.data[self.pos] < 0x80:
            self.pos += 1
        if self.pos == start:
            self.fail("expected an atom")
        return Atom(self.data[start:self.pos])

    def quoted(self):
        self.expect(b'"')
        out = bytearray()
        while True:
            if self.pos >= len(self.data):
                self.fail("unterminated quoted string")
            b = self.data[self.pos]
            if b == 0x22:
                self.pos += 1
                return String(bytes(out))
            if b == 0x5C:
                nxt = self.data[self.pos + 1:self.pos + 2]
                if nxt not in (b'"', b"\\"):
                    self.fail("a backslash in a quoted string escapes only \" and \\")
                out += nxt
                self.pos += 2
                continue
            if b in (0x00, 0x0D, 0x0A):
                self.fail("CR, LF or NUL in a quoted string")
            if b >= 0x80 and not self.allow_8bit:
                self.fail("an eight-bit byte in a quoted string")
            out.append(b)
            self.pos += 1

    def literal(self):
        self.expect(b"{")
        n = self.number()
        self.expect(b"}\r\n")
        if self.pos + n > len(self.data):
            self.fail("literal of %d bytes cut short" % n)
        value = self.data[self.pos:self.pos + n]
        if b"\0" in value:
            self.fail("NUL in a literal")
        self.pos += n
        return String(value, literal=True)

    def nil(self):
        self.expect_word(b"NIL")
        return None

    def starts_nstring(self):
        c = self.peek()
        return c in (b'"', b"{") or (self.peek(3).upper() == b"NIL" and
                                     self.data[self.pos + 3:self.pos + 4] in (b" ", b")"))

    def string(self):
        """A quoted string or a literal; None when neither starts here."""
        c = self.peek()
        if c == b'"':
            return self.quoted()
        if c == b"{":
            return self.literal()
        return None

    def nstring(self):
        value = self.string()
        return self.nil() if value is None else value

    def spaced_list(self, read):
        """"(" [value *(SP value)] ")", each value read by read."""
        self.expect(b"(")
        values = []
        while self.peek() != b")":
            if values:
                self.expect(b" ")
            values.append(read())
        self.expect(b")")
        return values

    def flag(self, perm=False):
        """A flag: an atom, with its backslash when it has one; also "\\*" when perm."""
        if perm and self.peek(2) == b"\\*":
            self.pos += 2
            return Atom(b"\\*")
        if self.peek() == b"\\":
            self.pos += 1
            return Atom(b"\\" + self.atom())
        return self.atom()

    def flag_list(self):
        return self.spaced_list(self.flag)

    def flag_perm_list(self):
        """"(" [flag-perm *(SP flag-perm)] ")", flag-perm being a flag or "\\*"."""
        return self.spaced_list(lambda: self.flag(perm=True))

    def uid_set(self):
        """uid-set of RFC 4315: UIDs and ranges (either way round) joined by commas."""
        uids = []
        while True:
            first = self.number(nonzero=True)
            if self.peek() == b":":
                self.pos += 1
                last = self.number(nonzero=True)
                step = 1 if last >= first else -1
                uids += list(range(first, last + step, step))
            else:
                uids.append(first)
            if self.peek() != b",":
                return uids
            self.pos += 1

    def condition(self):
        """resp-cond-state: status, an optional response code in brackets, text."""
        m = re.compile(rb"(OK|NO|BAD) ", re.IGNORECASE).match(self.data, self.pos)
        status = m.group(1).upper()
        self.pos = m.end()
        code, value = None, None
        if self.peek() == b"[":
            self.pos += 1
            code = self.atom().upper()
            if code == b"PERMANENTFLAGS":
                self.expect(b" ")
                value = self.flag_perm_list()
            elif code == b"COPYUID":
                self.expect(b" ")
                validity = self.number(nonzero=True)
                self.expect(b" ")
                sources = self.uid_set()
                self.expect(b" ")
                value = (validity, sources, self.uid_set())
            elif self.peek() == b" ":
                end = self.data.find(b"]", self.pos)
                if end < 0:
                    self.fail("a response code without its closing bracket")
                value = self.data[self.pos + 1:end]
                self.pos = end
            self.expect(b"]")
            self.expect(b" ")
        end = len(self.data) - 2
        text = self.data[self.pos:end]
        self.pos = end
        return Condition(status, code, value, text)

    def fields(self, readers):
        """ "(" the value each reader reads, one blank between them, ")"."""
        self.expect(b"(")
        values = []
        for read in readers:
            if values:
                self.expect(b" ")
            values.append(read())
        self.expect(b")")
        return values

    def address(self):
        return self.fields([self.nstring] * 4)

    def address_list(self):
        if self.peek() != b"(":
            return self.nil()
        self.expect(b"(")
        addresses = [self.address()]
        while self.peek() == b"(":
            addresses.append(self.address())
        self.expect(b")")
        return addresses

    def envelope(self):
        return self.fields([self.nstring] * 2 + [self.address_list] * 6 + [self.nstring] * 2)

    def body_value(self):
        """A body structure, read as nested lists of strings, numbers and NIL: one blank
        between items, none between the parts of a multipart."""
        self.expect(b"(")
        items = []
        while self.peek() != b")":
            if items:
                if self.peek() == b" ":
                    self.pos += 1
                    if self.peek() == b")":
                        break  # this server ends a multipart's list with a blank
                elif not (isinstance(items[-1], list) and self.peek() == b"("):
                    self.fail("no blank between the items of a body structure")
            c = self.peek()
            if c == b"(":
                items.append(self.body_value())
            elif c.isdigit():
                items.append(self.number())
            elif self.starts_nstring():
                items.append(self.nstring())
            else:
                self.fail("unexpected byte in a body structure")
        self.expect(b")")
        return items

    def section(self):
        """"[" [section-spec] "]": part numbers, HEADER, HEADER.FIELDS[.NOT] with a field
        list, TEXT, and MIME after a part number."""
        start = self.pos
        self.expect(b"[")
        if self.peek() != b"]":
            part = re.compile(rb"[1-9][0-9]*(?:\.[1-9][0-9]*)*").match(self.data, self.pos)
            if part is None:
                self.section_text(allow_mime=False)
            else:
                self.pos = part.end()
                if self.peek() == b".":
                    self.pos += 1
                    self.section_text(allow_mime=True)
        self.expect(b"]")
        return self.data[start:self.pos]

    def section_text(self, allow_mime):
        word = re.compile(rb"[A-Za-z.]+").match(self.data, self.pos)
        if word is None:
            self.fail("expected a section keyword")
        keyword = word.group(0).upper()
        self.pos = word.end()
        if keyword in (b"HEADER.FIELDS", b"HEADER.FIELDS.NOT"):
            self.expect(b" ")
            if not self.spaced_list(self.astring):
                self.fail("an empty header field list")
        elif keyword in (b"HEADER", b"TEXT") or (allow_mime and keyword == b"MIME"):
            pass
        else:
            self.fail("unknown section keyword %r" % keyword)
        return keyword

    def astring(self):
        value = self.string()
        if value is not None:
            return value
        start = self.pos
        while self.pos < len(self.data):
            b = self.data[self.pos]
            if b >= 0x80 or (b in _ATOM_SPECIALS and b != 0x5D):
                break
            self.pos += 1
        if self.pos == start:
            self.fail("expected an astring")
        return self.data[start:self.pos]

    def optional_text_value(self):
        """The value of a text item, which this server leaves out when it is empty: the item
        then ends at ")" or at the blank before the next item's name."""
        if self.peek() == b")":
            return MISSING
        self.expect(b" ")
        if self.starts_nstring():
            return self.nstring()
        self.pos -= 1
        return MISSING

    def msg_att(self):
        start = self.pos
        name = re.compile(rb"[A-Za-z0-9.]+").match(self.data, self.pos)
        if name is None:
            self.fail("expected a data item name")
        self.pos = name.end()
        upper = name.group(0).upper()
        if upper == b"BODY" and self.peek() == b"[":
            self.section()
            if self.peek() == b"<":
                self.pos += 1
                self.number()
                self.expect(b">")
            item = self.data[start:self.pos]
            return item, self.optional_text_value()
        item = self.data[start:self.pos]
        if upper in _TEXT_ITEMS:
            return item, self.optional_text_value()
        self.expect(b" ")
        if upper == b"FLAGS":
            return item, self.flag_list()
        if upper == b"UID":
            return item, self.number(nonzero=True)
        if upper == b"RFC822.SIZE":
            return item, self.number()
        if upper == b"INTERNALDATE":
            value = self.quoted()
            if _DATE_TIME.match(value) is None:
                self.fail("INTERNALDATE %r is not a date-time" % value)
            return item, value
        if upper == b"ENVELOPE":
            return item, self.envelope()
        if upper in (b"BODY", b"BODYSTRUCTURE"):
            return item, self.body_value()
        self.fail("unknown data item %r" % item)

    def fetch(self, sequence):
        word = self.expect_word(b"FETCH")
        self.expect(b" ")
        return Fetch(sequence, word, self.spaced_list(self.msg_att))

    def search(self):
        word = self.expect_word(b"SEARCH")
        numbers = []
        while self.peek() == b" ":
            self.pos += 1
            numbers.append(self.number(nonzero=True))
        return Search(word, numbers)

    def mailbox(self):
        """ "INBOX" / astring; an empty astring only as a quoted string or a literal."""
        return bytes(self.astring())

    def list_attributes(self):
        attributes = self.flag_list()
        names = [a.upper() for a in attributes]
        for a in attributes:
            if not a.startswith(b"\\"):
                self.fail("a mailbox attribute %r without its backslash" % a)
        if sum(n in (b"\\NOSELECT", b"\\MARKED", b"\\UNMARKED") for n in names) > 1:
            self.fail("more than one of \\Noselect, \\Marked and \\Unmarked")
        if b"\\HASCHILDREN" in names and (b"\\HASNOCHILDREN" in names or
                                           b"\\NOINFERIORS" in names):
            self.fail("\\HasChildren with \\HasNoChildren or \\Noinferiors")
        if len(set(names)) != len(names):
            self.fail("an attribute twice")
        return attributes

    def tagged_ext_value(self):
        """A number, an astring, or a parenthesised list of them (nested lists too)."""
        if self.peek() == b"(":
            return self.spaced_list(self.tagged_ext_value)
        if self.peek().isdigit():
            return self.number()
        return bytes(self.astring())

    def tagged_ext(self):
        tag = bytes(self.astring())
        self.expect(b" ")
        return tag, self.tagged_ext_value()

    def mailbox_list(self, word):
        self.expect(b" ")
        attributes = self.list_attributes()
        self.expect(b" ")
        if self.peek() == b'"':
            delimiter = bytes(self.quoted())
            if len(delimiter) != 1:
                self.fail("a hierarchy delimiter of %d characters" % len(delimiter))
        else:
            delimiter = self.nil()
        self.expect(b" ")
        name = self.mailbox()
        extended = []
        if self.peek() == b" ":
            self.pos += 1
            extended = self.spaced_list(self.tagged_ext)
        return MailboxList(word, attributes, delimiter, name, extended)

    def status(self, word):
        self.expect(b" ")
        name = self.mailbox()
        self.expect(b" ")
        return Status(word, name, self.spaced_list(self.status_item))

    def status_item(self):
        item = self.atom()
        if item.upper() not in _STATUS_ITEMS:
            self.fail("unknown STATUS item %r" % item)
        self.expect(b" ")
        return item, self.number()

    def unparsed(self, start):
        """The rest of the response from start, as Untagged."""
        self.pos = len(self.data) - 2
        return Untagged(self.data[start:-2])

    def response(self):
        if self.peek(2) == b"* ":
            self.pos += 2
            word = re.compile(rb"[A-Za-z]+(?= )").match(self.data, self.pos)
            word = word.group(0) if word else b""
            if word.upper() in (b"LIST", b"LSUB", b"STATUS"):
                self.pos += len(word)
                result = (self.status(word) if word.upper() == b"STATUS" else
                          self.mailbox_list(word))
            elif self.peek().isdigit():
                number = self.number()
                self.expect(b" ")
                if self.peek(5).upper() == b"FETCH":
                    if number == 0:
                        self.fail("sequence number 0")
                    result = self.fetch(number)
                else:
                    result = self.unparsed(2)
            elif self.peek(6).upper() == b"SEARCH":
                result = self.search()
            elif self.peek(6).upper() == b"FLAGS ":
                self.pos += 6
                result = Flags(self.flag_list())
            elif re.compile(rb"(OK|NO|BAD) ", re.IGNORECASE).match(self.data, self.pos):
                result = self.condition()
            else:
                result = self.unparsed(2)
        elif self.peek(2) == b"+ ":
            result = self.unparsed(0)
        else:
            m = re.compile(rb"([^ +(){%*\"\\\]\x00-\x1f\x7f]+) (OK|NO|BAD) ",
                           re.IGNORECASE).match(self.data)
            if m is None:
                self.fail("not a tagged response")
            self.pos = len(self.data) - 2
            result = Tagged(m.group(1), m.group(2).upper(), self.data[m.end():-2])
        self.expect(b"\r\n")
        if self.pos != len(self.data):
            self.fail("bytes after the end of the response")
        return result


def parse_response(data, allow_8bit=False):
    """One whole response (as read_response yields it) as Fetch, Search, Tagged or Untagged;
    raises ParseError when it does not follow the grammar."""
    return _Parser(data, allow_8bit).response()
