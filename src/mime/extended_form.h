// The extended client form of a message: what a standard mail reader decodes to the text the
// host stores. Text whose characters all lie in JIS X 0208 goes out as ISO-2022-JP, as in the
// default form; text holding any other character of the code page (the NEC rows, the IBM and
// NEC-selected extensions, user-defined codes, half-width katakana) goes out as UTF-8, since
// ISO-2022-JP has no place for it: encoded words "=?UTF-8?B?...?=" in header lines, and text
// parts relabelled "charset=UTF-8" and carried in base64. A client that enabled UTF-8 gets
// every header text and text part as UTF-8 itself (8bit).
//
// Encoded words hold only the text that needs them: the blank-separated words with non-ASCII
// text, blanks between them included, never the blanks around them.
#ifndef ORV_MIME_EXTENDED_FORM_H_
#define ORV_MIME_EXTENDED_FORM_H_

#include <cstddef>
#include <string>

#include "base/text.h"

// How the extended form writes text that is not ASCII.
enum class TextForm {
    kMime,  // encoded words and ISO-2022-JP or base64 UTF-8 text parts: 7-bit
    kUtf8,  // UTF-8 as it is, for a client that enabled UTF8=ACCEPT
    kAsIs,  // header text already in its client form (read back from it): copied
};

// Whether the n Shift_JIS bytes at s hold only ASCII and JIS X 0208 characters (rows 1-8 and
// 16-84): what ISO-2022-JP carries and every decoder reads.
bool FitsJisX0208(const char* s, size_t n);

// Appends the UTF-8 form of n Shift_JIS bytes (code page 932) to out.
void AppendUtf8OfShiftJis(const char* s, size_t n, std::string* out);

// Appends a part of a header line (Shift_JIS, line end included or not) in the extended form:
// each run of words with non-ASCII text as encoded words (or UTF-8 with kUtf8), everything else
// as it is. In a structured field (addresses, parameters) the specials ()<>@,;:\"[] also end a
// word, and a quoted string with non-ASCII text becomes one encoded word of its contents (kept
// between quotes as a parameter value, where readers of attachment names look for it).
void AppendHeaderTextExtended(const char* s, size_t n, bool structured, TextForm form, Text* out);

// Appends the encoded words of the whole of the n Shift_JIS bytes at s (or their UTF-8 with
// kUtf8): one word, or several when it would pass the 75-character limit of a word.
void AppendEncodedWords(const char* s, size_t n, TextForm form, Text* out);

// Whether a header line starts a field whose value holds addresses or parameters.
bool IsStructuredFieldLine(const char* line, size_t n);

// The extended client form of a message file's n bytes: its header lines, the host's status
// line left out, into *header and its body into *body (both appended to; body null: the
// header only, which still needs the body's bytes when ExtendedHeaderNeedsBody says so).
// Multipart bodies are followed to a depth of 32; attached messages are converted as messages.
void ExtendedClientForm(const char* raw, size_t n, TextForm form, Text* header, Text* body);

// Whether the extended form of a message's header (its n bytes, up to the empty line) depends
// on its body: a message of one Shift_JIS text part is relabelled when its text needs UTF-8.
bool ExtendedHeaderNeedsBody(const char* header, size_t n);

// The byte count of the extended client form (header, CR LF, body) without keeping it.
uint32_t ExtendedClientFormSize(const char* raw, size_t n, TextForm form);

#endif  // ORV_MIME_EXTENDED_FORM_H_
