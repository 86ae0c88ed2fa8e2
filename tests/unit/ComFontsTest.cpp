#include <gtest/gtest.h>

#include <objbase.h>

#include <string>

#include "ComSupport.h"
#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "TestSupport.h"
#include "qzWinUtils.h"

namespace {

const char FontsKey[] = "HKLM\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// A real font file to copy: one of the prefix's fonts, else one of the system's.
std::string SourceFont() {
    for (const std::string& mask : {GetWindowsDir() + "\\Fonts\\*.ttf", GetWindowsDir() + "\\Fonts\\*.fon",
                                    std::string("Z:\\usr\\share\\fonts\\truetype\\dejavu\\*.ttf")}) {
        WIN32_FIND_DATAA data;
        qz::UniqueFind search(FindFirstFileA(mask.c_str(), &data));
        if (search) return mask.substr(0, mask.rfind('\\') + 1) + data.cFileName;
    }
    return std::string();
}

// A copy of a real font at {app}\<name>, loaded and registered under the Fonts key as
// value; the value is removed at the end in any case.
class InstalledFont {
public:
    InstalledFont(test::Installation& inst, const std::string& name, const std::string& value)
        : value_(value) {
        std::string source = SourceFont();
        if (source.empty()) return;
        path_ = inst.Expand("{app}\\" + name);
        CopyFileA(source.c_str(), path_.c_str(), FALSE);
        AddFontResourceA(path_.c_str());
        inst.SetValue(FontsKey, value, REG_SZ, path_ + '\0');
    }
    ~InstalledFont() {
        qz::UniqueKey key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, FontsKey + 5, 0, KEY_SET_VALUE, key.Put()) == ERROR_SUCCESS)
            RegDeleteValueA(key.Get(), value_.c_str());
        if (!path_.empty()) RemoveFontResourceA(path_.c_str());
    }
    bool Ready() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }

private:
    std::string value_, path_;
};

TEST(ComFonts, ServersAndTypeLibrariesAreUnregisteredUnlessKept) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[RegServers]\r\n{app}\\server.dll=1\r\n{app}\\Local Server\\local server.exe=1\r\n"
                            "{app}\\sample.tlb=1\r\n{app}\\kept.dll=1\r\n");
    CoInitialize(nullptr);  // as the worker has it
    auto uninitialize = qz::OnScopeExit([] { CoUninitialize(); });
    const std::string dll = inst.Expand("{app}\\server.dll"), kept = inst.Expand("{app}\\kept.dll");
    const std::string exe = inst.File("{app}\\Local Server\\local server.exe", 0,
                                      test::ReadFileBytes(test::HelperProgram("outprocserver")));
    const std::string typeLibrary = inst.Expand("{app}\\sample.tlb");
    for (const auto& copy : {dll, kept}) {
        CopyFileA((test::BinFolder() + "comserver.dll").c_str(), copy.c_str(), FALSE);
        ASSERT_TRUE(test::RegisterComServer(copy));
    }
    CopyFileA(test::SampleTypeLibrary().c_str(), typeLibrary.c_str(), FALSE);
    ASSERT_TRUE(test::RegisterTypeLibrary(typeLibrary));
    auto cleanUp = qz::OnScopeExit([] {
        test::ClearOutProcServerMark("local server.exe");
        qz::UniqueKey key;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\QuorvelTests\\ComServer", 0, KEY_SET_VALUE,
                          key.Put()) == ERROR_SUCCESS)
            RegDeleteValueA(key.Get(), "kept.dll");
    });
    KeptSharedFiles->Add(kept + "=1");
    test::ProgressRecorder progress;

    UnregisterServers();

    EXPECT_EQ(test::ComServerMark("server.dll"), "");
    EXPECT_EQ(test::ComServerMark("kept.dll"), "registered");
    // Started hidden, not waited for; its path has blanks and is quoted.
    EXPECT_TRUE(test::WaitUntil([] { return test::OutProcServerMark("local server.exe") == "unregistered"; }));
    EXPECT_FALSE(test::KeyExists(HKEY_CLASSES_ROOT, test::kSampleTypeLibKey));
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{"16:" + dll, "16:" + exe, "16:" + typeLibrary}));
    EXPECT_EQ(progress.Steps(), 4);
}

TEST(ComFonts, FontIsUnloadedDeletedAndUnregisteredAndTheChangeBroadcast) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[RegFonts]\r\nQz Demo (TrueType)={app}\\QzDemo.ttf\r\n"
                            "Qz Kept (TrueType)={app}\\QzKept.ttf\r\n");
    InstalledFont font(inst, "QzDemo.ttf", "Qz Demo (TrueType)");
    InstalledFont keptFont(inst, "QzKept.ttf", "Qz Kept (TrueType)");
    if (!font.Ready()) GTEST_SKIP() << "no font file to copy";
    KeptSharedFiles->Add(keptFont.Path() + "=1");
    test::MessageCounter fontChanges(WM_FONTCHANGE);
    test::ProgressRecorder progress;

    RemoveFonts();

    EXPECT_FALSE(inst.FileExists(font.Path()));
    EXPECT_FALSE(inst.Value(FontsKey, "Qz Demo (TrueType)").exists);
    EXPECT_TRUE(inst.FileExists(keptFont.Path()));
    EXPECT_TRUE(inst.Value(FontsKey, "Qz Kept (TrueType)").exists);
    EXPECT_EQ(fontChanges.Count(), 1);
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{"17:Qz Demo (TrueType)"}));
    EXPECT_EQ(progress.Steps(), 2);
    EXPECT_FALSE(RestartNeeded);
}

// The registration goes, but a file named by a path that is not a full one stays wherever
// it lies.
TEST(ComFonts, FontFileWithoutAFullPathIsNotDeleted) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[RegFonts]\r\nQz Outside (TrueType)=..\\outside.ttf\r\n"
                            "Qz Here (TrueType)=here.ttf\r\n");
    const std::string outside = inst.File("{root}\\outside.ttf"), here = inst.File("{app}\\here.ttf");
    inst.SetValue(FontsKey, "Qz Outside (TrueType)", REG_SZ, std::string("outside.ttf") + '\0');
    test::CurrentFolder current(inst.App());
    test::ProgressRecorder progress;

    RemoveFonts();

    EXPECT_TRUE(test::PathExists(outside));
    EXPECT_TRUE(test::PathExists(here));
    EXPECT_FALSE(inst.Value(FontsKey, "Qz Outside (TrueType)").exists);
    EXPECT_EQ(progress.Steps(), 2);
}

TEST(ComFonts, FontFileInUseIsDeletedAtTheNextBoot) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[RegFonts]\r\nQz Busy (TrueType)={app}\\QzBusy.ttf\r\n");
    InstalledFont font(inst, "QzBusy.ttf", "Qz Busy (TrueType)");
    if (!font.Ready()) GTEST_SKIP() << "no font file to copy";
    test::HeldFile held(font.Path());
    ASSERT_TRUE(held.Held());
    test::ProgressRecorder progress;

    RemoveFonts();

    EXPECT_FALSE(inst.Value(FontsKey, "Qz Busy (TrueType)").exists);
    EXPECT_TRUE(inst.FileExists(font.Path()));
    EXPECT_TRUE(inst.DeletionPending(font.Path()));
    EXPECT_TRUE(RestartNeeded);
    EXPECT_EQ(progress.Steps(), 1);
}

}  // namespace
