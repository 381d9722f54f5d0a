// ENABLE (extended mode): the one extension a client can turn on is UTF8=ACCEPT, after which
// mailbox names travel as UTF-8 instead of modified UTF-7 and messages are served with UTF-8
// header text and 8bit UTF-8 text parts, converted from the store's Shift_JIS. Names it does
// not know are passed over, as clients send lists meant for many servers.
#include "imap/commands/commands.h"
#include "imap/session.h"

void RunEnable(Session& s) {
    if (s.command.arguments.Count() < 1) {
        s.NoArguments();
        return;
    }
    bool enabled = false;
    for (int i = 0; i < s.command.arguments.Count(); ++i) {
        Text rest(*s.command.arguments.At(i));
        for (Text word = rest.SplitToken(' '); !word.IsEmpty() || !rest.IsEmpty();
             word = rest.SplitToken(' ')) {
            if (word.CompareNoCase("UTF8=ACCEPT") == 0 && s.textForm != TextForm::kUtf8) {
                s.textForm = TextForm::kUtf8;
                enabled = true;
            }
        }
    }
    s.Send(enabled ? "* ENABLED UTF8=ACCEPT\r\n" : "* ENABLED\r\n");
}
