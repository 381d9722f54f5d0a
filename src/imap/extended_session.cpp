#include "imap/extended_session.h"

#include <memory>

#include "mime/client_form.h"
#include "store/mailbox.h"

ExtendedSession::ExtendedSession(Listener* owner, platform::SocketHandle handle,
                                 const UserTable* users, HostPort& host)
    : ImapSession(owner, handle, users, host) {}

ExtendedSession::~ExtendedSession() = default;

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

}  // namespace

void ExtendedSession::Dispatch() {
    // Every message this connection loads takes the extended client form.
    ExtendedClientForm form;
    ImapSession::Dispatch();
}

void ExtendedSession::ParseLine(const char* line) {
    Text probe(line);
    probe.SplitArgument();
    Text word = probe.SplitArgument();
    if (word.CompareNoCase("UID") == 0)
        word = probe.SplitArgument();
    if (word.CompareNoCase("APPEND") == 0) {
        ImapSession::ParseLine(line);
        return;
    }
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
            int n = ReadInput(bytes.get() + got, static_cast<int>(size - got));
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
        if (got < size || !ReadInputLine(&current)) {
            current.Assign("");
            break;
        }
    }
    assembled.Append(current);
    ImapSession::ParseLine(assembled.c_str());
}

void ExtendedSession::NotImplemented() {
    if (command_.word.CompareNoCase("UNSELECT") == 0) {
        OnUnselect();
        return;
    }
    if (command_.word.CompareNoCase("STARTTLS") == 0) {
        OnStartTls();
        return;
    }
    ImapSession::NotImplemented();
}

void ExtendedSession::OnCapability() {
    Send("* CAPABILITY IMAP4rev1 IDLE UIDPLUS UNSELECT");
    if (!TlsActive()) {
        if (tlsContext_ != nullptr)
            Send(" STARTTLS");
        if (requireTls_)
            Send(" LOGINDISABLED");
    }
    Send("\r\n");
}

// The host offers no function to create, remove or rename a folder.
void ExtendedSession::OnCreate() {
    SendTagged(" NO [CANNOT] folders are managed by the mail client\r\n");
}
void ExtendedSession::OnDelete() {
    OnCreate();
}
void ExtendedSession::OnRename() {
    OnCreate();
}
