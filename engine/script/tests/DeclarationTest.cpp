// Declarations whose objects need more than a page of their own: server files under the
// installation root, and declaration makers from later libraries.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspObject.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/settings/RootFolder.h"

namespace {

namespace fs = std::filesystem;

// A folder under the web root, where file objects may read.
class DeclarationTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::path(g_rootDir) / "webroot" / ("ssp-decl-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    std::string Write(const std::string& name, const std::string& text) {
        std::ofstream(m_dir / name, std::ios::binary) << text;
        return (m_dir / name).string();
    }
    fs::path m_dir;
};

TEST_F(DeclarationTest, FileObjectCallsFunctionsAndFillsArrays) {
    Write("lib.zrs",
          "function twice(n) return arg.n * 2; endfunction\n"
          "function list() array t; t.Add('p'); t.Add('q'); return t; endfunction\n");
    std::string page = Write("page.zrp",
                             "<!--{ file f('lib.zrs'); array a = f.list(); }-->--{ f.twice(21); "
                             "}--|--{ a.GetSize() || a.GetAt(0) || a.GetAt(1); }--");
    CSspRunResult r = RunSspFile(page, "/x/page.zrp");
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "42|2pq");
}

TEST_F(DeclarationTest, RecursionThroughFileObjectsEndsInDepthError) {
    Write("loop.zrs", "function g(n) file me('loop.zrs'); return me.g(arg.n + 1); endfunction\n");
    std::string page = Write("deep.zrp", "<!--{ file f('loop.zrs'); }-->--{ f.g(1); }--");
    CSspRunResult r = RunSspFile(page, "/x/deep.zrp");
    EXPECT_EQ(r.m_code, 1);
    EXPECT_NE(r.m_error.find("Function calls are nested too deeply (more than 200 levels)."),
              std::string::npos);
}

// Records what a mail declaration hands its object.
class CRecordingObject : public CSspObject {
public:
    void CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) override {
        s_log += call.m_strMember;
        for (const auto& arg : call.m_args) {
            s_log += ":" + arg->GetText();
        }
        s_log += ";";
        result = CSspValue::FromText("r");
    }
    static std::string s_log;
};
std::string CRecordingObject::s_log;

std::unique_ptr<CSspObject> MakeRecording(const std::string&) {
    return std::make_unique<CRecordingObject>();
}

TEST_F(DeclarationTest, MailDeclarationsUseRegisteredMakers) {
    CSspObjectRegistry& registry = CSspObjectRegistry::Instance();
    CSspDeclarationMaker savedIn = registry.FindDeclaration("email_in");
    CSspDeclarationMaker savedOut = registry.FindDeclaration("email_out");
    registry.RegisterDeclaration("email_in", &MakeRecording);
    registry.RegisterDeclaration("email_out", &MakeRecording);
    CRecordingObject::s_log.clear();

    CSspRunResult r = RunSspText(
        "email_in box('pop.example', 'me', 'secret');\n"
        "email_out msg(Local.never, 1);\n"
        "write box.count() || msg.Send();\n",
        false);
    EXPECT_EQ(r.m_code, 0) << r.m_error;
    EXPECT_EQ(r.m_output, "rr");
    // email_out's list is not evaluated, so the undefined local raises nothing.
    EXPECT_EQ(CRecordingObject::s_log,
              "SetVar:Pop3Host:pop.example;SetVar:Username:me;SetVar:Password:secret;count;Send;");

    registry.RegisterDeclaration("email_in", savedIn);
    registry.RegisterDeclaration("email_out", savedOut);
    if (savedIn == nullptr) {
        CSspRunResult none = RunSspText("email_in box;", false);
        EXPECT_NE(none.m_error.find("Unknown Object: email_in"), std::string::npos);
    }
}

}  // namespace
