// ENVELOPE from header fields: each input line is one complete header field applied to an
// envelope, which is then written; the whole input is also read as one address list, address
// by address, where every parsed address must move the position on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "render/envelope.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    Envelope env;
    size_t start = 0;
    while (start <= bytes.size()) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos)
            end = bytes.size();
        Text field("");
        field.Append(bytes.data() + start, static_cast<int>(end - start));
        ApplyEnvelopeField(field, &env);
        start = end + 1;
    }
    Text rendered("");
    RenderEnvelope(env, &rendered);
    Require(rendered.Length() > 2 && rendered[0] == ' ' && rendered[1] == '(');

    Text list("");
    list.Append(bytes.data(), static_cast<int>(bytes.size()));
    int pos = 0;
    Text written("");
    while (pos < list.Length()) {
        const int before = pos;
        EnvelopeAddress address;
        ParseAddress(list, &pos, &address);
        Require(pos > before && pos <= list.Length());
        WriteAddress(address, &written);
    }
    return 0;
}
