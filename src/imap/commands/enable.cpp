// ENABLE (extended mode): a client can turn on UTF8=ACCEPT, after which mailbox names travel as
// UTF-8 instead of modified UTF-7 and messages are served with UTF-8 header text and 8bit UTF-8
// text parts, converted from the store's Shift_JIS; CONDSTORE, after which every change of flags
// told comes with the message's modification sequence; and QRESYNC, which adds VANISHED for
// removed messages (and turns CONDSTORE on). Names it does not know are passed over, as clients
// send lists meant for many servers. The answer names what this command turned on.
#include <string>

#include "imap/commands/commands.h"
#include "imap/session.h"

void RunEnable(Session& s) {
    if (s.command.arguments.Count() < 1) {
        s.NoArguments();
        return;
    }
    std::string enabled;
    for (int i = 0; i < s.command.arguments.Count(); ++i) {
        Text rest(*s.command.arguments.At(i));
        for (Text word = rest.SplitToken(' '); !word.IsEmpty() || !rest.IsEmpty();
             word = rest.SplitToken(' ')) {
            const char* name = nullptr;
            if (word.CompareNoCase("UTF8=ACCEPT") == 0 && s.textForm != TextForm::kUtf8) {
                s.textForm = TextForm::kUtf8;
                name = "UTF8=ACCEPT";
            } else if (word.CompareNoCase("CONDSTORE") == 0 && !s.condStore) {
                s.condStore = true;
                name = "CONDSTORE";
            } else if (word.CompareNoCase("QRESYNC") == 0 && !s.qresync) {
                s.qresync = s.condStore = true;
                name = "QRESYNC";
            }
            if (name != nullptr) {
                enabled += ' ';
                enabled += name;
            }
        }
    }
    s.Send("* ENABLED");
    s.Send(enabled.c_str());
    s.Send("\r\n");
}
