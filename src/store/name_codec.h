// Mailbox names: folder titles and directory names in the local code page (Shift_JIS) to the
// modified UTF-7 that IMAP mailbox names travel in, and back. Every byte of 0x80 and above goes
// into an "&...-" run, so an encoded name is always 7-bit; decoding passes raw 8-bit bytes
// through, so a client that sends a raw name still reaches the folder.
#ifndef ORV_STORE_NAME_CODEC_H_
#define ORV_STORE_NAME_CODEC_H_

#include "base/text.h"

// NameCodec: the two conversion buffers of one name conversion, between the local code page
// and UTF-16. Each conversion replaces the buffer of its direction; the destructor frees both.
class NameCodec {
  public:
    NameCodec() = default;
    virtual ~NameCodec();
    NameCodec(const NameCodec&) = delete;
    NameCodec& operator=(const NameCodec&) = delete;

    // Converts n bytes of local code page text (no terminator needed) to UTF-16. Returns the
    // number of units; Wide() then holds them followed by a 0 unit.
    int ToWide(const char* bytes, int n);
    const char16_t* Wide() const { return wide_; }
    // Converts a UTF-16 text up to its first 0 unit to the local code page. The result is
    // NUL-terminated and stays valid until the next ToNarrow or destruction. A character without
    // a code becomes "?", and sets *usedDefault (when given).
    const char* ToNarrow(const char16_t* units, bool* usedDefault = nullptr);

  private:
    char16_t* wide_ = nullptr;
    char* narrow_ = nullptr;
};

// One name component (without "/") in the local code page to modified UTF-7.
Text EncodeName(const Text& name);
// A name of one or more levels ("/" between them) to modified UTF-7, level by level.
Text EncodeNamePath(const Text& path);
// A mailbox name as the client sent it (quotes removed) to the local code page, into *out.
// Returns false, with *out empty, when the name holds a character that has no code in the
// local code page (or a lone surrogate): such a name names no folder, and its "?" form could
// name another one, so a caller answers as for a folder that does not exist.
bool DecodeName(const Text& name, Text* out);
// The name after one pass to UTF-16 and back: codes that share a character with another code
// come out as the code page's own choice, so two spellings of one character compare equal.
Text RoundTripName(const Text& name);

#endif  // ORV_STORE_NAME_CODEC_H_
