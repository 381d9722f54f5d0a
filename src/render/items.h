// The FETCH item writers. WriteFetchItems writes the items of a request for one message, one
// blank between two items, each under the name the client wrote, then its value. The writers
// are pure: everything they write comes from the FetchedMessage, which the FETCH handler loads
// before (it alone reads files and asks the host to mark the message as read).
#ifndef ORV_RENDER_ITEMS_H_
#define ORV_RENDER_ITEMS_H_

#include <string>

#include "base/mode.h"
#include "base/text.h"
#include "platform/files.h"
#include "render/fetch_request.h"
#include "render/output.h"
#include "store/message_entry.h"

// One message as the writers of a request need it. The entry holds the client form's texts
// the request needs (header, body), its status word and its recent marker.
struct FetchedMessage {
    explicit FetchedMessage(const MessageEntry& e) : entry(e) {}

    const MessageEntry& entry;
    uint32_t size = 0;                   // RFC822.SIZE: the client form's byte count
    platform::SystemTime fileTime = {};  // INTERNALDATE: the file's last-write time, UTC
    // ENVELOPE: the value after the name; the entry's kept value in exact mode, else own.
    const Text* envelope = nullptr;
    Text ownEnvelope;
    Text mimeStructure;        // exact BODYSTRUCTURE: the value after the name
    std::string whole;         // extended: the whole client form (header, CR LF, body)
    Mode mode = Mode::kExact;  // the client form's mode
};

// Writes the items of the request for one message (what goes between "(" and ")").
void WriteFetchItems(const FetchRequest& request, const FetchedMessage& m, Output& out);

// The writers of single items, each after the separator and before the next item.
// "UID n" and "FLAGS (...)" from the entry (render/fetch_items.cpp, render/flags.cpp).
void WriteUidItem(const FetchItem& item, const FetchedMessage& m, Output& out);
// Extended mode: "MODSEQ (n)", the message's modification sequence.
void WriteModSeq(const FetchItem& item, const FetchedMessage& m, Output& out);
void WriteFlags(const FetchItem& item, const FetchedMessage& m, Output& out);
// "RFC822.SIZE n" (render/flags.cpp).
void WriteRfc822Size(const FetchItem& item, const FetchedMessage& m, Output& out);
// "INTERNALDATE "dd-Mon-yyyy hh:mm:ss +0900"" (render/internal_date.cpp).
void WriteInternalDate(const FetchItem& item, const FetchedMessage& m, Output& out);
// "ENVELOPE (...)" (render/envelope.cpp).
void WriteEnvelope(const FetchItem& item, const FetchedMessage& m, Output& out);
// "BODYSTRUCTURE (...)"; in extended mode, and for a lone "BODY" there, in the grammar's own
// form, read from the whole client form (render/body_structure.cpp).
void WriteBodyStructure(const FetchItem& item, const FetchedMessage& m, Mode mode, Output& out);
// RFC822, RFC822.HEADER, RFC822.TEXT and the other RFC822 names (render/body_sections.cpp).
void WriteRfc822Family(const FetchItem& item, const FetchedMessage& m, Output& out);
// The name a section is answered under: itemName "[" section "]", then "<" origin ">" when a
// range was asked for (render/body_sections.cpp).
void WriteSectionName(const FetchItem& item, Output& out);
// BODY, BODY[section]<partial>, BODY.PEEK[...] (render/body_sections.cpp).
void WriteBodySection(const FetchItem& item, const FetchedMessage& m, Output& out);
// Extended mode: "BODY[n...]" with a part number, cut from the whole client form; NIL when it
// names no part (render/part_sections.cpp).
void WritePartSection(const FetchItem& item, const FetchedMessage& m, Output& out);

#endif  // ORV_RENDER_ITEMS_H_
