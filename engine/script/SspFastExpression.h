#pragma once

#include <cstdint>

class CSspExpression;
class CSspValue;

// The statement shapes loops are mostly made of, recognised once when a statement is
// compiled so that evaluating them skips the plan: `a op b` as a value and `a cmp b` as a
// condition, where a and b are literals, variables or arguments. Two integers that are not
// NULL are worked here; every other pair goes through the value's own operators, so results
// and errors are the plan's.
class CSspFastExpression {
public:
    enum class EShape : uint8_t { None, Arithmetic, Comparison };
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
                  int& type) const;
    // a cmp b for two integers that are not NULL; false in `decided` when the value's own
    // comparison must decide.
    bool Compare(const CSspValue& left, const CSspValue& right, bool& decided) const;

private:
    EShape m_shape = EShape::None;
    EOp m_op = EOp::Other;
};
