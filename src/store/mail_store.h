// MailStore: one user's folder tree seen as IMAP mailboxes. Two parallel lists hold, for each
// listed folder, its path (with "/" separators, "INBOX" for the inbox) and its display path
// (the titles of the folder and its parents joined with "/"), in directory-search order.
#ifndef ORV_STORE_MAIL_STORE_H_
#define ORV_STORE_MAIL_STORE_H_

#include "base/text.h"
#include "base/text_list.h"
#include "store/host_port.h"

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

    const Text& MailRoot() const { return mailRoot_; }
    const TextList& FolderPaths() const { return folderPaths_; }
    const TextList& DisplayPaths() const { return displayPaths_; }

  private:
    HostPort& host_;
    Text mailRoot_;
    TextList folderPaths_;
    TextList displayPaths_;
};

#endif  // ORV_STORE_MAIL_STORE_H_
