// FETCH and UID FETCH: each message of the set gets one untagged FETCH line, its items written
// by the renderers. The extended mode's writers take some items first (part sections, the
// grammar's BODYSTRUCTURE); nothing fetched there from a folder opened with EXAMINE marks a
// message as read, nor does a FETCH that asks for no text. There a FETCH may also ask only for
// the messages changed since a modification sequence (CHANGEDSINCE), and UID FETCH for the UIDs
// of its set removed since then too (VANISHED).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/event_log.h"
#include "imap/commands/commands.h"
#include "imap/fetch_message.h"
#include "imap/resync.h"
#include "imap/session.h"
#include "platform/threads.h"
#include "store/folder_facts.h"
#include "store/mailbox.h"

namespace {

// Whether a FETCH asks for text that marks a message as read: a BODY section without PEEK
// or RFC822.TEXT (a lone BODY is the structure here). The items follow the message set.
// Clients list a folder with RFC822.SIZE, and the size alone would otherwise turn every listed
// message read in the host's store.
bool ItemsMarkSeen(const TextList& arguments) {
    for (int i = 1; i < arguments.Count(); ++i) {
        Text items(*arguments.At(i));
        items.MakeUpper();
        const std::string text(items.c_str(), static_cast<size_t>(items.Length()));
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find_first_of(" ()", start);
            if (end == std::string::npos)
                end = text.size();
            const std::string item = text.substr(start, end - start);
            if (item.compare(0, 5, "BODY[") == 0 || item == "RFC822.TEXT")
                return true;
            start = end + 1;
        }
    }
    return false;
}

// The stamps of a long walk's message files, taken by a second thread while the walk loads
// and writes the messages before them: the file system's name lookups are much of a listing's
// time and need nothing of the walk. The thread keeps at most kAhead messages ahead, so a stamp
// is a moment old when its message is served; one it has not reached yet the walk takes itself.
class StampsAhead {
  public:
    // The fewest messages worth a thread.
    static constexpr size_t kLeast = 512;

    StampsAhead(platform::DirectoryStamps& directory, const std::vector<MessageEntry*>& entries)
        : directory_(directory), entries_(entries), slots_(new Slot[kSlots]) {
        thread_ = platform::StartThread(&StampsAhead::Run, this, nullptr);
    }
    ~StampsAhead() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        moved_.notify_one();
        if (thread_ != nullptr) {
            platform::WaitForThread(thread_, platform::kInfinite);
            platform::ReleaseThread(thread_);
        }
    }
    StampsAhead(const StampsAhead&) = delete;
    StampsAhead& operator=(const StampsAhead&) = delete;

    // The stamp of entries[i], for i = 0, 1, 2... in the walk's order.
    void Take(size_t i, TakenStamp* out) {
        // Release: the thread reuses the slots of the messages before i only once it sees this.
        walk_.store(i, std::memory_order_release);
        if (i % kStep == 0) {
            std::lock_guard<std::mutex> hold(lock_);
            moved_.notify_one();
        }
        Slot& slot = slots_[i % kSlots];
        if (!Claim(slot, i) && slot.tag.load(std::memory_order_acquire) == Tag(i, kTaken)) {
            *out = slot.taken;
            return;
        }
        // Not reached by the thread, or the thread is at it now: taking it here costs one
        // lookup, less than waiting for a thread the processors may not be running.
        Stamp(i, out);
    }

  private:
    static constexpr size_t kAhead = 256;
    static constexpr size_t kStep = 32;  // how often the walk wakes a waiting thread
    static constexpr size_t kGap = 4;    // how far ahead of the walk the thread goes on
    // A slot serves the messages i, i + kSlots, i + 2 kSlots... in turn: the thread never goes
    // kAhead messages past the walk. Its tag names the message and its state. Twice as many
    // slots as that, each on a cache line of its own, keep the slot the thread writes away from
    // the one the walk reads.
    static constexpr size_t kSlots = 2 * kAhead;
    enum { kTaking, kTaken };
    static constexpr uint64_t kFree = ~uint64_t{0};
    static uint64_t Tag(size_t i, int state) {
        return (static_cast<uint64_t>(i) << 1) | static_cast<uint64_t>(state);
    }
    struct alignas(64) Slot {
        std::atomic<uint64_t> tag{kFree};
        TakenStamp taken;
    };

    // Takes the slot for message i; false when the walk or the thread has it already.
    static bool Claim(Slot& slot, size_t i) {
        uint64_t seen = slot.tag.load(std::memory_order_acquire);
        if (seen != kFree && (seen >> 1) == i)
            return false;
        return slot.tag.compare_exchange_strong(seen, Tag(i, kTaking), std::memory_order_acq_rel);
    }

    static uint32_t Run(void* self) {
        static_cast<StampsAhead*>(self)->RunAhead();
        return 0;
    }

    void RunAhead() {
        for (size_t i = 0; i < entries_.size(); ++i) {
            if (i >= walk_.load(std::memory_order_acquire) + kAhead) {
                std::unique_lock<std::mutex> hold(lock_);
                moved_.wait(hold, [&] {
                    return stop_ || i < walk_.load(std::memory_order_acquire) + kAhead;
                });
            }
            if (stop_.load(std::memory_order_relaxed))
                return;
            // Caught up by the walk, which stamps the next few itself: the thread goes on
            // past them rather than at the file the walk is about to take.
            const size_t near = walk_.load(std::memory_order_relaxed) + kGap;
            if (i < near)
                i = near;
            if (i >= entries_.size())
                return;
            Slot& slot = slots_[i % kSlots];
            if (!Claim(slot, i))
                continue;  // the walk took it
            Stamp(i, &slot.taken);
            slot.tag.store(Tag(i, kTaken), std::memory_order_release);
        }
    }

    // As the serving of the message would stamp its file: its name within the folder.
    void Stamp(size_t i, TakenStamp* out) {
        const Text& name = entries_[i]->fileName;
        char path[platform::kMaxPath];
        out->have = 0;
        if (!IsPlainFileName(name) || name.Length() + 5 > static_cast<int>(sizeof path))
            return;
        std::memcpy(path, name.c_str(), static_cast<size_t>(name.Length()));
        std::memcpy(path + name.Length(), ".orv", 5);
        out->have = directory_.StampOf(path, &out->stamp);
    }

    platform::DirectoryStamps& directory_;
    const std::vector<MessageEntry*>& entries_;
    std::unique_ptr<Slot[]> slots_;
    std::atomic<size_t> walk_{0};  // the message the walk is at
    std::mutex lock_;
    std::condition_variable moved_;
    std::atomic<bool> stop_{false};  // set under lock_, so a waiting thread sees it
    platform::ThreadHandle thread_ = nullptr;
};

// The extended mode's FETCH modifiers: CHANGEDSINCE n, and VANISHED with it.
struct FetchModifiers {
    bool changedSince = false;
    uint64_t since = 0;
    bool vanished = false;
};

// Reads the modifier list (the third argument); false when it is not one this server takes:
// VANISHED only in UID FETCH, with CHANGEDSINCE, once QRESYNC is enabled.
bool ReadFetchModifiers(const Session& s, const Text& text, FetchModifiers* out) {
    Text rest(text);
    while (!rest.IsEmpty()) {
        const Text word = rest.SplitArgument();
        if (word.CompareNoCase("CHANGEDSINCE") == 0) {
            if (!ReadModSeq(rest.SplitArgument(), true, &out->since))
                return false;
            out->changedSince = true;
        } else if (word.CompareNoCase("VANISHED") == 0 && s.command.uid && s.qresync) {
            out->vanished = true;
        } else {
            return false;
        }
    }
    return out->changedSince || !out->vanished;
}

// request: the items, read once for the whole set.
void FetchSet(Session& s, const FetchRequest& request, bool marksSeen,
              const FetchModifiers& modifiers = FetchModifiers()) {
    Mailbox& folder = *s.selected;
    // Only messages changed since the modification sequence are served.
    const bool filter = modifiers.changedSince;
    const uint64_t since = modifiers.since;
    // Each message file is stamped before it is served: the folder's directory is held open
    // for the walk, so a stamp looks up one name.
    const Text directoryPath = FolderFilePath(s.host, folder.MailRoot(), folder.FolderPath(), "");
    platform::DirectoryStamps directory(directoryPath.c_str());
    // What earlier runs of the host learned of the folder, the first time in this process.
    FolderFacts::Shared().Load(directoryPath);
    bool learned = false;
    const bool readsFile = ReadsMessageFile(request);
    int missing = 0;  // messages whose file could not be found or read
    auto serve = [&](MessageEntry& entry, int sequence, const TakenStamp* taken) {
        if (filter && entry.modSeq <= since)
            return;
        s.Send("* ");
        s.SendNumber(sequence);
        s.Send(" ");
        s.Send(s.command.word.c_str());
        s.Send(" (");
        learned |= ServeFetchItems(s.host, entry, folder.MailRoot(), folder.FolderPath(), request,
                                   s, marksSeen, &directory, taken);
        s.Send(")\r\n");
        folder.NoteServed(entry);
        if (readsFile && entry.stampKey == 0 && missing++ == 0)
            s.Log("error: message file " +
                  EventLog::Quoted(entry.fileName.c_str(),
                                   static_cast<size_t>(entry.fileName.Length())) +
                  " cannot be read");
    };
    if (!ReadsMessageFile(request)) {
        // UIDs and flags only: nothing is learned or kept of a message, so none needs an entry.
        s.WalkSet(
            *s.command.arguments.At(0),
            [&](MessageEntry& entry, int sequence) { serve(entry, sequence, nullptr); }, false);
    } else if (folder.Index().Count() < static_cast<int>(StampsAhead::kLeast)) {
        s.WalkSet(*s.command.arguments.At(0),
                  [&](MessageEntry& entry, int sequence) { serve(entry, sequence, nullptr); });
    } else {
        // The set's messages first, so that their files can be stamped ahead of the walk.
        std::vector<MessageEntry*> entries;
        std::vector<int> sequences;
        s.WalkSet(*s.command.arguments.At(0), [&](MessageEntry& entry, int sequence) {
            if (filter && entry.modSeq <= since)
                return;
            entries.push_back(&entry);
            sequences.push_back(sequence);
        });
        // Stamps remembered since an earlier walk need no lookup, and no thread to take them.
        std::unique_ptr<StampsAhead> ahead;
        if (entries.size() >= StampsAhead::kLeast && directory.Remembered() < entries.size() / 2)
            ahead.reset(new StampsAhead(directory, entries));
        TakenStamp taken;
        for (size_t i = 0; i < entries.size(); ++i) {
            if (ahead != nullptr)
                ahead->Take(i, &taken);
            serve(*entries[i], sequences[i], ahead != nullptr ? &taken : nullptr);
            if (s.Closing())
                break;
        }
    }
    // Written to the folder's file once the answer is out: writing gathers the folder's facts
    // from the whole cache.
    if (learned)
        s.AfterAnswer([directoryPath] { FolderFacts::Shared().Learned(directoryPath); });
    if (missing > 1)
        s.Log("error: " + std::to_string(missing) + " message files of the folder cannot be read");
}

}  // namespace

void RunFetch(Session& s) {
    if (s.mode == Mode::kExact) {
        if (s.ArgumentCount(2, 2))
            FetchSet(s, FetchRequest(*s.command.arguments.At(1), s.command.uid, s.mode), true);
        return;
    }
    if (!s.ArgumentCount(2, 3))
        return;
    FetchModifiers modifiers;
    if (s.command.arguments.Count() == 3 &&
        !ReadFetchModifiers(s, *s.command.arguments.At(2), &modifiers)) {
        s.SendTagged(" BAD invalid FETCH modifiers\r\n");
        return;
    }
    Mailbox& folder = *s.selected;
    FetchRequest request(*s.command.arguments.At(1), s.command.uid, s.mode, s.textForm);
    if (modifiers.changedSince || request.HasModSeq()) {
        if (folder.HighestModSeq() == 0) {
            s.SendTagged(" BAD no modification sequences in this folder\r\n");
            return;
        }
        s.condStore = true;
        request.AddModSeq();
    }
    if (modifiers.vanished) {
        std::vector<MessageRange> ranges;
        if (!ParseUidSet(*s.command.arguments.At(0), folder.UidNext() - 1, &ranges)) {
            s.SendTagged(" BAD invalid UID set\r\n");
            return;
        }
        SendVanished(s, VanishedUids(s, modifiers.since, ranges), true);
    }
    FetchSet(s, request, !s.readOnly && ItemsMarkSeen(s.command.arguments), modifiers);
}
