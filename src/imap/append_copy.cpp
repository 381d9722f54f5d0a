// APPEND and COPY, the two commands that put mail into a folder. The server never writes a
// folder itself: it hands a file holding one message to the host, which stores it.
#include <memory>

#include "base/file.h"
#include "imap/imap_session.h"
#include "store/mail_store.h"
#include "store/mailbox.h"

void ImapSession::OnAppend() {
    if (!RequireLogin())
        return;
    int count = command_.arguments.Count();
    if (count < 3) {
        NoArguments();
        return;
    }
    // With a date-time (four arguments) the literal is the fourth; the flag list and the
    // date are not used.
    Text literal(*command_.arguments.At(count == 4 ? 3 : 2));
    literal.Unbracket();
    uint32_t size = literal.ToNumber();
    if (maxAppendSize_ != 0 && size > maxAppendSize_) {
        // Refused before the continuation, so the client sends nothing of it.
        NoArguments();
        return;
    }

    Text path = ResolveFolder(*command_.arguments.At(0));
    if (path.IsEmpty())
        return;
    Mailbox mailbox(host_, user_->mailRoot, path);
    TempFile temp;
    Send("+ OK please give datas\r\n");

    // The literal goes to the temporary file in blocks; bytes already received come first.
    // When the file cannot be made or written whole (the temporary directory is missing or
    // full), the literal is still read to its end so the connection stays in step, but the
    // host is given nothing: it would store the message cut short.
    bool written = temp.IsOpen();
    std::unique_ptr<char[]> block(new char[kAppendBlock]);
    uint32_t left = size;
    while (left > 0) {
        int want = left < kAppendBlock ? static_cast<int>(left) : kAppendBlock;
        int got = ReadInput(block.get(), want);
        if (got <= 0) {
            // The client went away during the literal: nothing is imported.
            completion_ = 0;
            return;
        }
        if (written && !temp.Write(block.get(), static_cast<uint32_t>(got)))
            written = false;
        left -= static_cast<uint32_t>(got);
    }
    // The rest of the command line after the literal belongs to this APPEND.
    Text rest;
    if (!ReadInputLine(&rest)) {
        completion_ = 0;
        return;
    }
    temp.Close();
    if (!written) {
        NoArguments();
        return;
    }
    mailbox.ImportMessage(temp.Path().c_str());
}

void ImapSession::OnCopy() {
    if (!RequireState(Selected))
        return;
    if (command_.arguments.Count() != 2) {
        NoArguments();
        return;
    }
    // Only the leading number is used: a set such as 2:4 copies message 2.
    uint32_t number = command_.arguments.At(0)->ToNumber();
    Text path = ResolveFolder(*command_.arguments.At(1));
    if (path.IsEmpty())
        return;
    selected_->CopyMessage(number, command_.uid, path);
}
