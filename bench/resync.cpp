#include "bench/resync.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace {

bool SameWord(const std::string& text, size_t at, const char* word) {
    const size_t n = std::strlen(word);
    if (text.size() - std::min(at, text.size()) < n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != word[i])
            return false;
    }
    return true;
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads the decimal number at text[*at] (at most 20 digits) and moves past it.
bool ReadNumber(const std::string& text, size_t* at, uint64_t* number) {
    size_t i = *at;
    uint64_t value = 0;
    while (i < text.size() && IsDigit(text[i]) && i - *at < 20)
        value = value * 10 + static_cast<uint64_t>(text[i++] - '0');
    if (i == *at || (i < text.size() && IsDigit(text[i])))
        return false;
    *at = i;
    *number = value;
    return true;
}

// Where a FETCH response's list begins (after "* n FETCH ("), or 0 when the text is no FETCH.
size_t FetchListStart(const std::string& text) {
    if (text.compare(0, 2, "* ") != 0)
        return 0;
    size_t i = 2;
    uint64_t sequence = 0;
    if (!ReadNumber(text, &i, &sequence) || !SameWord(text, i, " FETCH ("))
        return 0;
    return i + 8;
}

bool Untagged(const std::string& text, const char* name) {
    const size_t n = std::strlen(name);
    return text.compare(0, 2, "* ") == 0 && SameWord(text, 2, name) &&
           (text.size() == 2 + n || text[2 + n] == ' ' || text[2 + n] == '\r');
}

// Whether an untagged ENABLED response names the extension.
bool Enables(const std::string& text, const char* extension) {
    if (!Untagged(text, "ENABLED"))
        return false;
    const size_t n = std::strlen(extension);
    for (size_t i = 9; i < text.size(); ++i) {
        if (text[i - 1] == ' ' && SameWord(text, i, extension) &&
            (i + n == text.size() || text[i + n] == ' ' || text[i + n] == '\r'))
            return true;
    }
    return false;
}

}  // namespace

bool FetchUid(const std::string& text, uint32_t* uid) {
    size_t i = FetchListStart(text);
    if (i == 0)
        return false;
    int depth = 1;
    while (i < text.size() && depth > 0) {
        const char c = text[i];
        if (c == '"') {
            for (++i; i < text.size() && text[i] != '"'; ++i) {
                if (text[i] == '\\')
                    ++i;
            }
            ++i;
        } else if (c == '{') {
            // A literal: its bytes were left out of the text, its line break was not.
            while (i < text.size() && text[i] != '\n')
                ++i;
            ++i;
        } else if (c == '(' || c == '[') {
            ++depth;
            ++i;
        } else if (c == ')' || c == ']') {
            --depth;
            ++i;
        } else if (c == ' ' || c == '\r' || c == '\n') {
            ++i;
        } else {
            const size_t begin = i;
            while (i < text.size() && std::strchr(" ()[]\"{\r\n", text[i]) == nullptr)
                ++i;
            if (depth == 1 && i - begin == 3 && SameWord(text, begin, "UID") && i < text.size() &&
                text[i] == ' ') {
                ++i;
                uint64_t value = 0;
                if (!ReadNumber(text, &i, &value) || value == 0 || value > 0xFFFFFFFFu)
                    return false;
                *uid = static_cast<uint32_t>(value);
                return true;
            }
        }
    }
    return false;
}

bool CodeNumber(const std::string& text, const char* code, uint64_t* number) {
    if (!Untagged(text, "OK") || !SameWord(text, 5, "[") || !SameWord(text, 6, code))
        return false;
    size_t i = 6 + std::strlen(code);
    if (i >= text.size() || text[i] != ' ')
        return false;
    ++i;
    uint64_t value = 0;
    if (!ReadNumber(text, &i, &value) || i >= text.size() || text[i] != ']')
        return false;
    *number = value;
    return true;
}

std::string UidSet(const std::vector<uint32_t>& uids) {
    std::string out;
    for (size_t i = 0; i < uids.size();) {
        size_t j = i;
        while (j + 1 < uids.size() && uids[j + 1] == uids[j] + 1)
            ++j;
        if (!out.empty())
            out += ',';
        out += std::to_string(uids[i]);
        if (j > i)
            out += ':' + std::to_string(uids[j]);
        i = j + 1;
    }
    return out;
}

ResyncResult RunResync(const ResyncOptions& options) {
    ResyncResult r;
    const auto limit =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.limit));
    ImapClient client;
    client.KeepText(true);
    const Clock::time_point start = Clock::now();
    auto stop = [&r, start] {
        r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    };
    r.connected = client.Connect(options.port);
    if (!r.connected) {
        stop();
        return r;
    }
    r.greeting = client.ReadGreeting(Clock::now() + limit);
    r.bytes = r.greeting.bytes;
    if (r.greeting.outcome != Outcome::kOk) {
        stop();
        return r;
    }
    // Sends one command; false when it was not answered OK.
    auto run = [&](const std::string& command) {
        ResyncStep step;
        step.command = command;
        step.reply = client.Command(command, Clock::now() + limit);
        r.bytes += step.reply.bytes;
        for (const std::string& text : step.reply.texts) {
            uint32_t uid = 0;
            if (FetchListStart(text) != 0)
                step.uids.push_back(FetchUid(text, &uid) ? uid : 0);
        }
        r.steps.push_back(std::move(step));
        return r.steps.back().reply.outcome == Outcome::kOk;
    };

    if (!run("LOGIN " + options.user + " " + options.password) || !run("ENABLE QRESYNC")) {
        stop();
        return r;
    }
    for (const std::string& text : r.steps.back().reply.texts)
        r.enabled = r.enabled || Enables(text, "QRESYNC");
    const bool selected =
        run("SELECT " + options.mailbox + " (QRESYNC (" + std::to_string(options.uidValidity) +
            " " + std::to_string(options.modSeq) + "))");
    const ResyncStep& select = r.steps.back();
    for (const std::string& text : select.reply.texts) {
        uint64_t number = 0;
        if (CodeNumber(text, "HIGHESTMODSEQ", &number))
            r.highestModSeq = number;
        else if (CodeNumber(text, "UIDNEXT", &number) && number <= 0xFFFFFFFFu)
            r.uidNext = static_cast<uint32_t>(number);
        else if (Untagged(text, "VANISHED"))
            ++r.vanished;
    }
    if (!selected) {
        stop();
        return r;
    }
    // The new messages: those the SELECT reported at or above the old UIDNEXT, or, when it
    // reported none of them but its UIDNEXT moved, all from there on.
    std::vector<uint32_t> fresh;
    for (uint32_t uid : select.uids) {
        if (uid >= options.uidNext)
            fresh.push_back(uid);
    }
    std::sort(fresh.begin(), fresh.end());
    fresh.erase(std::unique(fresh.begin(), fresh.end()), fresh.end());
    std::string set = UidSet(fresh);
    if (set.empty() && r.uidNext > options.uidNext)
        set = std::to_string(options.uidNext) + ":*";
    r.ok = set.empty() || run("UID FETCH " + set + " (FLAGS ENVELOPE)");
    stop();
    client.Command("LOGOUT", Clock::now() + limit);
    return r;
}
