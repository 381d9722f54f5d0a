// A message file of any bytes, read every way the server reads one: the MIME structure parser
// and BODYSTRUCTURE, the client form that FETCH sends (envelope, sections, partial ranges),
// and the decoded text that SEARCH looks into. The two ways of counting the client form's size
// (FETCH's RFC822.SIZE and SEARCH's SIZE) must agree.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_support.h"
#include "mime/body_structure.h"
#include "mime/message_text.h"
#include "mime/mime_part.h"
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
    "UID FLAGS INTERNALDATE ENVELOPE BODYSTRUCTURE BODY RFC822.HEADER RFC822.TEXT "
    "BODY.PEEK[HEADER] BODY.PEEK[TEXT]<3.40> BODY[HEADER.FIELDS (From Subject)] "
    "BODY.PEEK[1] BODY[]<0.10> RFC822 FULL";

std::u16string Folded(const char* ascii) {
    std::u16string out;
    for (const char* p = ascii; *p != 0; ++p)
        out += static_cast<char16_t>(*p);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20)
        return 0;
    static const std::string folder = [] {
        const std::string path = fuzz::MailboxDirectory() + "user/inbox.box/";
        fuzz::MakeDirectory(path);
        return path;
    }();
    const std::string path = folder + "AAAA0001.orv";
    if (!fuzz::WriteBytes(path, data, size))
        std::abort();
    const std::string raw(reinterpret_cast<const char*>(data), size);

    MimePart root;
    Require(ParseMessageFile(&root, path.c_str()));
    Text structure("");
    RenderBodyStructure(root, &structure);

    MessageText text(raw);
    (void)text.FieldContains("Subject", Folded("lunch"));
    (void)text.FieldContains("From", std::u16string());
    (void)text.HeaderContains(Folded("example"));
    (void)text.BodyContains(Folded("friday"));
    (void)text.SentDate();

    const Text mailRoot("user");
    const Text folderPath("INBOX");
    MessageEntry fetched;
    fetched.fileName = "AAAA0001";
    fetched.uid = 1;
    fetched.status = 0x40000000;
    StringOutput out;
    RenderItems(BoundHost(), fetched, mailRoot, folderPath, Text(kItems), 1, out);

    MessageEntry sized;
    sized.fileName = "AAAA0001";
    Require(MessageSize(BoundHost(), sized, mailRoot, folderPath) ==
            ClientFormSize(raw, Mode::kExact));
    return 0;
}
