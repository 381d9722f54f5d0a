"""A small reader of IMAP data values written from the protocol's grammar, for the tests that
check what the renderers write: parenthesised lists, quoted strings with the two escapes, NIL
and numbers. Also the test tools of the build that those tests and the codec tests run, and the
test case that renders message files with one of them."""

import os
import subprocess
import tempfile
import unittest


class ParseError(Exception):
    pass


def read_value(data, blank_before_close=False):
    """The one value of data (a blank, then a list); raises ParseError when it does not parse.
    blank_before_close accepts the one blank that the server's multipart body structure puts
    before its closing parenthesis."""
    if not data.startswith(b" ("):
        raise ParseError("no leading blank and list")
    value, pos = read_item(data, 1, blank_before_close)
    if pos != len(data):
        raise ParseError("bytes after the value at %d" % pos)
    return value


def read_item(data, pos, blank_before_close=False):
    c = data[pos:pos + 1]
    if c == b"(":
        items, pos = [], pos + 1
        while True:
            if pos >= len(data):
                raise ParseError("unclosed list")
            if data[pos:pos + 1] == b")":
                return items, pos + 1
            if items:
                # One blank between items, none needed between two lists.
                if data[pos:pos + 1] == b" ":
                    pos += 1
                    if blank_before_close and data[pos:pos + 1] == b")":
                        return items, pos + 1
                elif not (isinstance(items[-1], list) and data[pos:pos + 1] == b"("):
                    raise ParseError("no blank between items at %d" % pos)
            item, pos = read_item(data, pos, blank_before_close)
            items.append(item)
    if c == b'"':
        out, pos = bytearray(), pos + 1
        while True:
            b = data[pos:pos + 1]
            if b == b"" or b in b"\r\n\0":
                raise ParseError("bad byte in a quoted string at %d" % pos)
            if b == b'"':
                return bytes(out), pos + 1
            if b == b"\\":
                pos += 1
                if data[pos:pos + 1] not in (b'"', b"\\"):
                    raise ParseError("bad escape at %d" % pos)
            out += data[pos:pos + 1]
            pos += 1
    end = pos
    while end < len(data) and data[end:end + 1] not in b" ()":
        end += 1
    atom = data[pos:end]
    if atom == b"NIL":
        return None, end
    if atom.isdigit() and not (len(atom) > 1 and atom.startswith(b"0")):
        return int(atom), end
    raise ParseError("bad atom %r at %d" % (atom, pos))


def tool(name):
    """The path of the test tool tests/NAME of the build under test."""
    return os.path.join(os.environ.get("ORV_BUILD_DIR", "build"), "tests", name)


def run_lines(name, lines):
    """The lines the tool prints for the input lines: one line for each."""
    out = subprocess.run([tool(name)], input="".join(line + "\n" for line in lines),
                         capture_output=True, text=True, check=True).stdout
    result = out.split("\n")[:-1]
    assert len(result) == len(lines), (len(result), len(lines))
    return result


def render_files(tool_name, directory, messages):
    """Writes each message to a file in directory and returns the one line per file that the
    dump tool tests/TOOL_NAME of the build prints for them."""
    paths = []
    for i, data in enumerate(messages):
        paths.append(os.path.join(directory, "m%d.orv" % i))
        with open(paths[-1], "wb") as f:
            f.write(data)
    out = subprocess.run([tool(tool_name)] + paths, capture_output=True, check=True).stdout
    lines = out.split(b"\n")
    assert lines[-1] == b"" and len(lines) == len(paths) + 1, "one line per file expected"
    return lines[:-1]


class RenderTestCase(unittest.TestCase):
    """Message files rendered by the dump tool TOOL, in a directory of the test's own."""

    TOOL = None

    def setUp(self):
        directory = tempfile.TemporaryDirectory()
        self.addCleanup(directory.cleanup)
        self.dir = directory.name

    def write_all(self, messages):
        return render_files(self.TOOL, self.dir, messages)

    def check_rendered(self, cases, shown, check):
        """Renders the message of each (message, expected) case and calls check(expected,
        the rendered line), in a subtest named by the first shown bytes of the message."""
        for (data, expected), line in zip(cases, self.write_all([c[0] for c in cases])):
            with self.subTest(message=data[:shown]):
                check(expected, line)

    def assert_rejected(self, read, data):
        """read refuses each of data with ParseError."""
        for bad in data:
            with self.subTest(data=bad), self.assertRaises(ParseError):
                read(bad)
