// ListRequest: the arguments of an extended-mode LIST or LSUB, read from the command's raw
// argument text: the selection options before the reference (SUBSCRIBED, REMOTE,
// RECURSIVEMATCH), the reference, one mailbox pattern or a parenthesised list of them, and the
// return options after RETURN (SUBSCRIBED, CHILDREN, STATUS with its item list). LSUB takes a
// reference and one pattern only. Also the matching of a pattern against a mailbox name, where
// "*" matches any run of characters and "%" any run without the hierarchy delimiter "/".
#ifndef ORV_IMAP_LIST_REQUEST_H_
#define ORV_IMAP_LIST_REQUEST_H_

#include <string>
#include <vector>

struct ListRequest {
    // Selection options.
    bool subscribed = false;      // only subscribed folders (implies returnSubscribed)
    bool recursiveMatch = false;  // also the matching parents of subscribed folders
    // Return options.
    bool returnSubscribed = false;  // the \Subscribed attribute
    bool returnChildren = false;    // \HasChildren / \HasNoChildren (always given anyway)
    bool returnStatus = false;      // a STATUS line after each selectable folder
    std::string statusItems;        // its items as the client spelt them, one blank apart
    // The reference and the patterns, as sent (quotes and escapes removed).
    std::string reference;
    std::vector<std::string> patterns;
};

enum class ListParse {
    kOk,
    kMissing,  // the reference or the pattern is missing
    kBad,      // anything else that does not follow the grammar, or an option not known
};

// Reads the text after the command word. lsub: no options, one pattern.
ListParse ParseListRequest(const char* text, size_t n, bool lsub, ListRequest* out);

// Whether a mailbox name matches a pattern (both as characters). The inbox's name, "INBOX" as
// a whole name or as the first level of a longer one, matches without regard to ASCII case, as
// INBOX is the inbox in any case.
bool MatchListPattern(const std::u16string& pattern, const std::u16string& name);

#endif  // ORV_IMAP_LIST_REQUEST_H_
