// LIST and LSUB: the folders whose names match the pattern (read through the folder tree of
// the mail store), each as "(\Noinferiors)" with "/" as the separator. An empty pattern asks
// for the separator alone.
#include "imap/commands/commands.h"
#include "imap/session.h"
#include "store/mail_store.h"
#include "store/name_codec.h"
#include "store/settings.h"

namespace {

// Writes a folder's name in a LIST or LSUB line. The exact mode writes it as it is, even when
// empty or holding a blank; the extended mode writes a name that is not an atom (empty, or
// with a blank, a quote or another special byte, as a title may be) as a quoted string, which
// every client can read.
void SendListName(Session& s, const Text& name) {
    if (s.mode == Mode::kExact) {
        s.Send(name.c_str());
        return;
    }
    bool atom = !name.IsEmpty();
    for (int i = 0; atom && i < name.Length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(name[i]);
        atom = c > ' ' && c < 0x7F && c != '"' && c != '\\' && c != '(' && c != ')' && c != '{' &&
               c != '%' && c != '*' && c != ']';
    }
    if (atom) {
        s.Send(name.c_str());
        return;
    }
    Text quoted("\"");
    for (int i = 0; i < name.Length(); ++i) {
        if (name[i] == '"' || name[i] == '\\')
            quoted.Append('\\');
        quoted.Append(name[i]);
    }
    quoted.Append('"');
    s.Send(quoted.c_str());
}

void List(Session& s, int lsub) {
    if (s.command.arguments.Count() != 2) {
        s.NoArguments();
        return;
    }
    Text reference;
    Text pattern;
    const bool referenceNamed = s.FolderName(*s.command.arguments.At(0), &reference);
    const bool patternNamed = s.FolderName(*s.command.arguments.At(1), &pattern);
    if (patternNamed && pattern.IsEmpty()) {
        s.Send("* ");
        s.Send(s.command.word.c_str());
        s.Send(" (\\Noselect) \"/\" \"\"\r\n");
        return;
    }
    // A character without a code in the code page is in no folder's name: nothing matches.
    if (!referenceNamed || !patternNamed)
        return;
    MailStore store(s.host, s.user->mailRoot);
    store.Load(reference, pattern, lsub);
    const int useTitles = UseTitles.load();
    for (int i = 0; i < store.Count(); ++i) {
        s.Send("* ");
        s.Send(s.command.word.c_str());
        s.Send(" (\\Noinferiors) \"/\" ");
        SendListName(s, s.ClientName(store.NameAt(i, useTitles)));
        s.Send("\r\n");
        if (s.Closing())
            break;
    }
}

}  // namespace

void RunList(Session& s) {
    List(s, 0);
}
void RunLsub(Session& s) {
    List(s, 1);
}
