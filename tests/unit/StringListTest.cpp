#include <gtest/gtest.h>

#include "qzStringList.h"

TEST(StringList, NameValueViewsTakeTheFirstMatchCaseInsensitively) {
    TStringList list;
    list.Add("plain");
    list.Add("Key=first");
    list.Add("key=second=more");
    EXPECT_EQ(list.Names(0), "");
    EXPECT_EQ(list.IndexOfName("KEY"), 1);
    EXPECT_EQ(list.Values("key"), "first");
    EXPECT_EQ(list.IndexOfName("plain"), -1);
    list.Delete(1);
    EXPECT_EQ(list.Values("Key"), "second=more");
}
