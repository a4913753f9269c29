#include "engine/script/SspTokenizerObject.h"

void CSspTokenizerObject::CallMethod(CSspInterpreter& /*interp*/, CSspCall& call,
                                     CSspValue& result) {
    m_tokenizer.CallMethod(call, result);
}
