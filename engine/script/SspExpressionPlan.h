#pragma once

#include <cstdint>
#include <vector>

class CSspStatement;

// The order in which one range of a statement is evaluated: which operands are read, which
// operator is applied to which slots, where a misplaced operator fails, and which slot gives
// the value. It follows only the statement's token classes and parenthesis levels, never the
// values, so it is worked out once per range and replayed on every evaluation.
//
// The value being built (`result`) carries over between steps as it always has: an operand
// read on its own is read into it, so a call that gives nothing leaves what was there.
class CSspExpressionPlan {
public:
    enum class EStep : uint8_t {
        KeepOperand,  // read operand m_slot into result and keep a copy in its slot
        Apply,        // apply operator m_slot to m_left (-1: a unary minus) and m_right
        CopySlot,     // result = the slot's kept value
        ReadOperand,  // read operand m_slot into result (the last step)
        Empty,        // result = empty text
        Fail,         // raise m_pMessage at m_pPos (the last step)
    };
    struct CStep {
        EStep m_kind;
        bool m_bLeftKept = false;   // Apply: the left operand is a kept value, not read afresh
        bool m_bRightKept = false;  // Apply: likewise the right one
        int m_slot = -1;
        int m_left = -1;
        int m_right = -1;
        const char* m_pMessage = nullptr;
        const char* m_pPos = nullptr;
    };
    // Short ranges by plain scans of the deepest run, long ones through linked slots; both
    // give the same order.
    enum class EMethod : uint8_t { Auto, Short, Linked };

    // The plan of [from, to] of `stmt`, whose slots are all unevaluated.
    static CSspExpressionPlan Build(const CSspStatement& stmt, int from, int to,
                                    EMethod method = EMethod::Auto);

    std::vector<CStep> m_steps;
    // The largest slot a step keeps a value in, plus one.
    int m_nSlots = 0;
};
