#include "imap/list_request.h"

#include <cstring>

#include "base/ascii.h"
#include "imap/search_program.h"

namespace {

bool SameWord(const std::string& a, const char* b) {
    return SameAsciiNoCase(a, b);
}

// Walks the tokens of one request.
class Reader {
  public:
    explicit Reader(const std::vector<SearchToken>& tokens) : tokens_(tokens) {}

    bool AtEnd() const { return next_ >= tokens_.size(); }
    bool At(SearchToken::Kind kind) const { return !AtEnd() && tokens_[next_].kind == kind; }
    // An atom or a string: a mailbox name or pattern.
    bool AtName() const { return At(SearchToken::kAtom) || At(SearchToken::kString); }
    const std::string& Take() { return tokens_[next_++].text; }
    void Skip() { ++next_; }

  private:
    const std::vector<SearchToken>& tokens_;
    size_t next_ = 0;
};

ListParse ReadSelection(Reader& r, ListRequest* out) {
    r.Skip();  // "("
    bool remoteOnly = true;
    while (!r.At(SearchToken::kClose)) {
        if (!r.At(SearchToken::kAtom))
            return ListParse::kBad;
        const std::string& option = r.Take();
        if (SameWord(option, "SUBSCRIBED")) {
            out->subscribed = true;
            out->returnSubscribed = true;
            remoteOnly = false;
        } else if (SameWord(option, "RECURSIVEMATCH")) {
            out->recursiveMatch = true;
        } else if (!SameWord(option, "REMOTE")) {
            return ListParse::kBad;  // REMOTE asks for remote folders too: there are none
        }
    }
    r.Skip();  // ")"
    // RECURSIVEMATCH refines another selection option and means nothing alone.
    return out->recursiveMatch && remoteOnly ? ListParse::kBad : ListParse::kOk;
}

ListParse ReadReturn(Reader& r, ListRequest* out) {
    if (!r.At(SearchToken::kAtom) || !SameWord(r.Take(), "RETURN") || !r.At(SearchToken::kOpen))
        return ListParse::kBad;
    r.Skip();
    while (!r.At(SearchToken::kClose)) {
        if (!r.At(SearchToken::kAtom))
            return ListParse::kBad;
        const std::string& option = r.Take();
        if (SameWord(option, "SUBSCRIBED")) {
            out->returnSubscribed = true;
        } else if (SameWord(option, "CHILDREN")) {
            out->returnChildren = true;
        } else if (SameWord(option, "STATUS") && r.At(SearchToken::kOpen)) {
            r.Skip();
            out->returnStatus = true;
            out->statusItems.clear();
            while (r.At(SearchToken::kAtom)) {
                if (!out->statusItems.empty())
                    out->statusItems += ' ';
                out->statusItems += r.Take();
            }
            if (out->statusItems.empty() || !r.At(SearchToken::kClose))
                return ListParse::kBad;
            r.Skip();
        } else {
            return ListParse::kBad;
        }
    }
    r.Skip();
    return ListParse::kOk;
}

}  // namespace

ListParse ParseListRequest(const char* text, size_t n, bool lsub, ListRequest* out) {
    *out = ListRequest();
    std::vector<SearchToken> tokens;
    if (!TokenizeSearch(text, n, &tokens))
        return ListParse::kBad;
    // Every parenthesis opened is closed before the end, or the grammar is not followed.
    int depth = 0;
    for (const SearchToken& t : tokens) {
        depth += t.kind == SearchToken::kOpen ? 1 : t.kind == SearchToken::kClose ? -1 : 0;
        if (depth < 0 || depth > 2)
            return ListParse::kBad;
    }
    if (depth != 0)
        return ListParse::kBad;

    Reader r(tokens);
    if (!lsub && r.At(SearchToken::kOpen)) {
        const ListParse selection = ReadSelection(r, out);
        if (selection != ListParse::kOk)
            return selection;
    }
    if (r.AtEnd())
        return ListParse::kMissing;
    if (!r.AtName())
        return ListParse::kBad;
    out->reference = r.Take();
    if (r.AtEnd())
        return ListParse::kMissing;
    if (r.AtName()) {
        out->patterns.push_back(r.Take());
    } else if (!lsub && r.At(SearchToken::kOpen)) {
        r.Skip();
        while (r.AtName())
            out->patterns.push_back(r.Take());
        if (out->patterns.empty() || !r.At(SearchToken::kClose))
            return ListParse::kBad;
        r.Skip();
    } else {
        return ListParse::kBad;
    }
    if (!lsub && !r.AtEnd()) {
        const ListParse returned = ReadReturn(r, out);
        if (returned != ListParse::kOk)
            return returned;
    }
    return r.AtEnd() ? ListParse::kOk : ListParse::kBad;
}

bool MatchListPattern(const std::u16string& pattern, const std::u16string& name) {
    // A run of wildcards matches what its widest one does: "*" if it holds one, else "%".
    std::u16string compact;
    size_t literal = 0;
    for (char16_t c : pattern) {
        const bool wild = c == u'*' || c == u'%';
        if (wild && !compact.empty() && (compact.back() == u'*' || compact.back() == u'%')) {
            if (c == u'*')
                compact.back() = u'*';
            continue;
        }
        compact.push_back(c);
        literal += !wild;
    }
    // A pattern needs at least one name character for each of its other characters.
    if (literal > name.size())
        return false;
    // The leading "INBOX" of the inbox and its subfolders is compared without ASCII case.
    const bool inbox = name.compare(0, 5, u"INBOX") == 0 && (name.size() == 5 || name[5] == u'/');
    const size_t folded = inbox ? 5 : 0;

    // matched[j]: the pattern so far matches the first j characters of the name. One row per
    // pattern character, so the time is the product of the lengths, never exponential.
    const size_t n = name.size();
    std::vector<char> matched(n + 1, 0);
    std::vector<char> next(n + 1, 0);
    matched[0] = 1;
    for (char16_t p : compact) {
        if (p == u'*' || p == u'%') {
            next[0] = matched[0];
            for (size_t j = 1; j <= n; ++j) {
                next[j] = matched[j] || (next[j - 1] && (p == u'*' || name[j - 1] != u'/'));
            }
        } else {
            const char16_t upper = p >= u'a' && p <= u'z' ? static_cast<char16_t>(p - 0x20) : p;
            next[0] = 0;
            for (size_t j = 1; j <= n; ++j) {
                const char16_t c = name[j - 1];
                next[j] = matched[j - 1] && (c == p || (j <= folded && c == upper));
            }
        }
        matched.swap(next);
    }
    return matched[n] != 0;
}
