// The message box and the modal dialog of the target platform, drawn on the terminal, with
// the per-module resource table they are built from. Portable code: the only OS question,
// whether standard input is a terminal, is asked through StdinIsTerminal.
#include "platform/ui.h"
#include "platform/ui_shown.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "platform/codepage.h"

namespace platform {

// A running dialog or one of its controls. The windows of a dialog live as long as its
// DialogBoxParamA call; their handles are valid only while they are in the live set.
struct Window {
    Window* dialog = nullptr;  // the dialog the window belongs to; itself for a dialog
    int id = 0;
    std::string kind;                               // a control's kind; empty for a dialog
    std::string text;                               // Shift_JIS
    std::vector<std::unique_ptr<Window>> controls;  // a dialog's controls, in template order
    bool ended = false;
    intptr_t result = 0;
    bool checked = false;            // a check box
    std::vector<std::string> items;  // a list box
    int selection = -1;
    DialogProc proc = nullptr;  // a dialog's procedure
};

namespace {

struct ModuleResources {
    std::map<int, DialogTemplate> dialogs;
    std::map<int, std::string> strings;
};

// The process-wide state of the user interface. `mutex` guards everything but the terminal,
// and is never held while a dialog procedure runs (the procedure calls back in); `terminal`
// keeps one box or dialog on the terminal at a time, from its drawing to its Enter.
struct UiState {
    std::mutex mutex;
    std::map<ModuleHandle, ModuleResources> resources;
    std::set<Window*> live;
    std::mutex terminal;
    std::atomic<bool> waitForEnter{true};
    std::function<void(WindowHandle)> driver;
};

// Never destroyed, so that resources may still be dropped while the process exits.
UiState& State() {
    static UiState* state = new UiState;
    return *state;
}

// The terminal form of Shift_JIS text: UTF-8, with CR dropped so "\r\n" ends a line once.
std::string TerminalText(const std::string& sjis) {
    std::string utf8;
    AppendUtf8OfCodePage(sjis.data(), sjis.size(), &utf8);
    std::string out;
    for (char c : utf8) {
        if (c != '\r')
            out += c;
    }
    return out;
}

// Appends text as indented lines.
void AppendLines(std::string& out, const std::string& utf8) {
    size_t start = 0;
    while (start <= utf8.size()) {
        size_t end = utf8.find('\n', start);
        if (end == std::string::npos)
            end = utf8.size();
        out += "  ";
        out.append(utf8, start, end - start);
        out += '\n';
        start = end + 1;
    }
}

void WriteToTerminal(const std::string& s) {
    std::fputs(s.c_str(), stderr);
    std::fflush(stderr);
}

// Reads standard input up to and including the next line end (or its end).
void WaitForEnter() {
    char line[256];
    while (std::fgets(line, sizeof(line), stdin) != nullptr) {
        if (std::strchr(line, '\n') != nullptr)
            break;
    }
}

bool IsLiveDialog(UiState& s, Window* w) {
    return w != nullptr && s.live.count(w) != 0 && w->dialog == w;
}

// The control id of a live dialog, or null (mutex held).
Window* ControlOf(UiState& s, WindowHandle dialog, int id) {
    if (!IsLiveDialog(s, dialog))
        return nullptr;
    for (const auto& c : dialog->controls) {
        if (c->id == id)
            return c.get();
    }
    return nullptr;
}

bool DialogEnded(Window* dialog) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return dialog->ended;
}

// Draws a running dialog (title, texts, buttons) and, when a user can answer, waits for
// Enter, which stands for the OK button.
void ShowDialog(Window* dialog) {
    UiState& s = State();
    std::string out;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        out = "=== " + TerminalText(dialog->text) + " ===\n";
        for (const auto& c : dialog->controls) {
            if (c->kind == "ICON" || c->text.empty())
                continue;
            if (c->kind == "BUTTON") {
                out += "  [ " + TerminalText(c->text) + " ]\n";
            } else {
                AppendLines(out, TerminalText(c->text));
            }
        }
    }
    std::lock_guard<std::mutex> terminal(s.terminal);
    const bool wait = s.waitForEnter && StdinIsTerminal();
    if (wait)
        out += "(press Enter for OK)\n";
    WriteToTerminal(out);
    if (wait)
        WaitForEnter();
}

}  // namespace

void RegisterDialogResource(ModuleHandle module, int id, const DialogTemplate& dialog) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.resources[module].dialogs[id] = dialog;
}

void RegisterStringResource(ModuleHandle module, int id, const char* text) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.resources[module].strings[id] = text != nullptr ? text : "";
}

void UnregisterResources(ModuleHandle module) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.resources.erase(module);
}

int LoadStringA(ModuleHandle module, int id, char* buf, int size) {
    if (buf == nullptr || size <= 0)
        return 0;
    buf[0] = 0;
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto m = s.resources.find(module);
    if (m == s.resources.end())
        return 0;
    auto it = m->second.strings.find(id);
    if (it == m->second.strings.end())
        return 0;
    const std::string& text = it->second;
    const size_t limit = static_cast<size_t>(size) - 1;
    size_t n = 0;
    while (n < text.size()) {
        const size_t step =
            IsLeadByte(static_cast<unsigned char>(text[n])) && n + 1 < text.size() ? 2 : 1;
        if (n + step > limit)
            break;
        n += step;
    }
    std::memcpy(buf, text.data(), n);
    buf[n] = 0;
    return static_cast<int>(n);
}

intptr_t DialogBoxParamA(ModuleHandle module, int templateId, WindowHandle /*owner*/,
                         DialogProc proc, intptr_t param) {
    if (proc == nullptr)
        return -1;
    UiState& s = State();
    Window dialog;
    DialogTemplate tmpl;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto m = s.resources.find(module);
        if (m == s.resources.end())
            return -1;
        auto it = m->second.dialogs.find(templateId);
        if (it == m->second.dialogs.end())
            return -1;
        tmpl = it->second;
        dialog.dialog = &dialog;
        dialog.text = tmpl.title;
        dialog.proc = proc;
        for (const DialogControl& c : tmpl.controls) {
            auto w = std::make_unique<Window>();
            w->dialog = &dialog;
            w->id = c.id;
            w->kind = c.kind;
            w->text = c.text;
            s.live.insert(w.get());
            dialog.controls.push_back(std::move(w));
        }
        s.live.insert(&dialog);
    }

    proc(&dialog, kWmInitDialog, 0, param);
    std::function<void(WindowHandle)> driver;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        driver = s.driver;
    }
    if (driver && !DialogEnded(&dialog)) {
        driver(&dialog);
        if (!DialogEnded(&dialog))
            proc(&dialog, kWmCommand, static_cast<uintptr_t>(kIdCancel), 0);
        if (!DialogEnded(&dialog))
            EndDialog(&dialog, kIdCancel);
    }
    // A dialog ended while it initialised never appears.
    if (!DialogEnded(&dialog)) {
        ShowDialog(&dialog);
        if (!DialogEnded(&dialog))
            proc(&dialog, kWmCommand, static_cast<uintptr_t>(kIdOk), 0);
        // A procedure that ignores OK is closed as by the window's close box.
        if (!DialogEnded(&dialog)) {
            proc(&dialog, kWmCommand, static_cast<uintptr_t>(kIdCancel), 0);
        }
        if (!DialogEnded(&dialog))
            EndDialog(&dialog, kIdCancel);
    }

    std::lock_guard<std::mutex> lock(s.mutex);
    ShownDialog shown;
    shown.shown = true;
    shown.dialog = std::move(tmpl);
    for (const auto& c : dialog.controls) {
        shown.controls.emplace_back(c->id, c->text);
        s.live.erase(c.get());
    }
    shown.result = dialog.result;
    s.live.erase(&dialog);
    RecordDialog(std::move(shown));
    return dialog.result;
}

WindowHandle GetDlgItem(WindowHandle dialog, int id) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    return ControlOf(s, dialog, id);
}

int GetWindowTextA(WindowHandle window, std::string* text) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (window == nullptr || text == nullptr || s.live.count(window) == 0)
        return 0;
    *text = window->text;
    return 1;
}

int CheckDlgButton(WindowHandle dialog, int id, bool checked) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window* box = ControlOf(s, dialog, id);
    if (box == nullptr)
        return 0;
    box->checked = checked;
    return 1;
}

bool IsDlgButtonChecked(WindowHandle dialog, int id) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window* box = ControlOf(s, dialog, id);
    return box != nullptr && box->checked;
}

int SetListItems(WindowHandle dialog, int id, const std::vector<std::string>& items) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window* list = ControlOf(s, dialog, id);
    if (list == nullptr)
        return 0;
    list->items = items;
    list->selection = -1;
    return 1;
}

int ListSelection(WindowHandle dialog, int id) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    Window* list = ControlOf(s, dialog, id);
    return list != nullptr ? list->selection : -1;
}

int PressButton(WindowHandle dialog, int id) {
    UiState& s = State();
    DialogProc proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        Window* button = ControlOf(s, dialog, id);
        if (button == nullptr || dialog->ended)
            return 0;
        if (button->kind == "CHECKBOX")
            button->checked = !button->checked;
        proc = dialog->proc;
    }
    proc(dialog, kWmCommand, static_cast<uintptr_t>(id) | (uintptr_t{kBnClicked} << 16), 0);
    return 1;
}

int ChooseListItem(WindowHandle dialog, int id, int index) {
    UiState& s = State();
    DialogProc proc = nullptr;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        Window* list = ControlOf(s, dialog, id);
        if (list == nullptr || dialog->ended || index < 0 ||
            index >= static_cast<int>(list->items.size()))
            return 0;
        list->selection = index;
        proc = dialog->proc;
    }
    proc(dialog, kWmCommand, static_cast<uintptr_t>(id) | (uintptr_t{kLbnSelChange} << 16), 0);
    return 1;
}

bool DialogsAreWindows() {
    return false;
}

void SetDialogDriver(std::function<void(WindowHandle dialog)> driver) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.driver = std::move(driver);
}

int SetWindowTextA(WindowHandle window, const char* text) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (window == nullptr || s.live.count(window) == 0)
        return 0;
    window->text = text != nullptr ? text : "";
    return 1;
}

int EndDialog(WindowHandle dialog, intptr_t result) {
    UiState& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!IsLiveDialog(s, dialog))
        return 0;
    dialog->ended = true;
    dialog->result = result;
    return 1;
}

int MessageBoxA(WindowHandle owner, const char* text, const char* caption, uint32_t type) {
    ShownMessageBox box;
    box.shown = true;
    box.text = text != nullptr ? text : "";
    box.caption = caption != nullptr ? caption : "";
    box.type = type;
    box.hadOwner = owner != nullptr;

    std::string out = "=== ";
    if ((type & 0xF0) == kMbIconError)
        out += "(!) ";
    out += TerminalText(box.caption) + " ===\n";
    AppendLines(out, TerminalText(box.text));
    out += "  [ OK ]\n";

    UiState& s = State();
    {
        std::lock_guard<std::mutex> terminal(s.terminal);
        WriteToTerminal(out);
    }
    RecordMessageBox(std::move(box));
    return kIdOk;
}

void SetDialogsWaitForEnter(bool wait) {
    State().waitForEnter = wait;
}

}  // namespace platform
