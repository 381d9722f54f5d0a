// Shift_JIS text on its way to the client: a body line converted to ISO-2022-JP and a header
// line with its double-byte runs turned into encoded words. Lines read from a message file may
// hold any bytes, NUL included.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
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
    return 0;
}
