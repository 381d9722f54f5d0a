// Inside the OS layer: the record of the last message box and dialog shown, which both
// backends of the user interface keep the same way (read through LastMessageBox and
// LastDialog in ui.h).
#ifndef ORV_PLATFORM_UI_SHOWN_H_
#define ORV_PLATFORM_UI_SHOWN_H_

#include "platform/ui.h"

namespace platform {

void RecordMessageBox(ShownMessageBox box);
void RecordDialog(ShownDialog dialog);

}  // namespace platform

#endif  // ORV_PLATFORM_UI_SHOWN_H_
