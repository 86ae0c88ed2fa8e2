// The log as the program reads it: the INI engine's parse and write rules on models parsed
// from memory (real files only for the block reader and the write-back), damaged logs,
// registry names and entry keys, the lines the removals walk and count, the progress
// percentage, texts, fonts and pictures, unique and short names.
#include <array>
#include <random>
#include <tuple>

#include "Progress.h"
#include "Removal.h"
#include "Rules.h"
#include "Skin.h"
#include "qzFileUtils.h"
#include "qzStrUtils.h"

using namespace rules;

// Reads every section the engine lists as the removals read sections; the key of each line
// must read back. Returns the number of lines.
static int ReadEverything(TqzIniFile& ini) {
    TStringList sections, lines;
    ini.ReadSections(sections);
    int count = 0;
    for (const auto& section : sections.Entries()) {
        lines.Clear(), ini.ReadSectionValues(section.text, lines), count += lines.Count();
        for (const auto& line : lines.Entries())
            EXPECT_NE(ini.ReadString(section.text, NamePart(line.text), "\x01"), "\x01") << section.text << "|" << line.text;
    }
    return count;
}

// Each text read back key by key; damaged lines must spoil no well-formed line around them.
TEST(RulesIni, ParseRulesCommentsBlanksQuotesDuplicatesLineEndsAndDamage) {
    using Reads = std::vector<std::array<std::string, 3>>;  // section, key, value ("d": not found)
    const std::string mb(1 << 20, 'm');
    auto around = [](const std::string& damage) { return "[S]\r\nbefore=1\r\n" + damage + "\r\nafter=2\r\n[T]\r\nnext=3\r\n"; };
    auto with = [](Reads r) { return r.insert(r.end(), {{"S", "before", "1"}, {"S", "after", "2"}, {"T", "next", "3"}}), r; };
    const std::pair<std::string, Reads> cases[] = {
        {"stray=before any header\r\n[Main]\r\n; comment=dropped\r\n   ;indented=comment\r\n\r\nplain line\r\n[unclosed\r\n"
         "key \t=\t value ; not a comment \t\r\n=empty name\r\ndq=\"quoted\"\r\nap='quoted'\r\nmixed=\"x'\r\npair=\"\"\r\n"
         "single=\"\r\ninner=\"a\"b\"\r\nDup=first\r\ndup=second\r\nctl=v\x01\x02\t\r\n[ Spaced ]\ra=1\r[]\r\ne=empty name\r\n"
         "[x=y]\r\nk=v\r\n[MAIN]\r\nkey=duplicate ignored\r\n[main]\r\nextra=ignored\r\n[Last]\r\nlf=one\ntwo\r\nend=no end",
         {{"main", "KEY", "value ; not a comment"}, {"Main", "", "empty name"}, {"Main", "dq", "quoted"}, {"Main", "ap", "quoted"},
          {"Main", "mixed", "\"x'"}, {"Main", "pair", ""}, {"Main", "single", "\""}, {"Main", "inner", "a\"b"}, {"Main", "dup", "first"},
          {"Main", "ctl", "v"}, {"Main", "extra", "d"}, {"Main", "stray", "d"}, {"Main", "plain line", "d"}, {" spaced ", "a", "1"},
          {"Spaced", "a", "d"}, {"", "e", "empty name"}, {"X=Y", "k", "v"}, {"Last", "lf", "onetwo"}, {"Last", "end", "no end"}}},
        {"\xEF\xBB\xBF[A]\r\nk=v\r\n[B]\r\nk=w\r\n", {{"A", "k", "d"}, {"B", "k", "w"}}},
        {"[S]\r\n[A]\nk=v\n[B]\r\nj=w\r\n", {{"A", "k", "d"}, {"A]k=v[B", "j", "w"}}},
        {"[S]\r\nk=a" + Nul + "b\r\n" + Nul + "\r\n[" + Nul + "]\r\nn=1", {{"S", "k", "a" + Nul + "b"}, {Nul, "n", "1"}}},
        {around("na" + Nul + "me=v"), with({{"S", "na" + Nul + "me", "v"}, {"S", "na", "d"}})},
        {around("[Se" + Nul + "c]\r\nin=4"), {{"Se" + Nul + "c", "after", "2"}, {"Se", "in", "d"}, {"S", "after", "d"}}},
        {around("big=" + mb + "\r\n" + mb + "=v"), with({{"S", "big", mb}, {"S", mb, "v"}})},
        {around("[" + mb + "]\r\nin=4"), {{mb, "in", "4"}, {mb, "after", "2"}, {"T", "next", "3"}}},
        {around("[Open\r\nin=4\r\n[Open=x\r\n=lead\r\n=\r\n==\r\n   =blank\r\n\t =tab"),
         with({{"S", "in", "4"}, {"Open", "in", "d"}, {"S", "[Open", "x"}})}};
    for (const auto& [text, reads] : cases) {
        auto ini = IniFromText(text);
        for (const auto& [section, key, value] : reads)
            EXPECT_EQ(ini->ReadString(section, key, "d"), value) << "[" << section.substr(0, 20) << "] " << key.substr(0, 20);
    }
}

// The block reader of a file gives the lines of the text form, across its block ends too.
TEST(RulesIni, LinesOfAFileReadInBlocksAreThoseOfTheTextForm) {
    const size_t block = kTextBlockSize;
    const std::string cases[] = {"", "ab\r\ncd\r\n", "lone\nlf\n", "cr\r\r\n\n\r\n\r", "a" + Nul + "b\r\n" + Nul,
        std::string(3 * block + 17, 'L') + "\r\nshort\r\n" + std::string(block, 'M'), std::string(block - 1, 'a') + "\r\nb",
        std::string(block, 'a') + "\r\nb\r\n", std::string(block - 1, 'a') + "\n\rb", std::string(block - 2, 'a') + "\r\r\r\n",
        std::string(2 * block, '\n') + "tail"};
    test::TempFolder temp("reader");
    for (size_t n = 0; n < std::size(cases); ++n) {
        std::vector<std::string> blocks, memory;
        qz::UniqueHandle file(OpenFileHandle(temp.Write(std::to_string(n), cases[n]), GENERIC_READ, 0, OPEN_EXISTING, 0));
        ForEachTextLine(file.Get(), [&](std::string& line) { blocks.push_back(line); });
        ForEachTextLine(cases[n], [&](std::string& line) { memory.push_back(line); });
        EXPECT_TRUE(blocks == memory) << "case " << n << ": " << blocks.size() << " lines, " << memory.size() << " from memory";
    }
}

// Only a changed model is written back, whole, over the file it was read from: the keys as
// the caller wrote them, only the sections that have lines, and nothing of a longer old
// content past the end of the new one.
TEST(RulesIni, WritesChangeTheModelWhichIsWrittenBackWholeOnlyWhenChanged) {
    test::TempFolder temp("ini");
    const std::string original = "[General]\r\nName = \"Quorvel\"\r\nCount=3\r\n[Empty]\r\n[general]\r\nx=duplicate\r\n"
                                 "[Other]\rx=1\r\n; the old file is longer than the new one\r\n";
    const std::string kept = temp.Write("kept.ini", original), changed = temp.Write("changed.ini", original);
    {
        TqzIniFile unchanged(kept, false), ini(changed, false);
        unchanged.WriteString("GENERAL", "Count", "3"), ini.WriteString("GENERAL", "count", "4"), ini.DeleteKey("Missing", "k");
        ini.WriteString("New", "n", "x=y"), ini.WriteString("other", "", "x"), ini.WriteString("Gone", "k", ""), ini.DeleteKey("gone", "K");
        EXPECT_TRUE(!unchanged.Modified() && ini.Modified() && test::ReadFileBytes(changed) == original) << "written before the end";
    }
    EXPECT_EQ(test::ReadFileBytes(kept), original);
    EXPECT_EQ(test::ReadFileBytes(changed), "[General]\r\nName=Quorvel\r\ncount=4\r\n\r\n[New]\r\nn=x=y\r\n\r\n");
}

// Random bytes, mostly those that make headers, keys, comments and line ends.
TEST(RulesMalformedLog, RandomLogsLoadAndEveryListedKeyReadsBack) {
    std::mt19937 random(20261207);
    int keys = 0;
    for (int log = 0; log < 2000 && !HasFailure(); ++log) {
        std::string text(random() % 1500, ' ');
        for (char& c : text) c = random() % 8 ? "[]=;\r\n\0 \"'\t\\,ab\x80"[random() % 16] : static_cast<char>(random());
        keys += ReadEverything(*IniFromText(text));
    }
    EXPECT_GT(keys, 5000);
}

// The system would see only the text before a NUL and act on another file: such a line is
// left out of the walk and of the progress steps alike, so that the bar still ends full.
// Sorted keys walked from the end meet every key before the keys that are a prefix of it.
TEST(RulesLog, LinesHoldingANulAreNeitherWalkedNorCountedAndKeysSortDeepestLast) {
    MemoryLog log("[CopyFiles]\r\nC:\\qz\\a.txt=1\r\nC:\\qz\\b" + Nul + "x=1\r\nC:\\qz\\c.txt=1" + Nul +
                  "1\r\n[CreateKeys]\r\nHKCU\\A\\B=1\r\nHKCU\\A=1\r\nHKCU\\AB=1\r\nHKCU\\A\\B\\C=1\r\n");
    LoadSectionLines("CopyFiles");
    EXPECT_EQ(Joined(*SectionLines), "C:\\qz\\a.txt=1");
    EXPECT_TRUE(SectionEntryCount("CopyFiles") == 1 && SectionEntryCount("CreateKeys") == 4 && SectionEntryCount("None") == 0);
    LoadSectionLines("createkeys"), SortSectionKeys();
    EXPECT_EQ(Joined(*SectionLines), "HKCU\\A|HKCU\\A\\B|HKCU\\A\\B\\C|HKCU\\AB");
}

TEST(RulesLog, RegistryPathsValueNamesAndEntryKeys) {
    for (const auto& [name, key, value] : {std::tuple("HKLM\\S\\App\\Path", "HKLM\\S\\App", "Path"), {"Name", "", "Name"},
             {"HKLM\\A\\'Dir\\N'", "HKLM\\A", "Dir\\N"}, {"HKLM\\A\\'It''s'", "HKLM\\A", "It's"}, {"HKLM\\A\\", "HKLM\\A", ""},
             {"HKLM\\A\\\"a\\b\"", "HKLM\\A", "\"a\\b\""}})
        EXPECT_TRUE(ExtractKeyPath(name) == key && ExtractValueName(name) == value) << name;
    EXPECT_TRUE(EntryKey("C:\\a=b.txt=1") == "C:\\a=b.txt" && EntryKey("C:\\x.dll=") == "C:\\x.dll" && EntryKey("x").empty());
    for (const auto& [path, root, subkey] : {std::tuple("HKLM\\SOFTWARE\\M\\", HKEY_LOCAL_MACHINE, "SOFTWARE\\M"),
             {"HkCu\\A\\B", HKEY_CURRENT_USER, "A\\B"}, {"HKCR\\.txt", HKEY_CLASSES_ROOT, ".txt"}, {"HKLM", HKEY_LOCAL_MACHINE, ""},
             {"hku\\.DEFAULT", HKEY_USERS, ".DEFAULT"}, {"HKEY_LOCAL_MACHINE\\S", HKEY_CURRENT_USER, "HKEY_LOCAL_MACHINE\\S"},
             {"HKLMX\\A", HKEY_CURRENT_USER, "HKLMX\\A"}, {"S\\V\\", HKEY_CURRENT_USER, "S\\V"}, {"", HKEY_CURRENT_USER, ""}}) {
        std::pair<HKEY, std::string> got(nullptr, "stale");
        SplitRegPath(path, got.first, got.second);
        EXPECT_TRUE(got == std::pair(root, std::string(subkey))) << path << " gave " << got.second;
    }
}

// Copies of a list share its texts, yet each list changes alone, and the texts outlive the
// list that kept them; so do those of an engine copied from another.
TEST(RulesList, CopiesShareTextsButChangeAloneAndOutliveTheirList) {
    auto list = std::make_unique<TStringList>();
    for (int i = 0; i < 300; ++i) list->Add("line" + std::to_string(i) + "=" + std::string(i, 'x'));
    TStringList copy(*list), assigned;
    assigned.Assign(copy);
    list->Add("original=1"), copy.Add("copy=1"), copy.SetString(0, copy.Strings(2)), assigned.Delete(1);
    EXPECT_EQ(list->Strings(300), "original=1");
    list.reset();
    EXPECT_EQ(std::string(copy.Strings(0)) + "|" + std::string(copy.Strings(1)) + "|" + std::string(copy.Strings(300)), "line2=xx|line1=x|copy=1");
    EXPECT_TRUE(assigned.Count() == 299 && assigned.Values("line2") == "xx" && assigned.Values("line299") == std::string(299, 'x'));
    auto model = IniFromText("[A]\r\nk = \"v\"\r\n[b]\r\nx=1\r\n[a]\r\nk=2\r\n");
    TqzIniFile shared("C:\\SHARED.INI", *model);
    model.reset();
    EXPECT_EQ(shared.ReadString("a", "K", "") + shared.ReadString("B", "x", "") + shared.FileName(), "v1C:\\SHARED.INI");
}

TEST(RulesProgress, PercentRoundsHalfToEvenAndIsZeroWhileNothingIsCounted) {
    for (const auto& [done, total, percent] : {std::tuple(0, 0, 0), {5, 0, 0}, {1, -4, 0}, {0, 7, 0}, {7, 7, 100}, {1, 3, 33},
             {2, 3, 67}, {1, 8, 12}, {3, 8, 38}, {5, 8, 62}, {7, 8, 88}, {1, 200, 0}, {3, 200, 2}, {5, 200, 2}, {1, 400, 0},
             {199, 200, 100}, {INT32_MAX, INT32_MAX, 100}, {1, INT32_MAX, 0}, {INT32_MAX / 2 + 1, INT32_MAX, 50}})
        EXPECT_EQ(ProgressPercent(done, total), percent) << done << " of " << total;
}

TEST(RulesSkin, LogTextsStatusFormatsFontFieldsAndTheCharacterSetReadAnewEachTime) {
    MemoryLog log("[Strings]\r\n1=Quorvel\r\n10=Removing %s...\r\n11=a|||b\r\n13=100% done %d %n %s%s %\r\n14=%%s then %s\r\n"
                  "[Dialog.DLG_TEST]\r\nCaption=First||Second\r\n[Display]\r\nCharset=204\r\n");
    auto spec = [](const char* text) { const TFontSpec f = ParseFontSpec(text); return f.face + "|" + std::to_string(f.size) + "|" +
        std::to_string(f.color) + std::string(f.bold, 'B') + std::string(f.italic, 'I') + std::string(f.underline, 'U'); };
    auto charset = [&log](std::string text) { return log.Use("[Display]\r\n" + text), +BuildLogFont("A", 8, 0, 0, 0).lfCharSet; };
    const LOGFONTA font = BuildLogFont(std::string(40, 'F'), 10, true, false, true);
    ExpectRules({RULE(ReadLogText("Dialog.DLG_TEST", "Caption", ""), "First\rSecond"),
        RULE(ReadLogText("dialog.dlg_test", "caption", ""), "First\rSecond"), RULE(ReadLogText("None", "x", "x||y"), "x\ry"),
        RULE(StringsEntry(1), "Quorvel"), RULE(StringsEntry(11), "a\r|b"), RULE(StringsEntry(12), ""),
        RULE(FormatStringsEntry(10, "C:\\a.dll"), "Removing C:\\a.dll..."), RULE(FormatStringsEntry(12, "x"), ""),
        RULE(FormatStringsEntry(13, "50%s%d"), "100% done %d %n 50%s%d%s %"), RULE(FormatStringsEntry(14, "x"), "%s then x"),
        RULE(std::make_tuple(font.lfWeight, font.lfItalic, font.lfUnderline, font.lfCharSet, std::string(font.lfFaceName)),
             std::make_tuple(LONG(FW_BOLD), BYTE(0), BYTE(1), BYTE(204), std::string(31, 'F'))),
        RULE(spec("Arial"), "Arial|8|0"), RULE(spec("Arial,abc,xyz"), "Arial|8|0"), RULE(spec("Arial,12,255,BIU"), "Arial|12|255BIU"),
        RULE(spec("Arial, 14,$FF00,biuXB"), "Arial|14|65280B"), RULE(spec("'Times, Roman',9,,I"), "Times, Roman|9|0I"),
        RULE(spec(",,,U"), "|8|0U"), RULE(charset("Charset=abc"), DEFAULT_CHARSET), RULE(charset("Charset=300"), DEFAULT_CHARSET),
        RULE(charset("Charset=-1"), DEFAULT_CHARSET), RULE(charset("Charset=0"), ANSI_CHARSET), RULE(charset(""), DEFAULT_CHARSET)});
}

TEST(RulesSkin, LinkedBannersAreEightBitPicturesAndIconsHaveAnImageForEverySize) {
    auto header = [](const char* name, int type) { HRSRC found = FindResourceA(nullptr, name, MAKEINTRESOURCEA(type));
        return found ? static_cast<BITMAPINFOHEADER*>(LockResource(LoadResource(nullptr, found))) : nullptr; };
    for (const auto& [name, width, height] : {std::tuple("TopBanner", 502, 64), {"LeftBanner", 189, 316}}) {
        const BITMAPINFOHEADER* bitmap = header(name, 2);  // RT_BITMAP
        EXPECT_TRUE(bitmap && bitmap->biWidth == width && std::abs(bitmap->biHeight) == height && bitmap->biBitCount == 8 &&
                    (bitmap->biCompression == BI_RGB || bitmap->biCompression == BI_RLE8)) << name;
    }
    for (const auto& [name, size] : {std::pair("MAINICON", 16), {"MAINICON", 32}, {"MAINICON", 48}, {"STATEPROGRESS", 16},
                                     {"STATEPROGRESS", 32}, {"STATEFINISHED", 16}, {"STATEFINISHED", 32}}) {
        auto directory = reinterpret_cast<PBYTE>(header(name, 14));  // RT_GROUP_ICON, then RT_ICON
        auto image = directory ? header(MAKEINTRESOURCEA(LookupIconIdFromDirectoryEx(directory, TRUE, size, size, 0)), 3) : nullptr;
        EXPECT_TRUE(image && image->biWidth == size) << name << " " << size;
    }
}

// Unique names: the prefix, eight base-32 digits of the time (the short form keeps eight
// characters in all), the extension; a name that is taken is stepped over.
TEST(RulesDeferred, UniqueNamesAndShortNames) {
    test::TempFolder temp("unique");
    auto unique = [&temp](const char* prefix, const char* extension, bool shortForm) {
        return MakeUniqueFileName(temp.Path(), prefix, extension, shortForm); };
    const std::string digits = "0123456789ABCDEFGHIJKLMNOPQRSTUV", bare = unique("", ".bat", true), cut = unique("setup", ".tmp", true);
    const std::string taken = ExtractFileName(temp.Write(unique("setup", "", false)));
    EXPECT_TRUE(bare.size() == 12 && bare.find_first_not_of(digits) == 8 && bare.substr(8) == ".bat") << bare;
    EXPECT_TRUE(cut.substr(0, 4) + cut.substr(8) == "setu.tmp" && cut.find_first_not_of(digits, 4) == 8) << cut;
    EXPECT_TRUE(taken.size() == 13 && taken.find("setup") == 0 && taken.find_first_not_of(digits, 5) == std::string::npos) << taken;
    EXPECT_GT(unique("setup", "", false), taken);
    const std::string path = temp.Write("Long folder name\\A long file name.text"), shortName = GetShortName(path);
    EXPECT_TRUE(shortName.find('~') != std::string::npos && ExpandFileName(shortName) != path && FileExists(shortName)) << shortName;
    EXPECT_EQ(GetShortName(temp / "no such file.text"), temp / "no such file.text");
}
