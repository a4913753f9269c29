// The script members of email_out and its use of the process's settings.
#include <array>
#include <memory>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/script/SspCall.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"

namespace {

enum Member {
    kSend,
    kAddHeader,
    kAttach,
    kSetVar,
    kTo,
    kCc,
    kBcc,
    kFrom,
    kSubject,
    kContent,
    kContentType,
    kContentTransferEncoding,
    kDoNotSendTo,
};

// AddHeader and attach check their own arguments: their texts differ from the table's.
constexpr std::array<CSspMember, 13> kMembers = {{
    {"Send", 0, kSend},
    {"AddHeader", 0, kAddHeader},
    {"attach", 0, kAttach},
    {"SetVar", 2, kSetVar},
    {"to", 0, kTo},
    {"cc", 0, kCc},
    {"bcc", 0, kBcc},
    {"from", 0, kFrom},
    {"subject", 0, kSubject},
    {"content", 0, kContent},
    {"contentType", 0, kContentType},
    {"contentTransferEncoding", 0, kContentTransferEncoding},
    {"DoNotSendTo", 0, kDoNotSendTo},
}};

// The bytes a value carries: a binary value's data, any other value's text.
std::string ValueBytes(const CSspValue& value) {
    if (value.IsBinary() || value.IsLongText()) {
        return std::string(value.m_blob.View());
    }
    return value.GetText();
}

std::unique_ptr<CSspObject> MakeEmailOut(const std::string& /*name*/) {
    return std::make_unique<CSspEmailOut>();
}

}  // namespace

void RegisterEmailOutDeclaration() {
    CSspObjectRegistry::Instance().RegisterDeclaration("email_out", &MakeEmailOut);
}

std::string* CSspEmailOut::FieldByName(const std::string& name) {
    const CSspMember* member = FindSspMember(kMembers, name);
    switch (member == nullptr ? -1 : member->m_id) {
        case kTo:
            return &m_strTo;
        case kCc:
            return &m_strCc;
        case kBcc:
            return &m_strBcc;
        case kFrom:
            return &m_strFrom;
        case kSubject:
            return &m_strSubject;
        case kContent:
            return &m_strContent;
        case kContentType:
            return &m_strContentType;
        case kContentTransferEncoding:
            return &m_strContentTransferEncoding;
        case kDoNotSendTo:
            return &m_strDoNotSendTo;
        default:
            return nullptr;
    }
}

int CSspEmailOut::Send() {
    return Send(MailSettingsFrom(g_settings), g_rootDir, g_log);
}

void CSspEmailOut::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    const CSspMember& member = DispatchSspMember(kMembers, call, g_msg.m_unknownEmailOutField);
    result = CSspValue::FromText("");
    switch (member.m_id) {
        case kSend:
            result = CSspValue::FromInteger(Send());
            return;
        case kAddHeader:
            if (call.ArgCount() < 1) {
                throw CSspException(g_msg.m_addHeaderMissingParam, call.m_pPos);
            }
            AddHeader(call.GetParamStr(0));
            return;
        case kAttach:
            if (call.ArgCount() != 2) {
                throw CSspException(std::string(g_msg.m_missingParameter) + call.m_strMember,
                                    call.m_pPos);
            }
            Attach(call.GetParamStr(0), ValueBytes(call.Arg(1)));
            return;
        case kSetVar: {
            const std::string name = call.GetParamStr(0);
            std::string* field = FieldByName(name);
            if (field == nullptr) {
                throw CSspException(std::string(g_msg.m_unknownEmailOutField) + name, call.m_pPos);
            }
            *field = call.GetParamStr(1);
            return;
        }
        default:
            result = CSspValue::FromText(*FieldByName(std::string(member.m_name)));
            return;
    }
}
