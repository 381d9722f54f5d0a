// Code page 932 (Shift_JIS with the NEC and IBM extensions), the system code page of the
// target platform: conversion to and from UTF-16, the lead and trail byte classes, upper-casing
// and the two locale compares. All functions are pure and safe on any thread.
#ifndef ORV_PLATFORM_CODEPAGE_H_
#define ORV_PLATFORM_CODEPAGE_H_

#include <cstdint>

namespace platform {

// Lead bytes of a double-byte character: 0x81-0x9F and 0xE0-0xFC.
bool IsLeadByte(unsigned char b);
// Bytes that may follow a lead byte: 0x40-0x7E and 0x80-0xFC.
bool IsTrailByte(unsigned char b);

// Converts code page 932 bytes to UTF-16. srcLen -1 means up to and including the NUL.
// With dstLen 0 only the needed count is returned. A byte pair or byte without a mapping
// becomes U+30FB (a double-byte code) or U+003F (a single byte), as the target platform does.
// Returns the number of UTF-16 units written (or needed), 0 when dst is too small.
int MultiByteToWideChar(const char* src, int srcLen, char16_t* dst, int dstLen);

// Converts UTF-16 to code page 932. srcLen -1 means up to and including the NUL. A character
// without a mapping becomes "?". Where several codes share one character, the target
// platform's choice is made: the NEC-selected IBM extensions (0xED40-0xEEFC) are never
// produced; their characters come out as the IBM extensions (0xFA40-0xFC4B).
// With dstLen 0 only the needed count is returned. Returns the number of bytes written (or
// needed), 0 when dst is too small.
int WideCharToMultiByte(const char16_t* src, int srcLen, char* dst, int dstLen);

// Upper-cases the NUL-terminated string in place: ASCII letters only; a double-byte character
// (its trail byte included) is never changed. Returns s.
char* CharUpperA(char* s);

// Compares two NUL-terminated strings in byte order (bytes as unsigned). <0, 0 or >0.
int lstrcmpA(const char* a, const char* b);
// The same with ASCII letters folded to lower case; a trail byte is never folded.
int lstrcmpiA(const char* a, const char* b);

}  // namespace platform

#endif  // ORV_PLATFORM_CODEPAGE_H_
