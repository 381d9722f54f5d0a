// Mailbox names: a client's name in modified UTF-7 decoded into the local code page, and a
// folder title or directory name (any bytes) encoded for the client, which must come out 7-bit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/text.h"
#include "store/name_codec.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void RequireSevenBit(const Text& text) {
    for (int i = 0; i < text.Length(); ++i)
        Require(static_cast<unsigned char>(text[i]) < 0x80);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const Text name(bytes.c_str());

    Text decoded;
    if (!DecodeName(name, &decoded))
        Require(decoded.IsEmpty());
    const Text encoded = EncodeName(name);
    RequireSevenBit(encoded);
    // A decoded name is encoded again when the server lists it.
    RequireSevenBit(EncodeName(decoded));
    // A name that the server encodes holds only characters of the code page.
    Text again;
    Require(DecodeName(encoded, &again));
    (void)RoundTripName(name);
    (void)RoundTripName(decoded);

    // The raw conversions, with an explicit length that may cut a character in two.
    NameCodec codec;
    const int units = codec.ToWide(bytes.data(), static_cast<int>(size));
    Require(units >= 0 && codec.Wide() != nullptr && codec.Wide()[units] == 0);
    (void)codec.ToNarrow(codec.Wide());
    return 0;
}
