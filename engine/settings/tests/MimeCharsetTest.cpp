#include <gtest/gtest.h>

#include <set>

#include "engine/settings/CharsetTable.h"
#include "engine/settings/MimeMap.h"
#include "engine/settings/RootFolder.h"
#include "engine/testsupport/ScopedEnv.h"

TEST(MimeMapTest, BuiltInTableLookups) {
    CMimeMap map;
    map.FillDefaults();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"html", "text/html"},
        {"HTM", "text/html"},
        {"c", "text/plain"},
        {"jpe", "image/jpeg"},
        {"exe", "application/octet-stream"},
        {"xlw", "application/vnd.ms-excel"},
        {"texi", "application/x-texinfo"},
        {"js", "application/x-javascript"},
        {"png", "application/octet-stream"},  // not in the table: the "*" row
        {"", "application/octet-stream"},
    };
    for (const auto& [extension, type] : cases) {
        EXPECT_EQ(map.ContentTypeFor(extension), type) << extension;
    }
    EXPECT_EQ(map.ExtensionForType("IMAGE/JPEG"), "jpg");
    EXPECT_EQ(map.ExtensionForType("application/octet-stream"), "bin");
    EXPECT_EQ(map.ExtensionForType("text/x-unknown"), "");

    // Each extension appears once, so no row of the table hides another.
    std::set<std::string> extensions;
    for (const CMimeMap::Entry& entry : CMimeMap::BuiltIn()) {
        EXPECT_TRUE(extensions.insert(entry.m_extension).second) << entry.m_extension;
    }
    EXPECT_EQ(CMimeMap::BuiltIn().size(), 124u);
}

TEST(MimeMapTest, EditsKeepOrderAndFallBack) {
    CMimeMap map;
    EXPECT_EQ(map.ContentTypeFor("txt"), "application/octet-stream");  // no "*" row either
    map.Set("txt", "text/plain");
    map.Set("*", "text/x-any");
    map.Set("PNG", "image/png");
    map.Set("png", "image/x-png");  // same entry, new type, same place
    ASSERT_EQ(map.Size(), 3u);
    EXPECT_EQ(map.Entries()[2].m_extension, "PNG");
    EXPECT_EQ(map.ContentTypeFor("png"), "image/x-png");
    EXPECT_EQ(map.ContentTypeFor("gif"), "text/x-any");
    EXPECT_TRUE(map.Remove("TXT"));
    EXPECT_FALSE(map.Remove("txt"));
    EXPECT_EQ(map.ContentTypeFor("txt"), "text/x-any");
    EXPECT_EQ(map.Entries()[0].m_extension, "*");
}

TEST(CharsetTest, DefaultCharsetByCodeset) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"UTF-8", "utf-8"},
        {"utf8", "utf-8"},
        {"", "utf-8"},
        {"ANSI_X3.4-1968", "utf-8"},
        {"ISO-8859-1", "iso-8859-1"},
        {"cp1252", "iso-8859-1"},
        {"ISO-8859-15", "iso-8859-1"},
        {"iso88592", "iso-8859-2"},
        {"KOI8-R", "iso-8859-5"},
        {"EUC-KR", "iso-2022-kr"},
        {"SJIS", "shift_jis"},
        {"GB18030", "gb2312"},
        {"BIG5-HKSCS", "big5"},
        {"TIS-620", "windows-874"},
        {"CP1258", "windows-1258"},
        {"ISO-8859-16", ""},
    };
    for (const auto& [codeset, charset] : cases) {
        EXPECT_EQ(DefaultCharsetForCodeset(codeset), charset) << codeset;
    }
    EXPECT_EQ(CharsetForCodePage(1252), "iso-8859-1");
    EXPECT_EQ(CharsetForCodePage(1257), "iso-8859-4");
    EXPECT_EQ(CharsetForCodePage(65001), "");
    EXPECT_EQ(CharsetTable().size(), 14u);
}

TEST(CharsetTest, SystemCodesetFromTheEnvironment) {
    struct Case {
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        const char* expected;
    };
    const std::vector<Case> cases = {
        {nullptr, nullptr, "de_DE.ISO-8859-15@euro", "ISO-8859-15"},
        {nullptr, "ja_JP.eucJP", "en_US.UTF-8", "eucJP"},
        {"C", "ja_JP.eucJP", "en_US.UTF-8", ""},
        {"", nullptr, "en_GB.UTF-8", "UTF-8"},
        {nullptr, nullptr, nullptr, ""},
    };
    for (const Case& c : cases) {
        CScopedEnv env;
        env.Set("LC_ALL", c.lcAll);
        env.Set("LC_CTYPE", c.lcCtype);
        env.Set("LANG", c.lang);
        EXPECT_EQ(SystemCodeset(), c.expected) << (c.lang ? c.lang : "(no LANG)");
    }
}

TEST(RootFolderTest, ParentOfTheProgramsFolder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/opt/velmorin/bin/Tallgrove", "/opt/velmorin"},
        {"/bin/Tallgrove", ""},
        {"/Tallgrove", ""},
        {"Tallgrove", ""},
    };
    for (const auto& [program, root] : cases) {
        EXPECT_EQ(RootFolderOf(program), root) << program;
    }
    // This test program lives in <build>/engine/settings/, so its root is <build>/engine.
    EXPECT_EQ(g_rootDir, GetRootFolder());
    EXPECT_EQ(g_rootDir.substr(g_rootDir.rfind('/')), "/engine");
}

TEST(RootFolderTest, SetOnceThenRefused) {
    // The same root again keeps the other tests of this process on theirs.
    const std::string root = GetRootFolder();
    EXPECT_TRUE(SetRootFolder(root));
    EXPECT_EQ(g_rootDir, root);
    EXPECT_FALSE(SetRootFolder("/elsewhere"));
    EXPECT_EQ(g_rootDir, root);
}
