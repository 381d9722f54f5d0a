// Shift_JIS text on its way to the client: a body line converted to ISO-2022-JP, a header line
// with its double-byte runs turned into encoded words, and body lines converted in pieces as
// blocks of a file arrive. Lines read from a message file may hold any bytes, NUL included.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "mime/jis_text.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    const char* bytes = reinterpret_cast<const char*>(data);
    JisText body;
    body.Assign("");
    body.Append(bytes, static_cast<int>(size));
    JisText header(body);

    const int bodyLength = body.ConvertToJis();
    Require(bodyLength == body.Length());
    const int headerLength = header.EncodeHeaderWords();
    Require(headerLength == header.Length());

    // The raw conversion into a buffer of exactly the documented size, so a write past it is
    // caught.
    const std::string text(bytes, size);
    const size_t length = std::char_traits<char>::length(text.c_str());
    const size_t capacity = length * 4 + 10;
    std::unique_ptr<char[]> out(new char[capacity]);
    const int written = SjisToJis(text.c_str(), out.get());
    Require(written >= 0 && static_cast<size_t>(written) < capacity);
    Require(out[static_cast<size_t>(written)] == 0);

    for (size_t i = 0; i + 1 < size; i += 2)
        (void)SjisToJisCode(static_cast<uint16_t>(data[i] << 8 | data[i + 1]));

    // The body lines cut into pieces where the bytes say, their unchanged heads taken by the
    // caller on odd bytes, as blocks read in place are: the conversion of the whole.
    Text whole;
    AppendJisLines(bytes, static_cast<int>(size), &whole);
    Text pieces;
    JisLineStream stream;
    for (size_t at = 0; at < size;) {
        const size_t n = std::min<size_t>(size - at, 1 + data[at] % 67);
        const size_t same = (data[at] & 1) != 0 ? stream.UnchangedLength(bytes + at, n) : 0;
        pieces.AppendBytes(bytes + at, static_cast<int>(same));
        stream.Append(bytes + at + same, n - same, &pieces);
        at += n;
    }
    stream.Finish(&pieces);
    Require(pieces.Length() == whole.Length() &&
            std::memcmp(pieces.c_str(), whole.c_str(), static_cast<size_t>(whole.Length())) == 0);
    Require(PlainLength(bytes, size) == PlainLengthPortable(bytes, size));
    return 0;
}
