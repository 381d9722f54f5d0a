// SearchProgram: the search criteria of an extended-mode SEARCH, read from the command's raw
// argument text into a tree of keys (NOT, OR, parenthesised AND groups, sets, flags, sizes,
// dates, strings) and evaluated per message. Strings are held as case-folded Unicode, converted
// from the criteria's charset, so they meet the message text decoded the same way.
#ifndef ORV_IMAP_SEARCH_PROGRAM_H_
#define ORV_IMAP_SEARCH_PROGRAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "imap/message_set.h"

class MessageText;

// One message as the search keys see it. The evaluator asks only for what its keys need, so an
// implementation computes the costly parts (size, dates, text) on first use.
class SearchSubject {
  public:
    virtual ~SearchSubject() = default;
    virtual uint32_t Sequence() const = 0;
    virtual uint32_t Uid() const = 0;
    virtual uint32_t Status() const = 0;  // the host's status word
    // Whether the message has flag among those the server keeps itself (\Flagged, keywords;
    // ASCII case ignored).
    virtual bool HasKeptFlag(const std::string& flag) const = 0;
    virtual bool Recent() const = 0;
    // Extended mode: the message's modification sequence.
    virtual uint64_t ModSeq() const = 0;
    // The size of the client form, as RFC822.SIZE reports it.
    virtual uint32_t Size() = 0;
    // The date part of the internal date as yyyymmdd; 0 when unknown.
    virtual int32_t InternalDate() = 0;
    virtual MessageText& Content() = 0;
};

// A token of the criteria: an atom, a string (quoted, escapes removed) or a parenthesis.
struct SearchToken {
    enum Kind { kAtom, kString, kOpen, kClose };
    Kind kind;
    std::string text;
};

// Splits the criteria text into tokens. False when a quoted string is not closed.
bool TokenizeSearch(const char* text, size_t n, std::vector<SearchToken>* tokens);

// A search string (the bytes after BCC, FROM, HEADER name...) as Unicode, case folded, read in
// charset: UTF-8, ISO-2022-JP, SHIFT_JIS/CP932 as named; US-ASCII, and no charset (empty) for
// bytes that are not well-formed UTF-8, byte for byte. False for a charset not supported.
bool SearchString(const std::string& charset, const std::string& bytes, std::u16string* out);

// A date of the criteria ("4-Mar-2001", month ASCII case ignored) as yyyymmdd; 0 when it is
// not one.
int32_t ParseSearchDate(const std::string& text);

struct SearchNode;

class SearchProgram {
  public:
    enum Result { kOk, kBadSyntax, kBadCharset };

    SearchProgram();
    ~SearchProgram();
    SearchProgram(const SearchProgram&) = delete;
    SearchProgram& operator=(const SearchProgram&) = delete;

    // Reads the criteria: an optional CHARSET and its name, then one or more search keys.
    // kBadSyntax for an unknown or malformed key, kBadCharset for an unsupported charset.
    Result Parse(const char* text, size_t n);
    // Resolves the message and UID sets for a folder of count messages whose UIDNEXT is
    // uidNext, as the message set commands read them.
    void Bind(uint32_t count, uint32_t uidNext);
    // Whether the message meets every key.
    bool Matches(SearchSubject& subject) const;
    // Whether a MODSEQ key is among the criteria: the answer then names the highest
    // modification sequence of the messages found.
    bool UsesModSeq() const { return usesModSeq_; }

  private:
    std::unique_ptr<SearchNode> root_;
    bool usesModSeq_ = false;
};

#endif  // ORV_IMAP_SEARCH_PROGRAM_H_
