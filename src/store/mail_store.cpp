// MailStore: the folder tree read from the directories under the user's folder root and their
// "Entry.ini" files. Every path is formed only when it fits the platform's path limit, and a
// name or pattern that could leave the folder root (a ".." component, an absolute path, a drive)
// is never used as a path, so a client can reach nothing outside the user's folders.
#include "store/mail_store.h"

#include <map>
#include <set>
#include <string>

#include "platform/codepage.h"
#include "platform/files.h"
#include "platform/profile.h"
#include "store/name_codec.h"

namespace {

// The outbox's title, whatever its "Entry.ini" says: "送信箱" in Shift_JIS.
const char kOutboxTitle[] = "\x91\x97\x90\x4D\x94\xA0";
// The host's own title of the inbox, "受信トレイ" in Shift_JIS.
const char kInboxTitle[] = "\x8E\xF3\x90\x4D\x83\x67\x83\x8C\x83\x43";

constexpr int kTitleSize = 1024;
constexpr int kTypeSize = 32;

bool SameText(const Text& a, const char* b) {
    return platform::lstrcmpA(a.c_str(), b) == 0;
}
bool SameTextNoCase(const Text& a, const char* b) {
    return platform::lstrcmpiA(a.c_str(), b) == 0;
}

// The folder root followed by "\", the given path and suffix: mailbox directory + mailRoot +
// "\" + path + suffix. False (and nothing formed) when it would exceed the path limit.
bool FormPath(HostPort& host, const Text& mailRoot, const Text& path, const char* suffix,
              Text* out) {
    Text full(host.MailboxDirectory());
    full.Append(mailRoot);
    full.Append('\\');
    full.Append(path);
    full.Append(suffix);
    if (full.Length() > platform::kMaxPath - 1)
        return false;
    *out = full;
    return true;
}

// Every "\" separator becomes "/"; a 0x5C that is the second byte of a double-byte character
// (as in 表) is part of a name and stays.
void SeparatorsToSlashes(Text* path) {
    Text out("");
    const unsigned char* s = reinterpret_cast<const unsigned char*>(path->c_str());
    const int n = path->Length();
    for (int i = 0; i < n; ++i) {
        if (platform::IsLeadByte(s[i]) && i + 1 < n) {
            out.Append(static_cast<char>(s[i]));
            out.Append(static_cast<char>(s[++i]));
        } else {
            out.Append(s[i] == '\\' ? '/' : static_cast<char>(s[i]));
        }
    }
    *path = out;
}

// Whether a client's name or pattern could reach outside the folder root once used as a
// path: it begins with a separator, holds a drive colon, or has a ".." component. Components
// are split at every "/" and "\" byte, trail bytes included, which refuses more, never less.
bool LeavesFolderRoot(const Text& name) {
    const char* s = name.c_str();
    const int n = name.Length();
    if (n > 0 && (s[0] == '/' || s[0] == '\\'))
        return true;
    if (name.Find(':') >= 0)
        return true;
    int start = 0;
    for (int i = 0; i <= n; ++i) {
        if (i == n || s[i] == '/' || s[i] == '\\') {
            if (i - start == 2 && s[start] == '.' && s[start + 1] == '.')
                return true;
            start = i + 1;
        }
    }
    return false;
}

// The index of the last "/" of a path whose separators are "/" (no trail byte is 0x2F), or -1.
int LastSeparator(const Text& path) {
    for (int i = path.Length() - 1; i >= 0; --i) {
        if (path[i] == '/')
            return i;
    }
    return -1;
}

// "／" in Shift_JIS: what a "/" in a title becomes, so that a title is one level of a name.
const char kFullWidthSolidus[] = "\x81\x5E";

// The level a folder's name starts from, before clashes are resolved.
Text BaseLevel(const FolderNode& node, int useTitles) {
    if (node.special && node.title == "INBOX")
        return node.title;
    if (useTitles == 0)
        return node.directory;
    if (node.title.IsEmpty())
        return node.directory;
    Text level("");
    for (int i = 0; i < node.title.Length(); ++i) {
        const unsigned char c = static_cast<unsigned char>(node.title[i]);
        if (platform::IsLeadByte(c) && i + 1 < node.title.Length()) {
            level.Append(node.title[i]);
            level.Append(node.title[++i]);
        } else if (c == '/') {
            level.Append(kFullWidthSolidus);
        } else {
            level.Append(node.title[i]);
        }
    }
    return level;
}

// A level as the client sees it, for comparing siblings: its modified UTF-7 form, in which
// two spellings of one character are one; at the top level INBOX in any case is "INBOX".
std::string LevelKey(const Text& level, bool top) {
    if (top && SameTextNoCase(level, "INBOX"))
        return "INBOX";
    return EncodeName(level).c_str();
}

// A client's name with its first level "INBOX" in any case written "INBOX".
Text WithInboxUpper(const Text& name) {
    if (name.Length() >= 5 && name.Left(5).CompareNoCase("INBOX") == 0 &&
        (name.Length() == 5 || name[5] == '/')) {
        Text out("INBOX");
        out.Append(name.Mid(5));
        return out;
    }
    return name;
}

}  // namespace

MailStore::MailStore(HostPort& host, const Text& mailRoot) : host_(host), mailRoot_(mailRoot) {}

void MailStore::Load(const Text& reference, const Text& pattern, int subscribedOnly) {
    (void)reference;
    if (LeavesFolderRoot(pattern))
        return;
    const Text wildcard = SameTextNoCase(pattern, "INBOX") ? Text("inbox.box") : pattern;
    Text searchPath;
    if (!FormPath(host_, mailRoot_, wildcard, "", &searchPath))
        return;
    platform::DirectorySearch search(searchPath.c_str());
    platform::FindData found;
    while (search.Next(&found)) {
        if (!found.directory || found.name.empty() || found.name[0] == '.')
            continue;
        AddFolder(subscribedOnly, Text(found.name.c_str()), nullptr);
    }
}

void MailStore::AddFolder(int subscribedOnly, const Text& folderPath, const Text* parent) {
    AddFolderUnder(subscribedOnly, folderPath, parent, -1);
}

void MailStore::AddFolderUnder(int subscribedOnly, const Text& folderPath, const Text* parent,
                               int parentIndex) {
    Text iniPath;
    if (!FormPath(host_, mailRoot_, folderPath, "\\Entry.ini", &iniPath))
        return;  // a folder whose files cannot be named does not exist for the server

    Text entry(folderPath);
    Text display("");
    if (parent != nullptr) {
        display.Append(*parent);
        display.Append('/');
    }
    FolderNode node;
    node.parent = parentIndex;
    if (SameTextNoCase(folderPath, "inbox.box")) {
        entry = "INBOX";
        display = "INBOX";
        node.title = "INBOX";
        node.special = true;
    } else if (SameTextNoCase(folderPath, "outbox.box")) {
        display = kOutboxTitle;
        node.title = kOutboxTitle;
        node.special = true;
    } else {
        char title[kTitleSize];
        platform::ProfileString("Property", "Title", "", title, sizeof title, iniPath.c_str());
        display.Append(title);
        node.title = title;
    }
    SeparatorsToSlashes(&entry);
    const int slash = LastSeparator(entry);
    node.directory = slash < 0 ? Text(folderPath) : entry.Mid(slash + 1);

    // A folder of type "Subfolder" holds its subfolders as "*.box" directories; they are
    // listed even when the folder itself is not (LSUB of an unsubscribed parent).
    char type[kTypeSize];
    platform::ProfileString("Property", "Type", "", type, sizeof type, iniPath.c_str());
    node.holdsSubfolders = platform::lstrcmpA(type, "Subfolder") == 0;
    node.subscribed = platform::ProfileInt("IMAP4", "Subscribe", 1, iniPath.c_str()) != 0;

    int index = -1;
    if (subscribedOnly == 0 || node.subscribed) {
        index = Count();
        folderPaths_.Append(entry);
        displayPaths_.Append(display);
        if (parentIndex >= 0)
            ++nodes_[static_cast<size_t>(parentIndex)].children;
        nodes_.push_back(node);
    }
    if (!node.holdsSubfolders)
        return;
    Text searchPath;
    if (!FormPath(host_, mailRoot_, folderPath, "\\*.box", &searchPath))
        return;
    platform::DirectorySearch search(searchPath.c_str());
    platform::FindData found;
    while (search.Next(&found)) {
        if (!found.directory)
            continue;
        Text childPath(folderPath);
        childPath.Append('\\');
        childPath.Append(found.name.c_str());
        AddFolderUnder(subscribedOnly, childPath, &display, index);
    }
}

Text MailStore::NameAt(int index, int useTitles) const {
    if (index < 0 || index >= Count())
        return Text();
    if (useTitles == 0)
        return *folderPaths_.At(index);
    // Each "/"-separated component is encoded on its own; a run of "/" is one separator, and
    // a leading "/" (a subfolder of an untitled folder) stays.
    Text rest(*displayPaths_.At(index));
    Text name("");
    while (!rest.IsEmpty()) {
        name.Append(EncodeName(rest.SplitToken('/')));
        if (!rest.IsEmpty())
            name.Append('/');
    }
    return name;
}

Text MailStore::FindFolder(const Text& name, int useTitles) const {
    if (useTitles == 0) {
        // The name is the folder path itself; it need not exist, but it must stay inside the
        // folder root and its files must be nameable.
        if (LeavesFolderRoot(name))
            return Text();
        const bool inbox = SameTextNoCase(name, "INBOX") || SameText(name, kInboxTitle);
        Text iniPath;
        if (!FormPath(host_, mailRoot_, inbox ? Text("inbox.box") : name, "\\Entry.ini", &iniPath))
            return Text();
        return name;
    }
    // Titles are compared after both sides have passed through UTF-16 once, so a title written
    // with a duplicate code is found under the name that its listed form decodes to.
    const Text wanted = RoundTripName(SameTextNoCase(name, "INBOX") ? Text("INBOX") : name);
    for (int i = 0; i < Count(); ++i) {
        if (SameText(RoundTripName(*displayPaths_.At(i)), wanted.c_str()))
            return *folderPaths_.At(i);
    }
    return Text();
}

std::vector<Text> MailStore::UniqueNames(int useTitles) const {
    const size_t count = nodes_.size();
    // Each folder's own level, decided among its siblings.
    std::vector<Text> levels(count);
    std::map<int, std::vector<size_t>> siblings;
    for (size_t i = 0; i < count; ++i)
        siblings[nodes_[i].parent].push_back(i);
    for (const auto& group : siblings) {
        const bool top = group.first < 0;
        std::map<std::string, int> uses;
        for (size_t i : group.second) {
            levels[i] = BaseLevel(nodes_[i], useTitles);
            ++uses[LevelKey(levels[i], top)];
        }
        // The levels kept as they are: the inbox's and the outbox's, and any no sibling shares
        // (INBOX is the inbox's only).
        std::set<std::string> taken;
        std::vector<size_t> clashing;
        for (size_t i : group.second) {
            const std::string key = LevelKey(levels[i], top);
            if (nodes_[i].special || (uses[key] == 1 && !(top && key == "INBOX")))
                taken.insert(key);
            else
                clashing.push_back(i);
        }
        for (size_t i : clashing) {
            Text level(levels[i]);
            do {
                level.Append(" (");
                level.Append(nodes_[i].directory);
                level.Append(')');
            } while (taken.count(LevelKey(level, top)) != 0);
            taken.insert(LevelKey(level, top));
            levels[i] = level;
        }
    }
    // Parents come before their subfolders, so each parent's name is ready for them.
    std::vector<Text> names(count);
    for (size_t i = 0; i < count; ++i) {
        const int parent = nodes_[i].parent;
        if (parent < 0) {
            names[i] = levels[i];
        } else {
            names[i] = names[static_cast<size_t>(parent)];
            names[i].Append('/');
            names[i].Append(levels[i]);
        }
    }
    return names;
}

Text MailStore::FindUniqueFolder(const Text& name, int useTitles) const {
    // Compared after both sides have passed through UTF-16 once, as FindFolder does.
    const std::string wanted = RoundTripName(WithInboxUpper(name)).c_str();
    const std::vector<Text> names = UniqueNames(useTitles);
    for (size_t i = 0; i < names.size(); ++i) {
        if (wanted == RoundTripName(names[i]).c_str())
            return *folderPaths_.At(static_cast<int>(i));
    }
    return useTitles == 0 ? FindFolder(name, 0) : Text();
}
