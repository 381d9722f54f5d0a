// The record of what the user interface last showed, for tests; one lock of its own, never
// held while anything is shown.
#include "platform/ui_shown.h"

#include <mutex>
#include <utility>

namespace platform {
namespace {

struct Shown {
    std::mutex mutex;
    ShownMessageBox lastBox;
    ShownDialog lastDialog;
};

// Never destroyed, so that a box may still be shown while the process exits.
Shown& Record() {
    static Shown* shown = new Shown;
    return *shown;
}

}  // namespace

void RecordMessageBox(ShownMessageBox box) {
    Shown& s = Record();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastBox = std::move(box);
}

void RecordDialog(ShownDialog dialog) {
    Shown& s = Record();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastDialog = std::move(dialog);
}

ShownMessageBox LastMessageBox() {
    Shown& s = Record();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lastBox;
}

ShownDialog LastDialog() {
    Shown& s = Record();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.lastDialog;
}

void ClearShown() {
    Shown& s = Record();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.lastBox = ShownMessageBox();
    s.lastDialog = ShownDialog();
}

}  // namespace platform
