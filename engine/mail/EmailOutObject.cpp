// The script members of email_out and its use of the process's settings.
#include <memory>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/settings/RootFolder.h"
#include "engine/settings/ServerSettings.h"

namespace {

// The texts a page reads as members and sets through SetVar.
struct CEmailOutField {
    std::string_view m_name;  // matched without regard to ASCII case
    std::string CSspEmailOut::*m_field;
};
constexpr CEmailOutField kFields[] = {
    {"to", &CSspEmailOut::m_strTo},
    {"cc", &CSspEmailOut::m_strCc},
    {"bcc", &CSspEmailOut::m_strBcc},
    {"from", &CSspEmailOut::m_strFrom},
    {"subject", &CSspEmailOut::m_strSubject},
    {"content", &CSspEmailOut::m_strContent},
    {"contentType", &CSspEmailOut::m_strContentType},
    {"contentTransferEncoding", &CSspEmailOut::m_strContentTransferEncoding},
    {"DoNotSendTo", &CSspEmailOut::m_strDoNotSendTo},
};

std::string* TextField(CSspEmailOut& self, std::string_view name) {
    const CEmailOutField* field = FindSspMemberRow(kFields, name);
    return field == nullptr ? nullptr : &(self.*field->m_field);
}

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
    return TextField(*this, name);
}

int CSspEmailOut::Send(std::string* addressError) {
    return Send(MailSettingsFrom(g_settings), g_rootDir, g_log, {}, addressError);
}

namespace {

void Send(CSspEmailOut& self, CSspCall& call, CSspValue& result) {
    std::string addressError;
    const int queued = self.Send(&addressError);
    if (!addressError.empty()) {
        throw CSspException(addressError, call.m_pPos);
    }
    result = CSspValue::FromInteger(queued);
}
void AddHeader(CSspEmailOut& self, CSspCall& call, CSspValue& result) {
    if (call.ArgCount() < 1) {
        throw CSspException(g_msg.m_addHeaderMissingParam, call.m_pPos);
    }
    self.AddHeader(call.GetParamStr(0));
    result = CSspValue::FromText("");
}
void Attach(CSspEmailOut& self, CSspCall& call, CSspValue& result) {
    if (call.ArgCount() != 2) {
        throw CSspException(std::string(g_msg.m_missingParameter) + call.m_strMember, call.m_pPos);
    }
    self.Attach(call.GetParamStr(0), ValueBytes(call.Arg(1)));
    result = CSspValue::FromText("");
}
void SetVar(CSspEmailOut& self, CSspCall& call, CSspValue& result) {
    const std::string name = call.GetParamStr(0);
    std::string* field = TextField(self, name);
    if (field == nullptr) {
        throw CSspException(std::string(g_msg.m_unknownEmailOutField) + name, call.m_pPos);
    }
    *field = call.GetParamStr(1);
    result = CSspValue::FromText("");
}

// AddHeader and attach check their own arguments: their texts differ from the table's.
constexpr CSspMemberRow<CSspEmailOut&> kTable[] = {
    {"Send", 0, kSspAnyArgs, &Send},
    {"AddHeader", 0, kSspAnyArgs, &AddHeader},
    {"attach", 0, kSspAnyArgs, &Attach},
    {"SetVar", 2, kSspAnyArgs, &SetVar},
};

}  // namespace

void CSspEmailOut::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call, CSspValue& result) {
    if (const auto* row = FindSspMemberRow(kTable, call.m_strMember)) {
        CallSspMemberRow(*row, call, result, *this);
        return;
    }
    // The other members read the message's texts.
    std::string* field = FieldByName(call.m_strMember);
    if (field == nullptr) {
        ThrowUnknownSspMember(call, g_msg.m_unknownEmailOutField);
    }
    result = CSspValue::FromText(*field);
}
