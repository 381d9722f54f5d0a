// FetchRequest: a FETCH item list read once for the whole command. The items come out in the
// order they are written, the macros ALL, FAST and FULL expanded (their members named in
// capitals), the UID item first in the UID form of the command (an explicit one then left
// out), and items this server does not know left out. The request also says what a message
// must have loaded before its items are written, and how often serving them asks the host to
// mark the message as read.
#ifndef ORV_RENDER_FETCH_REQUEST_H_
#define ORV_RENDER_FETCH_REQUEST_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/mode.h"
#include "base/text.h"
#include "base/text_list.h"
#include "mime/extended_form.h"

enum class ItemKind {
    kUid,
    kFlags,
    kInternalDate,
    kRfc822Size,
    kEnvelope,
    kBodyStructure,  // BODYSTRUCTURE; in extended mode also a lone BODY
    kRfc822,
    kRfc822Header,
    kRfc822Text,
    kRfc822Other,  // a name that begins with RFC822 and is none of the above: its name alone
    kSection,      // BODY, BODY[section]<partial>, BODY.PEEK[...] (any section in exact mode)
    kPartSection,  // extended mode: BODY[n...] and BODY.PEEK[n...] with a part number
    kModSeq,       // extended mode: MODSEQ, the message's modification sequence
};

// What a section of kSection sends.
enum class SectionKind { kWhole, kHeader, kText, kEcho };

struct FetchItem {
    FetchItem(ItemKind k, const Text& n) : kind(k), name(n) {}

    ItemKind kind;
    Text name;  // as the client wrote it

    // kSection and kPartSection: the answer's name is itemName "[" section "]", then
    // "<" originText ">" when a range was asked for.
    Text itemName;
    bool peek = false;
    Text section;
    bool hasPartial = false;
    Text originText;
    uint32_t origin = 0;
    uint32_t count = 0;
    // kSection: which part of the message it sends; for a header section the field names it
    // keeps (or drops, exclude), none meaning the whole header.
    SectionKind sectionKind = SectionKind::kEcho;
    TextList fieldNames;
    bool exclude = false;
};

class FetchRequest {
  public:
    // items: the text between "(" and ")" (or the single item); uidFlag: the command's UID form.
    // text: how the extended mode writes non-ASCII text (UTF-8 once the client enabled it).
    FetchRequest(const Text& items, int uidFlag, Mode mode, TextForm text = TextForm::kMime);

    Mode mode() const { return mode_; }
    TextForm text() const { return text_; }
    const std::vector<FetchItem>& items() const { return items_; }

    // Extended mode: whether MODSEQ is among the items, and adding it at the end when not
    // (a FETCH with CHANGEDSINCE, and every FETCH of flags once the client enabled
    // modification sequences, answer with it).
    bool HasModSeq() const;
    void AddModSeq();

    // What the message must have loaded before the items are written.
    bool NeedsHeaderText() const { return needsHeader_; }
    bool NeedsBodyText() const { return needsBody_; }
    bool NeedsSize() const { return needsSize_; }
    bool NeedsEnvelope() const { return needsEnvelope_; }
    bool NeedsFileTime() const { return needsFileTime_; }
    bool NeedsMimeStructure() const { return needsMimeStructure_; }  // exact BODYSTRUCTURE
    bool NeedsWholeMessage() const { return needsWhole_; }           // extended parts, structure

    // How many times serving the items asks the host to mark the message as read, given
    // whether the message's header text was loaded before. RFC822.SIZE and RFC822.TEXT mark
    // always; BODY with an empty section, a header section or TEXT, and an extended part
    // section, unless PEEK; a header section that loads the header marks once more.
    int SeenMarks(bool headerLoaded) const;

  private:
    void Add(const Text& items, bool uidUsed);
    void AddOne(const Text& item, bool uidUsed);

    Mode mode_;
    TextForm text_;
    std::vector<FetchItem> items_;
    bool needsHeader_ = false;
    bool needsBody_ = false;
    bool needsSize_ = false;
    bool needsEnvelope_ = false;
    bool needsFileTime_ = false;
    bool needsMimeStructure_ = false;
    bool needsWhole_ = false;
};

#endif  // ORV_RENDER_FETCH_REQUEST_H_
