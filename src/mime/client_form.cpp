// The extended client form: quoted strings are read with their quoted pairs and each one that
// holds a double-byte character is replaced by a single encoded word; body parts are found by
// the boundary parameters met on the way, without a full MIME parse.
#include "mime/client_form.h"

#include <cstring>

#include "mime/base64.h"
#include "platform/codepage.h"

namespace {

// The boundaries a message's converter follows at the most.
constexpr size_t kMaxBoundaries = 64;

bool IsCharacter(const Text& text, int i) {
    return i + 1 < text.Length() && platform::IsLeadByte(static_cast<unsigned char>(text[i])) &&
           platform::IsTrailByte(static_cast<unsigned char>(text[i + 1]));
}

// Appends text in the default form.
void AppendDefault(const Text& text, Text* out) {
    JisText part(text);
    part.EncodeHeaderWords();
    out->Append(part);
}

// Whether the quoted string that opens at open is a parameter value: the last byte before it
// that is not a blank is "=".
bool IsParameterValue(const Text& line, int open) {
    int i = open - 1;
    while (i >= 0 && (line[i] == ' ' || line[i] == '\t'))
        --i;
    return i >= 0 && line[i] == '=';
}

// Reads the quoted string that opens at open: its contents with quoted pairs undone into
// *contents, and the index after its closing quote. -1 when the line does not close it.
int ReadQuoted(const Text& line, int open, Text* contents) {
    const int n = line.Length();
    int j = open + 1;
    while (j < n) {
        const char d = line[j];
        if (IsCharacter(line, j)) {
            contents->Append(line.c_str() + j, 2);
            j += 2;
        } else if (d == '\\' && j + 1 < n && line[j + 1] != '\r' && line[j + 1] != '\n') {
            contents->Append(line[j + 1]);
            j += 2;
        } else if (d == '"') {
            return j + 1;
        } else if (d == '\r' || d == '\n') {
            return -1;
        } else {
            contents->Append(d);
            ++j;
        }
    }
    return -1;
}

// Fields whose quoted strings are quoted strings: address lists and fields with parameters.
const char* const kStructuredFields[] = {"From",
                                         "Sender",
                                         "Reply-To",
                                         "To",
                                         "Cc",
                                         "Bcc",
                                         "Resent-From",
                                         "Resent-Sender",
                                         "Resent-To",
                                         "Resent-Cc",
                                         "Resent-Bcc",
                                         "Content-Type",
                                         "Content-Disposition",
                                         "Disposition-Notification-To"};

bool IsStructuredField(const Text& line) {
    const int colon = line.Find(':');
    if (colon <= 0)
        return false;
    int end = colon;
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t'))
        --end;
    for (const char* name : kStructuredFields) {
        const int n = static_cast<int>(strlen(name));
        if (n == end && line.CompareNoCase(name, n) == 0)
            return true;
    }
    return false;
}

// Whether a header line starts a Content-Type field of an attached message.
bool IsAttachedMessageType(const Text& line) {
    static const char kName[] = "Content-Type:";
    const int n = sizeof kName - 1;
    if (line.Length() < n || line.CompareNoCase(kName, n) != 0)
        return false;
    int i = n;
    while (i < line.Length() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return line.Mid(i).CompareNoCase("message/rfc822", 14) == 0;
}

bool IsLineEnd(const Text& line, int i) {
    return i >= line.Length() || line[i] == '\r' || line[i] == '\n';
}

}  // namespace

bool HasDoubleByte(const Text& text) {
    for (int i = 0; i + 1 < text.Length(); ++i) {
        if (IsCharacter(text, i))
            return true;
    }
    return false;
}

void AppendWholeWord(const Text& text, Text* out) {
    JisText jis(text);
    jis.ConvertToJis();
    Base64Codec base64;
    out->Append("=?ISO-2022-JP?B?");
    out->Append(base64.Encode(jis.c_str(), static_cast<size_t>(jis.Length())));
    out->Append("?=");
}

int EncodeHeaderWordsExtended(JisText* line) {
    const int n = line->Length();
    Text out("");
    int plainStart = 0;
    int i = 0;
    while (i < n) {
        // A double-byte character is stepped over whole: its trail byte may be '"' or '\'.
        if (IsCharacter(*line, i)) {
            i += 2;
            continue;
        }
        if ((*line)[i] != '"') {
            ++i;
            continue;
        }
        Text contents("");
        const int after = ReadQuoted(*line, i, &contents);
        if (after < 0)
            break;
        if (HasDoubleByte(contents)) {
            AppendDefault(line->Mid(plainStart, i - plainStart), &out);
            const bool parameter = IsParameterValue(*line, i);
            if (parameter)
                out.Append('"');
            AppendWholeWord(contents, &out);
            if (parameter)
                out.Append('"');
            plainStart = after;
        }
        i = after;
    }
    AppendDefault(line->Mid(plainStart), &out);
    line->Assign(out);
    return line->Length();
}

ClientFormConverter::ClientFormConverter(Mode form) : extended_(form == Mode::kExtended) {}

int ClientFormConverter::HeaderLine(JisText* line) {
    if (!extended_)
        return line->EncodeHeaderWords();
    return ExtendedHeaderLine(line);
}

void ClientFormConverter::NoteHeaderLine(const Text& line) {
    if (line.Length() > 0 && line[0] != ' ' && line[0] != '\t') {
        structuredField_ = IsStructuredField(line);
        if (IsAttachedMessageType(line))
            partIsMessage_ = true;
    }
    NoteBoundary(line);
}

int ClientFormConverter::ExtendedHeaderLine(JisText* line) {
    NoteHeaderLine(*line);
    if (!structuredField_)
        return line->EncodeHeaderWords();
    return EncodeHeaderWordsExtended(line);
}

void ClientFormConverter::SkipHeaderLine(const Text& line) {
    if (extended_)
        NoteHeaderLine(line);
}

int ClientFormConverter::BodyLine(JisText* line) {
    if (!extended_)
        return line->ConvertToJis();
    // A message that is itself an attached message (its own Content-Type says so) starts its
    // body with that message's header.
    if (!bodyStarted_) {
        bodyStarted_ = true;
        inPartHeader_ = partIsMessage_;
        partIsMessage_ = false;
    }
    if (inPartHeader_) {
        if (IsLineEnd(*line, 0)) {
            // An attached message's own header follows its part's header.
            inPartHeader_ = partIsMessage_;
            partIsMessage_ = false;
            return line->ConvertToJis();
        }
        return ExtendedHeaderLine(line);
    }
    // A separator line ("--" boundary) opens a part header; a terminator ("--" boundary "--")
    // does not.
    if (line->Length() > 2 && (*line)[0] == '-' && (*line)[1] == '-') {
        for (const std::string& boundary : boundaries_) {
            const int b = static_cast<int>(boundary.size());
            if (line->Length() < 2 + b || line->Mid(2, b).Compare(boundary.c_str(), b) != 0)
                continue;
            int k = 2 + b;
            const bool terminator =
                k + 1 < line->Length() && (*line)[k] == '-' && (*line)[k + 1] == '-';
            if (terminator)
                k += 2;
            while (k < line->Length() && ((*line)[k] == ' ' || (*line)[k] == '\t'))
                ++k;
            if (IsLineEnd(*line, k)) {
                inPartHeader_ = !terminator;
                partIsMessage_ = false;
                break;
            }
        }
    }
    return line->ConvertToJis();
}

// Keeps the value of a boundary parameter on a header line (a continuation line included).
void ClientFormConverter::NoteBoundary(const Text& line) {
    static const char kName[] = "boundary=";
    const int nameLength = sizeof kName - 1;
    for (int i = 0; i + nameLength <= line.Length(); ++i) {
        if (line.Mid(i, nameLength).CompareNoCase(kName, nameLength) != 0)
            continue;
        if (i > 0 && line[i - 1] != ';' && line[i - 1] != ' ' && line[i - 1] != '\t')
            continue;
        int j = i + nameLength;
        std::string value;
        if (j < line.Length() && line[j] == '"') {
            for (++j; j < line.Length() && line[j] != '"' && !IsLineEnd(line, j); ++j)
                value += line[j];
        } else {
            for (; j < line.Length() && line[j] != ';' && line[j] != ' ' && line[j] != '\t' &&
                   !IsLineEnd(line, j);
                 ++j)
                value += line[j];
        }
        // A message cannot make every body line be compared with an unbounded list.
        if (!value.empty() && boundaries_.size() < kMaxBoundaries)
            boundaries_.push_back(value);
        return;
    }
}

void ClientFormConverter::AppendHeaderLine(const char* line, int length, Text* out) {
    if (!extended_) {
        AppendHeaderWords(line, length, out);
        return;
    }
    JisText converted;
    converted.AppendBytes(line, length);
    HeaderLine(&converted);
    out->Append(converted);
}

void ClientFormConverter::SkipHeaderLine(const char* line, int length) {
    if (!extended_)
        return;
    Text text;
    text.AppendBytes(line, length);
    SkipHeaderLine(text);
}

void ClientFormConverter::AppendBodyLines(const char* lines, int length, Text* out) {
    if (!extended_) {
        // The default form has no state between lines: the whole run converts in one pass.
        AppendJisLines(lines, length, out);
        return;
    }
    JisText line;
    int start = 0;
    while (start < length) {
        int end = start;
        while (end < length && lines[end] != '\n')
            ++end;
        if (end < length)
            ++end;
        line.Clear();
        line.AppendBytes(lines + start, end - start);
        BodyLine(&line);
        out->Append(line);
        start = end;
    }
}

int ClientFormConverter::BodyLinesLength(const char* lines, int length) {
    if (!extended_)
        return JisLinesLength(lines, length);
    Text scratch;
    AppendBodyLines(lines, length, &scratch);
    return scratch.Length();
}
