// Serving a FETCH request for one message: what the writers need is loaded first (the texts of
// the client form, the size, the envelope, the file's time, the structure), the host is asked
// to mark the message as read as often as the request says, and then the pure writers write
// the items. All file reads and host calls of a FETCH happen here.
#ifndef ORV_IMAP_FETCH_MESSAGE_H_
#define ORV_IMAP_FETCH_MESSAGE_H_

#include "base/text.h"
#include "platform/files.h"
#include "render/fetch_request.h"
#include "render/items.h"
#include "render/output.h"
#include "store/host_port.h"
#include "store/message_entry.h"

// Loads what the request needs of the message into m (and the entry's kept texts). Nothing is
// marked as read.
void LoadFetched(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const FetchRequest& request, FetchedMessage* m);

// The stamp of a message file taken for its serving by a helper of the walk, a moment before
// (have: 0 when there is no such file).
struct TakenStamp {
    int have = 0;
    platform::FileStamp stamp;
};

// Whether the request reads anything of the message file, which is then stamped first.
bool ReadsMessageFile(const FetchRequest& request);

// Loads, marks (unless marksSeen is false) and writes the items of one message. directory:
// the folder's directory held open for the walk over a message set (null: none); taken: the
// file's stamp, as directory gives it, when the walk took it already (null: taken here). True
// when the shared cache learned something of the message (store/message_cache.h).
bool ServeFetchItems(HostPort& host, MessageEntry& entry, const Text& mailRoot,
                     const Text& folderPath, const FetchRequest& request, Output& out,
                     bool marksSeen = true, platform::DirectoryStamps* directory = nullptr,
                     const TakenStamp* taken = nullptr);

// The same for an item list given as text, read for this message alone (tests, tools).
void RenderItems(HostPort& host, MessageEntry& entry, const Text& mailRoot, const Text& folderPath,
                 const Text& items, int uidFlag, Output& out, Mode mode = Mode::kExact,
                 bool marksSeen = true);

#endif  // ORV_IMAP_FETCH_MESSAGE_H_
