#include <string>

#include <unistd.h>

#include <gtest/gtest.h>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspArray.h"
#include "engine/script/tests/BuiltinCall.h"

using builtin_test::Call;
using builtin_test::CallError;
using builtin_test::Int;
using builtin_test::Text;

namespace {

// The elements' printed forms joined by "|".
std::string Contents(const CSspArray& a) {
    std::string out;
    for (size_t i = 0; i < a.m_elements.size(); ++i) {
        out += (i == 0 ? "" : "|") + a.m_elements[i]->GetText();
    }
    return out;
}

CSspArray Holding(std::initializer_list<const char*> texts) {
    CSspArray a("a");
    for (const char* text : texts) {
        Call(a, "a", "Add", {Text(text)});
    }
    return a;
}

TEST(ArrayObject, SizeAndNullSlots) {
    CSspArray a("a");
    EXPECT_EQ(Call(a, "a", "GetSize").m_integer, 0);
    EXPECT_EQ(Call(a, "a", "SetSize", {Int(3)}).m_integer, 1);
    EXPECT_EQ(Call(a, "a", "GetSize").m_integer, 3);
    EXPECT_TRUE(Call(a, "a", "GetAt", {Int(2)}).IsNull());

    // SetSize replaces every element, so earlier values are gone.
    Call(a, "a", "SetAt", {Int(0), Text("kept?")});
    Call(a, "a", "SetSize", {Int(2), Int(-1)});
    EXPECT_EQ(Contents(a), "|");

    EXPECT_EQ(Call(a, "a", "SetSize", {Int(-5)}).m_integer, 1);
    EXPECT_EQ(Call(a, "a", "GetSize").m_integer, 0);
}

TEST(ArrayObject, ElementsAreCopiesOfAnyType) {
    CSspArray a("a");
    CSspValue span = CSspValue::FromTimeSpan(93784);
    EXPECT_EQ(Call(a, "a", "Add", {span}).m_integer, 1);
    Call(a, "a", "Add", {Int(7)});
    CSspValue first = Call(a, "a", "GetAt", {Int(0)});
    EXPECT_EQ(first.m_type, kSqlTime);
    EXPECT_EQ(first.GetText(), "1 2:3:4");
    EXPECT_EQ(Call(a, "a", "GetAt", {Text("1")}).m_type, kSqlInteger);

    // The element is independent of the value it came from and of what GetAt gave.
    first.m_timeSpan = 0;
    EXPECT_EQ(Call(a, "a", "GetAt", {Int(0)}).m_timeSpan, 93784);
}

TEST(ArrayObject, InsertRemoveAndSet) {
    struct Case {
        std::initializer_list<const char*> start;
        const char* member;
        int index;
        const char* value;  // nullptr for RemoveAt
        const char* after;
    };
    const Case cases[] = {
        {{"x", "y"}, "RemoveAt", 0, nullptr, "y"}, {{"x", "y", "z"}, "RemoveAt", 2, nullptr, "x|y"},
        {{"x", "y"}, "InsertAt", 0, "w", "w|x|y"}, {{"x", "y"}, "InsertAt", 1, "w", "x|w|y"},
        {{"x", "y"}, "SetAt", 1, "w", "x|w"},      {{"x"}, "insertat", 0, "w", "w|x"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " " + std::to_string(c.index));
        CSspArray a = Holding(c.start);
        CSspValue result = c.value ? Call(a, "a", c.member, {Int(c.index), Text(c.value)})
                                   : Call(a, "a", c.member, {Int(c.index)});
        EXPECT_EQ(result.m_integer, 1);
        EXPECT_EQ(Contents(a), c.after);
    }
}

TEST(ArrayObject, IndexesOutsideTheListAreRefused) {
    struct Case {
        std::initializer_list<const char*> start;
        const char* member;
        int index;
        const char* message;
    };
    const Case cases[] = {
        {{"x", "y", "z"}, "GetAt", 3, "Array index 3 out of bound. Valid: 0 - 2"},
        {{"x", "y", "z"}, "GetAt", -1, "Array index -1 out of bound. Valid: 0 - 2"},
        {{}, "InsertAt", 0, "Array index 0 out of bound. Valid: 0 - -1"},
        {{"x"}, "InsertAt", 1, "Array index 1 out of bound. Valid: 0 - 0"},
        {{"x"}, "SetAt", 1, "Array index 1 out of bound. Valid: 0 - 0"},
        {{}, "RemoveAt", 0, "Array index 0 out of bound. Valid: 0 - -1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.member) + " " + std::to_string(c.index));
        CSspArray a = Holding(c.start);
        std::string before = Contents(a);
        EXPECT_EQ(CallError(a, "a", c.member, {Int(c.index), Text("v")}), c.message);
        EXPECT_EQ(Contents(a), before) << "a refused member leaves the array alone";
    }
}

TEST(ArrayObject, SizeBeyondMemoryIsRefused) {
    double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * sysconf(_SC_PAGESIZE);
    if (memory / sizeof(CSspValue) > 2147483647.0) {
        GTEST_SKIP() << "this machine could hold the largest array a page can ask for";
    }
    CSspArray a = Holding({"x", "y"});
    EXPECT_EQ(CallError(a, "a", "SetSize", {Int(2147483647)}), "Out of memory");
    EXPECT_EQ(Call(a, "a", "GetSize").m_integer, 0);
    EXPECT_EQ(Call(a, "a", "Add", {Text("z")}).m_integer, 1) << "the array stays usable";
}

TEST(ArrayObject, MissingArgumentsAndUnknownMembers) {
    CSspArray a = Holding({"x"});
    struct Case {
        const char* member;
        int args;
    };
    const Case cases[] = {{"SetSize", 0},  {"GetAt", 0}, {"Add", 0},
                          {"RemoveAt", 0}, {"SetAt", 1}, {"InsertAt", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        std::string message =
            c.args == 0 ? CallError(a, "a", c.member) : CallError(a, "a", c.member, {Int(0)});
        EXPECT_EQ(message, "Missing parameter.");
    }
    EXPECT_EQ(CallError(a, "a", "Push", {Int(1)}), "Unknown array function: Push");
    EXPECT_EQ(Contents(a), "x");
}

}  // namespace
