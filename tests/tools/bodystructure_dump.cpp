// Prints, for each message file named on the command line, the BODYSTRUCTURE value the server
// would send for it (leading blank included), one line per file, for the Python parse check.
#include <cstdio>

#include "base/text.h"
#include "mime/body_structure.h"
#include "mime/mime_part.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        MimePart root;
        ParseMessageFile(&root, argv[i]);
        Text out;
        RenderBodyStructure(root, &out);
        std::fwrite(out.c_str(), 1, static_cast<size_t>(out.Length()), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}
