// Expressions evaluated by their plans: operands read, operators applied into value slots
// kept for the evaluation, in the order the plan recorded.
#include <memory>
#include <string_view>
#include <vector>

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspInterpreter.h"

namespace {

// The value slots of the evaluations under way in one chain, one set per nesting level, kept
// between evaluations so that their memory is reused.
class CPlanSlots {
public:
    CPlanSlots(std::vector<std::unique_ptr<std::vector<CSspValue>>>& pool, int& depth)
        : m_depth(depth) {
        if (static_cast<std::size_t>(depth) == pool.size()) {
            pool.push_back(std::make_unique<std::vector<CSspValue>>());
        }
        m_pSlots = pool[static_cast<std::size_t>(depth)].get();
        ++m_depth;
    }
    ~CPlanSlots() { --m_depth; }
    CPlanSlots(const CPlanSlots&) = delete;
    CPlanSlots& operator=(const CPlanSlots&) = delete;

    std::vector<CSspValue>& Get() { return *m_pSlots; }

private:
    int& m_depth;
    std::vector<CSspValue>* m_pSlots;
};

// left op right; an operator's error code raised as its text at `pos`.
CSspValue Applied(const CSspValue& left, std::string_view op, const CSspValue& right,
                  const char* pos) {
    CSspValue value;
    int code = value.ApplyOperator(left, op, right);
    if (code < 0) {
        const char* text = SspOperatorErrorText(code);
        throw CSspException(text != nullptr ? text : g_msg.m_operationNotAllowed, pos);
    }
    return value;
}

}  // namespace

void CSspInterpreter::EvaluatePlanned(const CSspExpression& expr, int from, int to,
                                      CSspValue& result) {
    if (const CSspExpressionPlan* plan = expr.FindPlan(from, to)) {
        RunPlan(expr, *plan, result);
        return;
    }
    RunPlan(expr, CSspExpressionPlan::Build(expr.m_stmt, from, to), result);
}

void CSspInterpreter::RunPlan(const CSspExpression& expr, const CSspExpressionPlan& plan,
                              CSspValue& result) {
    using EStep = CSspExpressionPlan::EStep;
    CPlanSlots slots(m_pRoot->m_planSlots, m_pRoot->m_nPlanDepth);
    std::vector<CSspValue>& kept = slots.Get();
    if (kept.size() < static_cast<std::size_t>(plan.m_nSlots)) {
        kept.resize(static_cast<std::size_t>(plan.m_nSlots));
    }
    for (const CSspExpressionPlan::CStep& step : plan.m_steps) {
        switch (step.m_kind) {
            case EStep::KeepOperand:
                EvaluateOperand(expr, step.m_slot, result);
                kept[step.m_slot] = CSspValue(result);
                break;
            case EStep::Apply:
                ApplyAt(expr, step, kept);
                break;
            case EStep::CopySlot:
                result = kept[step.m_slot];
                break;
            case EStep::ReadOperand:
                EvaluateOperand(expr, step.m_slot, result);
                break;
            case EStep::Empty:
                result = CSspValue::FromText(std::string());
                break;
            case EStep::Fail:
                throw CSspException(step.m_pMessage, step.m_pPos);
        }
    }
}

void CSspInterpreter::EvaluateFastOperands(const CSspExpression& expr, CSspValue& result) {
    // A left side is read where it lies only when reading the right one cannot change it. The
    // right one is read into the result: the operator reads both sides before it writes.
    using CFast = CSspFastExpression;
    CSspValue leftRead;
    const CSspValue* left = &leftRead;
    if (expr.IsPureOperand(CFast::kRight)) {
        left = &OperandValue(expr, CFast::kLeft, leftRead);
    } else {
        ReadOperand(expr, CFast::kLeft, leftRead);
    }
    ApplyFast(expr, *left, OperandValue(expr, CFast::kRight, result), result);
}

void CSspInterpreter::ApplyByValues(const CSspExpression& expr, const CSspValue& left,
                                    const CSspValue& right, CSspValue& result) {
    using CFast = CSspFastExpression;
    result = Applied(left, expr.m_stmt.m_tokens[CFast::kOperator], right,
                     expr.m_stmt.m_starts[CFast::kOperator]);
}

void CSspInterpreter::ApplyAt(const CSspExpression& expr, const CSspExpressionPlan::CStep& step,
                              std::vector<CSspValue>& kept) {
    // binary: operand op operand | '-' operand
    static const CSspValue kMinusOne = CSspValue::FromInteger(-1);
    const std::string& opText = expr.m_stmt.m_tokens[step.m_slot];
    std::string_view applied = opText;
    // Operands are looked at where they lie; the left one only when reading the right one
    // cannot change it.
    CSspValue leftRead;
    const CSspValue* left = &kMinusOne;
    if (step.m_left < 0) {
        applied = "*";
    } else if (step.m_bLeftKept) {
        left = &kept[step.m_left];
    } else if (step.m_bRightKept || expr.IsPureOperand(step.m_right)) {
        left = &OperandValue(expr, step.m_left, leftRead);
    } else {
        EvaluateOperand(expr, step.m_left, leftRead);
        left = &leftRead;
    }
    CSspValue rightRead;
    const CSspValue* right = &kept[step.m_right];
    if (!step.m_bRightKept) {
        right = &OperandValue(expr, step.m_right, rightRead);
    }
    kept[step.m_slot] = Applied(*left, applied, *right, expr.m_stmt.m_starts[step.m_slot]);
}
