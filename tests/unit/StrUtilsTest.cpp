#include <gtest/gtest.h>

#include "qzStrUtils.h"

TEST(StrUtils, GetFieldHonoursQuotesAndStripsSingleOnes) {
    const std::string text = "a,\"b,c\",'d'";
    EXPECT_EQ(GetField(1, text, ","), "a");
    EXPECT_EQ(GetField(0, text, ","), "a");
    EXPECT_EQ(GetField(2, text, ","), "\"b,c\"");
    EXPECT_EQ(GetField(3, text, ","), "d");
    EXPECT_EQ(GetField(4, text, ","), "");
    EXPECT_EQ(GetField(2, "a, b", ","), " b");
    EXPECT_EQ(GetField(2, "x, 'q'", ","), " 'q'");
    EXPECT_EQ(GetField(2, "'it''s,here',next", ","), "next");
    EXPECT_EQ(GetField(1, "'it''s,here',next", ","), "it's,here");
    for (int n = -1; n < 4; ++n) EXPECT_EQ(GetField(n, "", ","), "");
}

TEST(StrUtils, StripQuotes) {
    EXPECT_EQ(StripQuotes("'it''s'", '\''), "it's");
    EXPECT_EQ(StripQuotes("plain", '\''), "plain");
    EXPECT_EQ(StripQuotes("\"\"", '"'), "");
    EXPECT_EQ(StripQuotes("\"ab\"cd", '"'), "ab");
    EXPECT_EQ(StripQuotes("\"abc", '"'), "ab");
    EXPECT_EQ(StripQuotes("\"", '"'), "");
}

TEST(StrUtils, NameValueAndReplace) {
    EXPECT_EQ(NamePart("a=b=c"), "a");
    EXPECT_EQ(ValuePart("a=b=c"), "b=c");
    EXPECT_EQ(NamePart("abc"), "abc");
    EXPECT_EQ(ValuePart("abc"), "");
    EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
    EXPECT_EQ(ReplaceAll("a||b||", "||", "\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
    EXPECT_EQ(ReplaceAll("aa", "a", "aa"), "aaaa");
    EXPECT_EQ(RemoveSpaces(" 0A 1B "), "0A1B");
    EXPECT_EQ(Trim(std::string("\t a b\r\n\0", 8)), "a b");
}

TEST(StrUtils, IntegerTexts) {
    struct Case {
        const char* text;
        bool valid;
        int32_t value;
    } cases[] = {
        {"42", true, 42},       {"  42", true, 42},         {"-5", true, -5},
        {"+7", true, 7},        {"$1F", true, 31},          {"$ffffffff", true, -1},
        {"$000000001F", true, 31}, {"-2147483648", true, INT32_MIN}, {"2147483647", true, INT32_MAX},
        {"2147483648", false, 0}, {"$123456789", false, 0}, {"-$1F", false, 0},
        {"12abc", false, 0},    {"", false, 0},             {" ", false, 0},
        {"$", false, 0},        {"-", false, 0},            {"4 ", false, 0},
    };
    for (const Case& c : cases) {
        int32_t value = 0;
        EXPECT_EQ(TryStrToInt(c.text, value), c.valid) << c.text;
        if (c.valid) EXPECT_EQ(value, c.value) << c.text;
    }
    EXPECT_EQ(StrToDWordDef("4294967295", 7), -1);
    EXPECT_EQ(StrToDWordDef("2147483648", 7), INT32_MIN);
    EXPECT_EQ(StrToDWordDef("12x", 7), 7);
    EXPECT_EQ(StrToDWordDef("  42", 7), 42);
    EXPECT_EQ(HexToInt("1F"), 31);
    EXPECT_EQ(HexToInt("$1F"), 31);
    EXPECT_EQ(HexToInt("1G"), 0);
    EXPECT_EQ(ToHex(-1, 2), "FFFFFFFF");
    EXPECT_EQ(ToHex(10, 2), "0A");
    EXPECT_EQ(UnsignedToStr(4294967295u), "4294967295");
}

TEST(StrUtils, IntToBase) {
    EXPECT_EQ(IntToBase(0, 3, 32), "000");
    EXPECT_EQ(IntToBase(33, 3, 32), "011");
    EXPECT_EQ(IntToBase(31, 1, 32), "V");
    EXPECT_EQ(IntToBase(-1, 3, 32), "");
    EXPECT_EQ(IntToBase(255, 0, 16), "FF");
}

TEST(StrUtils, FormatOneStringNeverReadsTheTextAsAFormat) {
    EXPECT_EQ(FormatOneString("Removing %s...", "C:\\a"), "Removing C:\\a...");
    EXPECT_EQ(FormatOneString("100%% of %s", "x"), "100% of x");
    EXPECT_EQ(FormatOneString("%s and %s", "a"), "a and %s");
    EXPECT_EQ(FormatOneString("%d %n %x %", "a"), "%d %n %x %");
    EXPECT_EQ(FormatOneString("%s", "50% %s"), "50% %s");
    EXPECT_EQ(FormatOneString("", "a"), "");
}

TEST(StrUtils, ParamStrSplitsAtBlanksAndGroupsQuotes) {
    const char* line = "\"C:\\Prog Files\\u.exe\"  \"C:\\My Logs\\in stall.log\" second";
    EXPECT_EQ(ParamStr(line, 0), "C:\\Prog Files\\u.exe");
    EXPECT_EQ(ParamStr(line, 1), "C:\\My Logs\\in stall.log");
    EXPECT_EQ(ParamStr(line, 2), "second");
    EXPECT_EQ(ParamStr(line, 3), "");
    EXPECT_EQ(ParamStr("u.exe a\"b c\"d", 1), "ab cd");
    EXPECT_EQ(ParamStr("u.exe", 1), "");
    EXPECT_EQ(ParamStr(nullptr, 1), "");
}
