// APPEND. The server never writes a folder itself: the literal goes to a temporary file that
// the host imports. The exact mode imports every message unread. The extended mode takes the
// flag list as optional and honours it (the host's flags through the import's status word,
// \Flagged and keywords in the destination's kept flags), and answers with the APPENDUID code,
// found by reading the destination's index before and after the host stores the message.
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/file.h"
#include "imap/commands/commands.h"
#include "imap/commands/uid_codes.h"
#include "imap/flag_update.h"
#include "imap/session.h"
#include "store/folder_flags.h"
#include "store/mail_store.h"
#include "store/mailbox.h"

namespace {

// APPEND's literal is received in blocks of this size.
constexpr int kAppendBlock = 64 * 1024;

// The message literal's marker: the one that ends the command line ("{n}" or "{n+}"), else the
// literal argument read as a bare size.
LiteralMarker MessageLiteral(const Session& s) {
    const Text& rest = s.command.rest;
    LiteralMarker m = FindLiteralMarker(rest.c_str(), rest.Length());
    const int count = s.command.arguments.Count();
    if (m.present || count < 3)
        return m;
    Text bare("{");
    bare.Append(*s.command.arguments.At(count == 4 ? 3 : 2));
    bare.Append('}');
    m = FindLiteralMarker(bare.c_str(), bare.Length());
    m.synchronizing = true;
    return m;
}

// Receives the message into a temporary file and hands it to the host with the status word
// status, calling beforeImport just before. True when it was handed over (the command still to be
// answered), false when the command was answered.
bool Append(Session& s, uint32_t status, const std::function<void()>& beforeImport) {
    // A literal that is refused is refused before the continuation, so a client that waits
    // sends nothing of it; the bytes of one that does not wait are dropped, never run.
    const LiteralMarker literal = MessageLiteral(s);
    const int count = s.command.arguments.Count();
    if (count < 3) {
        s.RefuseLiteral(literal);
        s.NoArguments();
        return false;
    }
    // With a date-time (four arguments) the literal is the fourth. A size that is not one
    // (not digits, or past 32 bits) is refused like one past the limit.
    const uint32_t size = literal.size;
    if (!literal.valid || (s.settings.maxAppendSize != 0 && size > s.settings.maxAppendSize)) {
        s.RefuseLiteral(literal);
        s.NoArguments();
        return false;
    }

    const Text path = s.ResolveFolder(*s.command.arguments.At(0));
    if (path.IsEmpty()) {
        s.RefuseLiteral(literal);
        return false;
    }
    Mailbox mailbox(s.host, s.user->mailRoot, path);
    TempFile temp;
    // A client that sends its literal without waiting (LITERAL+, extended mode) gets no
    // continuation: it would read one as the answer to a command it never sent.
    if (s.mode == Mode::kExact || literal.synchronizing)
        s.Send("+ OK please give datas\r\n");

    // The literal goes to the temporary file in blocks; bytes already received come first.
    // When the file cannot be made or written whole (the temporary directory is missing or
    // full), the literal is still read to its end so the connection stays in step, but the
    // host is given nothing: it would store the message cut short.
    bool written = temp.IsOpen();
    std::unique_ptr<char[]> block(new char[kAppendBlock]);
    uint32_t left = size;
    while (left > 0) {
        const int want = left < kAppendBlock ? static_cast<int>(left) : kAppendBlock;
        const int got = s.channel.ReadInput(block.get(), want);
        if (got <= 0) {
            // The client went away during the literal: nothing is imported, nothing answered.
            s.EndWithoutCompletion();
            return false;
        }
        if (written && !temp.Write(block.get(), static_cast<uint32_t>(got)))
            written = false;
        left -= static_cast<uint32_t>(got);
    }
    // The rest of the command line after the literal belongs to this APPEND; a rest past the
    // command limit is dropped and the command answered as an overlong one.
    Text rest;
    Text tail;
    bool cut = false;
    if (!s.channel.ReadInputLine(&rest, s.CommandLimit(), &cut, &tail)) {
        s.EndWithoutCompletion();
        return false;
    }
    if (cut) {
        s.DropCommandRest(tail);
        s.NotImplemented();
        return false;
    }
    temp.Close();
    if (!written) {
        s.NoArguments();
        return false;
    }
    beforeImport();
    mailbox.ImportMessage(temp.Path().c_str(), status);
    return true;
}

}  // namespace

namespace {

// The destination's folder path as Append will find it, looked at before the message comes
// (empty when it names none: Append answers every refusal).
Text DestinationPath(Session& s) {
    Text localName;
    if (s.command.arguments.Count() >= 3 && s.FolderName(*s.command.arguments.At(0), &localName))
        return s.FindFolderPath(localName);
    return Text("");
}

// Receives and imports the message with the status word status, and waits until it shows in
// the destination path. Returns its UID, or 0 when the command was answered. *validity gets
// the destination's UIDVALIDITY in extended mode.
uint32_t AppendAndAwait(Session& s, const Text& path, uint32_t status, uint32_t* validity) {
    // What the destination holds is read just before the host gets the message, with the
    // folder held against this server's other APPENDs and COPYs until the new message shows:
    // the UID that shows then is this command's.
    std::vector<uint32_t> before;
    std::unique_lock<std::mutex> hold;
    const auto beforeImport = [&]() {
        if (path.IsEmpty())
            return;
        hold = std::unique_lock<std::mutex>(FolderAddLock(s.user->mailRoot, path));
        before = DestinationUids(s, path, validity);
    };
    if (!Append(s, status, beforeImport) || path.IsEmpty())
        return 0;
    // OK only when the message is in the destination: the host's import says nothing, so
    // its index is read until the message shows there.
    const std::vector<uint32_t> added =
        AwaitNewUids(before, s.host, s.user->mailRoot, path, s.mode, 1);
    if (added.empty()) {
        RefuseNotStored(s, path, " NO the mail client did not store the message\r\n");
        return 0;
    }
    return added.back();
}

// Extended mode: the flag list, or "" when the command has none: the argument after the
// mailbox when it stands in parentheses and is not the last (else it is the date-time or the
// literal).
Text FlagListArgument(const Session& s) {
    Text rest(s.command.rest);
    rest.SplitArgument();
    if (rest[0] != '(' || s.command.arguments.Count() < 3)
        return Text("");
    return *s.command.arguments.At(1);
}

void AppendExtended(Session& s) {
    // The host stores the message with the status word of its flags; \Flagged and keywords go
    // to the destination's kept flags once its UID is known. The date-time is not kept: the
    // host's import takes none.
    const Text flags = FlagListArgument(s);
    // The flag list is optional (a message without flags may be sent without one): an empty
    // one stands in for it, so the literal is found where the exact path looks.
    if (s.command.arguments.Count() == 2)
        s.command.arguments.Insert(1, Text("()"));
    FlagList kept;
    if (!ReadKeptFlags(flags, &kept)) {
        s.RefuseLiteral(MessageLiteral(s));
        s.SendTagged(" BAD invalid flag list\r\n");
        return;
    }
    const Text path = DestinationPath(s);
    FolderFlags* keptFlags =
        kept.empty() || path.IsEmpty() ? nullptr : FolderFlags::Of(s.host, s.user->mailRoot, path);
    uint32_t validity = 0;
    if (keptFlags != nullptr) {
        Mailbox destination(s.host, s.user->mailRoot, path, s.mode);
        destination.OpenIndex();
        if (keptFlags->PassesKeywordLimit(destination.UidValidity(), kept)) {
            s.RefuseLiteral(MessageLiteral(s));
            s.SendTagged(" NO [LIMIT] too many different keywords in this folder\r\n");
            return;
        }
    }
    const uint32_t uid = AppendAndAwait(s, path, ImportStatus(flags), &validity);
    if (uid == 0)
        return;
    if (keptFlags != nullptr) {
        keptFlags->Change(validity, uid, FlagChange::kAdd, kept);
        // A record that cannot be written keeps the flags while the host program runs; the
        // message is stored all the same.
        keptFlags->Save();
    }
    Text code("[APPENDUID ");
    code.AppendNumber(validity);
    code.Append(' ');
    code.AppendNumber(uid);
    code.Append(']');
    s.Complete(code);
}

}  // namespace

void RunAppend(Session& s) {
    if (s.mode == Mode::kExact) {
        // The flag list and the date-time are not used: the message arrives unread.
        uint32_t validity = 0;
        AppendAndAwait(s, DestinationPath(s), StatusUnread, &validity);
        return;
    }
    AppendExtended(s);
}
