// A message file of any bytes, fetched the way the extended mode answers: its client form with
// quoted names and part headers encoded, body part sections at any depth (the path itself comes
// from the input too), BODYSTRUCTURE and BODY read from the client form, and ENVELOPE with its
// own address reading. RFC822.SIZE, SEARCH's size and the bytes of BODY[] must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "mime/extended_form.h"
#include "mime/message_text.h"
#include "imap/fetch_message.h"
#include "render/items.h"
#include "render/output.h"
#include "shell/host_binding.h"
#include "store/message_entry.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

const char kItems[] =
    "UID ENVELOPE BODYSTRUCTURE BODY BODY.PEEK[1] BODY.PEEK[2.MIME] BODY.PEEK[1.2]<2.9> "
    "BODY.PEEK[2.HEADER] BODY.PEEK[2.TEXT] BODY.PEEK[3.HEADER.FIELDS (From Subject)] "
    "BODY.PEEK[1.1.1.1] BODY.PEEK[2.1.HEADER.FIELDS.NOT (To)] FULL";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    static const std::string folder = [] {
        const std::string path = fuzz::MailboxDirectory() + "user/inbox.box/";
        fuzz::MakeDirectory(path);
        return path;
    }();
    // The first bytes, up to a blank, are one more section path; the rest is the message.
    size_t split = 0;
    while (split < size && split < 40 && data[split] != ' ')
        ++split;
    std::string items(kItems);
    if (split < size) {
        items += " BODY.PEEK[";
        for (size_t i = 0; i < split; ++i)
            items += (data[i] >= '0' && data[i] <= '9') || data[i] == '.' ? data[i] : '1';
        items += "]";
        data += split + 1;
        size -= split + 1;
    }
    const std::string path = folder + "AAAA0001.orv";
    if (!fuzz::WriteBytes(path, data, size))
        std::abort();
    const std::string raw(reinterpret_cast<const char*>(data), size);

    const Text mailRoot("user");
    const Text folderPath("INBOX");
    MessageEntry fetched;
    fetched.fileName = "AAAA0001";
    fetched.uid = 1;
    StringOutput out;
    RenderItems(BoundHost(), fetched, mailRoot, folderPath, Text(items.c_str()), 1, out,
                Mode::kExtended);

    MessageEntry sized;
    sized.fileName = "AAAA0001";
    const uint32_t counted =
        MessageSize(BoundHost(), sized, mailRoot, folderPath, LoadPolicy{Mode::kExtended, true});
    Require(counted == ClientFormSize(raw, Mode::kExtended));
    Require(counted == static_cast<uint32_t>(fetched.headerText.Length()) + 2u +
                           static_cast<uint32_t>(fetched.bodyText.Length()));
    return 0;
}
