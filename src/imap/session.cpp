#include "imap/session.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "base/ascii.h"
#include "base/event_log.h"
#include "imap/command_table.h"
#include "imap/fetch_message.h"
#include "imap/message_set.h"
#include "imap/resync.h"
#include "mime/unicode_text.h"
#include "platform/codepage.h"
#include "platform/threads.h"
#include "store/index_changes.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

const char* const Session::kStopLine = "* BYE IMAP4rev1 Server logging out\r\n";
const char* const Session::kTimeoutLine = "* BYE Autologout; idle for too long\r\n";

namespace {

// Before LOGIN a command, its lines and literals together, is held to this many bytes: a client
// that has not shown a password can make the server hold little.
constexpr uint32_t kLoginCommandLimit = 8 * 1024;

// Without a command limit (MaxLineLength=0), one literal is still held to this.
constexpr uint32_t kMaxCommandLiteral = 1 << 20;

// What is kept of a line that is read only to be dropped: enough for a literal marker at its end.
constexpr uint32_t kTailKept = 16;

// The command word of a line, after its tag and a UID prefix.
Text CommandWord(const char* line) {
    Text probe(line);
    probe.SplitArgument();
    Text word = probe.SplitArgument();
    if (word.CompareNoCase("UID") == 0)
        word = probe.SplitArgument();
    return word;
}

// Writes the untagged line of each step of a snapshot update to the client, numbered as the
// update numbers it, so the client's view follows the snapshot line by line. A client that
// enabled QRESYNC is told of the removals by UID, in one VANISHED line before the other lines.
class UpdateWriter : public IndexChangeListener {
  public:
    explicit UpdateWriter(Session& session)
        : session_(session), flags_(ChangedFlagItems(session), 0, session.mode) {}
    ~UpdateWriter() override { Flush(); }

    void Expunged(int sequence, uint32_t uid) override {
        if (session_.qresync) {
            vanished_.push_back({uid, uid});
            return;
        }
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" EXPUNGE\r\n");
    }
    void StatusChanged(int sequence, MessageEntry& entry) override {
        Flush();
        session_.AnnounceKeywords(entry.keptFlags);
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" FETCH (");
        // FLAGS comes from the status word and the kept flags alone: nothing is loaded or
        // marked as read.
        FetchedMessage m(entry);
        WriteFetchItems(flags_, m, session_);
        session_.Send(")\r\n");
    }
    void Grew(int count, int recent) override {
        Flush();
        session_.Send("* ");
        session_.SendNumber(count);
        session_.Send(" EXISTS\r\n* ");
        session_.SendNumber(recent);
        session_.Send(" RECENT\r\n");
    }

  private:
    void Flush() {
        SendVanished(session_, JoinRanges(vanished_), false);
        vanished_.clear();
    }

    Session& session_;
    const FetchRequest flags_;
    std::vector<MessageRange> vanished_;
};

}  // namespace

Session::Session(ClientChannel& channel, const SessionSettings& settings)
    : channel(channel), host(*settings.host), settings(settings), mode(settings.mode) {}

Session::~Session() {
    RunAfterAnswer();
}

void Session::RunAfterAnswer() {
    std::vector<std::function<void()>> work;
    work.swap(afterAnswer_);
    for (const std::function<void()>& w : work)
        w();
}

void Session::Greet() {
    Send("* OK Orvex IMAP4rev1 server ready\r\n");
}

uint32_t Session::CommandLimit() const {
    const uint32_t limit = settings.maxCommandBytes;
    if (state == NotAuthenticated && (limit == 0 || limit > kLoginCommandLimit))
        return kLoginCommandLimit;
    return limit;
}

void Session::Log(const std::string& text) const {
    EventLog::Shared().Write(settings.connectionNumber, settings.peerAddress, text);
}

void Session::RunLine(const char* line) {
    RunAfterAnswer();
    ++commandCount;
    // Most lines end without a literal: they are parsed where they lie, in either mode.
    if (mode == Mode::kExact ||
        !FindLiteralMarker(line, static_cast<int>(std::strlen(line))).present) {
        command.Parse(line);
    } else {
        Text assembled;
        if (!ReadLiterals(line, &assembled)) {
            // Past the limit, or a literal that is none: answered by its tag and word, never run.
            RunOverlongLine(assembled.c_str());
            return;
        }
        command.Parse(assembled.c_str());
    }
    completionPending_ = true;
    const uint8_t modeBit = mode == Mode::kExact ? kExactMode : kExtendedMode;
    const CommandSpec* spec = command.word.IsEmpty() ? nullptr : FindCommand(command.word, modeBit);
    if (spec == nullptr) {
        NotImplemented();
    } else if ((spec->states & (1 << state)) == 0) {
        SendTagged(" BAD State ");
        Send(command.word.c_str());
        Send("\r\n");
    } else {
        spec->run(*this);
    }
    if (completionPending_)
        Complete(Text(""));
}

void Session::RunOverlongLine(const char* start) {
    // Only the start was kept: it is answered by its tag and word, never run.
    command.Parse(start);
    NotImplemented();
}

bool Session::ReadLiterals(const char* line, Text* assembled) {
    assembled->Assign(line);
    // APPEND reads its message literal itself, into a file.
    if (CommandWord(line).CompareNoCase("APPEND") == 0)
        return true;
    const uint32_t limit = CommandLimit();
    uint64_t used = assembled->Length();
    // Each literal becomes a quoted string (with '"' and '\' escaped) in the line, which then
    // goes on with the next line the client sends.
    Text current(*assembled);
    assembled->Assign("");
    for (;;) {
        const LiteralMarker m = FindLiteralMarker(current.c_str(), current.Length());
        if (!m.present)
            break;
        const uint64_t room =
            limit == 0 ? kMaxCommandLiteral : limit - std::min<uint64_t>(used, limit);
        if (!m.valid || m.size > room) {
            assembled->Append(current.c_str(), m.offset);
            RefuseLiteral(m);
            return false;
        }
        assembled->Append(current.c_str(), m.offset);
        if (m.synchronizing)
            Send("+ Ready for literal data\r\n");
        std::unique_ptr<char[]> bytes(new char[m.size > 0 ? m.size : 1]);
        uint32_t got = 0;
        while (got < m.size) {
            const int n = channel.ReadInput(bytes.get() + got, static_cast<int>(m.size - got));
            if (n <= 0)
                break;
            got += static_cast<uint32_t>(n);
        }
        assembled->Append('"');
        for (uint32_t i = 0; i < got; ++i) {
            if (bytes[i] == '"' || bytes[i] == '\\')
                assembled->Append('\\');
            assembled->Append(bytes[i]);
        }
        assembled->Append('"');
        used += m.size;
        if (got < m.size) {
            current.Assign("");
            break;
        }
        bool cut = false;
        Text tail;
        const uint32_t rest =
            limit == 0 ? 0 : static_cast<uint32_t>(limit - std::min<uint64_t>(used, limit));
        if (!channel.ReadInputLine(&current, limit == 0 ? 0 : std::max<uint32_t>(rest, 1), &cut,
                                   &tail)) {
            current.Assign("");
            break;
        }
        used += current.Length();
        if (cut) {
            // The line went past the limit: what it ends with decides what follows.
            DropCommandRest(tail);
            return false;
        }
    }
    assembled->Append(current);
    return true;
}

void Session::RefuseLiteral(const LiteralMarker& m) {
    // A client that waits for the continuation sends nothing more of this command.
    if (m.synchronizing)
        return;
    if (!m.valid) {
        // Bytes are on their way, but how many is not known: nothing after them can be trusted.
        SetEndReason("limit: a literal without a valid size");
        channel.EndAfterAnswer();
        return;
    }
    DropInput(m.size);
    DropCommandRest(Text(""));
}

void Session::DropInput(uint32_t size) {
    char scratch[4096];
    uint32_t left = size;
    while (left > 0) {
        const int want =
            left < sizeof scratch ? static_cast<int>(left) : static_cast<int>(sizeof scratch);
        const int n = channel.ReadInput(scratch, want);
        if (n <= 0)
            return;
        left -= static_cast<uint32_t>(n);
    }
}

void Session::DropCommandRest(const Text& tailOfCutLine) {
    Text tail(tailOfCutLine);
    bool fromCut = !tail.IsEmpty();
    for (;;) {
        if (!fromCut) {
            // The next line of the command, kept only as far as its end.
            Text head;
            bool cut = false;
            if (!channel.ReadInputLine(&head, kTailKept, &cut, &tail))
                return;
            if (!cut)
                tail = head;
        }
        fromCut = false;
        const LiteralMarker m = FindLiteralMarker(tail.c_str(), tail.Length());
        if (!m.present || m.synchronizing) {
            // The command ends here (a client waiting for a continuation gets none).
            if (m.present && !m.valid) {
                SetEndReason("limit: a literal without a valid size");
                channel.EndAfterAnswer();
            }
            return;
        }
        if (!m.valid) {
            SetEndReason("limit: a literal without a valid size");
            channel.EndAfterAnswer();
            return;
        }
        DropInput(m.size);
    }
}

void Session::SendTagged(const char* text) {
    Send(command.tag.c_str());
    Send(text);
    completionPending_ = false;
}

void Session::Complete(const Text& code) {
    Send(command.tag.c_str());
    Send(" OK ");
    if (!code.IsEmpty()) {
        Send(code.c_str());
        Send(" ");
    }
    Send(command.word.c_str());
    Send(" complated\r\n");
    completionPending_ = false;
}

void Session::NotImplemented() {
    SendTagged(" BAD Command Not impremented ");
    Send(command.word.c_str());
    Send("\r\n");
}

void Session::NoArguments() {
    SendTagged(" NO please give arguments\r\n");
}

bool Session::FolderName(const Text& clientName, Text* out) const {
    if (textForm != TextForm::kUtf8)
        return DecodeName(clientName, out);
    bool high = false;
    for (int i = 0; i < clientName.Length(); ++i)
        high = high || (static_cast<unsigned char>(clientName[i]) & 0x80) != 0;
    std::u16string wide;
    if (!high || !DecodeUtf8(clientName.c_str(), static_cast<size_t>(clientName.Length()), &wide))
        return DecodeName(clientName, out);
    *out = Text("");
    bool usedDefault = false;
    NameCodec codec;
    const char* narrow = codec.ToNarrow(wide.c_str(), &usedDefault);
    // A character the code page lacks is in no folder's name.
    if (usedDefault)
        return false;
    *out = Text(narrow);
    return true;
}

Text Session::ClientName(const Text& encodedName) const {
    if (textForm != TextForm::kUtf8)
        return encodedName;
    Text local;
    DecodeName(encodedName, &local);
    std::string utf8;
    AppendUtf8OfShiftJis(local.c_str(), static_cast<size_t>(local.Length()), &utf8);
    return Text(utf8.c_str());
}

void Session::SendMailboxName(const Text& name) {
    bool atom = !name.IsEmpty();
    for (int i = 0; atom && i < name.Length(); ++i) {
        atom = IsAtomChar(static_cast<unsigned char>(name[i]));
    }
    if (atom) {
        Send(name.c_str());
        return;
    }
    Text quoted("\"");
    for (int i = 0; i < name.Length(); ++i) {
        if (name[i] == '"' || name[i] == '\\')
            quoted.Append('\\');
        quoted.Append(name[i]);
    }
    quoted.Append('"');
    Send(quoted.c_str());
}

Text Session::FindFolderPath(const Text& localName) {
    if (mode == Mode::kExact)
        return store->FindFolder(localName, UseTitles.load());
    // A folder the host added since LOGIN, or one whose name changed with another's, is found
    // under the name LIST shows.
    store.reset(new MailStore(host, user->mailRoot));
    store->Load(Text(""), Text("*"), 0);
    return store->FindUniqueFolder(localName, UseTitles.load());
}

Text Session::ResolveFolder(const Text& clientName) {
    Text localName;
    Text path;
    if (FolderName(clientName, &localName))
        path = FindFolderPath(localName);
    if (path.IsEmpty())
        SendTagged(" NO No such folder.\r\n");
    return path;
}

Text Session::FolderArgument(int count) {
    if (command.arguments.Count() != count) {
        NoArguments();
        return Text("");
    }
    return ResolveFolder(*command.arguments.At(0));
}

bool Session::ArgumentCount(int minimum, int maximum) {
    const int count = command.arguments.Count();
    if (count < minimum || (maximum >= 0 && count > maximum)) {
        NoArguments();
        return false;
    }
    return true;
}

void Session::WalkSet(const Text& setText, const std::function<void(MessageEntry&, int)>& serve,
                      bool make) {
    MessageIndex& index = selected->Index();
    const uint32_t count = static_cast<uint32_t>(index.Count());
    MessageEntry passing;
    auto entryAt = [&](int position) -> MessageEntry* {
        if (make || index.IsMade(position))
            return index.At(position);
        index.Peek(position, &passing);
        return &passing;
    };
    Text set(setText);
    while (!set.IsEmpty()) {
        MessageRange r = ParseRange(&set, command.uid, selected->UidNext(), count);
        if (command.uid) {
            for (int i = 0; i < index.Count(); ++i) {
                const uint32_t uid = index.UidAt(i);
                if (uid >= r.lo && uid <= r.hi) {
                    serve(*entryAt(i), i + 1);
                    if (Closing())
                        return;
                }
            }
        } else {
            for (uint64_t n = r.lo; n <= r.hi; ++n) {
                if (n >= 1 && n <= static_cast<uint64_t>(index.Count()))
                    serve(*entryAt(static_cast<int>(n - 1)), static_cast<int>(n));
                if (Closing())
                    return;
            }
        }
        if (Closing())
            return;
    }
}

void Session::ReportChanges() {
    if (state != Selected || selected == nullptr)
        return;
    // The folder's index as the host has it now; its UIDVALIDITY is the selected one's, so
    // none is read or drawn from the shared counter.
    Mailbox fresh(host, selected->MailRoot(), selected->FolderPath(), mode);
    fresh.ReadIndex();
    const IndexChanges changes = CompareIndexes(selected->Index(), fresh.Index());
    if (!changes.Empty()) {
        UpdateWriter writer(*this);
        ApplyIndexChanges(selected->Index(), fresh.Index(), changes, writer);
    }
    // UIDNEXT never goes back, even when the host removed the highest messages; nor does the
    // highest modification sequence.
    if (fresh.UidNext() > selected->UidNext())
        selected->SetUidNext(fresh.UidNext());
    if (fresh.HighestModSeq() > selected->HighestModSeq())
        selected->SetHighestModSeq(fresh.HighestModSeq());
}

Text Session::FlagNames() const {
    Text names("\\Answered \\Deleted \\Draft \\Flagged \\Seen");
    for (const std::string& keyword : keywords) {
        names.Append(' ');
        names.Append(keyword.c_str());
    }
    return names;
}

void Session::AnnounceKeywords(const Text& keptFlags) {
    if (keptFlags.IsEmpty())
        return;
    bool added = false;
    for (const std::string& flag : SplitFlagText(keptFlags.c_str())) {
        if (flag != kFlaggedFlag && !HasFlag(keywords, flag)) {
            keywords.push_back(flag);
            added = true;
        }
    }
    if (!added)
        return;
    Send("* FLAGS (");
    Send(FlagNames().c_str());
    Send(")\r\n");
}

void Session::Pause(uint32_t ms) {
    constexpr uint32_t kSlice = 50;
    while (ms > 0 && !Closing()) {
        const uint32_t step = ms < kSlice ? ms : kSlice;
        platform::SleepMs(step);
        ms -= step;
    }
}

void Session::Deselect() {
    selected.reset();
    keywords.clear();
    readOnly = false;
    state = Authenticated;
}
