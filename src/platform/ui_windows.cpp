// The message box and the modal dialog over the Win32 user interface. Dialog templates and
// strings are resources compiled into each module, so registering them at run time is not
// needed here; the last box and dialog shown are still kept for tests.
#include <windows.h>
// windows.h defines FreeModule as a macro for FreeLibrary; the name is this layer's own.
#undef FreeModule

#include <algorithm>
#include <mutex>
#include <string>

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

int EndDialog(WindowHandle dialog, intptr_t result) {
    return ::EndDialog(ToWindow(dialog), result) ? 1 : 0;
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

}  // namespace platform
