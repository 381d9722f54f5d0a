// The one OS question of the terminal user interface: whether a user at a terminal can
// answer a dialog.
#include <unistd.h>

#include "platform/ui.h"

namespace platform {

bool StdinIsTerminal() {
    return isatty(STDIN_FILENO) == 1;
}

}  // namespace platform
