// The extended item override and its BODYSTRUCTURE. Parameter values come from the message
// file in Shift_JIS; a standard reader only understands them as encoded words.
#include "render/extended_items.h"

#include "mime/body_structure.h"
#include "mime/client_form.h"
#include "mime/mime_part.h"

namespace {

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

// Encodes every parameter value of the tree that holds a double-byte character.
void EncodeParams(MimePart* part) {
    for (LockedList<MimeParam>* list : {&part->contentType.params, &part->disposition.params}) {
        for (int i = 0; i < list->Count(); ++i) {
            MimeParam* param = list->At(i);
            if (!HasDoubleByte(param->value))
                continue;
            Text word("");
            AppendWholeWord(param->value, &word);
            param->value = word;
        }
    }
    for (int i = 0; i < part->children.Count(); ++i)
        EncodeParams(part->children.At(i));
}

}  // namespace

bool WriteExtendedItem(ItemContext& c, const Text& item) {
    if (item.CompareNoCase("BODYSTRUCTURE") == 0) {
        WriteBodyStructureExtended(c, item);
        return true;
    }
    if (item.CompareNoCase("ENVELOPE") == 0) {
        WriteEnvelopeExtended(c, item);
        return true;
    }
    if (IsPartSection(item)) {
        WritePartSection(c, item);
        return true;
    }
    return false;
}

void WriteBodyStructureExtended(ItemContext& c, const Text& name) {
    WriteSeparator(c);
    c.out.Write(name.c_str(), name.Length());
    MimePart root;
    const Text path = MessageFilePath(c.entry, c.mailRoot, c.folderPath);
    if (!path.IsEmpty())
        ParseMessageFile(&root, path.c_str());
    EncodeParams(&root);
    Text value;
    RenderBodyStructure(root, &value);
    c.out.Write(value.c_str(), value.Length());
}
