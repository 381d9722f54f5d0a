// Base64Codec: every base64 need of the server on whole buffers: stored passwords, the values
// of a folder's "Entry.lst", MIME encoded words (the standard configuration) and modified UTF-7
// mailbox names (the variant with "," for "/" and no pad character).
//
// Decode never rejects input: a character outside the alphabet counts as the value 0. The
// result buffer belongs to the codec and stays valid until its next Encode or Decode.
#ifndef ORV_MIME_BASE64_H_
#define ORV_MIME_BASE64_H_

#include <cstddef>

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
    const char* alphabet_;
    char pad_;
    unsigned char* result_ = nullptr;
};

#endif  // ORV_MIME_BASE64_H_
