// Base64Codec: every base64 need of the server on whole buffers: stored passwords, the values
// of a folder's "Entry.lst", MIME encoded words (the standard configuration) and modified UTF-7
// mailbox names (the variant with "," for "/" and no pad character).
//
// Decode never rejects input: a character outside the alphabet counts as the value 0. The
// result buffer belongs to the codec and stays valid until its next Encode or Decode.
//
// Below the codec, the same encoding and decoding into the caller's memory (for callers that
// handle many small values and must not allocate for each), and the transfer decoding of MIME
// text, which passes over line ends and stops at the pad.
#ifndef ORV_MIME_BASE64_H_
#define ORV_MIME_BASE64_H_

#include <cstddef>
#include <string>

class Base64Codec {
  public:
    enum Variant { kStandard, kMailboxName };

    explicit Base64Codec(Variant variant = kStandard);
    ~Base64Codec();
    Base64Codec(const Base64Codec&) = delete;
    Base64Codec& operator=(const Base64Codec&) = delete;

    // The base64 text of n bytes, NUL-terminated; null for n = 0.
    const char* Encode(const void* data, size_t n);
    // The bytes of a NUL-terminated text (null reads as ""); their count in *count.
    const unsigned char* Decode(const char* text, size_t* count);

  private:
    Variant variant_;
    unsigned char* result_ = nullptr;
};

// The number of characters n bytes encode to: whole groups of four padded with "=" in the
// standard variant, the last group cut short without a pad in the mailbox-name variant.
size_t Base64EncodedLength(size_t n, Base64Codec::Variant variant = Base64Codec::kStandard);

// Writes the base64 text of n bytes (the characters Encode gives, without the NUL) to out,
// which has room for Base64EncodedLength(n, variant) characters; returns their count.
size_t Base64EncodeTo(const void* data, size_t n, char* out,
                      Base64Codec::Variant variant = Base64Codec::kStandard);

// Decodes length characters as Decode does: in groups of four, every character counted, one
// outside the alphabet (a pad, a line end, a NUL) as the value 0, and a last group of fewer
// than four characters as if filled up with the value 0. Writes three bytes for each group,
// (length + 3) / 4 * 3 in all, to out and returns that count.
size_t Base64DecodeTo(const char* text, size_t length, unsigned char* out,
                      Base64Codec::Variant variant = Base64Codec::kStandard);

// Base64DecodeTo of exactly 16 standard characters into 12 bytes, in one pass for the fixed
// records read in great numbers. False, writing nothing, when one of them is a NUL, CR or LF: the
// caller's text is shorter than 16 characters then.
bool Base64Decode16(const char* text, unsigned char* out);

// What the transfer decoding does at a byte outside the standard alphabet other than "=".
enum class Base64Stray {
    kSkip,  // passes over it (line ends and blanks in a MIME body)
    kStop,  // ends the text there
};

// The transfer decoding of standard base64: the characters of the n bytes at text up to the
// first "=" (or, with kStop, up to the first byte outside the alphabet), taken as one stream
// of six-bit values, appended to *out as the whole bytes they hold; the bits of an incomplete
// last byte are dropped.
void Base64DecodeAppend(const char* text, size_t n, Base64Stray stray, std::string* out);

#endif  // ORV_MIME_BASE64_H_
