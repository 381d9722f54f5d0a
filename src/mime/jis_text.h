// Shift_JIS to ISO-2022-JP, the one direction in which message text leaves the server: body
// lines become JIS X 0208 segments between ESC $ B and ESC ( B, and header lines carry each run
// of double-byte characters as one "=?ISO-2022-JP?B?...?=" encoded word.
#ifndef ORV_MIME_JIS_TEXT_H_
#define ORV_MIME_JIS_TEXT_H_

#include <cstddef>
#include <cstdint>

#include "base/text.h"

// The JIS X 0208 code (first byte high) of a Shift_JIS code (lead byte high). An IBM extension
// code (0xFA40-0xFC4B) gives the code of its character in the rows ISO-2022-JP carries (the NEC
// rows included); codes of the user-defined area (0xF040-0xF9FC) are returned unchanged.
uint16_t SjisToJisCode(uint16_t sjis);

// Writes the ISO-2022-JP form of the NUL-terminated Shift_JIS text src into dst, followed by a
// NUL, and returns the number of bytes written without the NUL. dst must hold 4 bytes per byte
// of src plus 10. Bytes that are not part of a double-byte character are copied unchanged; a
// lead byte directly before the terminator is copied too, outside any escape sequence.
int SjisToJis(const char* src, char* dst);

// Appends to out the ISO-2022-JP form of the Shift_JIS lines in the n bytes at src, each line
// (ended by LF; only the last may lack it) converted on its own exactly as SjisToJis converts it
// as a NUL-terminated text: a NUL byte ends its line's text, so the rest of that line, its LF
// included, is dropped. Returns the number of bytes appended.
int AppendJisLines(const char* src, int n, Text* out);

// The byte count AppendJisLines would append for the n bytes at src, without writing it.
int JisLinesLength(const char* src, int n);

// JisLineStream: AppendJisLines for lines that arrive in pieces cut anywhere (the blocks of a
// file), with the same result as one AppendJisLines over all the pieces joined. What the bytes
// after a piece decide is kept across the cut: a lead byte at its end, a run of double-byte
// characters still open, the rest of a line after a NUL.
class JisLineStream {
  public:
    // Appends the client form of the next n bytes to out, as far as they decide it.
    void Append(const char* s, size_t n, Text* out);
    // The end of the text: what was kept is settled and appended (a lead byte raw, the run
    // closed). The stream is then ready for another text.
    void Finish(Text* out);
    // The count of leading bytes of the n at s that Append would copy as they are with nothing
    // before them: those before the first NUL or high byte when nothing is kept, else none. A
    // caller that holds them in place already may take them so and pass only the rest.
    size_t UnchangedLength(const char* s, size_t n) const;

  private:
    bool dropping_ = false;  // in a line after its NUL
    bool inRun_ = false;     // ESC $ B written, the run not yet closed
    int lead_ = -1;          // a lead byte at the end of the last piece
};

// The count of leading bytes of the n at s that are neither NUL nor above 0x7F, those the
// converters copy as they are; found sixteen bytes or more at a time.
size_t PlainLength(const char* s, size_t n);
// The same by the eight-byte scanner that targets without SSE2 run, for tests to compare.
size_t PlainLengthPortable(const char* s, size_t n);

// The length of the SjisToJis form of the n bytes at src read as a NUL-terminated text (a NUL
// byte ends it), without writing it anywhere.
int SjisToJisLength(const char* src, int n);
// The same for the bytes before the first CR (all n when there is none).
int SjisToJisLengthBeforeCr(const char* src, int n);

// Appends to out the n bytes at s with every run of double-byte characters (blanks between and
// after them included) as one encoded word, as JisText::EncodeHeaderWords forms them. Returns
// the number of bytes appended.
int AppendHeaderWords(const char* s, int n, Text* out);

// JisText: a Text whose Shift_JIS contents can be turned into their client form in place,
// either as body text (ConvertToJis) or as a header line (EncodeHeaderWords).
class JisText : public Text {
  public:
    JisText() = default;
    JisText(const char* s) : Text(s) {}          // NOLINT: implicit, like Text
    JisText(const Text& other) : Text(other) {}  // NOLINT: implicit, like Text

    // The contents become their SjisToJis form. Returns the new length.
    int ConvertToJis();
    // Every run of double-byte characters (blanks between and after them included) becomes
    // one encoded word; all other bytes stay as they are. Returns the new length.
    int EncodeHeaderWords();
};

#endif  // ORV_MIME_JIS_TEXT_H_
