#include "render/fetch_request.h"

namespace {

constexpr char kAllMembers[] = "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE";
constexpr char kFastMembers[] = "FLAGS INTERNALDATE RFC822.SIZE";
constexpr char kFullMembers[] = "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE BODY";

// Whether name is BODY[...] or BODY.PEEK[...] whose section starts with a part number.
bool IsPartSection(const Text& name) {
    int open = name.Find('[');
    if (open < 0)
        return false;
    const Text head = name.Left(open);
    if (head.CompareNoCase("BODY") != 0 && head.CompareNoCase("BODY.PEEK") != 0)
        return false;
    return open + 1 < name.Length() && name[open + 1] >= '1' && name[open + 1] <= '9';
}

// The item's name up to "]": BODY, PEEK or not, and the section. Returns what follows "]".
Text ReadSectionName(FetchItem* item) {
    Text rest(item->name);
    Text head = rest.SplitToken('[');
    item->itemName = head.SplitToken('.');
    item->peek = head.CompareNoCase("PEEK") == 0;
    item->section = rest.SplitToken(']');
    return rest;
}

// BODY.PEEK[section]<origin.count> as the exact mode reads it: the name is rebuilt without
// PEEK and with only the origin of the range; whatever stands between "]" and "<" is dropped.
void ReadSection(FetchItem* item) {
    Text rest = ReadSectionName(item);
    rest.SplitToken('<');
    item->hasPartial = !rest.IsEmpty();
    Text partial = rest.SplitToken('>');
    item->originText = partial.SplitToken('.');
    item->origin = item->originText.ToNumber();
    item->count = partial.ToNumber();

    const Text& section = item->section;
    if (section.IsEmpty()) {
        item->sectionKind = SectionKind::kWhole;
    } else if (section.CompareNoCase("HEADE", 5) == 0) {
        item->sectionKind = SectionKind::kHeader;
        // HEADER, HEADER.FIELDS (names) or HEADER.FIELDS.NOT (names).
        Text list(section);
        const Text keyword = list.SplitToken(' ');
        if (list.Length() >= 2 && list[0] == '(' && list[list.Length() - 1] == ')')
            list = list.Mid(1, list.Length() - 2);
        const int dot = keyword.Find('.');
        if (dot >= 0) {
            item->exclude = keyword.Mid(dot + 1).Find('.') >= 0;
            while (!list.IsEmpty()) {
                const Text name = list.SplitToken(' ');
                // A blank before the first name leaves an empty one, which would match any field.
                if (!name.IsEmpty())
                    item->fieldNames.Append(name);
            }
        }
    } else if (section.CompareNoCase("TEXT") == 0) {
        item->sectionKind = SectionKind::kText;
    } else {
        item->sectionKind = SectionKind::kEcho;  // MIME and part numbers have no value
    }
}

// BODY[n...]<origin.count> as the extended mode reads it: a range only right after "]".
void ReadPartSection(FetchItem* item) {
    const Text rest = ReadSectionName(item);
    item->hasPartial = rest.Length() > 0 && rest[0] == '<';
    item->origin = 0;
    item->count = 0xFFFFFFFFu;
    if (item->hasPartial) {
        Text partial = rest.Mid(1);
        partial = partial.SplitToken('>');
        item->originText = partial.SplitToken('.');
        item->origin = item->originText.ToNumber();
        item->count = partial.ToNumber();
    }
}

}  // namespace

FetchRequest::FetchRequest(const Text& items, int uidFlag, Mode mode, TextForm text)
    : mode_(mode), text_(text) {
    if (uidFlag != 0) {
        FetchItem uid(ItemKind::kUid, Text("UID"));
        items_.push_back(uid);
    }
    Add(items, uidFlag != 0);
}

bool FetchRequest::HasModSeq() const {
    for (const FetchItem& item : items_) {
        if (item.kind == ItemKind::kModSeq)
            return true;
    }
    return false;
}

void FetchRequest::AddModSeq() {
    if (!HasModSeq())
        items_.push_back(FetchItem(ItemKind::kModSeq, Text("MODSEQ")));
}

void FetchRequest::Add(const Text& items, bool uidUsed) {
    Text rest(items);
    while (!rest.IsEmpty()) {
        // One argument at a time, so a section with blanks inside stays one item.
        AddOne(rest.SplitArgument(), uidUsed);
    }
}

void FetchRequest::AddOne(const Text& name, bool uidUsed) {
    const bool extended = mode_ == Mode::kExtended;
    FetchItem item(ItemKind::kFlags, name);
    // The order of the tests matters: every RFC822 name belongs to the RFC822 family, and
    // BODYSTRUCTURE is tested before the BODY sections that it begins like. In extended mode a
    // lone BODY is the structure without extension data.
    if (name.CompareNoCase("ALL") == 0) {
        Add(kAllMembers, uidUsed);
        return;
    } else if (name.CompareNoCase("RFC822", 6) == 0) {
        if (name.CompareNoCase("RFC822.SIZE") == 0) {
            item.kind = ItemKind::kRfc822Size;
            needsSize_ = true;
        } else if (name.CompareNoCase("RFC822") == 0) {
            item.kind = ItemKind::kRfc822;
            needsHeader_ = needsBody_ = true;
        } else if (name.CompareNoCase("RFC822.HEADER") == 0) {
            item.kind = ItemKind::kRfc822Header;
            needsHeader_ = true;
        } else if (name.CompareNoCase("RFC822.TEXT") == 0) {
            item.kind = ItemKind::kRfc822Text;
            needsBody_ = true;
        } else {
            item.kind = ItemKind::kRfc822Other;
        }
    } else if (name.CompareNoCase("BODYSTRUCTURE") == 0 ||
               (extended && name.CompareNoCase("BODY") == 0)) {
        item.kind = ItemKind::kBodyStructure;
        if (extended)
            needsHeader_ = needsBody_ = needsWhole_ = true;
        else
            needsMimeStructure_ = true;
    } else if (name.CompareNoCase("BODY", 4) == 0) {
        if (extended && IsPartSection(name)) {
            item.kind = ItemKind::kPartSection;
            ReadPartSection(&item);
            needsHeader_ = needsBody_ = needsWhole_ = true;
        } else {
            item.kind = ItemKind::kSection;
            ReadSection(&item);
            if (item.sectionKind == SectionKind::kWhole || item.sectionKind == SectionKind::kHeader)
                needsHeader_ = true;
            if (item.sectionKind == SectionKind::kWhole || item.sectionKind == SectionKind::kText)
                needsBody_ = true;
        }
    } else if (name.CompareNoCase("ENVELOPE") == 0) {
        item.kind = ItemKind::kEnvelope;
        needsEnvelope_ = true;
    } else if (name.CompareNoCase("FAST") == 0) {
        Add(kFastMembers, uidUsed);
        return;
    } else if (name.CompareNoCase("FULL") == 0) {
        Add(kFullMembers, uidUsed);
        return;
    } else if (name.CompareNoCase("INTERNALDATE") == 0) {
        item.kind = ItemKind::kInternalDate;
        needsFileTime_ = true;
    } else if (name.CompareNoCase("UID") == 0) {
        if (uidUsed)
            return;
        item.kind = ItemKind::kUid;
    } else if (name.CompareNoCase("FLAGS") == 0) {
        item.kind = ItemKind::kFlags;
    } else if (extended && name.CompareNoCase("MODSEQ") == 0) {
        if (HasModSeq())
            return;
        item.kind = ItemKind::kModSeq;
        item.name = "MODSEQ";
    } else {
        return;  // not an item this server knows: nothing is written for it
    }
    items_.push_back(item);
}

int FetchRequest::SeenMarks(bool headerLoaded) const {
    int marks = 0;
    bool header = headerLoaded;
    for (const FetchItem& item : items_) {
        switch (item.kind) {
            case ItemKind::kRfc822Size:
            case ItemKind::kRfc822Text:
                ++marks;
                break;
            case ItemKind::kRfc822:
            case ItemKind::kRfc822Header:
                header = true;
                break;
            case ItemKind::kBodyStructure:
                if (mode_ == Mode::kExtended)
                    header = true;
                break;
            case ItemKind::kPartSection:
                header = true;
                if (!item.peek)
                    ++marks;
                break;
            case ItemKind::kSection:
                if (item.sectionKind == SectionKind::kWhole) {
                    header = true;
                    if (!item.peek)
                        ++marks;
                } else if (item.sectionKind == SectionKind::kHeader) {
                    // Loading the header marks, and the section marks again.
                    if (!item.peek)
                        marks += header ? 1 : 2;
                    header = true;
                } else if (item.sectionKind == SectionKind::kText && !item.peek) {
                    ++marks;
                }
                break;
            default:
                break;
        }
    }
    return marks;
}
