#include "engine/foundation/ConnectString.h"

#include <gtest/gtest.h>

namespace {

TEST(ConnectStringTest, ValueIsFoundOnlyAsAWholeKey) {
    struct Case {
        const char* connect;
        const char* key;
        const char* value;
    } cases[] = {
        {"DSN=zr2", "DSN", "zr2"},         {"DSN=zr2;UID=sa;PWD=x", "DSN", "zr2"},
        {"UID=sa;DSN=zr2", "DSN", "zr2"},  {"dsn=zr2;UID=sa", "DSN", "zr2"},
        {"UID=sa;PWD=x", "DSN", ""},       {"DSN=", "DSN", ""},
        {"FILEDSN=x;DSN=y", "DSN", "y"},   {"FILEDSN=x", "DSN", ""},
        {"DBQ=/a/b.db", "DBQ", "/a/b.db"}, {"", "DSN", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ConnectStringValue(c.connect, c.key), c.value) << c.connect;
    }
}

TEST(ConnectStringTest, SetReplacesInPlaceOrAppends) {
    struct Case {
        const char* connect;
        const char* key;
        const char* value;
        const char* result;
    } cases[] = {
        {"DSN=a;FRL=F;UID=u", "FRL", "T", "DSN=a;FRL=T;UID=u"},
        {"DSN=a;frl=F", "FRL", "T", "DSN=a;FRL=T"},
        {"DSN=a", "UID", "u", "DSN=a;UID=u;"},
        {"DSN=a;", "UID", "u", "DSN=a;UID=u;"},
        {"", "DSN", "zr2", "DSN=zr2;"},
        {"FILEDSN=x", "DSN", "y", "FILEDSN=x;DSN=y;"},
    };
    for (const Case& c : cases) {
        std::string text = c.connect;
        SetConnectStringValue(text, c.key, c.value);
        EXPECT_EQ(text, c.result) << c.connect;
    }
}

TEST(ConnectStringTest, OdbcPrefixIsTheFirstFiveCharacters) {
    EXPECT_EQ(StripOdbcPrefix("ODBC;DSN=zr2"), "DSN=zr2");
    EXPECT_EQ(StripOdbcPrefix("odbc;DSN=zr2"), "DSN=zr2");
    EXPECT_EQ(StripOdbcPrefix("ODBC"), "");
}

}  // namespace
