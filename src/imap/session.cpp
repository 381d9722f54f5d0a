#include "imap/session.h"

#include <memory>

#include "imap/command_table.h"
#include "imap/fetch_message.h"
#include "imap/message_set.h"
#include "store/index_changes.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

const char* const Session::kStopLine = "* BYE IMAP4rev1 Server logging out\r\n";

namespace {

// The largest literal read into a command line; a larger one is left as it is (and the
// command fails on its arguments), so a client cannot make the server hold unbounded data.
constexpr uint32_t kMaxCommandLiteral = 1 << 20;

// When line ends with a literal marker "{n}" or "{n+}", its offset, size and whether the
// client waits for a continuation.
bool FindLiteral(const Text& line, int* offset, uint32_t* size, bool* synchronising) {
    int n = line.Length();
    if (n < 3 || line[n - 1] != '}')
        return false;
    int end = n - 1;
    *synchronising = true;
    if (line[end - 1] == '+') {
        *synchronising = false;
        --end;
    }
    int open = end - 1;
    while (open >= 0 && line[open] >= '0' && line[open] <= '9')
        --open;
    if (open < 0 || line[open] != '{' || open == end - 1 || end - open - 1 > 9)
        return false;
    *offset = open;
    *size = line.Mid(open + 1, end - open - 1).ToNumber();
    return true;
}

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
// update numbers it, so the client's view follows the snapshot line by line.
class UpdateWriter : public IndexChangeListener {
  public:
    explicit UpdateWriter(Session& session)
        : session_(session), flags_(Text("FLAGS"), 0, session.mode) {}

    void Expunged(int sequence) override {
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" EXPUNGE\r\n");
    }
    void StatusChanged(int sequence, MessageEntry& entry) override {
        session_.Send("* ");
        session_.SendNumber(sequence);
        session_.Send(" FETCH (");
        // FLAGS comes from the status word alone: nothing is loaded or marked as read.
        FetchedMessage m(entry);
        WriteFetchItems(flags_, m, session_);
        session_.Send(")\r\n");
    }
    void Grew(int count, int recent) override {
        session_.Send("* ");
        session_.SendNumber(count);
        session_.Send(" EXISTS\r\n* ");
        session_.SendNumber(recent);
        session_.Send(" RECENT\r\n");
    }

  private:
    Session& session_;
    const FetchRequest flags_;
};

}  // namespace

Session::Session(ClientChannel& channel, const SessionSettings& settings)
    : channel(channel), host(*settings.host), settings(settings), mode(settings.mode) {}

Session::~Session() = default;

void Session::Greet() {
    Send("* OK Orvex IMAP4rev1 server ready\r\n");
}

void Session::RunLine(const char* line) {
    if (mode == Mode::kExact) {
        command.Parse(line);
    } else {
        command.Parse(ReadLiterals(line).c_str());
    }
    completionPending_ = true;
    const CommandSpec* spec = command.word.IsEmpty() ? nullptr : FindCommand(command.word);
    const uint8_t modeBit = mode == Mode::kExact ? kExactMode : kExtendedMode;
    if (spec == nullptr || (spec->modes & modeBit) == 0) {
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

Text Session::ReadLiterals(const char* line) {
    // APPEND reads its message literal itself, into a file.
    if (CommandWord(line).CompareNoCase("APPEND") == 0)
        return Text(line);
    // Each literal becomes a quoted string (with '"' and '\' escaped) in the line, which then
    // goes on with the next line the client sends.
    Text assembled;
    assembled.Assign("");
    Text current(line);
    int offset = 0;
    uint32_t size = 0;
    bool synchronising = true;
    while (FindLiteral(current, &offset, &size, &synchronising) && size <= kMaxCommandLiteral) {
        assembled.Append(current.c_str(), offset);
        if (synchronising)
            Send("+ Ready for literal data\r\n");
        std::unique_ptr<char[]> bytes(new char[size > 0 ? size : 1]);
        uint32_t got = 0;
        while (got < size) {
            int n = channel.ReadInput(bytes.get() + got, static_cast<int>(size - got));
            if (n <= 0)
                break;
            got += static_cast<uint32_t>(n);
        }
        assembled.Append('"');
        for (uint32_t i = 0; i < got; ++i) {
            if (bytes[i] == '"' || bytes[i] == '\\')
                assembled.Append('\\');
            assembled.Append(bytes[i]);
        }
        assembled.Append('"');
        if (got < size || !channel.ReadInputLine(&current)) {
            current.Assign("");
            break;
        }
    }
    assembled.Append(current);
    return assembled;
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

Text Session::ResolveFolder(const Text& clientName) {
    Text path = store->FindFolder(DecodeName(clientName), UseTitles.load());
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

void Session::WalkSet(const Text& setText, const std::function<void(MessageEntry&, int)>& serve) {
    MessageIndex& index = selected->Index();
    const uint32_t count = static_cast<uint32_t>(index.Count());
    Text set(setText);
    while (!set.IsEmpty()) {
        MessageRange r = ParseRange(&set, command.uid, selected->UidNext(), count);
        if (command.uid) {
            for (int i = 0; i < index.Count(); ++i) {
                MessageEntry* entry = index.At(i);
                if (entry->uid >= r.lo && entry->uid <= r.hi) {
                    serve(*entry, i + 1);
                    if (Closing())
                        return;
                }
            }
        } else {
            for (uint64_t n = r.lo; n <= r.hi; ++n) {
                MessageEntry* entry = index.At(static_cast<int>(n - 1));
                if (entry != nullptr)
                    serve(*entry, static_cast<int>(n));
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
    Mailbox fresh(host, selected->MailRoot(), selected->FolderPath());
    fresh.ReadIndex();
    const IndexChanges changes = CompareIndexes(selected->Index(), fresh.Index());
    if (!changes.Empty()) {
        UpdateWriter writer(*this);
        ApplyIndexChanges(selected->Index(), fresh.Index(), changes, writer);
    }
    // UIDNEXT never goes back, even when the host removed the highest messages.
    if (fresh.UidNext() > selected->UidNext())
        selected->SetUidNext(fresh.UidNext());
}

void Session::Deselect() {
    selected.reset();
    readOnly = false;
    state = Authenticated;
}
