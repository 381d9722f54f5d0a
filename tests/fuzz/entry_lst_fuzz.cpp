// The host's folder index "Entry.lst" of any bytes, loaded as SELECT loads it, and the change
// report of extended mode: a snapshot loaded from one index file is brought up to date with a
// second one, as NOOP and IDLE do when the host rewrote the file.
//
// Input: one byte of settings (bit 0: the folder's message total is 0, so the file is not read),
// then the first index file, then optionally "@@\n" and the second index file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "shell/host_binding.h"
#include "store/index_changes.h"
#include "store/mailbox.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void RequireSorted(const MessageIndex& index) {
    for (int i = 1; i < index.Count(); ++i)
        Require(index.At(i - 1)->uid <= index.At(i)->uid);
}

// Checks that every reported sequence number names a message at the moment it is reported.
class CheckingListener : public IndexChangeListener {
  public:
    explicit CheckingListener(const MessageIndex& index) : index_(index) {}
    void Expunged(int sequence, uint32_t) override {
        // Reported once the entry is gone: it was at this number before.
        Require(sequence >= 1 && sequence <= index_.Count() + 1);
    }
    void StatusChanged(int sequence, MessageEntry& entry) override {
        Require(sequence >= 1 && sequence <= index_.Count());
        Require(index_.At(sequence - 1) == &entry);
    }
    void Grew(int count, int recent) override {
        Require(count == index_.Count());
        Require(recent >= 0 && recent <= count);
    }

  private:
    const MessageIndex& index_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 20)
        return 0;
    static const std::string folder = [] {
        const std::string path = fuzz::MailboxDirectory() + "user/inbox.box/";
        fuzz::MakeDirectory(path);
        fuzz::WriteBytes(path + "Imap4.ini", std::string("[IMAP4]\r\nUID=5\r\n"));
        return path;
    }();
    const bool empty = (data[0] & 1) != 0;
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const size_t marker = rest.find("@@\n");
    const std::string first = rest.substr(0, marker);
    const std::string second = marker == std::string::npos ? first : rest.substr(marker + 3);

    fuzz::WriteBytes(folder + "Entry.ini",
                     std::string("[Property]\r\nTotal=") + (empty ? "0" : "3") + "\r\n");
    fuzz::WriteBytes(folder + "Entry.lst", first);
    Mailbox snapshot(BoundHost(), Text("user"), Text("INBOX"));
    snapshot.OpenIndex();
    Require(snapshot.UidValidity() == 5);
    RequireSorted(snapshot.Index());
    Require(snapshot.RecentCount() == snapshot.UnseenCount());
    if (empty) {
        Require(snapshot.Index().Count() == 0 && snapshot.UidNext() == 1);
        return 0;
    }
    uint32_t next = 0;
    for (int i = 0; i < snapshot.Index().Count(); ++i) {
        if (snapshot.Index().At(i)->uid + 1u > next)
            next = snapshot.Index().At(i)->uid + 1u;
    }
    Require(snapshot.UidNext() == next);

    fuzz::WriteBytes(folder + "Entry.lst", second);
    Mailbox fresh(BoundHost(), Text("user"), Text("INBOX"));
    fresh.ReadIndex();
    RequireSorted(fresh.Index());

    const IndexChanges changes = CompareIndexes(snapshot.Index(), fresh.Index());
    CheckingListener listener(snapshot.Index());
    ApplyIndexChanges(snapshot.Index(), fresh.Index(), changes, listener);
    RequireSorted(snapshot.Index());
    // Up to date: a second comparison finds nothing more to do.
    Require(CompareIndexes(snapshot.Index(), fresh.Index()).Empty());
    return 0;
}
