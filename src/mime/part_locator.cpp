// Part numbers are resolved level by level: an entity (a header and a body) is split at its
// header's end, its Content-Type read for the media type and boundary, and a multipart body
// cut at its boundary lines; the CR LF before a boundary line belongs to the boundary.
#include "mime/part_locator.h"

#include <cstring>

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameNoCase(const char* a, const char* b, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        if (Lower(a[i]) != Lower(b[i]))
            return false;
    }
    return true;
}

// The end of the line that starts at i: after its LF, or end.
size_t LineEnd(const char* s, size_t i, size_t end) {
    const void* lf = memchr(s + i, '\n', end - i);
    return lf == nullptr ? end : static_cast<size_t>(static_cast<const char*>(lf) - s) + 1;
}

bool IsBlankLine(const char* s, size_t start, size_t end) {
    return (end - start == 1 && s[start] == '\n') ||
           (end - start == 2 && s[start] == '\r' && s[start + 1] == '\n');
}

std::string Trimmed(const std::string& text) {
    size_t a = 0;
    size_t b = text.size();
    while (a < b && strchr(" \t\r\n", text[a]) != nullptr)
        ++a;
    while (b > a && strchr(" \t\r\n", text[b - 1]) != nullptr)
        --b;
    return text.substr(a, b - a);
}

// Whether the line [i, next) is "--" boundary, optionally followed by "--" (*terminator) and
// blanks.
bool IsBoundaryLine(const char* s, size_t i, size_t next, const std::string& boundary,
                    bool* terminator) {
    const size_t b = boundary.size();
    if (next - i < 2 + b || s[i] != '-' || s[i + 1] != '-' ||
        memcmp(s + i + 2, boundary.data(), b) != 0) {
        return false;
    }
    size_t k = i + 2 + b;
    *terminator = k + 1 < next && s[k] == '-' && s[k + 1] == '-';
    if (*terminator)
        k += 2;
    while (k < next && (s[k] == ' ' || s[k] == '\t' || s[k] == '\r' || s[k] == '\n'))
        ++k;
    return k == next;
}

}  // namespace

// Splits [start, end) into header and body at its first blank line. A text with no blank line
// is all header.
Entity SplitEntity(const char* s, size_t start, size_t end) {
    Entity e;
    size_t i = start;
    while (i < end) {
        const size_t next = LineEnd(s, i, end);
        if (IsBlankLine(s, i, next)) {
            e.header = {start, next - start};
            e.body = {next, end - next};
            return e;
        }
        i = next;
    }
    e.header = {start, end - start};
    e.body = {end, 0};
    return e;
}

// The value of the header field name (unfolded, without the name), and whether there is one.
bool FieldValue(const char* s, ByteRange header, const char* name, std::string* value) {
    const size_t n = strlen(name);
    const size_t end = header.start + header.length;
    size_t i = header.start;
    while (i < end) {
        size_t next = LineEnd(s, i, end);
        if (next - i > n && s[i + n] == ':' && SameNoCase(s + i, name, n)) {
            value->assign(s + i + n + 1, next - i - n - 1);
            while (next < end && (s[next] == ' ' || s[next] == '\t')) {
                const size_t more = LineEnd(s, next, end);
                value->append(s + next, more - next);
                next = more;
            }
            return true;
        }
        i = next;
    }
    return false;
}

ParameterizedValue ParseParameterized(const std::string& fieldValue) {
    ParameterizedValue parsed;
    size_t at = fieldValue.find(';');
    parsed.value = Trimmed(fieldValue.substr(0, at));
    while (at != std::string::npos && at < fieldValue.size()) {
        const size_t eq = fieldValue.find('=', at + 1);
        size_t next = fieldValue.find(';', at + 1);
        if (eq == std::string::npos || (next != std::string::npos && next < eq)) {
            at = next;
            continue;
        }
        HeaderParam param;
        param.name = Trimmed(fieldValue.substr(at + 1, eq - at - 1));
        for (char& c : param.name)
            c = Lower(c);
        size_t v = eq + 1;
        while (v < fieldValue.size() && strchr(" \t\r\n", fieldValue[v]) != nullptr)
            ++v;
        if (v < fieldValue.size() && fieldValue[v] == '"') {
            // A quoted value may hold ";" and quoted pairs.
            size_t j = v + 1;
            while (j < fieldValue.size() && fieldValue[j] != '"') {
                if (fieldValue[j] == '\\' && j + 1 < fieldValue.size())
                    ++j;
                param.value += fieldValue[j];
                ++j;
            }
            next = fieldValue.find(';', j);
        } else {
            param.value = Trimmed(
                fieldValue.substr(v, next == std::string::npos ? std::string::npos : next - v));
        }
        if (!param.name.empty())
            parsed.params.push_back(param);
        at = next;
    }
    return parsed;
}

// The sub-parts of a multipart body, each as the range between its separator line and the
// line end before the next boundary line.
std::vector<ByteRange> SplitMultipart(const char* s, ByteRange body, const std::string& boundary) {
    std::vector<ByteRange> parts;
    if (boundary.empty())
        return parts;
    const size_t end = body.start + body.length;
    size_t i = body.start;
    bool open = false;
    size_t partStart = 0;
    while (i < end) {
        const size_t next = LineEnd(s, i, end);
        bool terminator = false;
        if (IsBoundaryLine(s, i, next, boundary, &terminator)) {
            if (open) {
                // The line end before the boundary line belongs to the boundary.
                size_t partEnd = i;
                if (partEnd > partStart && s[partEnd - 1] == '\n')
                    --partEnd;
                if (partEnd > partStart && s[partEnd - 1] == '\r')
                    --partEnd;
                parts.push_back({partStart, partEnd - partStart});
            }
            if (terminator)
                return parts;
            open = true;
            partStart = next;
        }
        i = next;
    }
    if (open)
        parts.push_back({partStart, end - partStart});
    return parts;
}

namespace {

struct MediaType {
    std::string type;  // lower case, e.g. "multipart/mixed"; "text/plain" when absent
    std::string boundary;
};

// The media type and boundary of an entity. defaultType stands in for a missing field (the
// parts of a multipart/digest are messages).
MediaType ReadMediaType(const char* s, ByteRange header, const char* defaultType) {
    MediaType media;
    std::string value;
    if (!FieldValue(s, header, "Content-Type", &value)) {
        media.type = defaultType;
        return media;
    }
    const ParameterizedValue parsed = ParseParameterized(value);
    media.type = parsed.value;
    for (char& c : media.type)
        c = Lower(c);
    if (media.type.empty())
        media.type = defaultType;
    for (const HeaderParam& param : parsed.params) {
        if (param.name == "boundary")
            media.boundary = param.value;
    }
    return media;
}

// One level of the walk: a part with its MIME header, contents and media type.
struct Node {
    ByteRange mimeHeader;
    ByteRange contents;
    MediaType media;
    bool isMessage = false;  // the root, or an attached message
};

// The children of a node: the sub-parts of a multipart, the parts of a message.
bool Child(const char* s, const Node& node, int number, Node* child) {
    if (number < 1)
        return false;
    MediaType media = node.media;
    ByteRange body = node.contents;
    Entity message;
    if (node.isMessage) {
        // The parts of a message are its body's: an attached message is split first.
        message = SplitEntity(s, node.contents.start, node.contents.start + node.contents.length);
        media = ReadMediaType(s, message.header, "text/plain");
        body = message.body;
        if (media.type.compare(0, 10, "multipart/") != 0) {
            if (number != 1)
                return false;
            child->mimeHeader = message.header;
            child->contents = message.body;
            child->media = media;
            child->isMessage = media.type == "message/rfc822";
            return true;
        }
    } else if (media.type.compare(0, 10, "multipart/") != 0) {
        return false;
    }
    const std::vector<ByteRange> parts = SplitMultipart(s, body, media.boundary);
    if (static_cast<size_t>(number) > parts.size())
        return false;
    const ByteRange part = parts[static_cast<size_t>(number) - 1];
    const Entity e = SplitEntity(s, part.start, part.start + part.length);
    child->mimeHeader = e.header;
    child->contents = e.body;
    child->media = ReadMediaType(
        s, e.header, media.type == "multipart/digest" ? "message/rfc822" : "text/plain");
    child->isMessage = child->media.type == "message/rfc822";
    return true;
}

}  // namespace

bool LocatePart(const char* message, size_t length, const std::vector<int>& numbers,
                LocatedPart* out) {
    // No message nests parts this deep; a longer path would only make each level scan the
    // message again.
    if (numbers.empty() || numbers.size() > kMaxPartDepth)
        return false;
    Node node;
    node.contents = {0, length};
    node.isMessage = true;
    // The root is the message itself; its own "MIME header" is never asked for.
    for (int number : numbers) {
        Node child;
        if (!Child(message, node, number, &child))
            return false;
        node = child;
    }
    out->mimeHeader = node.mimeHeader;
    out->contents = node.contents;
    out->isMessage = node.isMessage;
    if (node.isMessage) {
        const Entity e =
            SplitEntity(message, node.contents.start, node.contents.start + node.contents.length);
        out->messageHeader = e.header;
        out->messageText = e.body;
    }
    return true;
}

std::string SelectHeaderFields(const char* header, size_t length,
                               const std::vector<std::string>& names, bool exclude) {
    std::string value;
    size_t i = 0;
    while (i < length) {
        size_t next = LineEnd(header, i, length);
        if (IsBlankLine(header, i, next))
            break;
        while (next < length && (header[next] == ' ' || header[next] == '\t'))
            next = LineEnd(header, next, length);
        const void* colon = memchr(header + i, ':', next - i);
        size_t nameLength = colon == nullptr
                                ? 0
                                : static_cast<size_t>(static_cast<const char*>(colon) - header) - i;
        while (nameLength > 0 &&
               (header[i + nameLength - 1] == ' ' || header[i + nameLength - 1] == '\t'))
            --nameLength;
        bool listed = false;
        for (const std::string& name : names) {
            if (colon != nullptr && name.size() == nameLength &&
                SameNoCase(header + i, name.data(), nameLength)) {
                listed = true;
                break;
            }
        }
        if (colon != nullptr && listed != exclude)
            value.append(header + i, next - i);
        i = next;
    }
    value.append("\r\n");
    return value;
}
