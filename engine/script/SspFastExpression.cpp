#include "engine/script/SspFastExpression.h"

#include <limits>
#include <string_view>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspExpression.h"

namespace {

using EOp = CSspFastExpression::EOp;

EOp OperatorOf(std::string_view token) {
    static constexpr struct {
        std::string_view m_text;
        EOp m_op;
    } kOps[] = {{"+", EOp::Add}, {"-", EOp::Sub}, {"*", EOp::Mul}, {"/", EOp::Div}, {"%", EOp::Mod},
                {"=", EOp::Eq},  {"==", EOp::Eq}, {"!=", EOp::Ne}, {"<>", EOp::Ne}, {"<", EOp::Lt},
                {"<=", EOp::Le}, {">", EOp::Gt},  {">=", EOp::Ge}};
    for (const auto& op : kOps) {
        if (op.m_text == token) {
            return op.m_op;
        }
    }
    return EOp::Other;
}

std::uint8_t OrdersOf(EOp op) {
    constexpr std::uint8_t kLess = 1;
    constexpr std::uint8_t kEqual = 2;
    constexpr std::uint8_t kGreater = 4;
    switch (op) {
        case EOp::Eq:
            return kEqual;
        case EOp::Ne:
            return kLess | kGreater;
        case EOp::Lt:
            return kLess;
        case EOp::Le:
            return kLess | kEqual;
        case EOp::Gt:
            return kGreater;
        case EOp::Ge:
            return kGreater | kEqual;
        default:
            return 0;
    }
}

// Three slots: a literal, variable or argument on either side of an operator of `opClass`.
bool IsOperandClass(uint8_t cls) {
    return cls == kSspOperand || cls == kSspCall;
}

// Three slots: an operand on either side of an operator of `opClass`; with `pure`, each a
// literal, variable or argument.
bool IsTriple(const CSspExpression& expr, uint8_t opClass, bool pure) {
    const CSspStatement& stmt = expr.m_stmt;
    if (stmt.Size() != 3 || stmt.m_classes[1] != opClass) {
        return false;
    }
    if (pure) {
        return stmt.m_classes[0] == kSspOperand && stmt.m_classes[2] == kSspOperand &&
               expr.IsPureOperand(0) && expr.IsPureOperand(2);
    }
    return IsOperandClass(stmt.m_classes[0]) && IsOperandClass(stmt.m_classes[2]);
}

bool IsPlainTriple(const CSspExpression& expr, uint8_t opClass) {
    return IsTriple(expr, opClass, true);
}

}  // namespace

bool CSspFastExpression::IsIntegerLiteral(const CSspExpression& expr, int slot) {
    const CSspExpression::COperand& operand = expr.m_operands[static_cast<std::size_t>(slot)];
    return operand.m_kind == CSspExpression::COperand::EKind::Value && IsInteger(operand.m_value);
}

CSspFastExpression CSspFastExpression::ForValue(const CSspExpression& expr) {
    CSspFastExpression fast;
    const CSspStatement& stmt = expr.m_stmt;
    if (!IsTriple(expr, kSspAddOp, false) && !IsTriple(expr, kSspMulOp, false)) {
        return fast;
    }
    // Only the plan that reads both sides afresh and applies the operator once is mirrored.
    using EStep = CSspExpressionPlan::EStep;
    const CSspExpressionPlan* plan = expr.FindPlan(0, 2);
    if (plan == nullptr || plan->m_steps.size() != 2) {
        return fast;
    }
    const CSspExpressionPlan::CStep& apply = plan->m_steps[0];
    const CSspExpressionPlan::CStep& copy = plan->m_steps[1];
    if (apply.m_kind != EStep::Apply || apply.m_slot != kOperator || apply.m_left != kLeft ||
        apply.m_right != kRight || apply.m_bLeftKept || apply.m_bRightKept ||
        copy.m_kind != EStep::CopySlot || copy.m_slot != kOperator) {
        return fast;
    }
    fast.m_shape = expr.IsPureOperand(kLeft) && expr.IsPureOperand(kRight) ? EShape::Arithmetic
                                                                           : EShape::Operands;
    fast.m_op = OperatorOf(stmt.m_tokens[kOperator]);
    fast.m_bRightInteger = IsIntegerLiteral(expr, kRight);
    return fast;
}

CSspFastExpression CSspFastExpression::ForCondition(const CSspExpression& expr) {
    CSspFastExpression fast;
    if (IsPlainTriple(expr, kSspCompareOp)) {
        fast.m_shape = EShape::Comparison;
        fast.m_op = OperatorOf(expr.m_stmt.m_tokens[kOperator]);
        fast.m_orders = OrdersOf(fast.m_op);
        fast.m_bRightInteger = IsIntegerLiteral(expr, kRight);
    }
    return fast;
}
