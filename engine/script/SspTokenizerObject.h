#pragma once

#include "engine/foundation/Tokenizer.h"
#include "engine/script/SspObject.h"

// A declared `tokenizer name(text, delimiters)`: the members NextToken and NextPart of the
// engine's tokenizer over its own copy of the text.
class CSspTokenizerObject : public CSspObject {
public:
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    CTokenizer m_tokenizer;
};
