#include <string>

#include <gtest/gtest.h>

#include "engine/data/DataSource.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspApplication.h"
#include "engine/script/SspServerLink.h"
#include "engine/script/tests/BuiltinCall.h"

using builtin_test::Int;
using builtin_test::kSource;
using builtin_test::Prepare;
using builtin_test::Text;

namespace {

TEST(UseDataSourceConnectionTest, ConnectionTexts) {
    struct Case {
        std::initializer_list<CSspValue> args;
        std::string connection;  // empty: `error` is raised
        std::string error;
    };
    const Case cases[] = {
        {{Text("ODBC;DSN=a")}, "DSN=a", ""},
        {{Text("odbc;DSN=a;UID=b")}, "DSN=a;UID=b", ""},
        {{Text("ODBC")}, "", "Invalid ODBC connection string"},
        {{Text("zr2"), Text("me"), Text("pw")}, "DSN=zr2;UID=me;PWD=pw", ""},
        // Text that would end the value or open a braced one is braced, '}' doubled.
        {{Text("zr2;DRIVER=x"), Text("{me"), Text("p}w;")},
         "DSN={zr2;DRIVER=x};UID={{me};PWD={p}}w;}",
         ""},
        {{Text("a"), Text("b")}, "", "Missing parameter."},
        {{}, "", "Missing parameter."},
    };
    for (const Case& c : cases) {
        CSspCall call;
        Prepare(call, "App", "UseDataSource", c.args);
        if (c.error.empty()) {
            EXPECT_EQ(MakeUseDataSourceConnection(call), c.connection);
            continue;
        }
        try {
            MakeUseDataSourceConnection(call);
            ADD_FAILURE() << "no error for " << c.error;
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), c.error);
            EXPECT_EQ(e.Position(), kSource);
        }
    }
}

CSspValue Call(CSspApplication& app, std::string_view member,
               std::initializer_list<CSspValue> args = {}) {
    CSspCall call;
    Prepare(call, "App", member, args);
    CSspValue result;
    app.CallMethod(call, result);
    return result;
}

TEST(ApplicationTest, VariablesAreSharedByName) {
    CSspApplication app("/shop/");
    EXPECT_EQ(app.GetName(), "/shop/");
    EXPECT_EQ(Call(app, "VarExist", {Text("Hits")}).GetText(), "0");
    EXPECT_EQ(Call(app, "SetVar", {Text("Hits"), Int(1)}).GetText(), "1");
    Call(app, "SETVAR", {Text("hits"), Int(2)});
    EXPECT_EQ(Call(app, "varexist", {Text("HITS")}).GetText(), "1");
    EXPECT_EQ(Call(app, "Var", {Text("hits")}).GetText(), "2");
    EXPECT_EQ(Call(app, "HITS").GetText(), "2");
    EXPECT_EQ(Call(app, "Var", {Text("none"), Int(5)}).GetText(), "5");
    // Without a server link, nothing can take the connection.
    CSspServerLink* saved = CSspServerLink::Current();
    CSspServerLink::Install(nullptr);
    CSspCall call;
    Prepare(call, "App", "UseDataSource", {Text("ODBC;DSN=a")});
    CSspValue result;
    EXPECT_THROW(app.CallMethod(call, result), CSspException);
    CSspServerLink::Install(saved);
}

}  // namespace
