// Code page 932 (Shift_JIS with the NEC and IBM extensions), the system code page of the
// target platform: conversion to and from UTF-16, the lead and trail byte classes, upper-casing
// and the two locale compares. All functions are pure and safe on any thread, and give the same
// results on every OS: the conversions run on one table of the code page, never on the OS's
// converter (whose "best fit" would turn a character without a code into a look-alike, U+00A5
// into the path separator 0x5C).
#ifndef ORV_PLATFORM_CODEPAGE_H_
#define ORV_PLATFORM_CODEPAGE_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// Lead bytes of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
bool IsLeadByte(unsigned char b);
// Bytes that may follow a lead byte: 0x40-0x7E and 0x80-0xFC.
bool IsTrailByte(unsigned char b);

// Converts code page 932 bytes to UTF-16. srcLen -1 means up to and including the NUL.
// With dstLen 0 only the needed count is returned. Every single byte has a character (0x80,
// 0xA0 and 0xFD-0xFF: U+0080 and U+F8F0-U+F8F3). A lead byte takes the byte after it as its
// trail byte whatever that byte is; a pair without a character, and a lead byte at the end or
// before the NUL, become U+30FB (KATAKANA MIDDLE DOT), as the target platform does.
// Returns the number of UTF-16 units written (or needed), 0 when dst is too small.
int MultiByteToWideChar(const char* src, int srcLen, char16_t* dst, int dstLen);

// Converts UTF-16 to code page 932. srcLen -1 means up to and including the NUL. A character
// without a code (a character outside the BMP and a lone surrogate included) becomes one "?",
// never a similar character, and *usedDefault (when given) is set to whether that happened.
// Where several codes share one character, the target platform's choice is made: the lowest
// code, except that the NEC-selected IBM extensions (0xED40-0xEEFC) are never produced; their
// characters come out as the IBM extensions (0xFA40-0xFC4B). Six JIS X 0208 characters that
// the code page decodes to other forms are accepted as well: U+00A2, U+00A3, U+00AC, U+2016,
// U+2212 and U+301C (WAVE DASH) become 0x8191, 0x8192, 0x81CA, 0x8161, 0x817C and 0x8160.
// With dstLen 0 only the needed count is returned. Returns the number of bytes written (or
// needed), 0 when dst is too small.
int WideCharToMultiByte(const char16_t* src, int srcLen, char* dst, int dstLen,
                        bool* usedDefault = nullptr);

// Appends the UTF-8 form of n bytes of code page 932 to *out (codes without a character as
// MultiByteToWideChar gives them). Pure.
void AppendUtf8OfCodePage(const char* src, size_t n, std::string* out);

// Upper-cases the NUL-terminated string in place: ASCII letters only; a double-byte character
// (its trail byte included) is never changed. Returns s.
char* CharUpperA(char* s);

// Compares two NUL-terminated strings in byte order (bytes as unsigned). <0, 0 or >0.
int lstrcmpA(const char* a, const char* b);
// The same with ASCII letters folded to lower case; a trail byte is never folded.
int lstrcmpiA(const char* a, const char* b);

}  // namespace platform

#endif  // ORV_PLATFORM_CODEPAGE_H_
