// The kept flags of the extended mode: the flag lists and their text, the record's file text,
// and the process-wide records, one per folder, kept in "Imap4.flg".
#include "store/folder_flags.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "base/ascii.h"
#include "platform/files.h"
#include "store/mailbox.h"
#include "store/state_file.h"

const char kFlaggedFlag[] = "\\Flagged";

namespace {

constexpr char kHeader[] = "Imap4.flg 1";
constexpr char kRecordName[] = "Imap4.flg";
// Written first, then renamed over the record; one writer per folder at a time (its lock).
constexpr char kNewRecordName[] = "Imap4.flg.new";

bool SameNoCase(const char* a, size_t n, const std::string& b) {
    return SameAsciiNoCase(a, n, b.data(), b.size());
}

bool SameNoCase(const std::string& a, const std::string& b) {
    return SameAsciiNoCase(a.data(), a.size(), b.data(), b.size());
}

std::string UpperCase(const std::string& text) {
    std::string upper(text);
    for (char& c : upper)
        c = AsciiUpper(c);
    return upper;
}

// An ATOM-CHAR of IMAP: 7-bit, no control, none of ( ) { blank % * " \ ].
}  // namespace

FlagKind ClassifyFlag(const char* flag, size_t n, std::string* kept) {
    if (n > 0 && flag[0] == '\\') {
        if (!SameNoCase(flag, n, kFlaggedFlag))
            return FlagKind::kSystem;
        kept->assign(kFlaggedFlag);
        return FlagKind::kKept;
    }
    if (n == 0 || n > kMaxKeywordLength)
        return FlagKind::kMalformed;
    for (size_t i = 0; i < n; ++i) {
        if (!IsAtomChar(static_cast<unsigned char>(flag[i])))
            return FlagKind::kMalformed;
    }
    kept->assign(flag, n);
    return FlagKind::kKept;
}

FlagList SplitFlagText(const std::string& text) {
    FlagList flags;
    size_t start = 0;
    while (start < text.size()) {
        size_t blank = text.find(' ', start);
        if (blank == std::string::npos)
            blank = text.size();
        if (blank > start)
            flags.push_back(text.substr(start, blank - start));
        start = blank + 1;
    }
    return flags;
}

std::string JoinFlags(const FlagList& flags) {
    std::string text;
    for (const std::string& flag : flags) {
        if (!text.empty())
            text += ' ';
        text += flag;
    }
    return text;
}

FlagList AddFlags(const FlagList& flags, const FlagList& added) {
    FlagList result;
    const bool flagged = HasFlag(flags, kFlaggedFlag) || HasFlag(added, kFlaggedFlag);
    if (flagged)
        result.push_back(kFlaggedFlag);
    for (const FlagList* list : {&flags, &added}) {
        for (const std::string& flag : *list) {
            if (!HasFlag(result, flag))
                result.push_back(flag);
        }
    }
    return result;
}

FlagList RemoveFlags(const FlagList& flags, const FlagList& removed) {
    FlagList result;
    for (const std::string& flag : flags) {
        if (!HasFlag(removed, flag))
            result.push_back(flag);
    }
    return result;
}

bool HasFlag(const char* text, size_t n, const std::string& flag) {
    size_t start = 0;
    while (start < n) {
        const void* found = std::memchr(text + start, ' ', n - start);
        const size_t end =
            found != nullptr ? static_cast<size_t>(static_cast<const char*>(found) - text) : n;
        if (SameNoCase(text + start, end - start, flag))
            return true;
        start = end + 1;
    }
    return false;
}

void SetKeptFlags(MessageEntry& entry, const std::string& flags) {
    if (flags.empty()) {
        if (entry.keptFlags.HasBuffer())
            entry.keptFlags = Text();
    } else if (entry.keptFlags.Length() != static_cast<int>(flags.size()) ||
               std::memcmp(entry.keptFlags.c_str(), flags.data(), flags.size()) != 0) {
        entry.keptFlags.AssignCompact(flags.data(), static_cast<int>(flags.size()));
    }
}

bool HasFlag(const FlagList& flags, const std::string& flag) {
    for (const std::string& f : flags) {
        if (SameNoCase(f, flag))
            return true;
    }
    return false;
}

std::string FormatFlagRecord(const FlagRecord& record) {
    std::string text(kHeader);
    char line[64];
    std::snprintf(line, sizeof line, "\nvalidity %" PRIu32 " count %lu\n", record.validity,
                  static_cast<unsigned long>(record.flags.size()));
    text += line;
    for (const auto& message : record.flags) {
        std::snprintf(line, sizeof line, "%" PRIu32 " ", message.first);
        text += line;
        text += message.second;
        text += '\n';
    }
    text += "end\n";
    return text;
}

bool ParseFlagRecord(const std::string& text, FlagRecord* out) {
    const char* p = text.data();
    const char* end = p + text.size();
    uint32_t count = 0;
    if (!ReadStateWord(&p, end, kHeader) || !ReadStateWord(&p, end, "\nvalidity ") ||
        !ReadStateNumber(&p, end, ' ', &out->validity) || !ReadStateWord(&p, end, "count ") ||
        !ReadStateNumber(&p, end, '\n', &count))
        return false;
    if (out->validity == 0 || count > text.size() / 4)
        return false;
    out->flags.clear();
    uint32_t last = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t uid = 0;
        if (!ReadStateNumber(&p, end, ' ', &uid) || uid <= last)
            return false;
        last = uid;
        const void* lf = std::memchr(p, '\n', static_cast<size_t>(end - p));
        if (lf == nullptr)
            return false;
        const char* lineEnd = static_cast<const char*>(lf);
        const FlagList flags = SplitFlagText(std::string(p, lineEnd));
        FlagList kept;
        for (const std::string& flag : flags) {
            std::string spelling;
            if (ClassifyFlag(flag.data(), flag.size(), &spelling) != FlagKind::kKept ||
                spelling != flag || HasFlag(kept, flag))
                return false;
            kept.push_back(flag);
        }
        // Written as AddFlags orders them, blanks single.
        if (kept.empty() || JoinFlags(AddFlags(FlagList(), kept)) != std::string(p, lineEnd))
            return false;
        out->flags.emplace_hint(out->flags.end(), uid, JoinFlags(kept));
        p = lineEnd + 1;
    }
    return ReadStateWord(&p, end, "end\n") && p == end;
}

FolderFlags* FolderFlags::Of(HostPort& host, const Text& mailRoot, const Text& folderPath) {
    // One folder, one record, however its path is spelled ("a/b" or "a\b", "INBOX").
    const Text directory = FolderFilePath(host, mailRoot, NormaliseFolderPath(folderPath), "");
    if (directory.IsEmpty() ||
        directory.Length() + static_cast<int>(sizeof kNewRecordName) > platform::kMaxPath ||
        !platform::DirectoryExists(directory.Left(directory.Length() - 1).c_str()))
        return nullptr;
    // Made once and never freed: connection threads may still hold a record when the process
    // ends. One entry per folder directory that exists.
    static std::mutex* tableLock = new std::mutex;
    static auto* table = new std::map<std::string, std::unique_ptr<FolderFlags>>;
    const std::string key(directory.c_str());
    std::lock_guard<std::mutex> hold(*tableLock);
    std::unique_ptr<FolderFlags>& flags = (*table)[key];
    if (!flags)
        flags.reset(new FolderFlags(key));
    return flags.get();
}

void FolderFlags::CountKeywords(const std::string& flagText, int delta) {
    for (const std::string& flag : SplitFlagText(flagText)) {
        if (flag == kFlaggedFlag)
            continue;
        const std::string key = UpperCase(flag);
        auto use = keywords_.find(key);
        if (delta > 0) {
            if (use == keywords_.end())
                keywords_.emplace(key, KeywordUse{flag, 1});
            else
                ++use->second.messages;
        } else if (use != keywords_.end() && --use->second.messages == 0) {
            keywords_.erase(use);
        }
    }
}

bool FolderFlags::KnownKeyword(const std::string& keyword) const {
    return keywords_.count(UpperCase(keyword)) != 0;
}

void FolderFlags::Prepare(uint32_t validity) {
    if (!loaded_) {
        loaded_ = true;
        std::string text;
        // A record that cannot be read counts as none; it is replaced at the next change.
        if (!ReadStateFile(directory_ + kRecordName, &text) || !ParseFlagRecord(text, &record_))
            record_ = FlagRecord();
        for (const auto& message : record_.flags)
            CountKeywords(message.second, 1);
    }
    if (record_.validity != validity) {
        // Kept under another UIDVALIDITY: its UIDs name other messages now.
        if (!record_.flags.empty())
            dirty_ = true;
        record_.flags.clear();
        keywords_.clear();
        record_.validity = validity;
    }
}

void FolderFlags::Attach(uint32_t validity, uint32_t next, MessageIndex& index, bool complete) {
    std::lock_guard<std::mutex> hold(lock_);
    const size_t had = record_.flags.size();
    const uint32_t hadValidity = record_.validity;
    Prepare(validity);
    const int count = index.Count();
    // Both ascend by UID.
    auto kept = record_.flags.begin();
    for (int i = 0; i < count; ++i) {
        const uint32_t uid = index.UidAt(i);
        while (kept != record_.flags.end() && kept->first < uid) {
            if (complete && kept->first < next) {
                CountKeywords(kept->second, -1);
                kept = record_.flags.erase(kept);
                dirty_ = true;
            } else {
                ++kept;
            }
        }
        if (kept != record_.flags.end() && kept->first == uid) {
            SetKeptFlags(*index.At(i), kept->second);
            ++kept;
        } else if (index.IsMade(i)) {
            // An entry not made yet has no kept flags to clear.
            SetKeptFlags(*index.At(i), std::string());
        }
    }
    while (complete && kept != record_.flags.end() && kept->first < next) {
        CountKeywords(kept->second, -1);
        kept = record_.flags.erase(kept);
        dirty_ = true;
    }
    // Written when this call changed the record; a record that failed to be written before is
    // written again by the next change (STORE, COPY, APPEND), not at every look at the index.
    if (dirty_ && (record_.flags.size() != had || record_.validity != hadValidity))
        SaveLocked();
}

std::string FolderFlags::Change(uint32_t validity, uint32_t uid, FlagChange how,
                                const FlagList& flags) {
    std::lock_guard<std::mutex> hold(lock_);
    Prepare(validity);
    auto found = record_.flags.find(uid);
    const std::string old = found != record_.flags.end() ? found->second : std::string();
    if (flags.empty() && how != FlagChange::kReplace)
        return old;
    const FlagList before = SplitFlagText(old);
    FlagList after;
    if (how == FlagChange::kRemove) {
        after = RemoveFlags(before, flags);
    } else {
        // Only keywords the folder has, in the spelling it has them in, or has room for, are
        // taken.
        FlagList taken;
        size_t known = keywords_.size();
        for (const std::string& flag : flags) {
            if (flag == kFlaggedFlag || HasFlag(taken, flag)) {
                taken.push_back(flag);
                continue;
            }
            auto use = keywords_.find(UpperCase(flag));
            if (use != keywords_.end()) {
                taken.push_back(use->second.spelling);
            } else if (known < kMaxFolderKeywords) {
                ++known;
                taken.push_back(flag);
            }
        }
        after = AddFlags(how == FlagChange::kAdd ? before : FlagList(), taken);
    }
    const std::string text = JoinFlags(after);
    if (text != old) {
        dirty_ = true;
        CountKeywords(old, -1);
        CountKeywords(text, 1);
        if (text.empty())
            record_.flags.erase(found);
        else
            record_.flags[uid] = text;
    }
    return text;
}

std::string FolderFlags::FlagsOf(uint32_t validity, uint32_t uid) {
    std::lock_guard<std::mutex> hold(lock_);
    Prepare(validity);
    auto found = record_.flags.find(uid);
    return found != record_.flags.end() ? found->second : std::string();
}

FlagList FolderFlags::Keywords(uint32_t validity) {
    std::lock_guard<std::mutex> hold(lock_);
    Prepare(validity);
    FlagList keywords;
    for (const auto& use : keywords_)
        keywords.push_back(use.second.spelling);
    return keywords;
}

bool FolderFlags::PassesKeywordLimit(uint32_t validity, const FlagList& flags) {
    std::lock_guard<std::mutex> hold(lock_);
    Prepare(validity);
    size_t known = keywords_.size();
    FlagList added;
    for (const std::string& flag : flags) {
        if (flag != kFlaggedFlag && !KnownKeyword(flag) && !HasFlag(added, flag)) {
            added.push_back(flag);
            ++known;
        }
    }
    return known > kMaxFolderKeywords;
}

bool FolderFlags::Save() {
    std::lock_guard<std::mutex> hold(lock_);
    return !dirty_ || SaveLocked();
}

bool FolderFlags::SaveLocked() {
    const bool ok = ReplaceStateFile(directory_ + kRecordName, directory_ + kNewRecordName,
                                     FormatFlagRecord(record_));
    dirty_ = !ok;
    return ok;
}
