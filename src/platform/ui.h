// User interface: the message box and the modal dialog of the target platform, with the
// resources (dialog templates and strings) they are built from.
//
// On POSIX they render to the terminal (standard error; Shift_JIS text shown as UTF-8). A
// dialog waits for Enter when standard input is a terminal and is otherwise closed at once as
// if OK had been pressed; a dialog that its procedure ends while it initialises is never shown.
// The last message box and the last dialog run are kept, so a test can read what a user would
// have seen.
#ifndef ORV_PLATFORM_UI_H_
#define ORV_PLATFORM_UI_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/modules.h"

namespace platform {

struct Window;
using WindowHandle = Window*;

// Message box styles and results.
constexpr uint32_t kMbOk = 0x00000000;
constexpr uint32_t kMbIconError = 0x00000010;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;

// Dialog messages. kWmCommand's wparam holds the control's id in its low 16 bits and the
// control's notice in its high 16 bits.
constexpr uint32_t kWmInitDialog = 0x0110;
constexpr uint32_t kWmCommand = 0x0111;
constexpr uint32_t kBnClicked = 0;     // a button was pressed
constexpr uint32_t kLbnSelChange = 1;  // a list box's selection was changed by the user

// One control of a dialog template, in dialog units.
struct DialogControl {
    std::string kind;  // "ICON", "STATIC", "BUTTON", "CHECKBOX", "EDIT" or "LISTBOX"
    int id;
    std::string text;  // Shift_JIS; for "ICON" the icon resource number in decimal
    int x, y, width, height;
};

// A dialog template resource.
struct DialogTemplate {
    std::string title;  // Shift_JIS
    std::string font;   // Shift_JIS
    int pointSize;
    int width, height;
    std::vector<DialogControl> controls;
};

// Registers resources of a module (on the target platform they are compiled into it).
void RegisterDialogResource(ModuleHandle module, int id, const DialogTemplate& dialog);
void RegisterStringResource(ModuleHandle module, int id, const char* text);
// Forgets every resource of a module (when it is unloaded).
void UnregisterResources(ModuleHandle module);

// Copies string resource id of the module into buf (cut to size - 1 bytes, NUL-terminated;
// a cut never splits a double-byte character). Returns the number of bytes copied, 0 when
// there is no such string.
int LoadStringA(ModuleHandle module, int id, char* buf, int size);

using DialogProc = intptr_t (*)(WindowHandle dialog, uint32_t message, uintptr_t wparam,
                                intptr_t lparam);

// Runs the modal dialog made from template id of the module: sends kWmInitDialog (lparam =
// param) to proc, shows it, and on OK sends kWmCommand with wparam kIdOk. A procedure that
// still leaves it running gets kIdCancel, as from the window's close box, and the dialog then
// ends with kIdCancel. Returns the value passed to EndDialog, or -1 when the template does not
// exist or proc is null.
intptr_t DialogBoxParamA(ModuleHandle module, int templateId, WindowHandle owner, DialogProc proc,
                         intptr_t param);
// A control of a running dialog, or null.
WindowHandle GetDlgItem(WindowHandle dialog, int id);
// Sets a window's or control's text. Non-zero on success.
int SetWindowTextA(WindowHandle window, const char* text);
// Reads a window's or control's text (Shift_JIS). Non-zero on success.
int GetWindowTextA(WindowHandle window, std::string* text);
// Ends a running dialog with the given result. Non-zero on success.
int EndDialog(WindowHandle dialog, intptr_t result);

// Check boxes of a running dialog. Non-zero on success; false for a box not checked or missing.
int CheckDlgButton(WindowHandle dialog, int id, bool checked);
bool IsDlgButtonChecked(WindowHandle dialog, int id);
// A list box of a running dialog: its items (Shift_JIS) replaced, nothing selected; and the
// selected item (-1: none or no such list). Non-zero on success.
int SetListItems(WindowHandle dialog, int id, const std::vector<std::string>& items);
int ListSelection(WindowHandle dialog, int id);

// What a user does, for drivers of a dialog (tests): presses a button (a check box changes
// state first), or picks an item of a list box; the procedure hears of it as from a click.
// Non-zero on success.
int PressButton(WindowHandle dialog, int id);
int ChooseListItem(WindowHandle dialog, int id, int index);

// Whether dialogs are windows that a user clicks (the target platform), not drawn on the
// terminal.
bool DialogsAreWindows();

// Shows a message box and returns the button pressed (kIdOk).
int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type);

// What was last shown, for tests.
struct ShownMessageBox {
    bool shown = false;
    std::string text, caption;  // Shift_JIS, as passed
    uint32_t type = 0;
    bool hadOwner = false;
};
struct ShownDialog {
    bool shown = false;
    DialogTemplate dialog;                              // the template
    std::vector<std::pair<int, std::string>> controls;  // control id and final text
    intptr_t result = 0;
};
ShownMessageBox LastMessageBox();
ShownDialog LastDialog();
void ClearShown();

// Whether standard input is a terminal (a user who can press Enter).
bool StdinIsTerminal();
// Lets dialogs wait for Enter when standard input is a terminal (the default, true) or never
// (false), so that tests run from a terminal do not stop at every dialog.
void SetDialogsWaitForEnter(bool wait);
// Tests of dialogs drawn on the terminal: once a dialog has initialised, driver runs in its
// place (setting texts, pressing buttons); a dialog the driver leaves running is then closed as
// by its close box. An empty driver restores the terminal. No effect on real windows.
void SetDialogDriver(std::function<void(WindowHandle dialog)> driver);

}  // namespace platform

#endif  // ORV_PLATFORM_UI_H_
