// MailStore: one user's folder tree seen as IMAP mailboxes. Two parallel lists hold, for each
// listed folder, its path (with "/" separators, "INBOX" for the inbox) and its display path
// (the titles of the folder and its parents joined with "/"), in directory-search order.
#ifndef ORV_STORE_MAIL_STORE_H_
#define ORV_STORE_MAIL_STORE_H_

#include <cstddef>
#include <vector>

#include "base/text.h"
#include "base/text_list.h"
#include "store/host_port.h"

// What the extended mode knows of a listed folder besides its paths.
struct FolderNode {
    int parent = -1;  // the listed parent's index; -1 at the top level or when not listed
    Text directory;   // its own directory name (the last component of its path)
    Text title;       // its title: "INBOX" for the inbox, 送信箱 for the outbox, else "Title"
    bool special = false;          // the inbox or the outbox, whose names are fixed
    bool subscribed = true;        // "Subscribe" of its "Entry.ini"
    bool holdsSubfolders = false;  // of type "Subfolder": no other folder can have subfolders
    int children = 0;              // listed subfolders
};

class MailStore {
  public:
    // host: the host whose mailbox directory holds the user's folder root mailRoot (not owned).
    MailStore(HostPort& host, const Text& mailRoot);
    virtual ~MailStore() = default;

    // Appends the top-level folders matching pattern (and their subfolders); subscribedOnly
    // 1 keeps only subscribed folders (LSUB). The reference is not used.
    void Load(const Text& reference, const Text& pattern, int subscribedOnly);
    // Appends one folder and, recursively, its subfolders. parent is the parent's display
    // path, or null for a top-level folder.
    void AddFolder(int subscribedOnly, const Text& folderPath, const Text* parent);

    int Count() const { return folderPaths_.Count(); }
    // The mailbox name of the folder at index in the given naming mode; empty when out of range.
    Text NameAt(int index, int useTitles) const;
    // The folder path ("/" separators, or "INBOX") for a mailbox name already decoded into the
    // local code page; empty when nothing matches.
    Text FindFolder(const Text& name, int useTitles) const;

    // The extended mode's names: one per listed folder, unique, in the local code page with "/"
    // between levels. A level is the folder's title (its directory name with useTitles 0): "/"
    // in a title becomes "／", a folder without a title takes its directory name, the inbox is
    // INBOX and the outbox 送信箱. Siblings whose levels would be equal (compared as the client
    // sees them; at the top level INBOX in any case is the inbox's alone) all take
    // " (directory name)" after the level, the inbox and the outbox excepted; in the rare case
    // that this is again a sibling's level, the suffix is added once more.
    std::vector<Text> UniqueNames(int useTitles) const;
    // The folder path for a name of UniqueNames (already decoded into the local code page;
    // INBOX in any case as the first level); empty when nothing matches. With useTitles 0 any
    // other name inside the folder root is taken as a folder path, as FindFolder does.
    Text FindUniqueFolder(const Text& name, int useTitles) const;
    const FolderNode& NodeAt(int index) const { return nodes_[static_cast<size_t>(index)]; }

    const Text& MailRoot() const { return mailRoot_; }
    const TextList& FolderPaths() const { return folderPaths_; }
    const TextList& DisplayPaths() const { return displayPaths_; }

  private:
    void AddFolderUnder(int subscribedOnly, const Text& folderPath, const Text* parent,
                        int parentIndex);

    HostPort& host_;
    Text mailRoot_;
    TextList folderPaths_;
    TextList displayPaths_;
    std::vector<FolderNode> nodes_;  // parallel to the two lists
};

#endif  // ORV_STORE_MAIL_STORE_H_
