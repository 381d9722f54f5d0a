// The FETCH item walk: each item of the request goes to its writer, one blank before every
// item but the first.
#include "render/items.h"

void WriteFetchItems(const FetchRequest& request, const FetchedMessage& m, Output& out) {
    bool first = true;
    for (const FetchItem& item : request.items()) {
        if (!first)
            out.Write(" ", 1);
        first = false;
        switch (item.kind) {
            case ItemKind::kUid:
                WriteUidItem(item, m, out);
                break;
            case ItemKind::kFlags:
                WriteFlags(item, m, out);
                break;
            case ItemKind::kModSeq:
                WriteModSeq(item, m, out);
                break;
            case ItemKind::kInternalDate:
                WriteInternalDate(item, m, out);
                break;
            case ItemKind::kRfc822Size:
                WriteRfc822Size(item, m, out);
                break;
            case ItemKind::kEnvelope:
                WriteEnvelope(item, m, out);
                break;
            case ItemKind::kBodyStructure:
                WriteBodyStructure(item, m, request.mode(), out);
                break;
            case ItemKind::kRfc822:
            case ItemKind::kRfc822Header:
            case ItemKind::kRfc822Text:
            case ItemKind::kRfc822Other:
                WriteRfc822Family(item, m, out);
                break;
            case ItemKind::kSection:
                WriteBodySection(item, m, out);
                break;
            case ItemKind::kPartSection:
                WritePartSection(item, m, out);
                break;
        }
    }
}

void WriteUidItem(const FetchItem& item, const FetchedMessage& m, Output& out) {
    out.Write(item.name.c_str(), item.name.Length());
    out.Write(" ", 1);
    out.WriteUnsigned(m.entry.uid);
}

void WriteModSeq(const FetchItem&, const FetchedMessage& m, Output& out) {
    out.Write("MODSEQ (", 8);
    out.WriteUnsigned64(m.entry.modSeq);
    out.Write(")", 1);
}
