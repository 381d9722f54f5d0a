// The extended item override: which items the extended writers take.
#include "render/extended_items.h"

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

}  // namespace

bool WriteExtendedItem(ItemContext& c, const Text& item) {
    // A lone BODY is the structure without extension data.
    if (item.CompareNoCase("BODYSTRUCTURE") == 0 || item.CompareNoCase("BODY") == 0) {
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
