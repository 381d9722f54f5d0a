// Base64 in both alphabets: decoding any text (the codec never rejects input), and encoding any
// bytes, which must decode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "mime/base64.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void Check(Base64Codec::Variant variant, const uint8_t* data, size_t size) {
    Base64Codec codec(variant);
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t count = 0;
    const unsigned char* decoded = codec.Decode(text.c_str(), &count);
    const size_t textLength = std::strlen(text.c_str());
    // Four characters give at most three bytes.
    Require(count <= (textLength + 3) / 4 * 3);
    if (count > 0)
        Require(decoded != nullptr);
    const std::string decodedCopy(reinterpret_cast<const char*>(decoded), decoded ? count : 0);

    const char* encoded = codec.Encode(data, size);
    if (size == 0) {
        Require(encoded == nullptr);
        return;
    }
    Require(encoded != nullptr);
    const std::string encodedCopy(encoded);
    Require(encodedCopy.size() >= (size + 2) / 3 * 4 - 2);
    const unsigned char* back = codec.Decode(encodedCopy.c_str(), &count);
    Require(count == size);
    Require(std::memcmp(back, data, size) == 0);
    (void)decodedCopy;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Check(Base64Codec::kStandard, data, size);
    Check(Base64Codec::kMailboxName, data, size);
    return 0;
}
