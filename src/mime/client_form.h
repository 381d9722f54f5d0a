// How the Shift_JIS lines of a message file become the client form. The default form encodes
// each run of double-byte characters of a header line where it stands and turns body lines
// into ISO-2022-JP. The extended form also makes quoted strings and the header lines of
// body parts readable to standard readers (see EncodeHeaderWordsExtended).
#ifndef ORV_MIME_CLIENT_FORM_H_
#define ORV_MIME_CLIENT_FORM_H_

#include <string>
#include <vector>

#include "base/mode.h"
#include "mime/jis_text.h"

// The extended form of one line of a structured header field (an address list, a field with
// parameters), Shift_JIS with its line end, in place. A quoted
// string with double-byte characters becomes one encoded word of its contents (quoted pairs
// undone): bare in a phrase (a display name), kept between quotes as a parameter value
// (after "="), where readers of attachment names look for it. An encoded word inside quotes
// elsewhere is never decoded by a reader that follows the mail standards. Other text, and a
// quoted string the line does not close, take the default form. Returns the new length.
int EncodeHeaderWordsExtended(JisText* line);

// Whether text (Shift_JIS) holds a double-byte character.
bool HasDoubleByte(const Text& text);
// Appends one "=?ISO-2022-JP?B?...?=" encoded word of the whole of text (Shift_JIS, ASCII
// included) to out.
void AppendWholeWord(const Text& text, Text* out);

// Converts the lines of one message, in file order, to the client form of a mode. In the extended
// form it follows the multipart boundaries it has seen, so that the header lines of body parts (an
// attachment's name) and of attached messages are encoded as header lines, and quoted strings are
// treated as such only in structured fields (in a Subject a quote is an ordinary character). In the
// default form body lines are body text throughout.
class ClientFormConverter {
  public:
    explicit ClientFormConverter(Mode form);

    // A line of the message's own header. Returns the new length.
    int HeaderLine(JisText* line);
    // A line of the message's own header that is not wanted: only noted.
    void SkipHeaderLine(const Text& line);
    // A line of the message's body. Returns the new length.
    int BodyLine(JisText* line);

    // The same conversions on bytes in place, appending the result to out: a header line
    // (its line end included), a skipped header line, and body lines, whole (each ended by
    // LF; only the last line of the file may lack it), as BodyLine gives them one by one.
    void AppendHeaderLine(const char* line, int length, Text* out);
    void SkipHeaderLine(const char* line, int length);
    void AppendBodyLines(const char* lines, int length, Text* out);
    // The byte count AppendBodyLines would append, without writing the text where it can.
    int BodyLinesLength(const char* lines, int length);

  private:
    // Notes the field a header line starts (or continues) and any boundary it names.
    void NoteHeaderLine(const Text& line);
    // Notes and encodes a header line in the extended form.
    int ExtendedHeaderLine(JisText* line);
    void NoteBoundary(const Text& line);

    bool extended_;
    bool inPartHeader_ = false;
    bool partIsMessage_ = false;    // the part whose header is read holds an attached message
    bool bodyStarted_ = false;      // a body line was converted
    bool structuredField_ = false;  // the field being read holds addresses or parameters
    std::vector<std::string> boundaries_;
};

#endif  // ORV_MIME_CLIENT_FORM_H_
