#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Token classes of a statement slot.
enum : uint8_t {
    kSspOperand = 0,    // a literal or a reference
    kSspCall = 1,       // an operand with an argument list
    kSspAddOp = 2,      // + - ||
    kSspMulOp = 3,      // * / %
    kSspCompareOp = 4,  // < <= > >= = == != <>
    kSspAndOr = 5,      // and or (any case)
    kSspComputed = 6,   // while planned: the slot holds a computed value
    kSspConsumed = 7,   // an operand already used by an operator
};

// The tokens of one statement or argument list, as parallel arrays (one entry per token).
class CSspStatement {
public:
    // Appends a token with the class GetOperatorClass gives it.
    void AddToken(std::string text, const char* start, const char* end, int depth);
    std::size_t Size() const { return m_tokens.size(); }
    bool Empty() const { return m_tokens.empty(); }
    void Clear();

    // 2..5 for the operators, 0 for everything else.
    static uint8_t GetOperatorClass(std::string_view token);

    std::vector<std::string> m_tokens;
    std::vector<const char*> m_starts;
    std::vector<const char*> m_ends;
    std::vector<uint8_t> m_classes;
    std::vector<int> m_depths;  // parenthesis level
};
