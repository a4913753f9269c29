#pragma once

#include <cstdint>
#include <limits>

#include "engine/foundation/SspValue.h"

class CSspExpression;

// The statement shapes loops are mostly made of, recognised once when a statement is
// compiled so that evaluating them skips the plan: `a op b` as a value and `a cmp b` as a
// condition, where a and b are literals, variables or arguments. Two integers that are not
// NULL are worked here; every other pair goes through the value's own operators, so results
// and errors are the plan's.
class CSspFastExpression {
public:
    // Arithmetic: `a op b` of literals, variables or arguments; Operands: `a op b` where a
    // side is read by a call (evaluated in the plan's order, then worked as Arithmetic is).
    enum class EShape : uint8_t { None, Arithmetic, Operands, Comparison };
    enum class EOp : uint8_t { Other, Add, Sub, Mul, Div, Mod, Eq, Ne, Lt, Le, Gt, Ge };

    // The shape of `expr` evaluated whole as a value; its plan must be the plain one.
    static CSspFastExpression ForValue(const CSspExpression& expr);
    // The shape of `expr` as the contents of a condition.
    static CSspFastExpression ForCondition(const CSspExpression& expr);

    EShape Shape() const { return m_shape; }
    EOp Op() const { return m_op; }

    // The slots of the shapes.
    static constexpr int kLeft = 0;
    static constexpr int kOperator = 1;
    static constexpr int kRight = 2;

    // a op b for two integers that are not NULL, as the value's arithmetic gives it: the
    // result and its type. False when the value's operator must decide (an operator of
    // another kind, a zero divisor, the one quotient that does not fit).
    bool Integers(const CSspValue& left, const CSspValue& right, std::int32_t& result,
                  int& type) const {
        if (!IsInteger(left) || (!m_bRightInteger && !IsInteger(right))) {
            return false;
        }
        const std::int64_t a = left.m_integer;
        const std::int64_t b = right.m_integer;
        // The numeric pair takes the right operand's type; "%" always gives an integer.
        type = right.m_type;
        // The two most frequent first, without a jump table's indirect branch.
        if (m_op == EOp::Add) {
            result = Wrap(a + b);
            return true;
        }
        if (m_op == EOp::Sub) {
            result = Wrap(a - b);
            return true;
        }
        switch (m_op) {
            case EOp::Mul:
                result = Wrap(a * b);
                return true;
            case EOp::Div:
            case EOp::Mod:
                if (b == 0 || (a == std::numeric_limits<std::int32_t>::min() && b == -1)) {
                    return false;
                }
                result = static_cast<std::int32_t>(m_op == EOp::Div ? a / b : a % b);
                if (m_op == EOp::Mod) {
                    type = kSqlInteger;
                }
                return true;
            default:
                return false;
        }
    }
    // a cmp b for two integers that are not NULL; false in `decided` when the value's own
    // comparison must decide.
    bool Compare(const CSspValue& left, const CSspValue& right, bool& decided) const {
        decided = m_orders != 0 && IsInteger(left) && (m_bRightInteger || IsInteger(right));
        if (!decided) {
            return false;
        }
        const std::int32_t a = left.m_integer;
        const std::int32_t b = right.m_integer;
        // Without a branch to mispredict: the order of the pair picks its bit.
        const int order = (a > b) - (a < b) + 1;
        return ((m_orders >> order) & 1) != 0;
    }

private:
    static bool IsIntegerLiteral(const CSspExpression& expr, int slot);
    static bool IsInteger(const CSspValue& v) {
        return (v.m_type == kSqlInteger || v.m_type == kSqlSmallInt) && v.m_integer != kNullInteger;
    }
    // Results wrap to 32 bits as the value's arithmetic wraps them.
    static std::int32_t Wrap(std::int64_t n) {
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(n)));
    }

    EShape m_shape = EShape::None;
    EOp m_op = EOp::Other;
    // For a comparison, the orders of a pair for which it holds: bit 0 when a < b, bit 1 when
    // a == b, bit 2 when a > b; none when the value's own comparison decides.
    std::uint8_t m_orders = 0;
    // The right side is an integer literal that is not NULL: only the left one is tested.
    bool m_bRightInteger = false;
};
