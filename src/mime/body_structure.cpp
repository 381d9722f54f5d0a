// BODYSTRUCTURE rendering from a MIME tree into a Text, so the whole value can be checked or
// sent in one piece.
#include "mime/body_structure.h"

namespace {

// The part of a field that QuoteOrNil writes: null while the field is absent.
const Text* Present(const MimeField& field, const Text& text) {
    return field.present ? &text : nullptr;
}

void RenderEntry(const MimeParam& param, Text* out) {
    QuoteOrNil(&param.name, out);
    out->Append(' ');
    QuoteOrNil(&param.value, out);
}

}  // namespace

void RenderBodyStructure(const MimePart& root, Text* out) {
    out->Append(' ');
    RenderPart(root, out);
}

void RenderPart(const MimePart& part, Text* out) {
    const MimeField& type = part.contentType;
    out->Append('(');
    if (type.present && type.type.CompareNoCase("multipart") == 0) {
        if (part.children.Count() == 0)
            out->Append("\"NIL\"");
        for (int i = 0; i < part.children.Count(); ++i)
            RenderPart(*part.children.At(i), out);
        out->Append(' ');
        QuoteOrNil(Present(type, type.subtype), out);
        RenderParams(part, out);
    } else {
        QuoteOrNil(Present(type, type.type), out);
        out->Append(' ');
        QuoteOrNil(Present(type, type.subtype), out);
        RenderBodyFields(part, out);
    }
    out->Append(')');
}

void RenderBodyFields(const MimePart& part, Text* out) {
    RenderParams(part, out);
    QuoteOrNil(Present(part.contentId, part.contentId.type), out);
    out->Append(" NIL ");
    const MimeField& encoding = part.transferEncoding;
    if (encoding.present && !encoding.type.IsEmpty())
        QuoteOrNil(&encoding.type, out);
    else
        out->Append("\"7bit\"");
    out->Append(' ');
    out->AppendNumber(part.size);
    out->Append(' ');
    out->AppendNumber(part.lines);
    out->Append(" NIL NIL NIL");
}

void RenderParams(const MimePart& part, Text* out) {
    const LockedList<MimeParam>* lists[2] = {&part.contentType.params, &part.disposition.params};
    const int count = lists[0]->Count() + lists[1]->Count();
    out->Append(" (");
    bool first = true;
    for (const LockedList<MimeParam>* list : lists) {
        for (int i = 0; i < list->Count(); ++i) {
            if (count == 1) {
                RenderEntry(*list->At(i), out);
                continue;
            }
            out->Append(first ? "(" : " (");
            RenderEntry(*list->At(i), out);
            out->Append(')');
            first = false;
        }
    }
    out->Append(") ");
}

void QuoteOrNil(const Text* text, Text* out) {
    if (text == nullptr) {
        out->Append("NIL");
        return;
    }
    out->Append('"');
    // Runs without a quote or backslash are appended whole.
    const char* p = text->c_str();
    for (;;) {
        const char* run = p;
        while (*p != '\0' && *p != '"' && *p != '\\')
            ++p;
        if (p > run)
            out->AppendBytes(run, static_cast<int>(p - run));
        if (*p == '\0')
            break;
        out->Append('\\');
        out->Append(*p++);
    }
    out->Append('"');
}
