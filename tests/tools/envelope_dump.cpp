// Prints, for each message file named on the command line, the ENVELOPE value the server would
// send for it (leading blank included), one line per file, for the Python parse check.
#include <cstdio>

#include "base/file.h"
#include "render/envelope.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        Envelope env;
        File file;
        if (file.Open(argv[i], platform::kAccessRead, platform::kOpenExisting))
            ReadEnvelope(&file, &env);
        Text out;
        RenderEnvelope(env, &out);
        std::fwrite(out.c_str(), 1, static_cast<size_t>(out.Length()), stdout);
        std::fputc('\n', stdout);
    }
    return 0;
}
