// Damaged logs: random bytes, broken lines and fields, numbers out of range, NUL bytes in
// names and huge files, fed to the log engine and to the whole program (a separate process
// driven through its pages). Each must load and run to its end without a crash or a hang,
// the program ending with exit code 0, and nothing may go that the log's well-formed lines
// do not name: sentinels beside what a damaged line could wrongly hit must survive.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

#include "Globals.h"
#include "Removal.h"
#include "StagedProgram.h"
#include "qzIniFile.h"
#include "qzStrUtils.h"
#include "resource.h"

namespace {

using namespace test;

const std::string Nul(1, '\0');

// ---- Random logs ----

std::string RandomName(std::mt19937& random) {
    static const char chars[] = "abcXYZ019 \t\\,;=\"'[]%.*?\0\x80\xFF";
    std::string name;
    for (unsigned n = random() % 20; n > 0; --n) name += chars[random() % (sizeof chars - 1)];
    return name;
}

// A mix of random bytes and lines shaped as section headers (some without "]"), key=value
// lines and comments, with every kind of line end. Shaped lines start with one of the
// prefixes, so that a program run acts only inside the staged installation.
std::string RandomLog(std::mt19937& random, const std::vector<std::string>& sections,
                      const std::vector<std::string>& prefixes) {
    static const char* const ends[] = {"\r\n", "\n", "\r", ""};
    std::string text;
    for (unsigned lines = random() % 40; lines > 0; --lines) {
        switch (random() % 6) {
            case 0:
                for (unsigned n = random() % 120; n > 0; --n) text += static_cast<char>(random());
                break;
            case 1:
                text += "[" + (random() % 3 ? sections[random() % sections.size()] : RandomName(random)) +
                        (random() % 5 ? "]" : "");
                break;
            case 2:
            case 3:
                text += prefixes[random() % prefixes.size()] + RandomName(random) +
                        (random() % 8 ? "=" : "") + RandomName(random);
                break;
            case 4:
                text += ";" + RandomName(random);
                break;
            default:
                break;
        }
        text += random() % 5 ? "\r\n" : ends[random() % 4];
    }
    return text;
}

const std::vector<std::string> LogSections = {
    "Strings",   "Display",    "Dialog.DLG_START", "SharedFiles", "SharedAssemblies",
    "Shortcuts", "AddReg",     "CreateKeys",       "AddIni",      "RegFonts",
    "RegServers", "DataFiles", "CopyFiles",        "DataFolders", "CreateDirs"};

// ---- Engine ----

// Reads every section and key the engine lists, in every way the program reads them, and
// parses every line as the removals do. Every listed key must be found again.
int ReadEverything(TqzIniFile& ini) {
    const std::string missing = "\x01missing\x02";
    TStringList sections;
    ini.ReadSections(sections);
    int reads = 0;
    for (const auto& section : sections.Entries()) {
        TStringList keys, values;
        ini.ReadSection(section.text, keys);
        ini.ReadSectionValues(section.text, values);
        for (const auto& key : keys.Entries()) {
            EXPECT_NE(ini.ReadString(section.text, key.text, missing), missing)
                << "[" << section.text << "] " << key.text;
            ini.ReadInteger(section.text, key.text, 0);
            ini.ReadBool(section.text, key.text, false);
            ++reads;
        }
        for (const auto& line : values.Entries()) {
            const std::string name = NamePart(line.text), value = ValuePart(line.text);
            EntryKey(line.text);
            ExtractKeyPath(name);
            ExtractValueName(name);
            for (int n = 1; n <= 8; ++n) GetField(n, n < 4 ? name : value, ",");
        }
    }
    return reads;
}

TEST(MalformedLog, ThousandsOfRandomLogsLoadAndReadEverySectionAndKey) {
    TempFolder folder("malformed");
    const std::string path = folder / "random.log";
    std::mt19937 random(20261207);
    const std::vector<std::string> prefixes = {"", "HKCU\\", "C:\\"};
    int keys = 0;
    for (int i = 0; i < 3000; ++i) {
        WriteFileBytes(path, RandomLog(random, LogSections, prefixes));
        TqzIniFile ini(path, true);
        keys += ReadEverything(ini);
        if (HasFailure()) {
            ADD_FAILURE() << "log " << i;
            break;
        }
    }
    EXPECT_GT(keys, 10000);
}

TEST(MalformedLog, DamagedLinesSpoilNoWellFormedLineAroundThem) {
    const std::string mb(1 << 20, 'm');
    struct Read {
        std::string section, key, value;  // value "d": not found
    };
    struct Case {
        const char* what;
        std::string text;
        std::vector<Read> reads;
    };
    auto around = [](const std::string& damage) {
        return "[S]\r\nbefore=1\r\n" + damage + "\r\nafter=2\r\n[T]\r\nnext=3\r\n";
    };
    const std::vector<Read> intact = {{"S", "before", "1"}, {"S", "after", "2"}, {"T", "next", "3"}};
    auto with = [&](std::vector<Read> more) {
        more.insert(more.end(), intact.begin(), intact.end());
        return more;
    };
    const Case cases[] = {
        {"NUL in a key", around("na" + Nul + "me=v"), with({{"S", "na" + Nul + "me", "v"}, {"S", "na", "d"}})},
        {"NUL in a value", around("k=va" + Nul + "lue"), with({{"S", "k", "va" + Nul + "lue"}})},
        {"NUL alone", around(Nul), intact},
        {"NUL in a section name", around("[Se" + Nul + "c]\r\nin=4"),
         {{"S", "before", "1"}, {"Se" + Nul + "c", "in", "4"}, {"Se", "in", "d"}, {"T", "next", "3"}}},
        {"UTF-8 BOM: the first header is no header", "\xEF\xBB\xBF" + around(""),
         {{"S", "before", "d"}, {"T", "next", "3"}}},
        {"LF only: one line without header", "[S]\nbefore=1\n[T]\nnext=3\n",
         {{"S", "before", "d"}, {"T", "next", "d"}}},
        {"LF only inside", around("x=1\ny=2"), with({{"S", "x", "1y=2"}, {"S", "y", "d"}})},
        {"1 MB value", around("big=" + mb), with({{"S", "big", mb}})},
        {"1 MB key", around(mb + "=v"), with({{"S", mb, "v"}})},
        {"1 MB section header", around("[" + mb + "]\r\nin=4"),
         {{"S", "before", "1"}, {mb, "in", "4"}, {mb, "after", "2"}, {"T", "next", "3"}}},
        {"[ without ]", around("[Open\r\nin=4"), with({{"S", "in", "4"}, {"Open", "in", "d"}})},
        {"[ without ] with =", around("[Open=x"), with({{"S", "[Open", "x"}})},
        {"empty header", around("[]\r\nin=4"), {{"S", "before", "1"}, {"", "in", "4"}, {"T", "next", "3"}}},
        {"= at the start", around("=lead\r\n=\r\n=="), intact},
        {"key of only blanks", around("   =blank\r\n\t \t=tab"), intact},
    };
    TempFolder folder("malformed");
    const std::string path = folder / "damaged.log";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteFileBytes(path, c.text);
        TqzIniFile ini(path, true);
        ReadEverything(ini);
        for (const Read& read : c.reads)
            EXPECT_EQ(ini.ReadString(read.section, read.key, "d"), read.value)
                << "[" << read.section.substr(0, 20) << "] " << read.key.substr(0, 20);
    }
}

// Lines "<start><n>=<80 letters>", about 95 bytes each.
std::string BulkLines(int count, const std::string& start) {
    std::string text;
    text.reserve(static_cast<size_t>(count) * (start.size() + 90));
    const std::string padding(80, 'p');
    for (int line = 0; line < count; ++line)
        text += start + std::to_string(line) + "=" + padding + "\r\n";
    return text;
}

// Sections [Bulk1], [Bulk2], ... of 100,000 lines each, about 10 MB a section.
std::string BulkSections(int sections, const std::string& lineStart) {
    std::string text;
    for (int section = 1; section <= sections; ++section)
        text += "[Bulk" + std::to_string(section) + "]\r\n" + BulkLines(100000, lineStart);
    return text;
}

TEST(MalformedLog, FiftyMegabyteLogLoadsInBoundedTime) {
    TempFolder folder("malformed");
    const std::string path = folder / "huge.log";
    WriteFileBytes(path, BulkSections(5, "C:\\qztests\\none\\file"));
    const DWORD start = GetTickCount();
    TqzIniFile ini(path, true);
    TStringList lines;
    ini.ReadSection("Bulk5", lines);
    EXPECT_EQ(lines.Count(), 100000);
    EXPECT_EQ(ini.ReadString("Bulk3", "C:\\qztests\\none\\file99999", "d"), std::string(80, 'p'));
    const DWORD elapsed = GetTickCount() - start;
    EXPECT_LT(elapsed, 30000u);
    RecordProperty("LoadMs", static_cast<int>(elapsed));
}

// A line holding a NUL is left out of the removal and of the progress steps alike, so that
// the progress bar still ends full.
TEST(MalformedLog, LinesHoldingANulAreNeitherWalkedNorCountedAsSteps) {
    Installation inst("[CopyFiles]\r\n{root}\\a.txt=1\r\n{root}\\b" + Nul + "x=1\r\n{root}\\c.txt=1" +
                      Nul + "1\r\n");
    LoadedLog = std::make_unique<TqzIniFile>(inst.Log(), true);
    auto reset = qz::OnScopeExit([] { LoadedLog.reset(); });
    LoadSectionLines("CopyFiles");
    ASSERT_EQ(SectionLines->Count(), 1);
    EXPECT_EQ(SectionLines->Strings(0), inst.Expand("{root}\\a.txt=1"));
    EXPECT_EQ(SectionEntryCount("CopyFiles"), 1);
}

// ---- The whole program ----

const DWORD RunTimeoutMs = 90000;

class MalformedRun : public StagedProgram {
protected:
    ~MalformedRun() override {
        run_.reset();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, OtherKey().substr(5));
    }

    // Another application's uninstall key, which no log of this test names.
    std::string OtherKey() const { return key_ + "-other"; }

    // A fresh installation from well-formed sections, in which each line "@Section@" marks
    // where Damage puts damaged lines, beside sentinels that no line names.
    void Fresh(const std::string& sections) {
        if (inst_) WaitUntil([&] { return ScriptsIn(inst_->Root()) == 0; }, RemovalTimeoutMs);
        Install(sections);
        inst_->File("{root}\\Keep\\keep.txt");
        inst_->File("{root}\\Keep\\keep");
        inst_->File("{root}\\Keep\\Tree\\a.txt");
        inst_->File("{root}\\Keep\\Tree\\Sub\\b.txt");
        inst_->Folder("{root}\\Keep\\Empty");
        inst_->File("{root}\\Keep\\font.ttf");
        inst_->File("{root}\\Keep\\shared.dll");
        inst_->File("{root}\\Win\\keep.ini", 0, "[Sec]\r\nKeep=1\r\nOther=2\r\n");
        inst_->SetValue("{hkcu}\\Keep", "Value", REG_SZ, Sz("v"));
        inst_->SetValue("{hkcu}\\Keep\\Leaf", "", REG_SZ, Sz("leaf"));
        inst_->SetValue(NtFonts, FontName(), REG_SZ, Sz(inst_->Expand("{root}\\Keep\\font.ttf")));
        SetSharedCount("{root}\\Keep\\shared.dll", 3);
        inst_->SetValue(OtherKey() + "\\Details", "Kind", REG_SZ, Sz("other"));
        prompts_.clear();
        promptStatus_.clear();
        boxes_.clear();
    }

    void ExpectSentinelsSurvive() {
        for (const char* file : {"keep.txt", "keep", "Tree\\a.txt", "Tree\\Sub\\b.txt", "font.ttf",
                                 "shared.dll"})
            EXPECT_TRUE(inst_->FileExists(std::string("{root}\\Keep\\") + file)) << file;
        EXPECT_TRUE(inst_->FolderExists("{root}\\Keep\\Empty"));
        for (const char* key : {"Keep", "Other"}) {
            std::string value;
            EXPECT_TRUE(inst_->IniValue("{root}\\Win\\keep.ini", "Sec", key, value)) << key;
        }
        EXPECT_EQ(inst_->Value("{hkcu}\\Keep", "Value").Text(), "v");
        EXPECT_TRUE(inst_->KeyExists("{hkcu}\\Keep\\Leaf"));
        EXPECT_TRUE(inst_->Value(NtFonts, FontName()).exists);
        EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Keep\\shared.dll").Number(), 3u);
        EXPECT_TRUE(inst_->KeyExists(OtherKey() + "\\Details"));
    }

    // Rewrites the staged log: each marker "@Section@" gives way to the section's damaged lines,
    // then every other replacement is made (placeholders expanded in both).
    void Damage(const std::vector<std::pair<std::string, std::string>>& lines,
                const std::vector<std::pair<std::string, std::string>>& replacements = {}) {
        std::map<std::string, std::string> inserts;  // the lines of each marker, in order
        for (const auto& [section, line] : lines) inserts["@" + section + "@"] += Expanded(line) + "\r\n";
        std::string text = ReadFileBytes(inst_->Log());
        for (const auto& [marker, insert] : inserts) text = Replace(text, marker, insert);
        for (const auto& [from, to] : replacements) text = Replace(text, Expanded(from), Expanded(to));
        WriteFileBytes(inst_->Log(), text);
    }

    std::string Expanded(const std::string& text) const {
        return Replace(Replace(inst_->Expand(text), "{bin}",
                               BinFolder().substr(0, BinFolder().size() - 1)),
                       "{font}", FontName());
    }

    // Starts the program and goes through every page as a user who uninstalls: Next on
    // each page, OK on each box, "keep" for each shared file, "restart later"; the exit
    // code, or -1 when it did not end in time (it is then terminated).
    int RunWholeUninstall() {
        Start();
        std::set<HWND> answered;
        const DWORD start = GetTickCount();
        while (GetTickCount() - start < RunTimeoutMs) {
            const std::vector<HWND> windows = ProcessWindows(run_->Id(), "#32770");
            HWND progress = nullptr;
            for (HWND window : windows)
                if (WindowText(window) == "DLG_UNINSTALL") progress = window;
            for (HWND window : windows) {
                const std::string caption = WindowText(window);
                if (window == progress || !IsWindowEnabled(window) || !answered.insert(window).second)
                    continue;
                if (caption == "DLG_DELSHARED") {
                    prompts_.push_back(ItemText(window, IDC_DS_FILE));
                    if (progress) promptStatus_.push_back(ItemText(progress, IDC_STATUS));
                    PressButton(window, IDC_DS_KEEP);
                } else if (caption == BoxCaption) {
                    boxes_.push_back(StaticTexts(window));
                    PostCommand(window, IDOK);
                } else if (caption == "DLG_START") {
                    startIntro_ = ItemText(window, IDC_START_INTRO);
                    PressButton(window, IDC_NEXT);
                } else {
                    if (caption == "DLG_REBOOT") PressButton(window, IDC_RB_LATER);
                    PressButton(window, IDC_NEXT);
                }
            }
            const int code = run_->WaitForExit(100);
            if (code != -1) return code;
        }
        ADD_FAILURE() << "the program did not end in time";
        run_.reset();
        return -1;
    }

    std::vector<std::string> prompts_, promptStatus_, boxes_;
    std::string startIntro_;
};

// Well-formed lines of every section, each naming something staged that must go, with a
// marker for the damaged lines of each section.
const char WellFormed[] = R"(
[PreRunApp]
@PreRunApp@
[SharedFiles]
@SharedFiles@
[SharedAssemblies]
a=Demo.Lib,Version=1.0.0.0
@SharedAssemblies@
[Shortcuts]
{root}\Menu\App=1
@Shortcuts@
[AddReg]
{hkcu}\Settings\Added=0
@AddReg@
[CreateKeys]
{hkcu}\Created=1
@CreateKeys@
[AddIni]
{root}\Win\app.ini,Options,Added=
@AddIni@
[RegFonts]
@RegFonts@
[RegServers]
@RegServers@
[DataFiles]
{app}\user.dat=1
@DataFiles@
[CopyFiles]
{app}\App.exe=1
{app}\gacutil.exe=1
@CopyFiles@
[DataFolders]
{app}\Saved=1
@DataFolders@
[CreateDirs]
{root}\Menu=1
@CreateDirs@
[RunApp]
0={system}\cmd.exe,/c move {app}\gacutil.args {root}\gacutil.args,,0,Moving,1,1
@RunApp@
)";

void ExpectWellFormedLinesUndone(const Installation& inst) {
    EXPECT_FALSE(inst.FileExists("{root}\\Menu\\App.lnk"));
    EXPECT_FALSE(inst.FolderExists("{root}\\Menu"));
    EXPECT_FALSE(inst.Value("{hkcu}\\Settings", "Added").exists);
    EXPECT_FALSE(inst.KeyExists("{hkcu}\\Created"));
    std::string value;
    EXPECT_FALSE(inst.IniValue("{root}\\Win\\app.ini", "Options", "Added", value));
    EXPECT_FALSE(inst.FileExists("{app}\\user.dat"));
    EXPECT_FALSE(inst.FileExists("{app}\\App.exe"));
    EXPECT_FALSE(inst.FolderExists("{app}\\Saved"));
}

// Lines with NUL bytes in their names (the system would see the text before the NUL, a
// sentinel), lines with missing, extra, quoted and empty fields, and registry paths
// without a root. Only the well-formed lines act.
TEST_F(MalformedRun, DamagedFieldsAndNulNamesOfEverySectionRemoveOnlyWhatWellFormedLinesName) {
    Fresh(WellFormed);
    ASSERT_TRUE(CopyFileA(HelperProgram("gacutil").c_str(),
                          inst_->Expand("{app}\\gacutil.exe").c_str(), FALSE));
    // Lines of every shape the engine must cope with, in each section the walk visits.
    const std::string mb(1 << 20, 'm');
    std::vector<std::pair<std::string, std::string>> lines;
    for (const char* section : {"SharedFiles", "SharedAssemblies", "Shortcuts", "AddReg", "CreateKeys",
                                "AddIni", "RegFonts", "RegServers", "DataFiles", "CopyFiles",
                                "DataFolders", "CreateDirs"})
        for (const std::string& line : {"{root}\\Gone\\" + mb + "=1", "{root}\\Gone\\x=" + mb,
                                        std::string("[Open"), std::string("[Open=1"),
                                        std::string("=1"), std::string(" \t =1")})
            lines.emplace_back(section, line);
    lines.emplace_back("AddIni", "{root}\\Win\\keep.ini,Sec," + mb + "=");
    lines.insert(lines.end(), {
        {"PreRunApp", "1={bin}\\exitcode.exe,0 --mark {root}\\pre1.txt,,0,Extra,1,1,extra,fields"},
        {"PreRunApp", "2=\"{bin}\\exitcode.exe\",0 --mark {root}\\pre2.txt"},
        {"PreRunApp", "3={bin}\\exitcode.exe,0,,abc,\"Status, quoted\",x,y"},
        {"PreRunApp", "4={bin}\\exitcode.exe" + Nul + "x,0 --mark {root}\\cut.txt"},
        {"SharedFiles", "{root}\\Keep\\shared.dll" + Nul + "x=1"},
        {"CopyFiles", "{root}\\Keep\\shared.dll" + Nul + "x=1"},
        {"SharedAssemblies", "b=Other.Lib" + Nul + ",Version=9.0.0.0"},
        {"SharedAssemblies", "c=\"Quoted,Lib\",Version=1.0.0.0,extra"},
        {"Shortcuts", "{root}\\Keep\\keep" + Nul + "x=1"},
        {"Shortcuts", "\"{root}\\Keep\\keep\"=1"},
        {"Shortcuts", "=1"},
        {"Shortcuts", ",,,=1"},
        {"AddReg", "{hkcu}\\Keep\\Value" + Nul + "x=0"},
        {"AddReg", "{hkcu}\\Keep" + Nul + "x\\Value=0"},
        {"AddReg", "{hkcu}\\Keep\\Gone=0,extra,fields"},
        {"AddReg", "{hkcu}\\Keep\\'Gone\\Name'=0"},
        {"AddReg", "{hkcu}\\Keep\\Gone=\"0\""},
        {"AddReg", "QzNoRoot-" + appId_ + "\\Value=0"},
        {"AddReg", "{hkcu}\\Gone\\T99=99,x"},
        {"AddReg", "{hkcu}\\Gone\\Tneg=-1,x"},
        {"AddReg", "{hkcu}\\Gone\\Tbig=4294967297,x"},
        {"AddReg", "{hkcu}\\Gone\\T4=4,abc"},
        {"AddReg", "{hkcu}\\Gone\\T4big=4,99999999999"},
        {"AddReg", "{hkcu}\\Gone\\T3=3,zz1"},
        {"AddReg", "{hkcu}\\Gone\\T7=7,a||||b||"},
        {"AddReg", "{hkcu}\\Gone\\T1=1"},
        {"AddReg", "\\Value=0"},
        {"CreateKeys", "{hkcu}\\Keep\\Leaf" + Nul + "x=1"},
        {"CreateKeys", "{hkcu}\\Keep\\Leaf\\" + Nul + "=1"},
        {"CreateKeys", "{hkcu}\\Keep\\ =1"},
        {"CreateKeys", "{hkcu}\\Keep\\\\=1"},
        {"CreateKeys", "QzNoRoot-" + appId_ + "=1"},
        {"CreateKeys", "HKXX\\Keep\\Leaf=1"},
        {"AddIni", "{root}\\Win\\keep.ini,Sec=x"},
        {"AddIni", "{root}\\Win\\keep.ini,Sec="},
        {"AddIni", "{root}\\Win\\keep.ini,Sec,="},
        {"AddIni", "{root}\\Win\\keep.ini,Sec, ="},
        {"AddIni", "{root}\\Win\\keep.ini,Sec,Keep" + Nul + "x="},
        {"AddIni", "{root}\\Win\\keep.ini" + Nul + "x,Sec,Other="},
        {"AddIni", "{root}\\Win\\keep.ini,Sec,Gone,extra="},
        {"AddIni", "{root}\\Win\\keep.ini="},
        {"RegFonts", "{font}" + Nul + "x={root}\\Gone\\f.ttf"},
        {"RegFonts", "Qz Gone (TrueType)={root}\\Keep\\font.ttf" + Nul + "x"},
        {"RegFonts", "Qz Gone (TrueType)="},
        {"RegServers", "{root}\\Gone\\s.dll,extra=1"},
        {"RegServers", "\"{root}\\Gone\\s.dll\"=1"},
        {"RegServers", "=1"},
        {"DataFiles", "{root}\\Keep\\keep.txt" + Nul + "*=1"},
        {"CopyFiles", "{root}\\Keep\\keep.txt" + Nul + ".bak=1"},
        {"CopyFiles", "\"{root}\\Keep\\keep.txt\"=1"},
        {"DataFolders", "{root}\\Keep\\Tree" + Nul + "x=1"},
        {"DataFolders", "\"{root}\\Keep\\Tree\"=1"},
        {"DataFolders", "{root}\\Keep\\Tree,extra=1"},
        {"DataFolders", " =1"},
        {"CreateDirs", "{root}\\Keep\\Empty" + Nul + "x=1"},
        {"RunApp", "1={bin}\\exitcode.exe,0 --mark {root}\\post1.txt,,,,,"},
        {"RunApp", "2=,,,0,Empty program,1,0"},
        {"RunApp", "4={bin}\\exitcode.exe,0 --mark {root}\\post4.txt,,99999999999,,-1,abc"},
        {"RunApp", "3={bin}\\exitcode.exe" + Nul + "x,0 --mark {root}\\cut.txt"},
    });
    Damage(lines);
    EXPECT_EQ(RunWholeUninstall(), 0);
    EXPECT_EQ(boxes_, std::vector<std::string>());
    EXPECT_EQ(prompts_, std::vector<std::string>());
    ExpectSentinelsSurvive();
    ExpectWellFormedLinesUndone(*inst_);
    for (const char* mark : {"pre1.txt", "pre2.txt", "post1.txt", "post4.txt"})
        EXPECT_TRUE(inst_->FileExists(std::string("{root}\\") + mark)) << mark;
    EXPECT_FALSE(inst_->FileExists("{root}\\cut.txt"));
    const std::string removed = ReadFileBytes(inst_->Expand("{root}\\gacutil.args"));
    EXPECT_NE(removed.find("/ur Demo.Lib,Version=1.0.0.0\r\n"), std::string::npos) << removed;
    EXPECT_EQ(removed.find("Other.Lib"), std::string::npos) << removed;
    ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
}

// Character sets and control ids out of range, shared-file counters of 0, of the largest
// number and of a text, and status formats with printf directives, which must show as text.
TEST_F(MalformedRun, NumbersOutOfRangeAndPrintfFormatsInStatusTexts) {
    const std::string format = "%d %n %s%s %x 100% %";
    for (const char* charset : {"-1", "256", "99999999999", "abc"}) {
        SCOPED_TRACE(charset);
        Fresh("[SharedFiles]\n{root}\\Common\\zero.dll=1\n{root}\\Common\\max.dll=1\n"
              "{root}\\Common\\text.dll=1\n[CopyFiles]\n{root}\\Common\\zero.dll=1\n"
              "{root}\\Common\\max.dll=1\n{root}\\Common\\text.dll=1\n{app}\\App.exe=1\n");
        SetSharedCount("{root}\\Common\\zero.dll", 0);
        SetSharedCount("{root}\\Common\\max.dll", 0xFFFFFFFF);
        SetSharedCount("{root}\\Common\\text.dll", 0);
        inst_->SetValue(SharedDlls, "{root}\\Common\\text.dll", REG_SZ, Sz("5"));
        std::vector<std::pair<std::string, std::string>> replacements = {
            {"[Dialog.DLG_START]\r\n",
             "[Display]\r\nCharset=" + std::string(charset) +
                 "\r\n[Dialog.DLG_START]\r\n105=Intro\r\n-1=minus one\r\n0=zero\r\n"
                 "65641=wrapped\r\n4294967297=too big\r\n"}};
        for (int n = 10; n <= 19; ++n) {
            const std::string entry = std::to_string(n);
            replacements.push_back({entry + "=" + entry + ":%s", entry + "=" + entry + " " + format});
        }
        Damage({}, replacements);

        EXPECT_EQ(RunWholeUninstall(), 0);
        EXPECT_EQ(boxes_, std::vector<std::string>());
        EXPECT_EQ(startIntro_, "Intro");
        EXPECT_EQ(prompts_, (std::vector<std::string>{"zero.dll", "text.dll"}));
        for (const std::string& status : promptStatus_)
            EXPECT_TRUE(status == inst_->Expand("18 %d %n {root}\\Common\\zero.dll%s %x 100% %") ||
                        status == inst_->Expand("18 %d %n {root}\\Common\\text.dll%s %x 100% %"))
                << status;
        EXPECT_EQ(promptStatus_.size(), 2u);
        EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Common\\zero.dll").Number(), 0u);
        EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Common\\max.dll").Number(), 0xFFFFFFFEu);
        EXPECT_EQ(inst_->Value(SharedDlls, "{root}\\Common\\text.dll").Text(), "5");
        for (const char* file : {"zero.dll", "max.dll", "text.dll"})
            EXPECT_TRUE(inst_->FileExists(std::string("{root}\\Common\\") + file)) << file;
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        ExpectSentinelsSurvive();
        ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
    }
}

// An identifier that starts with a NUL names, for the system, the Uninstall key itself;
// one with a NUL inside names another application's key. Neither may go, nor may the
// identifier's own key (the text before the NUL is the other key).
TEST_F(MalformedRun, AppIdWithNulDeletesNoOtherApplicationsUninstallKey) {
    const std::string other = appId_ + "-other";
    for (const std::string& appId : {Nul + other, other + Nul + "x", Nul, other + "\\" + Nul,
                                      std::string("\" \""), std::string("\"\t\"")}) {
        SCOPED_TRACE(testing::PrintToString(appId));
        Fresh("[CopyFiles]\n{app}\\App.exe=1\n");
        Damage({}, {{"AppID=" + appId_ + "\r\n", "AppID=" + appId + "\r\n"}});
        EXPECT_EQ(RunWholeUninstall(), 0);
        EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
        EXPECT_TRUE(inst_->KeyExists(key_ + "\\Details"));
        ExpectSentinelsSurvive();
    }
}

TEST_F(MalformedRun, RandomLogsRunThroughTheWholeUninstall) {
    std::mt19937 random(7122026);
    const std::vector<std::string> prefixes = {"{root}\\R\\", "{hkcu}\\R\\", "{hklm}\\R\\",
                                               "{root}\\Win\\r.ini,"};
    for (int i = 0; i < 24; ++i) {
        SCOPED_TRACE("random log " + std::to_string(i));
        // The log's own sections come first, so that the random ones are not duplicates.
        Fresh("[Random]\n@Random@\n");
        Damage({{"Random", RandomLog(random, LogSections, prefixes)}});
        EXPECT_EQ(RunWholeUninstall(), 0);
        ExpectSentinelsSurvive();
        if (HasFailure()) break;
    }
}

// About 50 MB: the page texts and the Strings section of 100,000 lines each, 10,000 files
// to remove, three more sections of 100,000 lines.
TEST_F(MalformedRun, FiftyMegabyteLogRunsThroughTheWholeUninstall) {
    Fresh("[CopyFiles]\n{app}\\App.exe=1\n@CopyFiles@\n[Bulk0]\n@Bulk@\n");
    const std::string start = "[Dialog.DLG_START]\r\nCaption=DLG_START\r\n";
    // Placeholders expanded first: replacing them in 50 MB would take long.
    const std::string gone = inst_->Expand("{root}\\Gone\\");
    Damage({}, {{"@CopyFiles@", BulkLines(10000, gone + "f")},
                {"[Bulk0]\r\n@Bulk@\r\n", BulkSections(3, gone + "b")},
                {start, start + BulkLines(100000, "Text")},
                {"19=19:%s\r\n", "19=19:%s\r\n" + BulkLines(100000, "Extra")}});
    EXPECT_GT(ReadFileBytes(inst_->Log()).size(), 45u << 20);
    const DWORD begin = GetTickCount();
    EXPECT_EQ(RunWholeUninstall(), 0);
    RecordProperty("RunMs", static_cast<int>(GetTickCount() - begin));
    EXPECT_FALSE(inst_->FileExists("{app}\\App.exe"));
    ExpectSentinelsSurvive();
    ExpectTracesGone(inst_->Log(), "{app}\\install.sss");
}

}  // namespace
