// Drives the setup module's dialog under Wine as a user would: loads OrImapSt.dll, calls
// SetUpImap4 on the main thread, and from a second thread finds the dialog's window, types
// into its controls, picks list items and presses buttons; a message box that a refused value
// brings up is read and closed. Prints what it saw, one line each, for the Python test:
//   seen <control id> <text>       a control's text when asked
//   refused <message>              a message box's text
//   result <n>                     what SetUpImap4 returned
// Usage: setup_driver.exe MAILBOX STEP...
// Steps: type:ID=TEXT, press:ID, press-refused:ID, check:ID (a check box's click), pick:ID=N,
// seen:ID, shot:FILE.bmp (the dialog as the screen shows it, into a bitmap file).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_steps;

struct Found {
    HWND window = nullptr;
    bool setup = false;  // the setup dialog (it has the port field), else a message box
};

BOOL CALLBACK FindOwn(HWND window, LPARAM lparam) {
    Found* found = reinterpret_cast<Found*>(lparam);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    char kind[64] = {};
    GetClassNameA(window, kind, sizeof kind);
    if (process != GetCurrentProcessId() || std::string(kind) != "#32770" ||
        !IsWindowVisible(window))
        return TRUE;
    const bool setup = GetDlgItem(window, 1101) != nullptr;
    if (setup == found->setup) {
        found->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND WaitFor(bool setup) {
    for (int i = 0; i < 400; ++i) {
        Found found;
        found.setup = setup;
        EnumWindows(&FindOwn, reinterpret_cast<LPARAM>(&found));
        if (found.window != nullptr)
            return found.window;
        Sleep(25);
    }
    std::printf("missing %s\n", setup ? "dialog" : "message box");
    std::fflush(stdout);
    std::exit(3);
}

// The message box's text: its static control.
std::string BoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        char kind[64] = {};
        GetClassNameA(child, kind, sizeof kind);
        char buf[1024] = {};
        if (std::string(kind) == "Static" && GetWindowTextA(child, buf, sizeof buf) > 0)
            text = buf;
    }
    return text;
}

// Writes the dialog as the screen shows it into a 24-bit bitmap file.
void Shot(HWND dialog, const std::string& path) {
    RECT r;
    GetWindowRect(dialog, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the display shows (a real one, or Xvfb's), once the dialog has painted itself.
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(500);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    file.bfSize = file.bfOffBits + row * static_cast<DWORD>(h);
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, f);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f);
        std::fwrite(bits, 1, row * static_cast<DWORD>(h), f);
        std::fclose(f);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

DWORD WINAPI Drive(LPVOID) {
    HWND d = WaitFor(true);
    for (const std::string& step : g_steps) {
        const size_t colon = step.find(':');
        const std::string verb = step.substr(0, colon);
        const std::string rest = step.substr(colon + 1);
        const size_t equals = rest.find('=');
        const int id = std::atoi(rest.substr(0, equals).c_str());
        const std::string value = equals == std::string::npos ? "" : rest.substr(equals + 1);
        HWND control = GetDlgItem(d, id);
        if (verb == "type") {
            SetWindowTextA(control, value.c_str());
        } else if (verb == "press" || verb == "check") {
            SendMessageA(control, BM_CLICK, 0, 0);
        } else if (verb == "press-refused") {
            // The box is modal inside the press: the press is posted, the box found and closed.
            PostMessageA(d, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                         reinterpret_cast<LPARAM>(control));
            HWND box = WaitFor(false);
            std::printf("refused %s\n", BoxText(box).c_str());
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        } else if (verb == "pick") {
            SendMessageA(control, LB_SETCURSEL, static_cast<WPARAM>(std::atoi(value.c_str())), 0);
            SendMessageA(d, WM_COMMAND, MAKEWPARAM(id, LBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(control));
        } else if (verb == "seen") {
            char buf[1024] = {};
            GetWindowTextA(control, buf, sizeof buf);
            std::printf("seen %d %s\n", id, buf);
        } else if (verb == "shot") {
            Shot(d, rest);
        }
        std::fflush(stdout);
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: setup_driver.exe MAILBOX STEP...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i)
        g_steps.push_back(argv[i]);
    HMODULE module = LoadLibraryA("OrImapSt.dll");
    // Copied through a plain pointer: the loader's pointer type is another function's.
    const FARPROC found = module != nullptr ? GetProcAddress(module, "SetUpImap4") : nullptr;
    int (*setUp)(const char*) = nullptr;
    std::memcpy(&setUp, &found, sizeof setUp);
    if (setUp == nullptr) {
        std::printf("no SetUpImap4\n");
        return 3;
    }
    HANDLE driver = CreateThread(nullptr, 0, &Drive, nullptr, 0, nullptr);
    const int result = setUp(argv[1]);
    WaitForSingleObject(driver, 5000);
    std::printf("result %d\n", result);
    std::fflush(stdout);
    FreeLibrary(module);
    return 0;
}
