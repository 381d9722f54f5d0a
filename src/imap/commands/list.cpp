// LIST and LSUB. The exact mode hands the pattern to the directory search of the folder tree
// and writes every folder it finds as "(\Noinferiors)" with "/" as the separator; an empty
// pattern asks for the separator alone. The extended mode reads the whole tree and matches the
// reference and pattern against each folder's unique name as IMAP4rev1 says ("*" any run, "%"
// any run within one level), with the CHILDREN attributes, the selection and return options of
// LIST-EXTENDED (several patterns at once among them) and the STATUS return option.
#include <string>
#include <vector>

#include "imap/commands/commands.h"
#include "imap/list_request.h"
#include "imap/session.h"
#include "store/mail_store.h"
#include "store/mailbox.h"
#include "store/name_codec.h"
#include "store/settings.h"

namespace {

void ExactList(Session& s, int lsub) {
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
        s.Send(store.NameAt(i, useTitles).c_str());
        s.Send("\r\n");
        if (s.Closing())
            break;
    }
}

// Local code page text as UTF-16, for matching by characters.
std::u16string Wide(const Text& local) {
    NameCodec codec;
    const int n = codec.ToWide(local.c_str(), local.Length());
    return std::u16string(codec.Wide(), static_cast<size_t>(n));
}

// One folder's line: which attributes it gets beyond those of its kind.
struct Entry {
    int index;
    bool noselect;   // LSUB: listed only as the level above subscribed folders
    bool childInfo;  // RECURSIVEMATCH: it has subscribed subfolders
};

void SendEntry(Session& s, const MailStore& store, const Text& name, const Entry& e,
               const ListRequest& request, bool lsub) {
    const FolderNode& node = store.NodeAt(e.index);
    std::vector<const char*> attributes;
    if (e.noselect)
        attributes.push_back("\\Noselect");
    // Only a folder of type "Subfolder" can hold subfolders (and \Noinferiors implies that it
    // has none); LSUB tells no more than that.
    if (!node.holdsSubfolders)
        attributes.push_back("\\Noinferiors");
    else if (!lsub)
        attributes.push_back(node.children > 0 ? "\\HasChildren" : "\\HasNoChildren");
    if (request.returnSubscribed && node.subscribed)
        attributes.push_back("\\Subscribed");
    s.Send("* ");
    s.Send(s.command.word.c_str());
    s.Send(" (");
    for (size_t i = 0; i < attributes.size(); ++i) {
        if (i > 0)
            s.Send(" ");
        s.Send(attributes[i]);
    }
    s.Send(") \"/\" ");
    s.SendMailboxName(name);
    if (e.childInfo)
        s.Send(" (\"CHILDINFO\" (\"SUBSCRIBED\"))");
    s.Send("\r\n");
    if (!request.returnStatus || e.noselect)
        return;
    Mailbox mailbox(s.host, s.user->mailRoot, *store.FolderPaths().At(e.index), s.mode);
    mailbox.OpenIndex();
    s.Send("* STATUS ");
    s.SendMailboxName(name);
    s.Send(" (");
    s.Send(StatusItems(Text(request.statusItems.c_str()), mailbox).c_str());
    s.Send(")\r\n");
}

void ExtendedList(Session& s, bool lsub) {
    ListRequest request;
    const Text& rest = s.command.rest;
    switch (ParseListRequest(rest.c_str(), static_cast<size_t>(rest.Length()), lsub, &request)) {
        case ListParse::kMissing:
            s.NoArguments();
            return;
        case ListParse::kBad:
            s.SendTagged(" BAD invalid arguments\r\n");
            return;
        case ListParse::kOk:
            break;
    }
    if (request.returnStatus && !KnownStatusItems(Text(request.statusItems.c_str()))) {
        s.SendTagged(" BAD unknown STATUS item\r\n");
        return;
    }
    // An empty name asks for the separator and the root of the names, which is empty.
    if (request.patterns.size() == 1 && request.patterns[0].empty()) {
        s.Send("* ");
        s.Send(s.command.word.c_str());
        s.Send(" (\\Noselect) \"/\" \"\"\r\n");
        return;
    }
    // The pattern is the reference followed by the name. A character without a code in the
    // code page is in no folder's name: such a pattern matches nothing.
    Text reference;
    if (!s.FolderName(Text(request.reference.c_str()), &reference))
        return;
    std::vector<std::u16string> patterns;
    for (const std::string& clientPattern : request.patterns) {
        Text pattern;
        if (!s.FolderName(Text(clientPattern.c_str()), &pattern))
            continue;
        Text joined(reference);
        joined.Append(pattern);
        patterns.push_back(Wide(joined));
    }
    if (patterns.empty())
        return;
    // LSUB's pattern ending with "%" also gives the unsubscribed levels above subscribed
    // folders it would have matched, as \Noselect.
    const std::string& last = request.patterns.back();
    const bool levelsAbove = lsub && !last.empty() && last.back() == '%';

    MailStore store(s.host, s.user->mailRoot);
    store.Load(Text(""), Text("*"), 0);
    const std::vector<Text> names = store.UniqueNames(UseTitles.load());
    const int count = store.Count();
    // Which folders have a subscribed folder below them (subfolders come after their parents).
    std::vector<bool> subscribedBelow(static_cast<size_t>(count), false);
    for (int i = count - 1; i >= 0; --i) {
        const FolderNode& node = store.NodeAt(i);
        if (node.parent >= 0 && (node.subscribed || subscribedBelow[static_cast<size_t>(i)]))
            subscribedBelow[static_cast<size_t>(node.parent)] = true;
    }
    const bool subscribedOnly = lsub || request.subscribed;
    for (int i = 0; i < count; ++i) {
        const std::u16string wide = Wide(names[static_cast<size_t>(i)]);
        bool matched = false;
        for (const std::u16string& pattern : patterns)
            matched = matched || MatchListPattern(pattern, wide);
        if (!matched)
            continue;
        const bool subscribed = store.NodeAt(i).subscribed;
        const bool below = subscribedBelow[static_cast<size_t>(i)];
        Entry e{i, false, request.recursiveMatch && below};
        if (subscribedOnly && !subscribed) {
            if (e.childInfo) {
                // Listed for its subscribed subfolders, with nothing of its own.
            } else if (levelsAbove && below) {
                e.noselect = true;
            } else {
                continue;
            }
        }
        const Text encoded = EncodeNamePath(names[static_cast<size_t>(i)]);
        SendEntry(s, store, s.ClientName(encoded), e, request, lsub);
        if (s.Closing())
            break;
    }
}

}  // namespace

void RunList(Session& s) {
    if (s.mode == Mode::kExact)
        ExactList(s, 0);
    else
        ExtendedList(s, false);
}

void RunLsub(Session& s) {
    if (s.mode == Mode::kExact)
        ExactList(s, 1);
    else
        ExtendedList(s, true);
}
