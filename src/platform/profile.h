// Profile files ("Imap4.ini", "Entry.ini"): the private-profile functions of the target
// platform, over a file of "[Section]" headers and "key=value" lines.
//
// Sections and keys are matched without regard to ASCII case. Values are trimmed of blanks and
// tabs, and one pair of enclosing double (or single) quotes is removed. Bytes (Shift_JIS) pass
// through untouched. A missing file, section or key gives the default. A write replaces the file
// atomically (a temporary file, then a rename) and keeps every other line as it was; writes in
// one process are serialised, so no reader ever sees a half-written file.
#ifndef ORV_PLATFORM_PROFILE_H_
#define ORV_PLATFORM_PROFILE_H_

#include <cstdint>

namespace platform {

// The integer value of a key: the leading decimal digits of the value (a leading "-" allowed),
// 0 when the value does not start with one; def when the file, section or key is missing.
uint32_t ProfileInt(const char* section, const char* key, int def, const char* path);

// Copies the value of a key (or def when missing; a null def reads as "") into out, cut to
// size - 1 bytes, and NUL-terminates it. Returns the number of bytes copied without the NUL.
uint32_t ProfileString(const char* section, const char* key, const char* def, char* out,
                       uint32_t size, const char* path);

// Sets a key's value, creating the file, the section or the key as needed; the key keeps its
// place when it exists. A null value removes the key; a null key removes the whole section.
// Returns 1 on success (also when there was nothing to remove), 0 when the file cannot be
// read or written or the section is null.
int WriteProfileString(const char* section, const char* key, const char* value, const char* path);

}  // namespace platform

#endif  // ORV_PLATFORM_PROFILE_H_
