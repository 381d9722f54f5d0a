// Reading and evaluating search criteria. The parser is recursive descent over the tokens with a
// depth limit (NOT and parentheses nest), so a hostile line cannot exhaust the stack; any key it
// does not know, a missing argument or a malformed set, number or date fails the whole program.
#include "imap/search_program.h"

#include <utility>

#include "base/ascii.h"
#include "base/text.h"
#include "imap/resync.h"
#include "mime/message_text.h"
#include "mime/unicode_text.h"
#include "store/folder_flags.h"
#include "store/message_entry.h"

namespace {

constexpr int kMaxDepth = 64;

const char* const kMonths[12] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

bool SameNoCase(const std::string& a, const char* b) {
    return SameAsciiNoCase(a, b);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number of 1 to 10 digits that fits 32 bits; with nonZero, no leading zero and not 0.
bool ReadNumber(const std::string& s, bool nonZero, uint32_t* value) {
    if (s.empty() || s.size() > 10 || (nonZero && s[0] == '0'))
        return false;
    uint64_t v = 0;
    for (char c : s) {
        if (!IsDigit(c))
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    if (v > 0xFFFFFFFFull)
        return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

bool IsSequenceNumber(const std::string& s) {
    uint32_t value = 0;
    return s == "*" || ReadNumber(s, true, &value);
}

// sequence-set: comma-separated numbers and ranges, "*" standing for the last.
bool IsSequenceSet(const std::string& s) {
    size_t start = 0;
    for (;;) {
        const size_t comma = s.find(',', start);
        const std::string item =
            s.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        const size_t colon = item.find(':');
        if (colon == std::string::npos) {
            if (!IsSequenceNumber(item))
                return false;
        } else if (!IsSequenceNumber(item.substr(0, colon)) ||
                   !IsSequenceNumber(item.substr(colon + 1))) {
            return false;
        }
        if (comma == std::string::npos)
            return true;
        start = comma + 1;
    }
}

bool IsAtomByte(unsigned char c) {
    return c > 0x20 && c != 0x7F && c != '(' && c != ')' && c != '"';
}

}  // namespace

// What one node of the criteria tree tests.
enum class SearchOp {
    kAll,
    kAnd,
    kOr,
    kNot,
    kSequence,
    kUid,
    kFlagSet,    // every bit of number set in the status word
    kFlagClear,  // no bit of number set
    kKept,       // the kept flag field set (\Flagged, a keyword)
    kNotKept,    // the kept flag field not set
    kRecent,
    kNew,
    kOld,
    kLarger,
    kSmaller,
    kBefore,
    kOn,
    kSince,
    kSentBefore,
    kSentOn,
    kSentSince,
    kHeader,
    kBody,
    kText,
    kModSeq,  // a modification sequence at or above modSeq
};

// One key of the criteria; AND, OR and NOT hold their operands as children. Strings are
// already converted and folded, sets resolved by Bind.
struct SearchNode {
    explicit SearchNode(SearchOp o) : op(o) {}
    SearchOp op;
    uint32_t number = 0;  // status bits, size
    uint64_t modSeq = 0;
    int32_t date = 0;      // yyyymmdd
    std::string field;     // header field name; the flag of kKept and kNotKept
    std::u16string value;  // folded search string
    std::string set;       // message or UID set as written
    std::vector<MessageRange> ranges;
    std::vector<std::unique_ptr<SearchNode>> children;
};

bool TokenizeSearch(const char* text, size_t n, std::vector<SearchToken>* tokens) {
    size_t i = 0;
    while (i < n) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t') {
            ++i;
        } else if (c == '(' || c == ')') {
            tokens->push_back({c == '(' ? SearchToken::kOpen : SearchToken::kClose, ""});
            ++i;
        } else if (c == '"') {
            std::string value;
            ++i;
            while (i < n && text[i] != '"') {
                if (text[i] == '\\' && i + 1 < n)
                    ++i;
                value.push_back(text[i++]);
            }
            if (i >= n)
                return false;
            ++i;
            tokens->push_back({SearchToken::kString, std::move(value)});
        } else if (IsAtomByte(c)) {
            const size_t start = i;
            while (i < n && IsAtomByte(static_cast<unsigned char>(text[i])))
                ++i;
            tokens->push_back({SearchToken::kAtom, std::string(text + start, i - start)});
        } else {
            return false;  // a control byte
        }
    }
    return true;
}

bool SearchString(const std::string& charset, const std::string& bytes, std::u16string* out) {
    std::u16string text;
    if (charset.empty() || SameNoCase(charset, "UTF-8")) {
        if (!DecodeUtf8(bytes.data(), bytes.size(), &text))
            DecodeLatin1(bytes.data(), bytes.size(), &text);
    } else if (SameNoCase(charset, "US-ASCII")) {
        DecodeLatin1(bytes.data(), bytes.size(), &text);
    } else if (SameNoCase(charset, "ISO-2022-JP")) {
        DecodeJapanese(bytes.data(), bytes.size(), &text);
    } else if (SameNoCase(charset, "SHIFT_JIS") || SameNoCase(charset, "CP932") ||
               SameNoCase(charset, "WINDOWS-31J")) {
        DecodeShiftJis(bytes.data(), bytes.size(), &text);
    } else {
        return false;
    }
    FoldCase(&text);
    *out = std::move(text);
    return true;
}

int32_t ParseSearchDate(const std::string& text) {
    const size_t dash1 = text.find('-');
    if (dash1 == std::string::npos || dash1 == 0 || dash1 > 2)
        return 0;
    const size_t dash2 = text.find('-', dash1 + 1);
    if (dash2 != dash1 + 4 || text.size() != dash2 + 5)
        return 0;
    uint32_t day = 0;
    uint32_t year = 0;
    if (!ReadNumber(text.substr(0, dash1), false, &day) || day < 1 || day > 31 ||
        !ReadNumber(text.substr(dash2 + 1), false, &year)) {
        return 0;
    }
    const std::string month = text.substr(dash1 + 1, 3);
    for (int m = 0; m < 12; ++m) {
        if (SameNoCase(month, kMonths[m]))
            return static_cast<int32_t>(year * 10000 + static_cast<uint32_t>(m + 1) * 100 + day);
    }
    return 0;
}

namespace {

// Keys without arguments: the flag keys and their kin.
struct SimpleKey {
    const char* name;
    SearchOp op;
    uint32_t bits;
};
const SimpleKey kSimpleKeys[] = {
    {"ALL", SearchOp::kAll, 0},
    {"ANSWERED", SearchOp::kFlagSet, StatusAnswered},
    {"DELETED", SearchOp::kFlagSet, StatusDeleted},
    {"DRAFT", SearchOp::kFlagSet, StatusDraft},
    {"FLAGGED", SearchOp::kKept, 0},
    {"NEW", SearchOp::kNew, 0},
    {"OLD", SearchOp::kOld, 0},
    {"RECENT", SearchOp::kRecent, 0},
    {"SEEN", SearchOp::kFlagClear, StatusUnread},
    {"UNANSWERED", SearchOp::kFlagClear, StatusAnswered},
    {"UNDELETED", SearchOp::kFlagClear, StatusDeleted},
    {"UNDRAFT", SearchOp::kFlagClear, StatusDraft},
    {"UNFLAGGED", SearchOp::kNotKept, 0},
    {"UNSEEN", SearchOp::kFlagSet, StatusUnread},
};

// Keys with one string: the header field they search, or none for BODY and TEXT.
struct StringKey {
    const char* name;
    SearchOp op;
    const char* field;
};
const StringKey kStringKeys[] = {
    {"BCC", SearchOp::kHeader, "Bcc"},   {"CC", SearchOp::kHeader, "Cc"},
    {"FROM", SearchOp::kHeader, "From"}, {"SUBJECT", SearchOp::kHeader, "Subject"},
    {"TO", SearchOp::kHeader, "To"},     {"BODY", SearchOp::kBody, nullptr},
    {"TEXT", SearchOp::kText, nullptr},
};

struct DateKey {
    const char* name;
    SearchOp op;
};
const DateKey kDateKeys[] = {
    {"BEFORE", SearchOp::kBefore}, {"ON", SearchOp::kOn},
    {"SINCE", SearchOp::kSince},   {"SENTBEFORE", SearchOp::kSentBefore},
    {"SENTON", SearchOp::kSentOn}, {"SENTSINCE", SearchOp::kSentSince},
};

using NodePtr = std::unique_ptr<SearchNode>;

// Recursive descent over the tokens, one key at a time; every failure yields no node, which
// fails the whole program. The charset converts each string argument as it is read.
class Parser {
  public:
    Parser(const std::vector<SearchToken>& tokens, size_t start, std::string charset)
        : tokens_(tokens), pos_(start), charset_(std::move(charset)) {}

    bool AtEnd() const { return pos_ >= tokens_.size(); }

    // One search key at the current token.
    NodePtr Key(int depth) {
        if (depth > kMaxDepth || AtEnd())
            return nullptr;
        const SearchToken& token = tokens_[pos_++];
        if (token.kind == SearchToken::kOpen)
            return Group(depth);
        if (token.kind != SearchToken::kAtom)
            return nullptr;
        const std::string& word = token.text;
        if (IsDigit(word[0]) || word[0] == '*')
            return Set(SearchOp::kSequence, word);
        for (const SimpleKey& k : kSimpleKeys) {
            if (SameNoCase(word, k.name)) {
                NodePtr node(new SearchNode(k.op));
                node->number = k.bits;
                if (k.op == SearchOp::kKept || k.op == SearchOp::kNotKept)
                    node->field = kFlaggedFlag;
                return node;
            }
        }
        for (const StringKey& k : kStringKeys) {
            if (SameNoCase(word, k.name)) {
                NodePtr node(new SearchNode(k.op));
                if (k.field != nullptr)
                    node->field = k.field;
                return String(&node->value) ? std::move(node) : nullptr;
            }
        }
        for (const DateKey& k : kDateKeys) {
            if (SameNoCase(word, k.name)) {
                std::string text;
                NodePtr node(new SearchNode(k.op));
                if (!AString(&text) || (node->date = ParseSearchDate(text)) == 0)
                    return nullptr;
                return node;
            }
        }
        if (SameNoCase(word, "NOT")) {
            NodePtr node(new SearchNode(SearchOp::kNot));
            return Children(node.get(), 1, depth) ? std::move(node) : nullptr;
        }
        if (SameNoCase(word, "OR")) {
            NodePtr node(new SearchNode(SearchOp::kOr));
            return Children(node.get(), 2, depth) ? std::move(node) : nullptr;
        }
        if (SameNoCase(word, "LARGER") || SameNoCase(word, "SMALLER")) {
            NodePtr node(new SearchNode(SameNoCase(word, "LARGER") ? SearchOp::kLarger
                                                                   : SearchOp::kSmaller));
            std::string text;
            if (!Atom(&text) || !ReadNumber(text, false, &node->number))
                return nullptr;
            return node;
        }
        if (SameNoCase(word, "UID")) {
            std::string text;
            return Atom(&text) ? Set(SearchOp::kUid, text) : nullptr;
        }
        if (SameNoCase(word, "HEADER")) {
            NodePtr node(new SearchNode(SearchOp::kHeader));
            if (!AString(&node->field) || node->field.empty() || !String(&node->value))
                return nullptr;
            return node;
        }
        if (SameNoCase(word, "MODSEQ"))
            return ModSeqKey();
        if (SameNoCase(word, "KEYWORD") || SameNoCase(word, "UNKEYWORD")) {
            NodePtr node(
                new SearchNode(SameNoCase(word, "KEYWORD") ? SearchOp::kKept : SearchOp::kNotKept));
            return Atom(&node->field) ? std::move(node) : nullptr;
        }
        return nullptr;
    }

    // MODSEQ [entry-name entry-type] value: the entry names a flag's own sequence, which is the
    // message's here (every change of a message raises it), so only the value counts.
    NodePtr ModSeqKey() {
        usesModSeq = true;
        NodePtr node(new SearchNode(SearchOp::kModSeq));
        if (!AtEnd() && tokens_[pos_].kind == SearchToken::kString) {
            ++pos_;
            std::string type;
            if (!Atom(&type) || !(SameNoCase(type, "priv") || SameNoCase(type, "shared") ||
                                  SameNoCase(type, "all")))
                return nullptr;
        }
        std::string text;
        if (!Atom(&text) || !ReadModSeq(Text(text.c_str()), true, &node->modSeq))
            return nullptr;
        return node;
    }

    bool usesModSeq = false;

    // Keys up to the end of the tokens, as one AND node.
    NodePtr All() {
        NodePtr node(new SearchNode(SearchOp::kAnd));
        while (!AtEnd()) {
            NodePtr key = Key(0);
            if (!key)
                return nullptr;
            node->children.push_back(std::move(key));
        }
        return node->children.empty() ? nullptr : std::move(node);
    }

  private:
    // "(" was read: keys up to the matching ")", at least one.
    NodePtr Group(int depth) {
        NodePtr node(new SearchNode(SearchOp::kAnd));
        for (;;) {
            if (AtEnd())
                return nullptr;
            if (tokens_[pos_].kind == SearchToken::kClose) {
                ++pos_;
                return node->children.empty() ? nullptr : std::move(node);
            }
            NodePtr key = Key(depth + 1);
            if (!key)
                return nullptr;
            node->children.push_back(std::move(key));
        }
    }

    bool Children(SearchNode* node, int count, int depth) {
        for (int i = 0; i < count; ++i) {
            NodePtr key = Key(depth + 1);
            if (!key)
                return false;
            node->children.push_back(std::move(key));
        }
        return true;
    }

    NodePtr Set(SearchOp op, const std::string& text) {
        if (!IsSequenceSet(text))
            return nullptr;
        NodePtr node(new SearchNode(op));
        node->set = text;
        return node;
    }

    bool Atom(std::string* out) {
        if (AtEnd() || tokens_[pos_].kind != SearchToken::kAtom)
            return false;
        *out = tokens_[pos_++].text;
        return true;
    }

    bool AString(std::string* out) {
        if (AtEnd() || (tokens_[pos_].kind != SearchToken::kAtom &&
                        tokens_[pos_].kind != SearchToken::kString)) {
            return false;
        }
        *out = tokens_[pos_++].text;
        return true;
    }

    bool String(std::u16string* out) {
        std::string bytes;
        return AString(&bytes) && SearchString(charset_, bytes, out);
    }

    const std::vector<SearchToken>& tokens_;
    size_t pos_;
    std::string charset_;
};

bool InRanges(const std::vector<MessageRange>& ranges, uint32_t n) {
    for (const MessageRange& r : ranges) {
        if (n >= r.lo && n <= r.hi)
            return true;
    }
    return false;
}

void BindNode(SearchNode* node, uint32_t count, uint32_t uidNext) {
    if (node->op == SearchOp::kSequence || node->op == SearchOp::kUid) {
        const int uidMode = node->op == SearchOp::kUid ? 1 : 0;
        node->ranges.clear();
        Text set(node->set.c_str());
        while (!set.IsEmpty()) {
            const int before = set.Length();
            node->ranges.push_back(ParseRange(&set, uidMode, uidNext, count));
            if (set.Length() >= before)
                break;
        }
    }
    for (auto& child : node->children)
        BindNode(child.get(), count, uidNext);
}

bool Evaluate(const SearchNode& node, SearchSubject& s) {
    switch (node.op) {
        case SearchOp::kAll:
            return true;
        case SearchOp::kAnd:
            for (const auto& child : node.children) {
                if (!Evaluate(*child, s))
                    return false;
            }
            return true;
        case SearchOp::kOr:
            return Evaluate(*node.children[0], s) || Evaluate(*node.children[1], s);
        case SearchOp::kNot:
            return !Evaluate(*node.children[0], s);
        case SearchOp::kSequence:
            return InRanges(node.ranges, s.Sequence());
        case SearchOp::kUid:
            return InRanges(node.ranges, s.Uid());
        case SearchOp::kFlagSet:
            return (s.Status() & node.number) == node.number;
        case SearchOp::kFlagClear:
            return (s.Status() & node.number) == 0;
        case SearchOp::kKept:
            return s.HasKeptFlag(node.field);
        case SearchOp::kNotKept:
            return !s.HasKeptFlag(node.field);
        case SearchOp::kRecent:
            return s.Recent();
        case SearchOp::kNew:
            return s.Recent() && (s.Status() & StatusUnread) != 0;
        case SearchOp::kOld:
            return !s.Recent();
        case SearchOp::kLarger:
            return s.Size() > node.number;
        case SearchOp::kSmaller:
            return s.Size() < node.number;
        case SearchOp::kBefore:
        case SearchOp::kOn:
        case SearchOp::kSince:
        case SearchOp::kSentBefore:
        case SearchOp::kSentOn:
        case SearchOp::kSentSince: {
            const bool sent = node.op == SearchOp::kSentBefore || node.op == SearchOp::kSentOn ||
                              node.op == SearchOp::kSentSince;
            const int32_t date = sent ? s.Content().SentDate() : s.InternalDate();
            if (date == 0)
                return false;
            if (node.op == SearchOp::kBefore || node.op == SearchOp::kSentBefore)
                return date < node.date;
            if (node.op == SearchOp::kOn || node.op == SearchOp::kSentOn)
                return date == node.date;
            return date >= node.date;
        }
        case SearchOp::kHeader:
            return s.Content().FieldContains(node.field.c_str(), node.value);
        case SearchOp::kBody:
            return s.Content().BodyContains(node.value);
        case SearchOp::kText:
            return s.Content().HeaderContains(node.value) || s.Content().BodyContains(node.value);
        case SearchOp::kModSeq:
            return s.ModSeq() >= node.modSeq;
    }
    return false;
}

}  // namespace

SearchProgram::SearchProgram() = default;
SearchProgram::~SearchProgram() = default;

SearchProgram::Result SearchProgram::Parse(const char* text, size_t n) {
    root_.reset();
    std::vector<SearchToken> tokens;
    if (!TokenizeSearch(text, n, &tokens))
        return kBadSyntax;
    size_t start = 0;
    std::string charset;
    if (!tokens.empty() && tokens[0].kind == SearchToken::kAtom &&
        SameNoCase(tokens[0].text, "CHARSET")) {
        if (tokens.size() < 2 ||
            (tokens[1].kind != SearchToken::kAtom && tokens[1].kind != SearchToken::kString)) {
            return kBadSyntax;
        }
        charset = tokens[1].text;
        std::u16string probe;
        if (charset.empty() || !SearchString(charset, "", &probe))
            return kBadCharset;
        start = 2;
    }
    Parser parser(tokens, start, charset);
    root_ = parser.All();
    usesModSeq_ = parser.usesModSeq;
    return root_ ? kOk : kBadSyntax;
}

void SearchProgram::Bind(uint32_t count, uint32_t uidNext) {
    if (root_)
        BindNode(root_.get(), count, uidNext);
}

bool SearchProgram::Matches(SearchSubject& subject) const {
    return root_ && Evaluate(*root_, subject);
}
