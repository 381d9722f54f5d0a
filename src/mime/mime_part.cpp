// The MIME structure parser: one pass over a message file, header fields read as lines without
// CR, bodies read raw and measured line by line in their ISO-2022-JP form.
#include "mime/mime_part.h"

#include <cstring>

#include "mime/jis_text.h"

namespace {

// A whole message file is read in blocks of up to this size.
constexpr uint32_t kWholeFileBlock = 256u << 10;

// One raw body line as a view, cut at its first CR, so a CR LF line end is dropped while a
// line ended by LF alone keeps its LF.
struct BodyLine {
    const char* bytes = nullptr;
    int length = 0;
};

// False at the end of the file.
bool ReadBodyLine(File* file, BodyLine* line) {
    const int n = file->NextLine(&line->bytes);
    if (n == 0)
        return false;
    const void* cr = std::memchr(line->bytes, '\r', static_cast<size_t>(n));
    line->length = cr != nullptr ? static_cast<int>(static_cast<const char*>(cr) - line->bytes) : n;
    return true;
}

// A boundary line to look for, compared as the platform compares texts: up to the first NUL
// of either side.
class Boundary {
  public:
    explicit Boundary(const Text& text) : text_(text.c_str()), length_(std::strlen(text.c_str())) {}
    // Whether a raw line that starts with byte could match at all.
    bool CouldMatch(char first) const { return length_ == 0 || first == text_[0]; }
    bool Matches(const BodyLine& line) const {
        const size_t n = static_cast<size_t>(line.length);
        return n >= length_ && std::memcmp(line.bytes, text_, length_) == 0 &&
               (n == length_ || line.bytes[length_] == '\0');
    }

  private:
    const char* text_;
    size_t length_;
};

bool Equals(const BodyLine& line, const Boundary* boundary) {
    return boundary != nullptr && boundary->Matches(line);
}

bool Equals(const Text& line, const Text* boundary) {
    return boundary != nullptr && line == *boundary;
}

// Hands a complete header field to ParseField when it is one of the four the structure needs.
void TakeField(Text* field, MimePart* part) {
    field->Replace('\t', ' ');
    MimeField* target = nullptr;
    if (field->CompareNoCase("Content-Type", 12) == 0)
        target = &part->contentType;
    else if (field->CompareNoCase("Content-Transfer-Encoding", 25) == 0)
        target = &part->transferEncoding;
    else if (field->CompareNoCase("Content-Disposition", 19) == 0)
        target = &part->disposition;
    else if (field->CompareNoCase("Content-ID", 10) == 0)
        target = &part->contentId;
    if (target != nullptr)
        ParseField(*field, target);
    field->Clear();
}

// Reads the header up to its empty line or the end of the file. False when the terminator
// came instead (no part).
bool ParseHeader(File* file, MimePart* part, const Text* terminator) {
    Text field;
    Text line;
    while (file->ReadLine(&line, File::kLine) > 0) {
        if (Equals(line, terminator))
            return false;
        field.Append(line);
        const int next = file->PeekByte();
        if (next != ' ' && next != '\t')
            TakeField(&field, part);
    }
    MimeField& type = part->contentType;
    if (!type.present || type.type.IsEmpty()) {
        type.present = true;
        type.type = "text";
        type.subtype = "plain";
        MimeParam* charset = new MimeParam;
        charset->name = "charset";
        charset->value = "us-ascii";
        type.params.Append(charset);
    }
    return true;
}

PartEnd ParseLeafBody(File* file, MimePart* part, const Boundary* separator,
                      const Boundary* terminator) {
    part->size = 0;
    part->lines = 0;
    const char* bytes = nullptr;
    for (int n = file->NextLine(&bytes); n > 0; n = file->NextLine(&bytes)) {
        // Only a line that begins like a boundary line is compared; the others are measured.
        if ((separator != nullptr && separator->CouldMatch(bytes[0])) ||
            (terminator != nullptr && terminator->CouldMatch(bytes[0]))) {
            BodyLine line;
            line.bytes = bytes;
            const void* cr = std::memchr(bytes, '\r', static_cast<size_t>(n));
            line.length =
                cr != nullptr ? static_cast<int>(static_cast<const char*>(cr) - bytes) : n;
            if (Equals(line, separator))
                return AtSeparator;
            if (Equals(line, terminator))
                return AtTerminator;
        }
        part->size += static_cast<uint32_t>(SjisToJisLengthBeforeCr(bytes, n)) + 2;
        ++part->lines;
    }
    return AtEndOfFile;
}

PartEnd ParseMultipartBody(File* file, MimePart* part, const Text* outerSeparator,
                           const Text* outerTerminator, int depth) {
    const Text separator = "--" + FindParam(part->contentType, "Boundary");
    const Text terminator = separator + "--";
    const Boundary ownSeparator(separator);
    BodyLine line;
    while (ReadBodyLine(file, &line) && !ownSeparator.Matches(line)) {
    }
    for (;;) {
        MimePart* child = new MimePart;
        const PartEnd end = ParsePart(file, child, &separator, &terminator, depth + 1);
        if (end == NoPart) {
            delete child;
            break;
        }
        part->children.Append(child);
        if (end == AtEndOfFile)
            return AtEndOfFile;
        if (end == AtTerminator)
            break;
    }
    if (outerSeparator == nullptr)
        return AtEndOfFile;
    // The epilogue runs up to the enclosing multipart's next boundary line.
    const Text none;
    const Boundary outer(*outerSeparator);
    const Boundary outerEnd(outerTerminator != nullptr ? *outerTerminator : none);
    while (ReadBodyLine(file, &line)) {
        if (outer.Matches(line))
            return AtSeparator;
        if (Equals(line, outerTerminator != nullptr ? &outerEnd : nullptr))
            return AtTerminator;
    }
    return AtEndOfFile;
}

}  // namespace

bool ParseMessageFile(MimePart* root, const char* path) {
    File file;
    if (!file.Open(path, platform::kAccessRead, platform::kOpenAlways))
        return false;
    // The whole file is read, so it comes in a few large blocks.
    const int64_t size = file.Size();
    if (size > 0)
        file.SetReadAhead(
            static_cast<uint32_t>(size < kWholeFileBlock ? size + 1 : kWholeFileBlock));
    ParsePart(&file, root, nullptr, nullptr);
    return true;
}

PartEnd ParsePart(File* file, MimePart* part, const Text* separator, const Text* terminator,
                  int depth) {
    if (!ParseHeader(file, part, terminator))
        return NoPart;
    if (part->contentType.type.CompareNoCase("multipart", 9) == 0 && depth < kMaxMultipartDepth)
        return ParseMultipartBody(file, part, separator, terminator, depth);
    const Text none;
    const Boundary leafSeparator(separator != nullptr ? *separator : none);
    const Boundary leafTerminator(terminator != nullptr ? *terminator : none);
    return ParseLeafBody(file, part, separator != nullptr ? &leafSeparator : nullptr,
                         terminator != nullptr ? &leafTerminator : nullptr);
}

void ParseField(const Text& fieldText, MimeField* field) {
    field->present = true;
    field->params.Clear();
    Text rest = fieldText;
    rest.SplitToken(':');
    rest.Trim();
    Text value = rest.SplitToken(';');
    field->type = value.SplitToken('/');
    field->subtype = value;
    rest.Trim();
    while (!rest.IsEmpty()) {
        Text param = rest.SplitToken(';');
        param.Trim();
        MimeParam* entry = new MimeParam;
        entry->name = param.SplitToken('=');
        entry->name.Trim();
        entry->value = param;
        entry->value.Unquote('"');
        if (entry->name.CompareNoCase("filename") == 0)
            entry->name = "NAME";
        if (entry->value[0] == '/')
            entry->value = entry->value.Mid(1);
        field->params.Append(entry);
    }
}

Text FindParam(const MimeField& field, const char* name) {
    for (int i = 0; i < field.params.Count(); ++i) {
        const MimeParam* param = field.params.At(i);
        if (param->name.CompareNoCase(name) == 0)
            return param->value;
    }
    return Text();
}
