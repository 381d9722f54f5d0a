// The plug-in's own state files in a folder's directory (its lasting UIDs, its kept flags):
// read whole, replaced whole through a new file and a rename so that a reader, or a process
// killed in the middle, finds the old text or the new one, never a mix; and the small readers
// their line formats share.
#ifndef ORV_STORE_STATE_FILE_H_
#define ORV_STORE_STATE_FILE_H_

#include <cstdint>
#include <string>

// Reads the file at path whole into *out. False when it is missing or cannot be read.
bool ReadStateFile(const std::string& path, std::string* out);

// Writes text to fresh, then renames it over path. False when either step failed; fresh is
// then removed (path stays as it was).
bool ReplaceStateFile(const std::string& path, const std::string& fresh, const std::string& text);

// Reads a decimal number of at most 32 bits at *p followed by the byte `after`, and moves past
// both. False (and *p unchanged) otherwise.
bool ReadStateNumber(const char** p, const char* end, char after, uint32_t* out);
// The same for a number of at most 63 bits (19 digits).
bool ReadStateNumber64(const char** p, const char* end, char after, uint64_t* out);

// Moves *p past word when the text there starts with it.
bool ReadStateWord(const char** p, const char* end, const char* word);

#endif  // ORV_STORE_STATE_FILE_H_
