// In-place edits of other programs' INI files: only the entry's own line may change.
#include <gtest/gtest.h>

#include "qzIniEdit.h"

namespace {

struct EditCase {
    const char* what;
    std::string before;
    const char* key;
    const char* value;  // nullptr deletes
    IniEdit result;
    std::string after;
};

TEST(RulesIniEdit, OnlyTheEntrysLineChanges) {
    const std::string utf16("\xFF\xFE[\0S\0]\0", 8), nul("[S]\r\nK=\0\r\n", 10);
    const EditCase cases[] = {
        {"comments, plain lines, quotes and LF ends stay", "; note\n[S]\nplain line\nK = \"old\"\n\n[T]\nK=x\n",
         "k", "new", IniEdit::Changed, "; note\n[S]\nplain line\nK = new\n\n[T]\nK=x\n"},
        {"a delete takes the line and its end only", "[S]\r\nA=1\r\nK=2\r\nB=3", "K", nullptr,
         IniEdit::Changed, "[S]\r\nA=1\r\nB=3"},
        {"a byte-order mark hides no section", "\xEF\xBB\xBF[S]\nK=1\n", "K", "2", IniEdit::Changed,
         "\xEF\xBB\xBF[S]\nK=2\n"},
        {"a new key follows the section's last line", "[S]\r\nA=1\r\n\r\n[T]\r\n", "K", "v",
         IniEdit::Changed, "[S]\r\nA=1\r\nK=v\r\n\r\n[T]\r\n"},
        {"a new section goes at the end, after a line end", "[T]\nX=1", "K", "v", IniEdit::Changed,
         "[T]\nX=1\n[S]\nK=v\n"},
        {"the first line of the key in a duplicate section", "[S]\nA=1\n[ s ]\nK=old\nK=other\n", "K",
         "new", IniEdit::Changed, "[S]\nA=1\n[ s ]\nK=new\nK=other\n"},
        {"a delete takes every line of the key", "[S]\nK=1\n[S]\nK=2\nB=3\n", "K", nullptr,
         IniEdit::Changed, "[S]\n[S]\nB=3\n"},
        {"a comment is no entry", "[S]\n;K=1\n", "K", nullptr, IniEdit::Unchanged, "[S]\n;K=1\n"},
        {"a key of another section stays", "[T]\nK=1\n", "K", nullptr, IniEdit::Unchanged, "[T]\nK=1\n"},
        {"the value it has already", "[S]\r\nK=v\r\n", "K", "v", IniEdit::Unchanged, "[S]\r\nK=v\r\n"},
        {"an empty file", "", "K", "v", IniEdit::Changed, "[S]\r\nK=v\r\n"},
        {"UTF-16 is left alone", utf16, "K", "v", IniEdit::Unreadable, utf16},
        {"NUL bytes are left alone", nul, "K", nullptr, IniEdit::Unreadable, nul},
    };
    for (const EditCase& c : cases) {
        std::string text = c.before, value = c.value ? c.value : "";
        EXPECT_EQ(c.result, EditIniText(text, "S", c.key, c.value ? &value : nullptr)) << c.what;
        EXPECT_EQ(c.after, text) << c.what;
    }
}

}  // namespace
