#include "imap/commands/uid_codes.h"

#include <algorithm>

#include "store/mailbox.h"

std::vector<uint32_t> SortedUids(const Mailbox& folder) {
    std::vector<uint32_t> uids;
    const MessageIndex& index = folder.Index();
    uids.reserve(static_cast<size_t>(index.Count()));
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.At(i)->uid);
    std::sort(uids.begin(), uids.end());
    return uids;
}

std::vector<uint32_t> NewUids(const std::vector<uint32_t>& before, const Mailbox& destination) {
    std::vector<uint32_t> added;
    for (uint32_t uid : SortedUids(destination)) {
        if (!std::binary_search(before.begin(), before.end(), uid) &&
            (added.empty() || added.back() != uid))
            added.push_back(uid);
    }
    return added;
}

Text UidListText(const std::vector<uint32_t>& uids) {
    Text out;
    out.Assign("");
    size_t i = 0;
    while (i < uids.size()) {
        size_t end = i;
        while (end + 1 < uids.size() && uids[end + 1] == uids[end] + 1)
            ++end;
        if (i > 0)
            out.Append(',');
        out.AppendNumber(uids[i]);
        if (end > i) {
            out.Append(':');
            out.AppendNumber(uids[end]);
        }
        i = end + 1;
    }
    return out;
}
