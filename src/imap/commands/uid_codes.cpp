#include "imap/commands/uid_codes.h"

#include <algorithm>
#include <map>
#include <memory>
#include <string>

#include "base/event_log.h"
#include "imap/session.h"
#include "platform/threads.h"
#include "store/mailbox.h"

std::vector<uint32_t> SortedUids(const Mailbox& folder) {
    std::vector<uint32_t> uids;
    const MessageIndex& index = folder.Index();
    uids.reserve(static_cast<size_t>(index.Count()));
    for (int i = 0; i < index.Count(); ++i)
        uids.push_back(index.UidAt(i));
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

std::vector<uint32_t> AwaitNewUids(const std::vector<uint32_t>& before, HostPort& host,
                                   const Text& mailRoot, const Text& folderPath, Mode mode,
                                   size_t wanted) {
    constexpr uint32_t kStoreWaitMs = 3000;
    constexpr uint32_t kStep = 20;
    for (uint32_t waited = 0;; waited += kStep) {
        Mailbox after(host, mailRoot, folderPath, mode);
        after.ReadIndex();
        std::vector<uint32_t> added = NewUids(before, after);
        if (added.size() >= wanted || waited >= kStoreWaitMs)
            return added;
        platform::SleepMs(kStep);
    }
}

std::mutex& FolderAddLock(const Text& mailRoot, const Text& folderPath) {
    static std::mutex* tableLock = new std::mutex;
    static auto* table = new std::map<std::string, std::unique_ptr<std::mutex>>;
    std::string key(mailRoot.c_str());
    key += '\\';
    key += NormaliseFolderPath(folderPath).c_str();
    std::lock_guard<std::mutex> hold(*tableLock);
    std::unique_ptr<std::mutex>& lock = (*table)[key];
    if (!lock)
        lock.reset(new std::mutex);
    return *lock;
}

std::vector<uint32_t> DestinationUids(Session& s, const Text& folderPath, uint32_t* validity) {
    Mailbox destination(s.host, s.user->mailRoot, folderPath, s.mode);
    if (s.mode == Mode::kExtended) {
        destination.OpenIndex();
        *validity = destination.UidValidity();
    } else {
        destination.ReadIndex();
    }
    return SortedUids(destination);
}

void RefuseNotStored(Session& s, const Text& folderPath, const char* text) {
    Mailbox destination(s.host, s.user->mailRoot, folderPath);
    if (destination.Exists()) {
        s.Log(std::string("error: the mail client stored nothing of ") + s.command.word.c_str() +
              " into " +
              EventLog::Quoted(folderPath.c_str(), static_cast<size_t>(folderPath.Length())));
        s.SendTagged(text);
    } else if (s.mode == Mode::kExact) {
        s.SendTagged(" NO No such folder.\r\n");
    } else {
        s.SendTagged(" NO [TRYCREATE] No such folder.\r\n");
    }
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
