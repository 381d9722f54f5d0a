// Mail text decoded to Unicode (UTF-16) for matching: the charsets Japanese mail arrives in
// (Shift_JIS as the host stores it, ISO-2022-JP, UTF-8, EUC-JP, ISO-8859-1), the transfer
// encodings base64 and quoted-printable, MIME encoded words in header values, and the case
// folding under which SEARCH compares strings. Only the direction towards Unicode exists here.
#ifndef ORV_MIME_UNICODE_TEXT_H_
#define ORV_MIME_UNICODE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

// The Shift_JIS code (lead byte high) of a JIS X 0208 code (first byte high, both bytes
// 0x21-0x7E): the inverse of SjisToJisCode.
uint16_t JisToSjisCode(uint16_t jis);

// Each decoder appends to *out.
// UTF-8; false (and *out unchanged) when the bytes are not well-formed UTF-8 (overlong forms,
// surrogates and values above U+10FFFF included). Characters above U+FFFF become surrogate pairs.
bool DecodeUtf8(const char* bytes, size_t n, std::u16string* out);
// Every byte as the character of the same number (ISO-8859-1).
void DecodeLatin1(const char* bytes, size_t n, std::u16string* out);
// Code page 932 through the platform's conversion.
void DecodeShiftJis(const char* bytes, size_t n, std::u16string* out);
// Japanese text as mail carries it: ISO-2022-JP escape sequences (and SO/SI) are honoured, a
// line end returns to ASCII, and bytes outside JIS segments are read as Shift_JIS. So pure
// ISO-2022-JP, the host's Shift_JIS and a mix of the two all decode.
void DecodeJapanese(const char* bytes, size_t n, std::u16string* out);
// Text that names no charset: well-formed UTF-8 holding non-ASCII bytes as UTF-8 (a client
// may have stored it so), everything else as DecodeJapanese. Japanese Shift_JIS text is
// practically never well-formed UTF-8, as its most common lead bytes are UTF-8 continuation
// bytes.
void DecodeMailText(const char* bytes, size_t n, std::u16string* out);
// EUC-JP: JIS X 0208 pairs and half-width katakana (SS2); other bytes as ASCII.
void DecodeEucJp(const char* bytes, size_t n, std::u16string* out);

// Bytes in the named charset (ASCII case ignored). UTF-8 that is not well-formed, and
// US-ASCII, decode as DecodeJapanese, since the host's files hold Shift_JIS whatever the label
// says. False, with *out unchanged, for a charset not known here.
bool DecodeCharset(const char* charset, const char* bytes, size_t n, std::u16string* out);

// Transfer decodings, appended to *out. Base64 passes over bytes outside its alphabet (line
// ends) and stops at the first pad. Quoted-printable drops soft line breaks; in header mode
// (encoded words) "_" stands for a blank.
void DecodeBase64(const char* text, size_t n, std::string* out);
void DecodeQuotedPrintable(const char* text, size_t n, bool header, std::string* out);

// A header field value: each "=?charset?B|Q?text?=" encoded word decoded in its charset (an
// RFC 2231 language suffix ignored), white space between two encoded words dropped, all other
// bytes as DecodeMailText. An encoded word in an unknown charset stays as it was written.
std::u16string DecodeHeaderValue(const char* bytes, size_t n);

// Folds text for comparing without regard to case: upper-case letters of ASCII, Latin-1,
// Greek, Cyrillic and the full-width Latin forms become lower case; the six characters that
// JIS-based converters and code page 932 write differently (wave dash, minus sign and others)
// become the code page's form.
void FoldCase(std::u16string* text);

#endif  // ORV_MIME_UNICODE_TEXT_H_
