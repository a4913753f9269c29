#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspFile.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspRequestObject.h"
#include "engine/script/tests/BuiltinCall.h"
#include "engine/testsupport/TempFolder.h"
#include "engine/testsupport/WholeFile.h"

using builtin_test::Int;
using builtin_test::kSource;
using builtin_test::Prepare;
using builtin_test::Text;

namespace {

namespace fs = std::filesystem;

// A request with uploads, as the web layer's request offers them.
class CFakeRequest : public CSspRequestObject, public CSspUploadSource {
public:
    void CallMethod(CSspInterpreter&, CSspCall&, CSspValue&) override {}
    EUploadResult CopyUploadedFile(std::string_view field, std::string& fileName,
                                   CLongBinary& data) override {
        auto it = m_codes.find(std::string(field));
        if (it == m_codes.end()) {
            return EUploadResult::kNoField;
        }
        if (it->second == EUploadResult::kOk) {
            fileName = "photo.jpg";
            data.Assign(m_bytes.data(), m_bytes.size());
        }
        return it->second;
    }
    std::map<std::string, EUploadResult> m_codes;
    std::string m_bytes;
};

class CPlainRequest : public CSspRequestObject {
public:
    void CallMethod(CSspInterpreter&, CSspCall&, CSspValue&) override {}
};

class FileObject : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(m_root + "/webroot/app");
        fs::create_directories(m_root + "/webroot/lib");
        m_owner.m_strFilePath = m_root + "/webroot/app/page.zrp";
        m_owner.m_strUrl = "/app/page.zrp";
        m_owner.m_strUrlFolder = "/app/";
        m_owner.m_pResponse = &m_response;
    }

    void Write(const std::string& relative, const std::string& text, bool executable = false) {
        std::string path = m_root + "/" + relative;
        WriteFile(path, text);
        if (executable) {
            chmod(path.c_str(), 0755);
        }
    }

    // The result of file.member(args), written with parentheses unless `noArgs`.
    CSspValue Call(CSspFile& file, const char* member, std::initializer_list<CSspValue> args = {},
                   bool noArgs = false) {
        CSspCall call;
        Prepare(call, "f", member, args);
        call.m_bHasArgs = !noArgs;
        CSspValue result;
        file.CallMethod(m_owner, call, result);
        return result;
    }
    std::string Error(CSspFile& file, const char* member,
                      std::initializer_list<CSspValue> args = {}, bool noArgs = false) {
        try {
            Call(file, member, args, noArgs);
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Position(), kSource) << e.Message();
            return e.Message();
        }
        ADD_FAILURE() << member << " raised no error";
        return std::string();
    }

    CTempFolder m_folder;
    std::string m_root = m_folder.Path();
    CSspMemoryResponse m_response;
    CSspInterpreter m_owner;
};

TEST_F(FileObject, ServerPathsStayInsideTheRoot) {
    struct Case {
        const char* path;
        const char* url;
        std::string disk;  // empty: refused
    } cases[] = {
        {"inc.zrs", "/app/inc.zrs", "/webroot/app/inc.zrs"},
        {"/lib/inc.zrs", "/lib/inc.zrs", "/webroot/lib/inc.zrs"},
        {"\\lib\\inc.zrs", "\\lib\\inc.zrs", "/webroot/lib/inc.zrs"},
        {"sub/../inc.zrs", "/app/inc.zrs", "/webroot/app/inc.zrs"},
        {"../lib/inc.zrs", "/lib/inc.zrs", "/webroot/lib/inc.zrs"},
        {"../../tmp/out.txt", "/tmp/out.txt", "/tmp/out.txt"},
        {"../../../etc/passwd", "", ""},
        {"..\\..\\..\\etc\\passwd", "", ""},
        {"/../../etc/passwd", "", ""},
        {"/lib/../../../x", "", ""},
    };
    for (const Case& c : cases) {
        CSspFile file("f", m_root);
        if (c.disk.empty()) {
            EXPECT_THROW(file.SetServerFile(c.path, &m_owner, kSource), CSspException) << c.path;
            continue;
        }
        file.SetServerFile(c.path, &m_owner);
        EXPECT_EQ(file.Name(), c.url) << c.path;
        EXPECT_EQ(file.Path(), m_root + c.disk) << c.path;
        EXPECT_FALSE(file.IsUpload());
    }
    CSspFile nul("f", m_root);
    EXPECT_THROW(nul.SetServerFile(std::string("inc.zrs\0/../x", 13), &m_owner), CSspException);
}

TEST_F(FileObject, UploadMembers) {
    CFakeRequest request;
    request.m_codes = {{"attach1", CSspUploadSource::EUploadResult::kOk}};
    request.m_bytes = std::string("\xff\xd8\0jpeg", 7);
    m_owner.m_pRequest = &request;
    CSspFile file("f", m_root);
    file.BindUpload(m_owner, "Request.attach1", kSource);
    ASSERT_TRUE(file.IsUpload());

    CSspValue data = Call(file, "DATA");
    EXPECT_EQ(data.m_type, kSqlLongVarBinary);
    EXPECT_EQ(data.m_blob.View(), request.m_bytes);
    EXPECT_EQ(Call(file, "content", {}, true).m_blob.View(), request.m_bytes);
    EXPECT_EQ(Call(file, "name").GetText(), "photo.jpg");
    EXPECT_EQ(Call(file, "Size", {}, true).GetText(), "7");
    for (const char* member : {"run", "sspRun", "other"}) {
        for (bool noArgs : {false, true}) {
            EXPECT_EQ(Error(file, member, {}, noArgs),
                      std::string("Unknown file upload field: ") + member);
        }
    }
    CSspCall call;
    Prepare(call, "f", "fn", {});
    CSspValue result;
    EXPECT_THROW(file.RunFunction(call, result), CSspException);

    request.m_bytes.clear();
    CSspFile empty("e", m_root);
    empty.BindUpload(m_owner, "request.attach1", kSource);
    EXPECT_EQ(Call(empty, "size").GetText(), "0");
    m_owner.m_pRequest = nullptr;
}

TEST_F(FileObject, UploadBindingErrors) {
    CFakeRequest request;
    request.m_codes = {{"text", CSspUploadSource::EUploadResult::kNotAFile},
                       {"big", CSspUploadSource::EUploadResult::kNoMemory}};
    CPlainRequest plain;
    struct Case {
        CSspRequestObject* request;
        const char* source;
        const char* message;
    } cases[] = {
        {&request, "attach1", "FileUpload must be initialized by Request.a_form_field"},
        {&request, ".attach1", "FileUpload must be initialized by Request.a_form_field"},
        {nullptr, "Request.attach1", "Request object not available."},
        {&plain, "Request.attach1", "Request object not available."},
        {&request, "Request.missing",
         "File field is not found in the data the browser sent: missing"},
        {&request, "Request.text", "Failed to get the uploaded file: text"},
        {&request, "Request.big", "Out of memory when copying uploaded data."},
    };
    for (const Case& c : cases) {
        m_owner.m_pRequest = c.request;
        CSspFile file("f", m_root);
        try {
            file.BindUpload(m_owner, c.source, kSource);
            ADD_FAILURE() << c.source << " bound";
        } catch (const CSspException& e) {
            EXPECT_EQ(e.Message(), c.message);
            EXPECT_EQ(e.Position(), kSource);
        }
    }
    m_owner.m_pRequest = nullptr;
}

TEST_F(FileObject, FunctionCallsShareOneChildButNotItsLocals) {
    Write("webroot/app/inc.zrs",
          "write 'top;';\n"
          "function add(a, b) return arg.a + arg.b; endfunction\n"
          "function keep() set Local.x = 5; return Local.x; endfunction\n"
          "function kept() return Local.Var('x'); endfunction\n"
          "function fails() write 1 / 0; endfunction\n");
    CSspFile file("f", m_root);
    file.SetServerFile("inc.zrs", &m_owner);

    EXPECT_EQ(Error(file, "size"), "m_pse or m_pseParent is NULL.");
    EXPECT_EQ(Call(file, "Add", {Int(2), Int(3)}).GetText(), "5");
    CSspInterpreter* child = file.ChildInterpreter();
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(Call(file, "size").GetInteger(), static_cast<int>(fs::file_size(file.Path())));

    EXPECT_EQ(Call(file, "keep").GetText(), "5");
    EXPECT_EQ(file.ChildInterpreter(), child);
    std::string gone = Error(file, "kept");
    EXPECT_NE(gone.find("Local variable not defined"), std::string::npos) << gone;

    std::string failed = Error(file, "fails");
    EXPECT_EQ(failed.rfind(file.Path() + " (", 0), 0u) << failed;
    EXPECT_NE(failed.find("1 / 0"), std::string::npos) << failed;
    std::string missing = Error(file, "nothere");
    EXPECT_NE(missing.find("Function nothere not found in file " + file.Path()), std::string::npos)
        << missing;

    EXPECT_EQ(m_response.m_output, "");
    Call(file, "SSPRUN");
    EXPECT_EQ(m_response.m_output, "top;");
    EXPECT_EQ(m_owner.m_pChild, nullptr);
}

TEST_F(FileObject, ServerFileMembersAndTheirErrors) {
    std::string text("function f() return 1; endfunction\n\xe9\n", 37);
    Write("webroot/lib/data.zrs", text);
    CSspFile file("f", m_root);
    file.SetServerFile("/lib/data.zrs", &m_owner);
    CSspValue data = Call(file, "data");
    EXPECT_EQ(data.m_type, kSqlLongVarBinary);
    EXPECT_EQ(data.m_blob.View(), text);
    EXPECT_EQ(Call(file, "NAME", {}, true).GetText(), "/lib/data.zrs");
    EXPECT_EQ(Error(file, "f", {}, true),
              "This is supposed to be a function call but it doesn't have the () at the end. ");
    EXPECT_EQ(Error(file, "sspRun", {}, true),
              "This is supposed to be a function call but it doesn't have the () at the end. ");

    CSspFile missing("m", m_root);
    missing.SetServerFile("absent.zrs", &m_owner);
    EXPECT_NE(Error(missing, "content").find("Failed to open file: "), std::string::npos);

    CSspFile unowned("u", m_root);
    unowned.SetServerFile("/lib/data.zrs", nullptr);
    EXPECT_EQ(Error(unowned, "size"), "m_pse or m_pseParent is NULL.");
    for (const char* member : {"data", "name", "run", "f"}) {
        EXPECT_EQ(Error(unowned, member), "m_pseParent is NULL.") << member;
    }
}

TEST_F(FileObject, RunStartsTheFileAsAProgram) {
    Write("webroot/app/tool.sh",
          "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 3\n", true);
    Write("webroot/app/slow.sh", "#!/bin/sh\nsleep 3\n", true);
    CSspFile tool("t", m_root);
    tool.SetServerFile("tool.sh", &m_owner);
    EXPECT_EQ(Call(tool, "run", {Text("a \"; rm -rf /\"")}).GetText(), "3");
    std::ifstream in(m_root + "/webroot/app/args.txt");
    std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(args, "a|; rm -rf /|");
    EXPECT_EQ(Call(tool, "run", {}, true).GetText(), "3");
    // A wait beyond the integer range is clamped, not wrapped into a negative one.
    EXPECT_EQ(Call(tool, "run", {Text(""), Text("99999999999")}).GetText(), "3");

    CSspFile slow("s", m_root);
    slow.SetServerFile("slow.sh", &m_owner);
    EXPECT_EQ(Call(slow, "run", {Text(""), Text("1")}).GetText(), "timeout");

    CSspFile absent("a", m_root);
    absent.SetServerFile("absent.sh", &m_owner);
    EXPECT_EQ(Call(absent, "run").GetText().rfind("Error [2]: ", 0), 0u);
}

TEST_F(FileObject, PageCallsThroughADeclaredFile) {
    Write("webroot/app/tool.sh",
          "#!/bin/sh\nprintf '%s|' \"$@\" > \"$(dirname \"$0\")/args.txt\"\nexit 3\n", true);
    Write("webroot/lib/math.zrs", "function twice(n) return arg.n * 2; endfunction\n");
    Write("webroot/app/page.zrp",
          "<!--{ write f.run('x \"; rm -rf /\"', '5') || ' ' || m.twice(21); }-->");
    CSspInterpreter page;
    auto tool = std::make_unique<CSspFile>("f", m_root);
    tool->SetServerFile("/app/tool.sh", &page);
    auto math = std::make_unique<CSspFile>("m", m_root);
    math->SetServerFile("/lib/math.zrs", &page);
    page.m_declared.push_back(CSspDeclared{CSspDeclKind::File, "f", nullptr, std::move(tool)});
    page.m_declared.push_back(CSspDeclared{CSspDeclKind::File, "m", nullptr, std::move(math)});
    CSspMemoryResponse response;
    int rc = page.RunPage(m_root + "/webroot/app/page.zrp", "/app/page.zrp", nullptr, &response);
    ASSERT_EQ(rc, kSspDone) << page.m_strError;
    EXPECT_EQ(response.m_output, "3 42");
    std::ifstream in(m_root + "/webroot/app/args.txt");
    std::string args((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(args, "x|; rm -rf /|");
}

// A called function's error text has its "%" doubled once, through Local or a file object.
TEST_F(FileObject, PercentIsDoubledOnceWhicheverWayAFunctionIsCalled) {
    const char* bad = "function bad(n) return 3 * -2; endfunction\n";
    Write("webroot/lib/bad.zrs", bad);
    const std::string pages[] = {std::string("<!--{ write Local.bad(1);\n") + bad + "}-->",
                                 "<!--{ write m.bad(1); }-->"};
    for (const std::string& text : pages) {
        Write("webroot/app/page.zrp", text);
        CSspInterpreter page;
        auto math = std::make_unique<CSspFile>("m", m_root);
        math->SetServerFile("/lib/bad.zrs", &page);
        page.m_declared.push_back(CSspDeclared{CSspDeclKind::File, "m", nullptr, std::move(math)});
        CSspMemoryResponse response;
        int rc =
            page.RunPage(m_root + "/webroot/app/page.zrp", "/app/page.zrp", nullptr, &response);
        EXPECT_EQ(rc, kSspError) << text;
        EXPECT_NE(page.m_strError.find("Missing right operand after */%%+-."), std::string::npos)
            << page.m_strError;
        EXPECT_EQ(page.m_strError.find("%%%"), std::string::npos) << page.m_strError;
    }
}

// A stop asked while a file object's function runs stops the page, as it does through Local.
TEST_F(FileObject, StopInAFileFunctionStopsThePage) {
    struct CStopAtFirstWrite : CSspMemoryResponse {
        explicit CStopAtFirstWrite(CSspInterpreter& interp) : m_interp(interp) {}
        void WriteValue(const CSspValue& value) override {
            CSspMemoryResponse::WriteValue(value);
            m_interp.RequestStop();
        }
        CSspInterpreter& m_interp;
    };
    Write("webroot/lib/spin.zrs", "function spin() while (1) write 'y'; endwhile endfunction\n");
    Write("webroot/app/page.zrp", "<!--{ write m.spin(); write 'after'; }-->");
    CSspInterpreter page;
    auto spin = std::make_unique<CSspFile>("m", m_root);
    spin->SetServerFile("/lib/spin.zrs", &page);
    page.m_declared.push_back(CSspDeclared{CSspDeclKind::File, "m", nullptr, std::move(spin)});
    CStopAtFirstWrite response(page);
    int rc = page.RunPage(m_root + "/webroot/app/page.zrp", "/app/page.zrp", nullptr, &response);
    EXPECT_EQ(rc, kSspStopped) << page.m_strError;
    EXPECT_EQ(page.m_strError, "");
    EXPECT_EQ(response.m_output, "y");
}

TEST_F(FileObject, Declarations) {
    CFakeRequest request;
    request.m_codes = {{"attach1", CSspUploadSource::EUploadResult::kOk}};
    request.m_bytes = "bytes";
    m_owner.m_pRequest = &request;
    const char* keyword = kSource;

    CSspCall none;
    try {
        DeclareSspFile(m_owner, "f", none, keyword);
        ADD_FAILURE() << "declared without a source";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(),
                  std::string("file object syntax: \r\nfile att1('request.attachment1'); "
                              "// file upload  \r\nfile fs1('appInit.zrp');  // file on server "));
        EXPECT_EQ(e.Position(), keyword);
    }

    CSspCall upload;
    Prepare(upload, "", "", {Text("REQUEST.attach1")});
    CSspFile& att = DeclareSspFile(m_owner, "att", upload, keyword);
    EXPECT_TRUE(att.IsUpload());
    EXPECT_EQ(att.Content().View(), "bytes");
    // The same declaration again (a loop) rebinds its own object.
    EXPECT_EQ(&DeclareSspFile(m_owner, "att", upload, keyword), &att);

    CSspCall server;
    Prepare(server, "", "", {Text("/lib/x.zrs"), Int(0)});
    CSspFile& fs = DeclareSspFile(m_owner, "fs", server, keyword + 1);
    EXPECT_FALSE(fs.IsUpload());
    EXPECT_EQ(fs.Path(), CSspFile::DefaultRootFolder() + "/webroot/lib/x.zrs");
    EXPECT_EQ(m_owner.FindDeclared(CSspDeclKind::File, "FS"), &fs);

    CSspFile& up = DeclareSspFileUpload(m_owner, "up", "Request.attach1", keyword + 2);
    EXPECT_EQ(up.Name(), "photo.jpg");
    try {
        DeclareSspFileUpload(m_owner, "ATT", "Request.attach1", keyword + 3);
        ADD_FAILURE() << "a name declared twice";
    } catch (const CSspException& e) {
        EXPECT_EQ(e.Message(),
                  "The variable or function name has been used. Please choose another one: ATT");
    }
    m_owner.m_pRequest = nullptr;
}

TEST_F(FileObject, AllocDataKeepsALargeEnoughBlock) {
    CSspFile file("f", m_root);
    file.SetUpload("x.bin");
    EXPECT_TRUE(file.AllocData(16));
    EXPECT_EQ(file.Content().Capacity(), 16u);
    EXPECT_TRUE(file.AllocData(8));
    EXPECT_EQ(file.Content().Capacity(), 16u);
    EXPECT_TRUE(file.AllocData(32));
    EXPECT_EQ(file.Content().Capacity(), 32u);
}

}  // namespace
