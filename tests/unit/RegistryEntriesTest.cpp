#include <gtest/gtest.h>

#include "Globals.h"
#include "Installation.h"
#include "Removal.h"
#include "qzErrors.h"

TEST(RegistryEntries, SplitsValuePathsOutsideQuotes) {
    struct Case {
        const char* name;
        const char* key;
        const char* value;
    } cases[] = {
        {"HKLM\\Software\\App\\Path", "HKLM\\Software\\App", "Path"},
        {"HKLM\\Software\\App\\'Dir\\Name'", "HKLM\\Software\\App", "Dir\\Name"},
        {"HKLM\\Software\\App\\'It''s'", "HKLM\\Software\\App", "It's"},
        {"HKLM\\Software\\App\\\"a\\b\"", "HKLM\\Software\\App", "\"a\\b\""},
        {"HKLM\\Software\\App\\", "HKLM\\Software\\App", ""},
        {"NoBackslash", "", "NoBackslash"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExtractKeyPath(c.name), c.key) << c.name;
        EXPECT_EQ(ExtractValueName(c.name), c.value) << c.name;
    }
}

TEST(RegistryEntries, PutsBackOrDeletesEveryLoggedValue) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[AddReg]\r\n"
                            "{hklm}\\App\\Path=1,C:\\App\r\n"
                            "{hklm}\\App\\Expand=2,%windir%\\x\r\n"
                            "{hklm}\\App\\Bin=3,0A 1b FF\r\n"
                            "{hklm}\\App\\Count=4,42\r\n"
                            "{hkcu}\\App\\Multi=7,a||b\r\n"
                            "{hkcu}\\App\\Text=1,'x, y'\r\n"
                            "{hkcu}\\App\\Lines=1,one||two\r\n"
                            "{hklm}\\App\\New=0,\r\n"
                            "{hklm}\\App\\'Dir\\Name'=0,\r\n"
                            "{hklm}\\App\\=0,\r\n"
                            "{hkcu}\\App\\Odd=9,zz\r\n"
                            "{hkcu}\\App\\NoType=x,zz\r\n");
    test::ProgressRecorder progress;

    RemoveRegistryEntries();

    EXPECT_EQ(inst.Value("{hklm}\\App", "Path").type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(inst.Value("{hklm}\\App", "Path").Text(), "C:\\App");
    EXPECT_EQ(inst.Value("{hklm}\\App", "Expand").type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(inst.Value("{hklm}\\App", "Expand").Text(), "%windir%\\x");
    EXPECT_EQ(inst.Value("{hklm}\\App", "Bin").type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(inst.Value("{hklm}\\App", "Bin").data, "\x0a\x1b\xff");
    EXPECT_EQ(inst.Value("{hklm}\\App", "Count").type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(inst.Value("{hklm}\\App", "Count").Number(), 42u);
    EXPECT_EQ(inst.Value("{hkcu}\\App", "Multi").type, static_cast<DWORD>(REG_MULTI_SZ));
    EXPECT_EQ(inst.Value("{hkcu}\\App", "Multi").Strings(), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(inst.Value("{hkcu}\\App", "Text").Text(), "x, y");
    EXPECT_EQ(inst.Value("{hkcu}\\App", "Lines").Text(), "one\r\ntwo");
    EXPECT_FALSE(inst.Value("{hklm}\\App", "New").exists);
    EXPECT_FALSE(inst.Value("{hklm}\\App", "Dir\\Name").exists);
    EXPECT_FALSE(inst.Value("{hklm}\\App", "").exists);
    // An unknown type writes nothing, and a type that is not a number means "delete".
    EXPECT_EQ(inst.Value("{hkcu}\\App", "Odd").Text(), "installed");
    EXPECT_FALSE(inst.Value("{hkcu}\\App", "NoType").exists);

    EXPECT_EQ(progress.Steps(), 12);
    ASSERT_EQ(progress.Texts().size(), 12u);
    EXPECT_EQ(progress.Texts()[0], inst.Expand("11:{hklm}\\App\\Path"));
    EXPECT_EQ(progress.Texts()[8], inst.Expand("11:{hklm}\\App\\'Dir\\Name'"));
}

TEST(RegistryEntries, DeletesCreatedKeysDeepestFirstAndKeepsKeysWithOtherSubkeys) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[CreateKeys]\r\n"
                            "{hkcu}\\A\\B=1\r\n"
                            "{hkcu}\\A=1\r\n"
                            "{hkcu}\\A\\B\\C=1\r\n"
                            "{hklm}\\K=1\r\n"
                            "{hkcu}\\Shared=1\r\n"
                            "{hkcu}\\Empty=1\r\n");
    inst.SetValue("{hkcu}\\A\\B", "Value", REG_SZ, std::string("v") + '\0');
    inst.SetValue("{hkcu}\\Shared\\OtherProduct", "Setting", REG_SZ, std::string("v") + '\0');
    test::ProgressRecorder progress;

    RemoveRegistryEntries();

    EXPECT_FALSE(inst.KeyExists("{hkcu}\\A"));
    EXPECT_FALSE(inst.KeyExists("{hklm}\\K"));
    EXPECT_FALSE(inst.KeyExists("{hkcu}\\Empty"));
    EXPECT_TRUE(inst.KeyExists("{hkcu}\\Shared\\OtherProduct"));
    EXPECT_EQ(progress.Steps(), 6);
    EXPECT_EQ(progress.Texts(),
              (std::vector<std::string>{inst.Expand("12:{hklm}\\K"), inst.Expand("12:{hkcu}\\Shared"),
                                        inst.Expand("12:{hkcu}\\Empty"), inst.Expand("12:{hkcu}\\A\\B\\C"),
                                        inst.Expand("12:{hkcu}\\A\\B"), inst.Expand("12:{hkcu}\\A")}));
}

TEST(RegistryEntries, PutsBackOrDeletesIniEntriesAndWritesThemToDisk) {
    test::Installation inst(std::string(test::StatusStrings) +
                            "[AddIni]\r\n"
                            "{app}\\app.ini,Main,Lang=\r\n"
                            "{app}\\app.ini,Main,Theme=dark\r\n"
                            "{root}\\other.ini,Section,Key=old value\r\n");
    test::ProgressRecorder progress;

    RemoveIniEntries();

    std::string value;
    EXPECT_FALSE(inst.IniValue("{app}\\app.ini", "Main", "Lang", value));
    ASSERT_TRUE(inst.IniValue("{app}\\app.ini", "Main", "Theme", value));
    EXPECT_EQ(value, "dark");
    ASSERT_TRUE(inst.IniValue("{root}\\other.ini", "Section", "Key", value));
    EXPECT_EQ(value, "old value");
    EXPECT_EQ(progress.Steps(), 3);
    EXPECT_EQ(progress.Texts(), (std::vector<std::string>{inst.Expand("13:{app}\\app.ini"),
                                                          inst.Expand("13:{app}\\app.ini"),
                                                          inst.Expand("13:{root}\\other.ini")}));
}

// What the system would act on is the text before a NUL: another value, key or INI entry.
// An INI entry without a key would be taken for its whole section.
TEST(RegistryEntries, LinesHoldingANulOrWithoutAnIniKeyChangeNothing) {
    const std::string nul(1, '\0');
    test::Installation inst(std::string(test::StatusStrings) + "[AddReg]\r\n{hklm}\\App\\Keep" + nul +
                            "x=0,\r\n[CreateKeys]\r\n{hklm}\\Kept" + nul + "x=1\r\n"
                            "[AddIni]\r\n{app}\\app.ini,Main,Keep" + nul + "x=\r\n"
                            "{app}\\app.ini,Main=x\r\n{app}\\app.ini,Main, =\r\n");
    inst.SetValue("{hklm}\\App", "Keep", REG_SZ, std::string("kept") + nul);
    inst.SetValue("{hklm}\\Kept", "v", REG_SZ, std::string("kept") + nul);
    const std::string ini = inst.File("{app}\\app.ini", 0, "[Main]\r\nKeep=1\r\n=nameless\r\nOther=2\r\n");
    test::ProgressRecorder progress;

    RemoveRegistryEntries();
    RemoveIniEntries();

    EXPECT_EQ(inst.Value("{hklm}\\App", "Keep").Text(), "kept");
    EXPECT_TRUE(inst.KeyExists("{hklm}\\Kept"));
    EXPECT_EQ(test::ReadFileBytes(ini), "[Main]\r\nKeep=1\r\n=nameless\r\nOther=2\r\n");
    EXPECT_EQ(progress.Steps(), 2) << "a left-out line takes no step, a keyless one does";
}

TEST(RegistryEntries, IniFileThatCannotBeOpenedEndsTheActionWithAnError) {
    test::Installation inst("[AddIni]\r\n"
                            "{app}\\first.ini,Main,Lang=en\r\n"
                            "{app}\\locked.ini,Main,Lang=en\r\n"
                            "{app}\\last.ini,Main,Lang=en\r\n");
    test::HeldFile held(inst.Expand("{app}\\locked.ini"), 0);
    ASSERT_TRUE(held.Held());
    test::ProgressRecorder progress;

    EXPECT_THROW(RemoveIniEntries(), EInOutError);

    std::string value;
    // What was restored before the error reaches the disk all the same.
    EXPECT_TRUE(inst.IniValue("{app}\\first.ini", "Main", "Lang", value) && value == "en");
    EXPECT_TRUE(inst.IniValue("{app}\\last.ini", "Main", "Lang", value) && value == "installed");
    EXPECT_EQ(progress.Steps(), 1);
}
