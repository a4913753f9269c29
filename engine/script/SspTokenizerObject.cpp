#include "engine/script/SspTokenizerObject.h"

#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"

void CSspTokenizerObject::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call,
                                     CSspValue& result) {
    result = CSspValue::FromText(m_tokenizer.CallMethod(call.m_strMember, call.m_pPos));
}
