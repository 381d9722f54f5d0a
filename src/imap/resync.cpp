#include "imap/resync.h"

#include <algorithm>

#include "imap/session.h"
#include "store/folder_uids.h"
#include "store/mailbox.h"

bool ReadModSeq(const Text& text, bool zeroAllowed, uint64_t* out) {
    const int n = text.Length();
    if (n == 0 || n > 19)
        return false;
    uint64_t value = 0;
    for (int i = 0; i < n; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > INT64_MAX || (value == 0 && !zeroAllowed))
        return false;
    *out = value;
    return true;
}

std::vector<MessageRange> JoinRanges(std::vector<MessageRange> ranges) {
    std::sort(ranges.begin(), ranges.end(),
              [](const MessageRange& a, const MessageRange& b) { return a.lo < b.lo; });
    std::vector<MessageRange> joined;
    for (MessageRange r : ranges) {
        r.lo = std::max(r.lo, 1u);  // no message has UID 0
        if (r.lo > r.hi)
            continue;
        if (!joined.empty() && static_cast<uint64_t>(joined.back().hi) + 1 >= r.lo)
            joined.back().hi = std::max(joined.back().hi, r.hi);
        else
            joined.push_back(r);
    }
    return joined;
}

std::string UidSetText(const std::vector<MessageRange>& ranges) {
    std::string text;
    for (const MessageRange& r : ranges) {
        if (!text.empty())
            text += ',';
        text += std::to_string(r.lo);
        if (r.hi != r.lo) {
            text += ':';
            text += std::to_string(r.hi);
        }
    }
    return text;
}

std::vector<MessageRange> VanishedUids(Session& s, uint64_t since,
                                       const std::vector<MessageRange>& ranges) {
    Mailbox& folder = *s.selected;
    const std::vector<MessageRange> wanted = JoinRanges(ranges);
    std::vector<uint32_t> removed;
    std::vector<MessageRange> out;
    if (VanishedSince(s.host, folder.MailRoot(), folder.FolderPath(), folder.UidValidity(), since,
                      &removed)) {
        size_t r = 0;
        for (uint32_t uid : removed) {
            while (r < wanted.size() && wanted[r].hi < uid)
                ++r;
            if (r < wanted.size() && wanted[r].lo <= uid)
                out.push_back({uid, uid});
        }
        return JoinRanges(out);
    }
    // Every UID below UIDNEXT the folder does not hold: the gaps between the UIDs it holds.
    const MessageIndex& index = folder.Index();
    const uint32_t last = folder.UidNext() - 1;
    int position = 0;
    for (const MessageRange& r : wanted) {
        if (r.lo > last)
            break;
        const uint32_t hi = std::min(r.hi, last);
        while (position < index.Count() && index.UidAt(position) < r.lo)
            ++position;
        uint32_t from = r.lo;
        for (; position < index.Count() && index.UidAt(position) <= hi; ++position) {
            const uint32_t held = index.UidAt(position);
            if (held > from)
                out.push_back({from, held - 1});
            from = held + 1;
        }
        if (from <= hi && from != 0)
            out.push_back({from, hi});
    }
    return JoinRanges(out);
}

void SendVanished(Session& s, const std::vector<MessageRange>& uids, bool earlier) {
    if (uids.empty())
        return;
    s.Send(earlier ? "* VANISHED (EARLIER) " : "* VANISHED ");
    const std::string set = UidSetText(uids);
    s.Send(set.data(), static_cast<int>(set.size()));
    s.Send("\r\n");
}

Text ChangedFlagItems(const Session& s) {
    return Text(s.condStore ? "UID FLAGS MODSEQ" : "FLAGS");
}
