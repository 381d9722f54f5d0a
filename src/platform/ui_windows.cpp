// The message box and the modal dialog over the Win32 user interface. Dialog templates and
// strings are resources compiled into each module, so registering them at run time is not
// needed here; the last box and dialog shown are still kept for tests.
#include <windows.h>
// windows.h defines FreeModule as a macro for FreeLibrary; the name is this layer's own.
#undef FreeModule

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/ui.h"
#include "platform/ui_shown.h"

namespace platform {

namespace {

// The longest string resource that LoadStringA reads before cutting it to the caller's size.
constexpr int kStringLimit = 4096;

HWND ToWindow(WindowHandle w) {
    return reinterpret_cast<HWND>(w);
}

WindowHandle FromWindow(HWND w) {
    return reinterpret_cast<WindowHandle>(w);
}

// What a running dialog needs besides its window: the caller's procedure and parameter, and
// the texts of its controls as they were when it closed.
struct DialogContext {
    DialogProc proc;
    intptr_t param;
    ShownDialog shown;
};

BOOL CALLBACK KeepControlText(HWND control, LPARAM lparam) {
    DialogContext* context = reinterpret_cast<DialogContext*>(lparam);
    char text[256];
    const int n = GetWindowTextA(control, text, sizeof(text));
    context->shown.controls.emplace_back(GetDlgCtrlID(control), std::string(text, n > 0 ? n : 0));
    return TRUE;
}

// The OS's dialog procedure: hands each message to the caller's procedure, which takes the
// platform's handle and types. Messages before the initialisation (the font) are left to the
// OS.
INT_PTR CALLBACK DialogTrampoline(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
    DialogContext* context = nullptr;
    if (message == WM_INITDIALOG) {
        context = reinterpret_cast<DialogContext*>(lparam);
        SetWindowLongPtrA(dialog, DWLP_USER, lparam);
        return context->proc(FromWindow(dialog), kWmInitDialog, wparam, context->param);
    }
    context = reinterpret_cast<DialogContext*>(GetWindowLongPtrA(dialog, DWLP_USER));
    if (context == nullptr)
        return FALSE;
    if (message == WM_DESTROY) {
        context->shown.controls.clear();
        EnumChildWindows(dialog, &KeepControlText, reinterpret_cast<LPARAM>(context));
    }
    return context->proc(FromWindow(dialog), message, wparam, lparam);
}

}  // namespace

void RegisterDialogResource(ModuleHandle /*module*/, int /*id*/, const DialogTemplate& /*dialog*/) {
}

void RegisterStringResource(ModuleHandle /*module*/, int /*id*/, const char* /*text*/) {}

void UnregisterResources(ModuleHandle /*module*/) {}

int LoadStringA(ModuleHandle module, int id, char* buf, int size) {
    if (buf == nullptr || size <= 0)
        return 0;
    buf[0] = 0;
    // Read whole, then cut at a character boundary: the OS's own cut may split a double-byte
    // character.
    std::string text(kStringLimit, '\0');
    const int n = ::LoadStringA(static_cast<HINSTANCE>(module), static_cast<UINT>(id), &text[0],
                                kStringLimit);
    if (n <= 0)
        return 0;
    text.resize(static_cast<size_t>(n));
    const size_t limit = static_cast<size_t>(size) - 1;
    size_t used = 0;
    while (used < text.size()) {
        const size_t step =
            IsLeadByte(static_cast<unsigned char>(text[used])) && used + 1 < text.size() ? 2 : 1;
        if (used + step > limit)
            break;
        used += step;
    }
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(used), buf);
    buf[used] = 0;
    return static_cast<int>(used);
}

intptr_t DialogBoxParamA(ModuleHandle module, int templateId, WindowHandle owner, DialogProc proc,
                         intptr_t param) {
    if (proc == nullptr)
        return -1;
    DialogContext context{proc, param, ShownDialog()};
    const INT_PTR result =
        ::DialogBoxParamA(static_cast<HINSTANCE>(module), MAKEINTRESOURCEA(templateId),
                          ToWindow(owner), &DialogTrampoline, reinterpret_cast<LPARAM>(&context));
    if (result == -1)
        return -1;
    context.shown.shown = true;
    context.shown.result = result;
    RecordDialog(std::move(context.shown));
    return result;
}

WindowHandle GetDlgItem(WindowHandle dialog, int id) {
    return FromWindow(::GetDlgItem(ToWindow(dialog), id));
}

int SetWindowTextA(WindowHandle window, const char* text) {
    return ::SetWindowTextA(ToWindow(window), text != nullptr ? text : "") ? 1 : 0;
}

int GetWindowTextA(WindowHandle window, std::string* text) {
    if (window == nullptr || text == nullptr)
        return 0;
    const int length = ::GetWindowTextLengthA(ToWindow(window));
    std::string got(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int n = ::GetWindowTextA(ToWindow(window), &got[0], static_cast<int>(got.size()));
    got.resize(static_cast<size_t>(n > 0 ? n : 0));
    *text = std::move(got);
    return 1;
}

int EndDialog(WindowHandle dialog, intptr_t result) {
    return ::EndDialog(ToWindow(dialog), result) ? 1 : 0;
}

int CheckDlgButton(WindowHandle dialog, int id, bool checked) {
    return ::CheckDlgButton(ToWindow(dialog), id, checked ? BST_CHECKED : BST_UNCHECKED) ? 1 : 0;
}

bool IsDlgButtonChecked(WindowHandle dialog, int id) {
    return ::IsDlgButtonChecked(ToWindow(dialog), id) == BST_CHECKED;
}

int SetListItems(WindowHandle dialog, int id, const std::vector<std::string>& items) {
    HWND list = ::GetDlgItem(ToWindow(dialog), id);
    if (list == nullptr)
        return 0;
    ::SendMessageA(list, LB_RESETCONTENT, 0, 0);
    for (const std::string& item : items)
        ::SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
    return 1;
}

int ListSelection(WindowHandle dialog, int id) {
    HWND list = ::GetDlgItem(ToWindow(dialog), id);
    if (list == nullptr)
        return -1;
    const LRESULT selected = ::SendMessageA(list, LB_GETCURSEL, 0, 0);
    return selected == LB_ERR ? -1 : static_cast<int>(selected);
}

int PressButton(WindowHandle dialog, int id) {
    HWND button = ::GetDlgItem(ToWindow(dialog), id);
    if (button == nullptr)
        return 0;
    ::SendMessageA(button, BM_CLICK, 0, 0);
    return 1;
}

int ChooseListItem(WindowHandle dialog, int id, int index) {
    HWND list = ::GetDlgItem(ToWindow(dialog), id);
    if (list == nullptr ||
        ::SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(index), 0) == LB_ERR)
        return 0;
    // Set by a program, the selection is not announced: the parent hears it as from a click.
    ::SendMessageA(ToWindow(dialog), WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(list));
    return 1;
}

bool DialogsAreWindows() {
    return true;
}

int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type) {
    ShownMessageBox box;
    box.shown = true;
    box.text = text != nullptr ? text : "";
    box.caption = caption != nullptr ? caption : "";
    box.type = type;
    box.hadOwner = owner != nullptr;
    const int pressed = ::MessageBoxA(ToWindow(owner), box.text.c_str(), box.caption.c_str(), type);
    RecordMessageBox(std::move(box));
    return pressed;
}

bool StdinIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// Real dialogs wait for the user's click, never for Enter on the console.
void SetDialogsWaitForEnter(bool /*wait*/) {}

// Real dialogs are driven through their windows.
void SetDialogDriver(std::function<void(WindowHandle dialog)> /*driver*/) {}

}  // namespace platform
