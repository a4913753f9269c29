#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspExpressionPlan.h"
#include "engine/script/SspFastExpression.h"
#include "engine/script/SspStatement.h"

struct CSspCallArgs;

// A statement's tokens compiled once for evaluation: what each operand slot is (its literal
// value made already, or the object and member it names), and the evaluation plans of the
// ranges a statement is evaluated by (the whole, each argument, each side of a condition).
// Immutable once compiled but for its hints, so runs on several threads may share it.
class CSspExpression {
public:
    struct COperand {
        CSspValue m_value;  // Value: a text or number literal, or null's empty text
        std::string m_strObject;
        std::string m_strMember;
        // Next to m_target, which leaves room for the hints below.
        enum class EKind : uint8_t { Value, Date, Call };
        EKind m_kind = EKind::Call;
        // What a call names that the interpreter itself answers, found once.
        enum class ETarget : uint8_t {
            Other,          // dispatched by object name when evaluated
            LocalVar,       // `Local.name`: m_strLocalVar holds the name lower-cased
            LocalFunction,  // `Local.name(...)`: a function of the file
            Arg,            // `arg.name`
        };
        ETarget m_target = ETarget::Other;
        std::string m_strLocalVar;
        std::size_t m_nLocalVarHash = 0;  // as the interpreter's variables hash it
        bool m_bHasArgs = false;
        // The members whose arguments are passed as written, not evaluated.
        bool m_bRawArgs = false;
        // What a run found for a shared operand, for the runs after it: runs on several
        // threads may set it, each to the same value. Copied with the operand.
        template <class T>
        struct CHint {
            std::atomic<T> m_value;
            explicit CHint(T value) noexcept : m_value(value) {}
            CHint(const CHint& other) noexcept : m_value(other.Load()) {}
            CHint& operator=(const CHint& other) noexcept {
                Store(other.Load());
                return *this;
            }
            T Load() const { return m_value.load(std::memory_order_acquire); }
            void Store(T value) { m_value.store(value, std::memory_order_release); }
        };
        // Arg: the parameter it names, found while the function whose body holds it ran:
        // good for every run of that body.
        mutable CHint<int> m_paramHint{-1};
        // A call with arguments in a shared expression: its argument list's entry in the cache
        // of the file that holds it, once found there; entries stay as long as the file.
        mutable CHint<const CSspCallArgs*> m_callArgsHint{nullptr};
        // LocalFunction in a shared expression: where the "function" keyword of the
        // definition its name found stands in the text that holds both.
        mutable CHint<const char*> m_functionHint{nullptr};
    };

    CSspExpression() = default;
    explicit CSspExpression(CSspStatement stmt);
    // Moves keep the plans where they are; a copy would point into the original.
    CSspExpression(CSspExpression&&) = default;
    CSspExpression& operator=(CSspExpression&&) = default;
    CSspExpression(const CSspExpression&) = delete;
    CSspExpression& operator=(const CSspExpression&) = delete;

    std::size_t Size() const { return m_stmt.Size(); }
    bool Empty() const { return m_stmt.Empty(); }
    // True when reading slot `index` has no side effect: a literal, a variable, an argument.
    bool IsPureOperand(int index) const {
        const COperand& operand = m_operands[static_cast<std::size_t>(index)];
        return operand.m_kind == COperand::EKind::Value ||
               (operand.m_kind == COperand::EKind::Call &&
                (operand.m_target == COperand::ETarget::LocalVar ||
                 operand.m_target == COperand::ETarget::Arg));
    }
    // True when [from, to] is the whole statement of a fast shape, which its value is worked
    // by instead of the plan.
    bool TakesFastShape(int from, int to) const {
        return from != to && from == 0 && to == static_cast<int>(Size()) - 1 &&
               m_fastValue.Shape() != CSspFastExpression::EShape::None;
    }
    // The plan of [from, to], or nullptr when it was not made at compile time.
    const CSspExpressionPlan* FindPlan(int from, int to) const;

    CSspStatement m_stmt;
    std::vector<COperand> m_operands;
    // Set once the expression is in a compiled file's cache, where it stays for every run
    // that holds the file: its operands may then stand for their places.
    bool m_bShared = false;
    // The whole statement's shape as a value and as a condition's contents.
    CSspFastExpression m_fastValue;
    CSspFastExpression m_fastCondition;

private:
    void AddPlan(int from, int to);
    void AddConditionPlans(int from, int to);

    std::map<std::pair<int, int>, CSspExpressionPlan> m_plans;
    const CSspExpressionPlan* m_pWholePlan = nullptr;  // the whole statement's, in m_plans
};
