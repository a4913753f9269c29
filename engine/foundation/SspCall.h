#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

class CSspValue;

// An owned list of script values: call arguments, array elements, array results.
using CSspValueList = std::vector<std::unique_ptr<CSspValue>>;

// One evaluated member reference or call, as the evaluator hands it to an object:
// `Object.Member(args)`. A name without "." has an empty member (a global function).
class CSspCall {
public:
    CSspCall();
    ~CSspCall();
    CSspCall(const CSspCall&) = delete;
    CSspCall& operator=(const CSspCall&) = delete;

    // Text before the first "." of the operand, or the whole name when it has none.
    std::string m_strObject;
    // Text after the first "." (it may hold further dots); empty without a ".".
    std::string m_strMember;
    // Start of the operand in the source text: the position of every error the call raises.
    const char* m_pPos = nullptr;
    // End of the operand, or just after the ")" of its argument list.
    const char* m_pEnd = nullptr;
    // The evaluated arguments, in order.
    CSspValueList m_args;
    // True when the operand was written with an argument list, even an empty one.
    bool m_bHasArgs = false;

    std::size_t ArgCount() const { return m_args.size(); }
    // Argument `index` (from 0). REQUIRES: index < ArgCount().
    const CSspValue& Arg(std::size_t index) const { return *m_args[index]; }
    CSspValue& Arg(std::size_t index) { return *m_args[index]; }
    // Appends a copy of `value`.
    void AddArg(const CSspValue& value);

    // Argument `index` rendered as text. Throws CSspException "out of bound in GetParamStr."
    // without a position when the call has no such argument.
    std::string GetParamStr(std::size_t index) const;
};
