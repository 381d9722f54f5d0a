// The mapping from the system's path form to the OS form. Pure code.
#include "platform/codepage.h"
#include "platform/files.h"

namespace platform {

std::string MapPath(const char* path) {
    std::string out;
    if (path == nullptr)
        return out;
    for (const char* p = path; *p != 0; ++p) {
        unsigned char b = static_cast<unsigned char>(*p);
        if (IsLeadByte(b) && p[1] != 0) {
            // A double-byte character: its trail byte may be 0x5C and is not a separator.
            out += *p;
            out += *++p;
        } else if (b == '\\') {
            out += '/';
        } else {
            out += *p;
        }
    }
    return out;
}

}  // namespace platform
