// Tests of the modules unit: the two naming rules, loading the fixture library by its
// target-platform name from beside the program and from the current directory, symbol look-up
// by decorated name, unloading, and symbols of the main program.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/modules.h"

namespace fs = std::filesystem;

// A function of the main program under a decorated name ("_OPATestHost@8"), as the host
// exports its functions. The test program is linked so that its symbols are exported.
extern "C" int _OPATestHost_at_8(int a, int b) {
    return a * 100 + b;
}

namespace {

using SampleFn = int (*)(int);
using CallsFn = int (*)();

TEST(ModuleNames, SymbolNamesWriteEveryAtSignInTheLoaderForm) {
    EXPECT_EQ(platform::ExportedSymbolName("_OPAGetMailbox@0"), "_OPAGetMailbox_at_0");
    EXPECT_EQ(platform::ExportedSymbolName("a@b@@c"), "a_at_b_at__at_c");
    EXPECT_EQ(platform::ExportedSymbolName("SetUpImap4"), "SetUpImap4");
    EXPECT_EQ(platform::ExportedSymbolName(""), "");
}

TEST(ModuleNames, LibraryNamesMapSeparatorsAndTheDllSuffix) {
    EXPECT_EQ(platform::LibraryFileName("Plugins\\OrImapSt.dll"), "Plugins/OrImapSt.so");
    EXPECT_EQ(platform::LibraryFileName("Setup\\OrImapSt.DLL"), "Setup/OrImapSt.so");
    EXPECT_EQ(platform::LibraryFileName("/opt/orvex/OrImapSt.dll"), "/opt/orvex/OrImapSt.so");
    // Only a trailing ".dll" is a suffix to map.
    EXPECT_EQ(platform::LibraryFileName("a.dll.bak"), "a.dll.bak");
    EXPECT_EQ(platform::LibraryFileName("a.dll\\b.txt"), "a.dll/b.txt");
    EXPECT_EQ(platform::LibraryFileName("x.so"), "x.so");
    // 0x95 0x5C is one double-byte character: its 0x5C byte is not a separator.
    EXPECT_EQ(platform::LibraryFileName("\x95\x5C\\x.dll"), "\x95\x5C/x.so");
}

TEST(MainProgram, FindsItsDecoratedSymbolsAndItsDirectory) {
    platform::ModuleHandle main = platform::MainModule();
    ASSERT_NE(main, nullptr);
    auto fn = reinterpret_cast<int (*)(int, int)>(platform::FindSymbol(main, "_OPATestHost@8"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(3, 4), 304);
    EXPECT_EQ(platform::FindSymbol(main, "_OPANotExported@4"), nullptr);

    const std::string dir = platform::MainProgramDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.front(), '/');
    EXPECT_EQ(dir.back(), '/');
    EXPECT_TRUE(fs::is_regular_file(dir + "modules_test"));
}

// Runs each test in a fresh, empty current directory of its own and restores the old one.
class ModuleLoading : public testing::Test {
  protected:
    void SetUp() override {
        saved_ = fs::current_path();
        std::random_device rd;
        dir_ = fs::temp_directory_path() / ("orv_modules_" + std::to_string(rd()));
        ASSERT_TRUE(fs::create_directory(dir_));
        fs::current_path(dir_);
        fixture_ = platform::MainProgramDirectory() + "fixtures/sample_module.so";
        ASSERT_TRUE(fs::is_regular_file(fixture_)) << fixture_;
    }
    void TearDown() override {
        fs::current_path(saved_);
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    // Copies the fixture library to the relative path under the current directory.
    void CopyFixture(const std::string& relative) {
        fs::create_directories(fs::path(relative).parent_path());
        fs::copy_file(fixture_, relative);
    }

    fs::path saved_, dir_;
    std::string fixture_;
};

TEST_F(ModuleLoading, LoadsByDllNameBesideTheProgramAndFindsDecoratedSymbols) {
    platform::ModuleHandle h = platform::LoadModule("fixtures\\sample_module.dll");
    ASSERT_NE(h, nullptr);
    auto fn = reinterpret_cast<SampleFn>(platform::FindSymbol(h, "_OPASample@4"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(20), 41);
    EXPECT_EQ(platform::FindSymbol(h, "_OPASample@8"), nullptr);
    EXPECT_EQ(platform::FindSymbol(h, "_OPAMissing@0"), nullptr);
    EXPECT_EQ(platform::FindSymbol(h, "_OPASample"), nullptr);
    EXPECT_NE(platform::FreeModule(h), 0);
}

TEST_F(ModuleLoading, LoadsByDllNameRelativeToTheCurrentDirectory) {
    CopyFixture("Plugins/CwdSample.so");
    platform::ModuleHandle h = platform::LoadModule("Plugins\\CwdSample.DLL");
    ASSERT_NE(h, nullptr);
    auto fn = reinterpret_cast<SampleFn>(platform::FindSymbol(h, "_OPASample@4"));
    ASSERT_NE(fn, nullptr);
    EXPECT_EQ(fn(1), 3);
    EXPECT_NE(platform::FreeModule(h), 0);
}

TEST_F(ModuleLoading, PrefersTheProgramDirectoryOverTheCurrentDirectory) {
    // The same relative name exists in both places; the two files are distinct libraries.
    CopyFixture("fixtures/sample_module.so");
    platform::ModuleHandle besideProgram = platform::LoadModule(fixture_.c_str());
    platform::ModuleHandle inCwd =
        platform::LoadModule((dir_ / "fixtures/sample_module.dll").c_str());
    ASSERT_NE(besideProgram, nullptr);
    ASSERT_NE(inCwd, nullptr);
    ASSERT_NE(besideProgram, inCwd);

    platform::ModuleHandle h = platform::LoadModule("fixtures\\sample_module.dll");
    EXPECT_EQ(h, besideProgram);
    EXPECT_NE(platform::FreeModule(h), 0);
    EXPECT_NE(platform::FreeModule(inCwd), 0);
    EXPECT_NE(platform::FreeModule(besideProgram), 0);
}

TEST_F(ModuleLoading, MissingLibrariesGiveNull) {
    CopyFixture("Elsewhere/sample.so");
    EXPECT_EQ(platform::LoadModule("Plugins\\OrNoSuchModule.dll"), nullptr);
    EXPECT_EQ(platform::LoadModule("OrNoSuchModule.dll"), nullptr);
    EXPECT_EQ(platform::LoadModule("Plugins\\sample.dll"), nullptr);
    EXPECT_EQ(platform::LoadModule(""), nullptr);
    EXPECT_EQ(platform::LoadModule(nullptr), nullptr);
    EXPECT_EQ(platform::FindSymbol(nullptr, "_OPASample@4"), nullptr);
    EXPECT_EQ(platform::FreeModule(nullptr), 0);
}

TEST_F(ModuleLoading, FreeModuleUnloadsTheLibrary) {
    // A private copy, so no other handle keeps it mapped.
    CopyFixture("Unload/sample.so");
    platform::ModuleHandle h = platform::LoadModule("Unload\\sample.dll");
    ASSERT_NE(h, nullptr);
    auto fn = reinterpret_cast<SampleFn>(platform::FindSymbol(h, "_OPASample@4"));
    auto calls = reinterpret_cast<CallsFn>(platform::FindSymbol(h, "SampleCalls"));
    ASSERT_NE(fn, nullptr);
    ASSERT_NE(calls, nullptr);
    fn(1);
    fn(2);
    EXPECT_EQ(calls(), 2);
    EXPECT_NE(platform::FreeModule(h), 0);

    // A fresh mapping starts with fresh state.
    h = platform::LoadModule("Unload\\sample.dll");
    ASSERT_NE(h, nullptr);
    calls = reinterpret_cast<CallsFn>(platform::FindSymbol(h, "SampleCalls"));
    ASSERT_NE(calls, nullptr);
    EXPECT_EQ(calls(), 0);
    EXPECT_NE(platform::FreeModule(h), 0);
}

}  // namespace
