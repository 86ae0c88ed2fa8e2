#include <gtest/gtest.h>

#include <random>

#include "TestSupport.h"
#include "qzFileUtils.h"
#include "qzIniFile.h"
#include "qzWinUtils.h"

namespace {

std::string Joined(const TStringList& list) {
    std::string text;
    for (int i = 0; i < list.Count(); ++i) text += (i ? "|" : "") + list.Strings(i);
    return text;
}

std::string SectionNames(TqzIniFile& ini) {
    TStringList names;
    ini.ReadSections(names);
    return Joined(names);
}

std::string KeyNames(TqzIniFile& ini, const std::string& section) {
    TStringList names;
    ini.ReadSection(section, names);
    return Joined(names);
}

struct Read {
    std::string section, key, expected;
};

void ExpectReads(TqzIniFile& ini, std::initializer_list<Read> reads) {
    for (const Read& read : reads)
        EXPECT_EQ(ini.ReadString(read.section, read.key, "d"), read.expected)
            << "[" << read.section << "] " << read.key;
}

bool OpensForWriting(const std::string& path) {
    qz::UniqueHandle file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid();
}

}  // namespace

TEST(IniFile, LogSyntaxCommentsBlanksQuotesDuplicatesAndLineEnds) {
    test::TempFolder temp("ini");
    std::string longValue(250, 'v');
    std::string path = temp.Write("install.log",
        "stray=before any header\r\n"
        "[Main]\r\n"
        "; comment=dropped\r\n"
        "   ;indented=comment\r\n"
        "\r\n"
        "plain line without equals\r\n"
        "[unclosed\r\n"
        "key \t=\t value ; not a comment \t\r\n"
        "=empty name\r\n"
        "dq=\"quoted\"\r\nap='quoted'\r\nmixed=\"x'\r\npair=\"\"\r\nsingle=\"\r\ninner=\"a\"b\"\r\n"
        "Dup=first\r\ndup=second\r\n"
        "ctl=v\x01\x02\t\r\n"
        "[ Spaced Name ]\ra=1\r"
        "[]\r\ne=empty section name\r\n"
        "[x=y]\r\nk=v\r\n"
        "[MAIN]\r\nkey=duplicate ignored\r\n[main]\r\nextra=ignored\r\n"
        "[Last]\r\nlf=one\ntwo\r\nlong=" + longValue + "\r\nend=no line end");
    TqzIniFile ini(path, true);
    EXPECT_EQ(SectionNames(ini), "Main| Spaced Name ||x=y|Last");
    EXPECT_FALSE(ini.Modified());  // dropping duplicates alone is no change to write back
    EXPECT_EQ(KeyNames(ini, "MAIN"), "key||dq|ap|mixed|pair|single|inner|Dup|dup|ctl");
    ExpectReads(ini, {{"main", "KEY", "value ; not a comment"}, {"Main", "", "empty name"},
                      {"Main", "dq", "quoted"}, {"Main", "ap", "quoted"}, {"Main", "mixed", "\"x'"},
                      {"Main", "pair", ""}, {"Main", "single", "\""}, {"Main", "inner", "a\"b"},
                      {"Main", "dup", "first"}, {"Main", "ctl", "v"}, {"Main", "extra", "d"},
                      {"Main", "stray", "d"}, {" spaced name ", "a", "1"}, {"Spaced Name", "a", "d"},
                      {"", "e", "empty section name"}, {"X=Y", "k", "v"}, {"Last", "lf", "onetwo"},
                      {"Last", "long", longValue}, {"Last", "end", "no line end"}});
    ini.DeleteKey("Main", "DUP");
    EXPECT_EQ(ini.ReadString("Main", "dup", "d"), "second");
}

TEST(IniFile, ParseOptionsOffKeepLinesAsWritten) {
    test::TempFolder temp("ini");
    std::string path = temp.Write("raw.ini", "[S]\r\n;c=1\r\nplain\r\nk = \"v\"\r\n");
    TqzIniFile ini(path, true, false, false, false, false);
    EXPECT_EQ(KeyNames(ini, "S"), ";c||k ");
    EXPECT_EQ(ini.ReadString("S", "k ", "d"), " \"v\"");
    TStringList lines;
    ini.GetStrings(lines);
    EXPECT_EQ(Joined(lines), "[S]|;c=1|plain|k = \"v\"|");
}

TEST(IniFile, ReadIntegerAcceptsDecimalAndHexAndFallsBackOtherwise) {
    test::TempFolder temp("ini");
    TqzIniFile ini(temp.Write("n.ini",
        "[N]\r\nh1=0x1F\r\nh2=0X1f\r\nh3=$1F\r\nzeros=$00000000001f\r\nff=0xFFFFFFFF\r\n"
        "neg=-5\r\nplus=+7\r\nlead=\"   42\"\r\nmin=-2147483648\r\n"
        "b1=12abc\r\nb2=-$1F\r\nb3=2147483648\r\nb4=\r\nb5=0x\r\nb6=$123456789\r\nb7=1 2\r\n"
        "b8=\" 0x1F\"\r\nb9=42 \"\r\nb10=$1G\r\nt=2\r\nf=0\r\n"), true);
    const std::pair<const char*, int32_t> accepted[] = {
        {"h1", 31}, {"h2", 31}, {"h3", 31}, {"zeros", 31}, {"ff", -1}, {"neg", -5},
        {"plus", 7}, {"lead", 42}, {"min", INT32_MIN}};
    for (const auto& [key, value] : accepted) EXPECT_EQ(ini.ReadInteger("n", key, 99), value) << key;
    for (const char* key : {"b1", "b2", "b3", "b4", "b5", "b6", "b7", "b8", "b9", "b10", "missing"})
        EXPECT_EQ(ini.ReadInteger("N", key, 99), 99) << key;
    EXPECT_EQ(ini.ReadInteger("Missing", "h1", -3), -3);
    EXPECT_TRUE(ini.ReadBool("N", "t", false));
    EXPECT_FALSE(ini.ReadBool("N", "f", true));
    EXPECT_TRUE(ini.ReadBool("N", "b1", true));
    EXPECT_FALSE(ini.ReadBool("N", "b1", false));
}

TEST(IniFile, ReadWriteEngineRewritesTheHeldFileInCanonicalForm) {
    test::TempFolder temp("ini");
    const std::string original =
        "; header comment\r\norphan=1\r\n[General]\r\nName = \"Quorvel\"\r\nCount=3\r\n\r\n"
        "[Empty]\r\n[general]\r\nLost=yes\r\n[Other]\rx=1\r; trailing comment: the old file is longer\r\n";
    std::string path = temp.Write("app.ini", original);
    {
        TqzIniFile ini(path, false);
        ini.WriteString("GENERAL", "count", "4");
        ini.WriteInteger("New", "n", -12);
        ini.WriteBool("Other", "b", true);
        ini.DeleteKey("Missing", "k");
        EXPECT_EQ(SectionNames(ini), "General|Empty|Other|New|Missing");
        EXPECT_FALSE(OpensForWriting(path));  // held: others may read only
        EXPECT_EQ(test::ReadFileBytes(path), original);  // nothing written before the end
    }
    EXPECT_EQ(test::ReadFileBytes(path),
              "[General]\r\nName=Quorvel\r\ncount=4\r\n\r\n[Other]\r\nx=1\r\nb=1\r\n\r\n[New]\r\nn=-12\r\n\r\n");
    EXPECT_TRUE(OpensForWriting(path));
}

TEST(IniFile, UnchangedFileStaysAsItIsAndChangesReachANewFile) {
    test::TempFolder temp("ini");
    const std::string original = "[A]\r\n;c\r\nk = v\r\n[a]\r\nk=duplicate\r\n";
    std::string kept = temp.Write("kept.ini", original);
    {
        TqzIniFile ini(kept, false);
        EXPECT_EQ(ini.ReadString("a", "k", ""), "v");
        ini.WriteString("A", "k", "v");
    }
    EXPECT_EQ(test::ReadFileBytes(kept), original);

    std::string path = temp / "sub\\dir\\new.ini";
    TqzIniFile ini(path, false);
    EXPECT_FALSE(test::PathExists(path));
    ini.WriteString("S", "k", "");
    EXPECT_EQ(ini.ReadString("S", "k", "d"), "");
    ini.WriteString("", "", "");  // writes the file back now
    EXPECT_FALSE(ini.Modified());
    EXPECT_EQ(test::ReadFileBytes(path), "[S]\r\nk=\r\n\r\n");
    ini.WriteString("s", "k", "");
    EXPECT_FALSE(ini.Modified());  // identical line
    ini.WriteString("s", "K", "");
    EXPECT_TRUE(ini.Modified());  // the key is written as the caller wrote it
    ini.WriteString("S", "", "x");  // erases the section
    EXPECT_EQ(SectionNames(ini), "");
    ini.UpdateFile();
    EXPECT_EQ(test::ReadFileBytes(path), "");
}

TEST(IniFile, SectionListOperations) {
    test::TempFolder temp("ini");
    std::string path = temp.Write("s.ini", "[A]\r\na=1\r\nb=2\r\n[B]\r\n[C]\r\nc=3\r\n[Z]\r\n=x\r\nq=1\r\n");
    TqzIniFile ini(path, true);
    TStringList target;
    target.Add("z=zdef");
    target.Add("a=adef");
    ini.ReadSectionValues("Missing", target);
    EXPECT_EQ(Joined(target), "z=zdef|a=adef");
    ini.ReadSectionValues("a", target);
    EXPECT_EQ(Joined(target), "a=1|b=2|z=zdef");
    ini.ReadSection("c", target);
    ini.ReadSection("missing", target);
    EXPECT_EQ(Joined(target), "a=1|b=2|z=zdef|c");

    TStringList source;
    source.Add("a=9");
    source.Add("novalue");
    source.Add("d=x=y");
    ini.WriteSectionValues("B", source);
    ini.WriteSectionValues("C", *ini.Sections().LinesAt(ini.Sections().IndexOf("A")));
    // Its own lines: "=x" erases the section on the way, "q=1" then creates it anew.
    ini.WriteSectionValues("Z", *ini.Sections().LinesAt(ini.Sections().IndexOf("Z")));
    EXPECT_EQ(KeyNames(ini, "Z"), "q");
    EXPECT_EQ(ini.ReadString("B", "novalue", "d"), "");
    EXPECT_EQ(ini.ReadString("B", "d", ""), "x=y");
    ini.EraseSection("a");
    ini.EraseSection("missing");
    EXPECT_EQ(ini.ReadString("A", "a", "gone"), "gone");
    TStringList lines;
    lines.Add("kept");
    ini.GetStrings(lines);
    EXPECT_EQ(Joined(lines), "kept|[B]|a=9|novalue=|d=x=y||[C]|c=3|a=1|b=2||[Z]|q=1|");
    EXPECT_EQ(ini.Sections().IndexOf("c"), 1);
    EXPECT_EQ(ini.Sections().LastIndex, 1);
}

TEST(IniFile, AFileHeldWithoutSharingCannotBeOpened) {
    test::TempFolder temp("ini");
    std::string path = temp.Write("50%s%d%n.ini", "[A]\r\nk=v\r\n");
    test::HeldFile held(path);
    ASSERT_TRUE(held.Held());
    for (bool readOnly : {true, false}) {
        try {
            TqzIniFile ini(path, readOnly);
            ADD_FAILURE() << "opened a held file, read-only " << readOnly;
        } catch (const EInOutError& error) {
            EXPECT_EQ(std::string(error.what()), "Cannot open file " + path);
        }
    }
}

TEST(IniFile, MissingFileGivesAnEmptyModelAndBareNamesLiveInTheWindowsFolder) {
    test::TempFolder temp("ini");
    {
        TqzIniFile ini(temp / "none.ini", true);
        ini.WriteString("S", "k", "v");
        EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
    }
    EXPECT_FALSE(test::PathExists(temp / "none.ini"));
    TqzIniFile bare("qz-surely-missing.ini", true);
    EXPECT_EQ(bare.FileName(), GetWindowsDir() + "\\qz-surely-missing.ini");
    TqzIniFile unnamed("", false);
    unnamed.WriteString("S", "k", "v");
    unnamed.UpdateFile();
    EXPECT_EQ(unnamed.FileName(), "");
}

TEST(IniFile, ByteOrderMarkLfOnlyBinaryEmptyAndNulFilesReadAsTheirLines) {
    test::TempFolder temp("ini");
    TqzIniFile bom(temp.Write("bom.ini", "\xEF\xBB\xBF[A]\r\nk=v\r\n[B]\r\nk=w\r\n"), true);
    EXPECT_EQ(SectionNames(bom), "B");
    TqzIniFile lf(temp.Write("lf.ini", "[A]\nk=v\n[B]\n"), true);
    EXPECT_EQ(SectionNames(lf), "A]k=v[B");
    TqzIniFile empty(temp.Write("empty.ini", ""), false);
    EXPECT_EQ(SectionNames(empty), "");
    TqzIniFile nul(temp.Write("zeros.ini", std::string("[S]\r\nk=a\0b\r\n\0\0\0\r\n[\0]\r\n", 22)), true);
    EXPECT_EQ(nul.ReadString("S", "k", ""), std::string("a\0b", 3));
    EXPECT_EQ(nul.Sections().Count(), 2);
    std::mt19937 random(7);
    std::string noise(300000, '\0');
    for (char& c : noise) c = "[]=;\r\n\0 \"x"[random() % 11];
    TqzIniFile binary(temp.Write("noise.bin", noise), false);
    TStringList lines;
    binary.GetStrings(lines);
    EXPECT_GT(lines.Count(), 0);
    TqzIniFile oneLine(temp.Write("one.ini", "[" + std::string(2000000, 'x') + "]"), true);
    EXPECT_EQ(oneLine.Sections().Strings(0).size(), 2000000u);
}

TEST(IniFile, AFileShorterThanItsReportedSizeEndsTheLoad) {
    // Linux system files report 4096 bytes but read as a few: reads stop moving on.
    const std::string path = "Z:\\sys\\devices\\system\\cpu\\online";
    if (!FileExists(path)) GTEST_SKIP() << "no " << path;
    TqzIniFile ini(path, true);
    EXPECT_EQ(ini.Sections().Count(), 0);
}

TEST(IniFile, LargeLogsLoadInLinearTime) {
    test::TempFolder temp("ini");
    std::string log, duplicates;
    for (int s = 0; s < 1000; ++s) {
        log += "[Section" + std::to_string(s % 600) + "]\r\n";  // 400 duplicates
        for (int k = 0; k < 100; ++k) log += "Key" + std::to_string(k) + " = \"value\"\r\n";
    }
    for (int s = 0; s < 50000; ++s) duplicates += "[Same]\r\nk=" + std::to_string(s) + "\r\n";
    std::string logPath = temp.Write("big.log", log), duplicatesPath = temp.Write("dup.log", duplicates);
    DWORD start = GetTickCount();
    TqzIniFile ini(logPath, true), same(duplicatesPath, true);
    EXPECT_LT(GetTickCount() - start, 30000u);
    EXPECT_EQ(ini.Sections().Count(), 600);
    EXPECT_EQ(ini.ReadString("section599", "key99", ""), "value");
    EXPECT_EQ(same.Sections().Count(), 1);
    EXPECT_EQ(same.ReadString("same", "k", ""), "0");
}
