#include <gtest/gtest.h>

#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/script/SspHarness.h"
#include "engine/script/SspInterpreter.h"

namespace {

// Calls a member as a script would and gives its result as text, or the
// error text prefixed with "!".
std::string Call(CSspEmailOut& mail, const std::string& member, std::vector<CSspValue> args,
                 bool withArgs = true) {
    CSspInterpreter interp;
    CSspCall call;
    call.m_strObject = "m";
    call.m_strMember = member;
    call.m_bHasArgs = withArgs;
    for (const CSspValue& arg : args) {
        call.AddArg(arg);
    }
    CSspValue result;
    try {
        mail.CallMethod(interp, call, result);
    } catch (const CSspException& error) {
        return "!" + error.Message();
    }
    return result.GetText();
}

CSspValue Text(const std::string& text) {
    return CSspValue::FromText(text);
}

}  // namespace

TEST(EmailOutObject, FieldsAreSetAndReadByNameInAnyCase) {
    CSspEmailOut mail;
    const char* fields[] = {"to",         "cc",      "bcc",         "from",
                            "subject",    "content", "contentType", "contentTransferEncoding",
                            "DoNotSendTo"};
    for (const char* field : fields) {
        std::string upper = field;
        for (char& ch : upper) {
            ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
        }
        EXPECT_EQ(Call(mail, "setvar", {Text(upper), Text(std::string("v-") + field)}), "");
        EXPECT_EQ(Call(mail, field, {}, false), std::string("v-") + field);
    }
    EXPECT_EQ(mail.m_strTo, "v-to");
    EXPECT_EQ(mail.m_strDoNotSendTo, "v-DoNotSendTo");
}

TEST(EmailOutObject, MisuseRaisesTheScriptErrors) {
    CSspEmailOut mail;
    const struct {
        const char* m_member;
        std::vector<CSspValue> m_args;
        const char* m_error;
    } cases[] = {
        {"AddHeader", {}, "!Missing parameter for AddHeader."},
        {"Attach", {Text("a.txt")}, "!Missing parameter.Attach"},
        {"attach", {Text("a"), Text("b"), Text("c")}, "!Missing parameter.attach"},
        {"SetVar", {Text("reply-to"), Text("x")}, "!Unknown Email_Out field: reply-to"},
        {"SetVar", {Text("to")}, "!Missing parameter."},
        {"Recipients", {}, "!Unknown Email_Out field: Recipients"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Call(mail, c.m_member, c.m_args), c.m_error) << c.m_member;
    }
}

TEST(EmailOutObject, HeadersAndAttachmentsReachTheMessage) {
    CSspEmailOut mail;
    EXPECT_EQ(Call(mail, "addheader", {Text("X-Ticket: 42")}), "");
    EXPECT_EQ(Call(mail, "attach", {Text("b.bin"), CSspValue::FromBinary(std::string("\0\1", 2))}),
              "");
    EXPECT_EQ(Call(mail, "ATTACH", {Text("n.txt"), CSspValue::FromInteger(7)}), "");
    EXPECT_EQ(mail.HeaderLines(), std::vector<std::string>{"X-Ticket: 42"});
    EXPECT_EQ(mail.AttachmentCount(), 2u);
    CMailSettings settings;
    const std::string text = mail.ComposeOutboxText(settings);
    EXPECT_NE(text.find("\r\nX-Ticket: 42\r\n"), std::string::npos);
    // The binary's two bytes and the number's text, each in Base64.
    EXPECT_NE(text.find("filename=\"b.bin\"\r\n\r\nAAE=\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("filename=\"n.txt\"\r\n\r\nNw==\r\n"), std::string::npos) << text;
}

TEST(EmailOutObject, PagesDeclareAndUseIt) {
    RegisterEmailOutDeclaration();
    const struct {
        const char* m_page;
        const char* m_output;
        const char* m_error;  // part of the error text; empty: the run succeeds
    } cases[] = {
        {"<!--{ email_out m; m.SetVar('subject', 'Hi there'); m.AddHeader('X-A: 1'); }-->"
         "--{ m.subject; }--",
         "Hi there", ""},
        {"<!--{ email_out m; m.SetVar('bogus', 1); }-->", "", "Unknown Email_Out field: bogus"},
        {"<!--{ email_out m; m.attach('a.txt'); }-->", "", "Missing parameter.attach"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.m_page);
        CSspRunResult run = RunSspText(c.m_page);
        EXPECT_EQ(run.m_output, c.m_output);
        if (*c.m_error == '\0') {
            EXPECT_EQ(run.m_code, 0) << run.m_error;
        } else {
            EXPECT_EQ(run.m_code, 1);
            EXPECT_NE(run.m_error.find(c.m_error), std::string::npos) << run.m_error;
        }
    }
}
