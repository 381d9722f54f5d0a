// Tests of the terminal user interface: string resources, the modal dialog and its procedure,
// window handles, the message box, and what each one draws and records.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/ui.h"

namespace {

using platform::WindowHandle;

int g_moduleTag;
int g_otherModuleTag;
const platform::ModuleHandle kModule = &g_moduleTag;
const platform::ModuleHandle kOtherModule = &g_otherModuleTag;

constexpr int kVersionDialog = 100;
constexpr int kTextControl = 1000;
constexpr int kNoticeControl = 1002;

// "ﾊﾞｰｼﾞｮﾝ情報(OrvImapS)" in Shift_JIS and in UTF-8.
const char kSjisTitle[] = "\xca\xde\xb0\xbc\xde\xae\xdd\x8f\xee\x95\xf1(OrvImapS)";
const char kUtf8Title[] =
    "\xef\xbe\x8a\xef\xbe\x9e\xef\xbd\xb0\xef\xbd\xbc\xef\xbe\x9e\xef\xbd\xae\xef\xbe\x9d"
    "\xe6\x83\x85\xe5\xa0\xb1(OrvImapS)";

platform::DialogTemplate VersionTemplate() {
    platform::DialogTemplate t;
    t.title = kSjisTitle;
    t.font = "MS";
    t.pointSize = 9;
    t.width = 187;
    t.height = 95;
    t.controls = {{"ICON", -1, "1", 7, 7, 21, 20},
                  {"STATIC", kTextControl, "", 39, 10, 106, 8},
                  {"STATIC", kNoticeControl, "", 7, 29, 173, 8},
                  {"BUTTON", platform::kIdOk, "OK", 148, 7, 32, 14}};
    return t;
}

// What the test procedures saw.
std::vector<uint32_t> g_messages;
std::vector<uintptr_t> g_commands;
intptr_t g_initParam;
WindowHandle g_dialog;

void Record(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    g_dialog = dialog;
    g_messages.push_back(message);
    if (message == platform::kWmInitDialog)
        g_initParam = lparam;
    if (message == platform::kWmCommand)
        g_commands.push_back(wparam);
}

// Fills both text controls from string resources and ends on OK or Cancel with 1.
intptr_t VersionProc(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    Record(dialog, message, wparam, lparam);
    if (message == platform::kWmInitDialog) {
        char buf[128];
        platform::LoadStringA(kModule, 105, buf, sizeof(buf));
        EXPECT_NE(platform::SetWindowTextA(platform::GetDlgItem(dialog, kTextControl), buf), 0);
        platform::LoadStringA(kModule, 106, buf, sizeof(buf));
        EXPECT_NE(platform::SetWindowTextA(platform::GetDlgItem(dialog, kNoticeControl), buf), 0);
        EXPECT_EQ(platform::GetDlgItem(dialog, 4242), nullptr);
        return 1;
    }
    if (message == platform::kWmCommand && (wparam == 1 || wparam == 2)) {
        platform::EndDialog(dialog, 1);
        return 1;
    }
    return 0;
}

intptr_t EndAtInitProc(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    Record(dialog, message, wparam, lparam);
    if (message == platform::kWmInitDialog)
        platform::EndDialog(dialog, 7);
    return 0;
}

intptr_t IgnoreOkProc(WindowHandle dialog, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    Record(dialog, message, wparam, lparam);
    return 0;
}

class Ui : public testing::Test {
  protected:
    void SetUp() override {
        platform::SetDialogsWaitForEnter(false);
        platform::ClearShown();
        g_messages.clear();
        g_commands.clear();
        g_initParam = 0;
        g_dialog = nullptr;
        platform::RegisterDialogResource(kModule, kVersionDialog, VersionTemplate());
        platform::RegisterStringResource(kModule, 105, "OrvImapS.dll  Version 0.1");
        platform::RegisterStringResource(kModule, 106, "(C) the authors");
    }
    void TearDown() override {
        platform::UnregisterResources(kModule);
        platform::UnregisterResources(kOtherModule);
    }
};

TEST_F(Ui, LoadStringCutsToTheBufferAndKeepsModulesApart) {
    char buf[128];
    EXPECT_EQ(platform::LoadStringA(kModule, 105, buf, sizeof(buf)), 25);
    EXPECT_STREQ(buf, "OrvImapS.dll  Version 0.1");
    EXPECT_EQ(platform::LoadStringA(kModule, 105, buf, 9), 8);
    EXPECT_STREQ(buf, "OrvImapS");
    EXPECT_EQ(platform::LoadStringA(kModule, 105, buf, 1), 0);
    EXPECT_STREQ(buf, "");

    // A cut never leaves half of a double-byte character ("情報" is 8F EE 95 F1).
    platform::RegisterStringResource(kModule, 107, "ab\x8f\xee\x95\xf1");
    EXPECT_EQ(platform::LoadStringA(kModule, 107, buf, 4), 2);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(platform::LoadStringA(kModule, 107, buf, 5), 4);
    EXPECT_STREQ(buf, "ab\x8f\xee");

    platform::RegisterStringResource(kOtherModule, 105, "other");
    EXPECT_EQ(platform::LoadStringA(kOtherModule, 105, buf, sizeof(buf)), 5);
    EXPECT_STREQ(buf, "other");
    EXPECT_EQ(platform::LoadStringA(kOtherModule, 106, buf, sizeof(buf)), 0);
    EXPECT_STREQ(buf, "");

    platform::UnregisterResources(kModule);
    EXPECT_EQ(platform::LoadStringA(kModule, 105, buf, sizeof(buf)), 0);
    EXPECT_EQ(platform::LoadStringA(kOtherModule, 105, buf, sizeof(buf)), 5);
}

TEST_F(Ui, DialogInitialisesShowsAndEndsAtOk) {
    testing::internal::CaptureStderr();
    intptr_t result = platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, VersionProc, 55);
    const std::string drawn = testing::internal::GetCapturedStderr();

    EXPECT_EQ(result, 1);
    EXPECT_EQ(g_messages, (std::vector<uint32_t>{platform::kWmInitDialog, platform::kWmCommand}));
    EXPECT_EQ(g_commands, (std::vector<uintptr_t>{platform::kIdOk}));
    EXPECT_EQ(g_initParam, 55);

    platform::ShownDialog shown = platform::LastDialog();
    EXPECT_TRUE(shown.shown);
    EXPECT_EQ(shown.result, 1);
    EXPECT_EQ(shown.dialog.title, kSjisTitle);
    ASSERT_EQ(shown.controls.size(), 4u);
    EXPECT_EQ(shown.controls[1],
              std::make_pair(kTextControl, std::string("OrvImapS.dll  Version 0.1")));
    EXPECT_EQ(shown.controls[2], std::make_pair(kNoticeControl, std::string("(C) the authors")));
    EXPECT_EQ(shown.controls[3], std::make_pair(platform::kIdOk, std::string("OK")));

    // The texts set at initialisation are drawn, the Shift_JIS title as UTF-8.
    EXPECT_NE(drawn.find(kUtf8Title), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("OrvImapS.dll  Version 0.1"), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("(C) the authors"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find(kSjisTitle), std::string::npos) << drawn;

    // The windows are gone with the dialog.
    EXPECT_EQ(platform::GetDlgItem(g_dialog, kTextControl), nullptr);
    EXPECT_EQ(platform::SetWindowTextA(g_dialog, "late"), 0);
    EXPECT_EQ(platform::EndDialog(g_dialog, 3), 0);

    platform::ClearShown();
    EXPECT_FALSE(platform::LastDialog().shown);
    EXPECT_TRUE(platform::LastDialog().controls.empty());
}

TEST_F(Ui, DialogEndedAtInitReturnsItsResultAndIsNeverDrawn) {
    testing::internal::CaptureStderr();
    intptr_t result = platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, EndAtInitProc, 0);
    const std::string drawn = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, 7);
    EXPECT_EQ(g_messages, (std::vector<uint32_t>{platform::kWmInitDialog}));
    EXPECT_EQ(drawn, "");
    EXPECT_EQ(platform::LastDialog().result, 7);
}

TEST_F(Ui, DialogThatIgnoresOkIsClosedWithCancel) {
    testing::internal::CaptureStderr();
    intptr_t result = platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, IgnoreOkProc, 0);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(result, platform::kIdCancel);
    EXPECT_EQ(g_commands, (std::vector<uintptr_t>{platform::kIdOk, platform::kIdCancel}));
}

TEST_F(Ui, MissingTemplateOrProcedureGivesMinusOneAndNullHandlesFail) {
    EXPECT_EQ(platform::DialogBoxParamA(kModule, 101, nullptr, VersionProc, 0), -1);
    EXPECT_EQ(platform::DialogBoxParamA(kOtherModule, kVersionDialog, nullptr, VersionProc, 0), -1);
    EXPECT_EQ(platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, nullptr, 0), -1);
    EXPECT_TRUE(g_messages.empty());
    EXPECT_FALSE(platform::LastDialog().shown);

    platform::UnregisterResources(kModule);
    EXPECT_EQ(platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, VersionProc, 0), -1);

    EXPECT_EQ(platform::GetDlgItem(nullptr, kTextControl), nullptr);
    EXPECT_EQ(platform::SetWindowTextA(nullptr, "x"), 0);
    EXPECT_EQ(platform::EndDialog(nullptr, 1), 0);
}

// Each thread's dialog ends with its own parameter and sees only its own windows.
intptr_t EchoProc(WindowHandle dialog, uint32_t message, uintptr_t, intptr_t lparam) {
    if (message != platform::kWmInitDialog)
        return 0;
    WindowHandle text = platform::GetDlgItem(dialog, kTextControl);
    const std::string mine = std::to_string(lparam);
    platform::SetWindowTextA(text, mine.c_str());
    EXPECT_EQ(platform::EndDialog(text, 0), 0);  // a control is no dialog
    platform::EndDialog(dialog, lparam);
    return 1;
}

TEST_F(Ui, DialogsOnSeveralThreadsKeepTheirOwnWindows) {
    std::vector<std::thread> threads;
    std::vector<int> wrong(8, 0);
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([i, &wrong] {
            for (int round = 0; round < 20; ++round) {
                intptr_t r =
                    platform::DialogBoxParamA(kModule, kVersionDialog, nullptr, EchoProc, 100 + i);
                if (r != 100 + i)
                    ++wrong[i];
            }
        });
    }
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(wrong, std::vector<int>(8, 0));
    platform::ShownDialog last = platform::LastDialog();
    EXPECT_EQ(last.controls[1].second, std::to_string(last.result));
}

TEST_F(Ui, MessageBoxRecordsWhatWasPassedAndDrawsItAsUtf8) {
    // "プラグインエラー" in Shift_JIS and in UTF-8.
    const char sjisCaption[] = "\x83\x76\x83\x89\x83\x4f\x83\x43\x83\x93\x83\x47\x83\x89\x81\x5b";
    const char utf8Caption[] =
        "\xe3\x83\x97\xe3\x83\xa9\xe3\x82\xb0\xe3\x82\xa4\xe3\x83\xb3\xe3\x82\xa8\xe3\x83\xa9"
        "\xe3\x83\xbc";
    const char text[] = "first line\r\nsecond line";

    testing::internal::CaptureStderr();
    EXPECT_EQ(
        platform::MessageBoxA(nullptr, text, sjisCaption, platform::kMbOk | platform::kMbIconError),
        platform::kIdOk);
    const std::string drawn = testing::internal::GetCapturedStderr();
    platform::ShownMessageBox box = platform::LastMessageBox();
    EXPECT_TRUE(box.shown);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.caption, sjisCaption);
    EXPECT_EQ(box.type, platform::kMbIconError);
    EXPECT_FALSE(box.hadOwner);
    EXPECT_NE(drawn.find(utf8Caption), std::string::npos) << drawn;
    EXPECT_NE(drawn.find("first line\n"), std::string::npos) << drawn;
    EXPECT_EQ(drawn.find('\r'), std::string::npos) << drawn;

    int ownerTag = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(platform::MessageBoxA(reinterpret_cast<WindowHandle>(&ownerTag), "restart",
                                    "OrImap4S", platform::kMbOk),
              platform::kIdOk);
    testing::internal::GetCapturedStderr();
    box = platform::LastMessageBox();
    EXPECT_EQ(box.text, "restart");
    EXPECT_EQ(box.caption, "OrImap4S");
    EXPECT_EQ(box.type, platform::kMbOk);
    EXPECT_TRUE(box.hadOwner);

    platform::ClearShown();
    EXPECT_FALSE(platform::LastMessageBox().shown);
    EXPECT_TRUE(platform::LastMessageBox().text.empty());
}

}  // namespace
