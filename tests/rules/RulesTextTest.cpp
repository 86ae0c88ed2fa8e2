// Text, number, list and path helpers: what the log's fields, numbers and paths become; the
// guard between the paths a log names and the deletions; the masks of searches.
#include <shlobj.h>

#include <algorithm>

#include "Rules.h"
#include "SafePaths.h"
#include "qzFileFind.h"
#include "qzFileUtils.h"
#include "qzStrUtils.h"
#include "qzWinUtils.h"

using rules::ExpectRules;

TEST(RulesText, FieldsQuotesNameValuePartsFormatsArgumentsAndNumbers) {
    auto read = [](const char* text) { int32_t value = 0; return TryStrToInt(text, value) ? std::to_string(value) : "refused"; };
    const std::string text = "a,\"b,c\",'d'", quoted = "'it''s,here',next";
    const char* line = "\"C:\\Prog Files\\u.exe\"  \"C:\\My Logs\\in stall.log\" second";
    ExpectRules({RULE(GetField(1, text, ","), "a"), RULE(GetField(0, text, ","), "a"), RULE(GetField(4, text, ","), ""),
        RULE(GetField(2, text, ","), "\"b,c\""), RULE(GetField(3, text, ","), "d"), RULE(GetField(2, "a, b", ","), " b"),
        RULE(GetField(2, "x, 'q'", ","), " 'q'"), RULE(GetField(1, quoted, ","), "it's,here"), RULE(GetField(2, quoted, ","), "next"),
        RULE(GetField(3, "a;b c", "; "), "c"), RULE(StripQuotes("'it''s'", '\''), "it's"), RULE(StripQuotes("plain", '\''), "plain"),
        RULE(StripQuotes("\"\"", '"'), ""), RULE(StripQuotes("\"ab\"cd", '"'), "ab"), RULE(StripQuotes("\"abc", '"'), "ab"),
        RULE(NamePart("a=b=c"), "a"), RULE(ValuePart("a=b=c"), "b=c"), RULE(NamePart("abc"), "abc"), RULE(ValuePart("abc"), ""),
        RULE(ReplaceAll("aaa", "aa", "b"), "ba"), RULE(ReplaceAll("abc", "", "x"), "abc"), RULE(ReplaceAll("aa", "a", "aa"), "aaaa"),
        RULE(RemoveSpaces(" 0A 1B "), "0A1B"), RULE(Trim(std::string("\t a b\r\n\0", 8)), "a b"),
        // A log value never acts as a printf format: only "%%" and the first "%s" count.
        RULE(FormatOneString("Removing %s...", "C:\\a"), "Removing C:\\a..."), RULE(FormatOneString("100%% %s", "x"), "100% x"),
        RULE(FormatOneString("%s and %s", "a"), "a and %s"), RULE(FormatOneString("%d %n %x %", "a"), "%d %n %x %"),
        RULE(FormatOneString("%s", "50% %s"), "50% %s"), RULE(ParamStr(line, 0), "C:\\Prog Files\\u.exe"),
        RULE(ParamStr(line, 1), "C:\\My Logs\\in stall.log"), RULE(ParamStr(line, 2), "second"), RULE(ParamStr(line, 3), ""),
        RULE(ParamStr("u.exe a\"b c\"d", 1), "ab cd"), RULE(ParamStr("u.exe\tx", 1), "x"), RULE(ParamStr(nullptr, 1), ""),
        RULE(read("  42"), "42"), RULE(read("-5"), "-5"), RULE(read("+7"), "7"), RULE(read("$1F"), "31"),
        RULE(read("$ffffffff"), "-1"), RULE(read("$000000001F"), "31"), RULE(read("-2147483648"), "-2147483648"),
        RULE(read("2147483647"), "2147483647"), RULE(read("2147483648"), "refused"), RULE(read("$123456789"), "refused"),
        RULE(read("-$1F"), "refused"), RULE(read("12abc"), "refused"), RULE(read(" "), "refused"), RULE(read("$"), "refused"),
        RULE(read("4 "), "refused"), RULE(read("0x1F"), "refused"), RULE(StrToDWordDef("4294967295", 7), -1),
        RULE(StrToDWordDef("2147483648", 7), INT32_MIN), RULE(StrToDWordDef("4294967296", 7), 0), RULE(StrToDWordDef("12x", 7), 7),
        RULE(HexToInt("$1F"), 31), RULE(HexToInt("1G"), 0), RULE(ToHex(10, 2), "0A"), RULE(IntToBase(33, 3, 32), "011")});
}

// From 16 entries on, every lookup by name after the first goes through a hashed index,
// which each change must drop.
TEST(RulesText, NameValueViewsOfAListTakeTheFirstMatchIgnoringCaseAndPathParts) {
    TStringList list;
    for (const char* line : {"plain", "Key=first", "key=second=more", "=empty"}) list.Add(line);
    for (int i = 0; i < 16; ++i) list.Add("n" + std::to_string(i) + "=" + std::to_string(i));
    for (int round = 0; round < 2; ++round)
        ExpectRules({RULE(list.Names(0), ""), RULE(list.IndexOfName("KEY"), 1), RULE(list.Values("key"), "first"),
                     RULE(list.IndexOfName("plain"), -1), RULE(list.IndexOfName(""), 3), RULE(list.Values("N15"), "15")});
    list.Delete(1), list.SetString(2, "other=x");
    ExpectRules({RULE(list.Values("Key"), "second=more"), RULE(list.IndexOfName("n0"), 3), RULE(list.Values("OTHER"), "x"),
        RULE(IncludeTrailingBackslash(""), ""), RULE(IncludeTrailingBackslash("C:\\A"), "C:\\A\\"),
        RULE(IncludeTrailingBackslash("C:\\A\\"), "C:\\A\\"), RULE(ExcludeTrailingBackslash("C:\\A\\"), "C:\\A"),
        RULE(ExtractFilePath("C:\\A\\b.txt"), "C:\\A\\"), RULE(ExtractFilePath("C:b.txt"), "C:"), RULE(ExtractFilePath("b"), ""),
        RULE(ExtractFileName("C:\\A\\b.txt"), "b.txt"), RULE(ExtractFileName("C:b.txt"), "b.txt"), RULE(ExtractFileExt("C:\\A.d\\b"), ""),
        RULE(ExtractFileExt("C:\\A\\b.tar.GZ"), ".GZ"), RULE(ChangeFileExt("C:\\A\\install.log", ".sss"), "C:\\A\\install.sss"),
        RULE(ChangeFileExt("C:\\A.d\\install", ".sss"), "C:\\A.d\\install.sss"), RULE(ExpandFileName("C:\\A\\.\\B\\..\\c"), "C:\\A\\c")});
}

TEST(RulesGuard, RefusesEveryPlaceInEverySpellingAndEveryUnclearFormButNotWhatLiesBelow) {
    auto folder = [](int id) { char path[MAX_PATH] = ""; return SHGetFolderPathA(0, id, 0, 0, path), ExcludeTrailingBackslash(path); };
    std::vector<std::string> refused = {"", "C:\\", "c:/", "C:\\\\", "\\\\server\\share", "\\\\server\\share\\", "\\\\server",
        "\\\\?\\C:\\", "\\\\?\\C:\\qztests\\App", "\\\\.\\C:\\", "\\\\.\\C:", "\\\\?\\UNC\\server\\share\\App", "App\\x.dll", "..\\App",
        "\\qztests\\App", "C:qztests\\App", "C:..\\App", "C:\\qztests\\App\\..\\..\\", "C:/qztests/App/../x.dll", "C:\\qztests\\App:s",
        "C:\\qztests\\App\\.\\x.dll", "C:\\qztests\\App\\ ..\\x", "C:\\qztests\\App\\...\\x", "C:\\qztests\\App\\. \\x.dll",
        "C:\\qztests\\App\\x.dll::$DATA"};
    const std::string profiles = ExcludeTrailingBackslash(ExtractFilePath(folder(CSIDL_PROFILE)));
    std::vector<std::string> places = {"C:", "Z:", GetWindowsDir(), GetWindowsDir() + "\\Sysnative", GetWindowsDir() + "\\SysWOW64",
                                       profiles, profiles + "\\SomeoneElse",
                                       ExcludeTrailingBackslash(getenv("TEMP")), ExcludeTrailingBackslash(getenv("TMP"))};
    for (int csidl : {CSIDL_SYSTEM, CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROFILE, CSIDL_DESKTOPDIRECTORY,
                      CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_PROGRAMS, CSIDL_COMMON_PROGRAMS, CSIDL_STARTUP,
                      CSIDL_FONTS, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA, CSIDL_PERSONAL, CSIDL_SENDTO})
        places.push_back(folder(csidl));
    for (const std::string& place : places) {
        refused.insert(refused.end(), {place + "\\", ReplaceAll(place, "\\", "/") + "/", UpperCase(place), LowerCaseAscii(place),
            place + ".", place + " ", place + "\\.", "\\\\?\\" + place, place + "::$INDEX_ALLOCATION", place + ":$I30:$INDEX_ALLOCATION",
            place + "\\..\\" + place.substr(place.rfind('\\') + 1)});
        if (place.size() > 2) refused.push_back(place), refused.push_back(GetShortName(place));
    }
    for (const std::string& path : refused) EXPECT_TRUE(IsProtectedPath(path)) << path;
    for (const std::string& path : std::vector<std::string>{"C:\\qztests\\App", "C:\\App\\file..txt", "\\\\server\\share\\App",
             GetWindowsDir() + "\\qz.dll", folder(CSIDL_SYSTEM) + "\\qz.dll", folder(CSIDL_FONTS) + "\\qz.ttf", folder(CSIDL_PROFILE) + "\\V",
             folder(CSIDL_PROGRAM_FILES) + "\\V\\App", folder(CSIDL_COMMON_PROGRAMS) + "\\V", folder(CSIDL_DESKTOPDIRECTORY) + "\\App.lnk"})
        EXPECT_FALSE(IsProtectedPath(path)) << path;
}

// Names match masks by their long form alone; searches pick entries by attributes. Wine
// gives every file the archive bit: an include mask that no entry has (system) stands in
// for a file with none of the six bits.
TEST(RulesGuard, NameMasksAndAttributeMasks) {
    for (const auto& [name, mask, matches] : {std::tuple("page.htm", "*.htm", true), {"page.html", "*.htm", false},
             {"PAGE.HTM", "*.htm", true}, {"a.tmp", "?.tmp", true}, {"ab.tmp", "?.tmp", false}, {"README", "*.*", true},
             {"setup", "setup.*", true}, {"setup2", "setup.*", false}, {"noext", "*.", true}, {"has.ext", "*.", false}})
        EXPECT_EQ(MatchesFileMask(name, mask), matches) << name << " " << mask;
    EXPECT_TRUE(HasWildcards("C:\\a\\*.txt") && HasWildcards("a?") && !HasWildcards("C:\\a.txt"));
    test::TempFolder temp("find");
    SetFileAttributesA(temp.Write("hidden").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
    SetFileAttributesA(temp.Write("readonly").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
    temp.Write("plain"), CreateDirectoryA((temp / "sub").c_str(), nullptr);
    auto found = [&](const std::string& mask, int32_t include, int32_t exclude) {  // the initials of the entries
        std::string initials;
        TSearchRecEx record;
        for (DWORD result = FindFirstEx(mask, include, exclude, record); result == 0; result = FindNextEx(record))
            initials += record.FullName == temp / record.Name ? record.Name[0] : '?';
        return FindCloseEx(record), std::sort(initials.begin(), initials.end()), initials;
    };
    const std::string all = temp / "*";
    ExpectRules({RULE(found(all, 0, 0), "hprs"), RULE(found(all, 63, 0), "hprs"), RULE(found(all, 0, 0x18), "hpr"),
        RULE(found(all, FILE_ATTRIBUTE_SYSTEM, 0), ""), RULE(found(all, FILE_ATTRIBUTE_DIRECTORY, 0), "s"),
        RULE(found(all, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY, 0), "hr"), RULE(found(temp / "sub\\*", 0, 0), ""),
        RULE(found(all, FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_HIDDEN), "pr"), RULE(found(temp / "none\\*", 0, 0), "")});
}
