// The search criteria of extended-mode SEARCH: any text parsed into a program, bound to a folder
// and evaluated against the session store's messages; plus the pieces the parser rests on
// (tokens, search strings in every charset, dates).
//
// Input: one byte for the folder's size (message count and UIDNEXT), then the criteria.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "imap/search_program.h"
#include "imap/search_subject.h"
#include "mime/message_text.h"
#include "store/folder_flags.h"

namespace {

// One stored message with made-up flags, sizes and dates.
class SampleSubject : public SearchSubject {
  public:
    SampleSubject(const std::string& raw, uint32_t sequence)
        : raw_(raw), sequence_(sequence), text_(raw) {}
    uint32_t Sequence() const override { return sequence_; }
    uint32_t Uid() const override { return sequence_ * 3 + 1; }
    uint32_t Status() const override { return sequence_ % 2 != 0 ? 0x40000000u : 0x20020000u; }
    bool HasKeptFlag(const std::string& flag) const override {
        static const std::string kKept = "\\Flagged $Junk";
        return sequence_ % 4 == 0 && HasFlag(kKept.data(), kKept.size(), flag);
    }
    bool Recent() const override { return sequence_ % 3 == 0; }
    uint64_t ModSeq() const override { return sequence_ * 5ull; }
    uint32_t Size() override { return ClientFormSize(raw_, Mode::kExtended); }
    int32_t InternalDate() override { return 20250301 + static_cast<int32_t>(sequence_); }
    MessageText& Content() override { return text_; }

  private:
    std::string raw_;
    uint32_t sequence_;
    MessageText text_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 1 << 16)
        return 0;
    static const std::vector<std::string> messages = fuzz::SampleMessages();
    const uint32_t count = data[0] & 0x0F;
    const uint32_t uidNext = data[0] >> 4 == 0 ? 0xFFFFFFFFu : (data[0] >> 4) * 3u;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const size_t n = size - 1;

    SearchProgram program;
    if (program.Parse(text, n) == SearchProgram::kOk) {
        program.Bind(count, uidNext);
        for (size_t i = 0; i < messages.size(); ++i) {
            SampleSubject subject(messages[i], static_cast<uint32_t>(i + 1));
            (void)program.Matches(subject);
        }
    }

    std::vector<SearchToken> tokens;
    if (TokenizeSearch(text, n, &tokens)) {
        for (const SearchToken& token : tokens) {
            (void)ParseSearchDate(token.text);
            std::u16string folded;
            for (const char* charset : {"", "UTF-8", "ISO-2022-JP", "SHIFT_JIS", "US-ASCII"})
                (void)SearchString(charset, token.text, &folded);
            (void)ParseMessageDate(folded);
        }
    }
    return 0;
}
