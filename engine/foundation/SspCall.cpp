#include "engine/foundation/SspCall.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"

CSspCall::CSspCall() = default;
CSspCall::~CSspCall() = default;

void CSspCall::AddArg(const CSspValue& value) {
    m_args.push_back(std::make_unique<CSspValue>(value));
}

std::string CSspCall::GetParamStr(std::size_t index) const {
    if (index >= m_args.size()) {
        throw CSspException(g_msg.m_paramOutOfBound);
    }
    return m_args[index]->GetText();
}
