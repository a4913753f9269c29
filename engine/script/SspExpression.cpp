#include "engine/script/SspExpression.h"

#include "engine/foundation/AsciiText.h"
#include "engine/script/SspInterpreter.h"
#include "engine/script/SspObject.h"

namespace {

// The characters of a literal in its source form ('...'), escapes decoded.
std::string DecodeLiteral(const std::string& token) {
    std::string out;
    out.reserve(token.size());
    for (std::size_t i = 1; i < token.size(); ++i) {
        char c = token[i];
        char next = i + 1 < token.size() ? token[i + 1] : '\0';
        if (c == '\'') {
            if (next == '\'') {
                out += "''";
                ++i;
                continue;
            }
            break;
        }
        if (c == '\\') {
            switch (next) {
                case '\\':
                    out += '\\';
                    ++i;
                    continue;
                case 'r':
                    out += '\r';
                    ++i;
                    continue;
                case 'n':
                    out += '\n';
                    ++i;
                    continue;
                case 't':
                    out += '\t';
                    ++i;
                    continue;
                case '\'':
                    out += '\'';
                    ++i;
                    continue;
                default:
                    break;
            }
        }
        out += c;
    }
    return out;
}

bool HasPrefixNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && SspNameEquals(text.substr(0, prefix.size()), prefix);
}

bool IsRawArgumentMember(std::string_view object, std::string_view member) {
    return (SspNameEquals(object, "Request") &&
            (SspNameEquals(member, "exist") || SspNameEquals(member, "size"))) ||
           (SspNameEquals(object, "Session") && SspNameEquals(member, "exist")) ||
           (SspNameEquals(object, "Server") && SspNameEquals(member, "GetUniqueID"));
}

CSspExpression::COperand CompileOperand(const CSspStatement& stmt, int index) {
    // operand: string | date | 'null' | number | name [ '.' member ] [ '(' args ')' ]
    using EKind = CSspExpression::COperand::EKind;
    CSspExpression::COperand operand;
    const std::string& token = stmt.m_tokens[index];
    // The name parts are kept for every kind: a literal written with an argument list is
    // still called by a declaration that takes a call.
    operand.m_bHasArgs = stmt.m_classes[index] == kSspCall;
    std::size_t nameEnd = operand.m_bHasArgs ? token.find('(') : token.size();
    std::string_view name(token.data(), nameEnd == std::string::npos ? token.size() : nameEnd);
    std::size_t dot = name.find('.');
    if (dot == std::string_view::npos) {
        operand.m_strObject.assign(name);
    } else {
        operand.m_strObject.assign(name.substr(0, dot));
        operand.m_strMember.assign(name.substr(dot + 1));
    }
    operand.m_bRawArgs = IsRawArgumentMember(operand.m_strObject, operand.m_strMember);
    if (!token.empty() && token[0] == '\'') {
        operand.m_kind = EKind::Value;
        operand.m_value = CSspValue::FromText(DecodeLiteral(token));
    } else if (HasPrefixNoCase(token, "{ts") || HasPrefixNoCase(token, "{d")) {
        // Read when evaluated: the local time zone turns it into a time.
        operand.m_kind = EKind::Date;
    } else if (SspNameEquals(token, "null")) {
        operand.m_kind = EKind::Value;
        operand.m_value = CSspValue::FromText(std::string());
    } else if (CSspInterpreter::IsNumberToken(token)) {
        operand.m_kind = EKind::Value;
        operand.m_value.SetNumber(token);
    } else if (!operand.m_strMember.empty()) {
        using ETarget = CSspExpression::COperand::ETarget;
        if (SspNameEquals(operand.m_strObject, "arg")) {
            // With arguments they are evaluated first, however little the reading needs them.
            operand.m_target = operand.m_bHasArgs ? ETarget::Other : ETarget::Arg;
        } else if (SspNameEquals(operand.m_strObject, "Local") &&
                   !CSspInterpreter::IsLocalMember(operand.m_strMember)) {
            operand.m_target = operand.m_bHasArgs ? ETarget::LocalFunction : ETarget::LocalVar;
            operand.m_strLocalVar = AsciiLowerCopy(operand.m_strMember);
            operand.m_nLocalVarHash = CSspNameHash()(operand.m_strLocalVar);
        }
    }
    return operand;
}

}  // namespace

CSspExpression::CSspExpression(CSspStatement stmt) : m_stmt(std::move(stmt)) {
    const int count = static_cast<int>(m_stmt.Size());
    m_operands.reserve(m_stmt.Size());
    // Every slot: an operator standing alone is read as an operand too, and fails as one.
    for (int i = 0; i < count; ++i) {
        m_operands.push_back(CompileOperand(m_stmt, i));
    }
    // The ranges evaluation asks for: the whole statement, each item of an argument list,
    // and the comparisons of a condition.
    AddPlan(0, count - 1);
    int itemStart = 0;
    for (int i = 0; i <= count; ++i) {
        if (i < count && m_stmt.m_tokens[i] != ",") {
            continue;
        }
        if (i > itemStart) {
            AddPlan(itemStart, i - 1);
        }
        itemStart = i + 1;
    }
    if (count > 0) {
        AddConditionPlans(0, count - 1);
    }
    m_pWholePlan = &m_plans.at({0, count - 1});
    m_fastValue = CSspFastExpression::ForValue(*this);
    m_fastCondition = CSspFastExpression::ForCondition(*this);
}

void CSspExpression::AddPlan(int from, int to) {
    if (!m_plans.contains({from, to})) {
        m_plans.emplace(std::make_pair(from, to), CSspExpressionPlan::Build(m_stmt, from, to));
    }
}

void CSspExpression::AddConditionPlans(int from, int to) {
    // The ranges the condition's and/or and comparison split it into; a range whose split
    // fails is evaluated without a plan made ahead.
    int minDepth = -1;
    for (int i = from; i <= to; ++i) {
        if (m_stmt.m_classes[i] == kSspAndOr && (minDepth < 0 || m_stmt.m_depths[i] < minDepth)) {
            minDepth = m_stmt.m_depths[i];
        }
    }
    if (minDepth >= 0) {
        int start = from;
        for (int op = from; op <= to; ++op) {
            if (m_stmt.m_classes[op] != kSspAndOr || m_stmt.m_depths[op] != minDepth) {
                continue;
            }
            if (op == start || op == to) {
                return;
            }
            AddConditionPlans(start, op - 1);
            start = op + 1;
        }
        AddConditionPlans(start, to);
        return;
    }
    int op = -1;
    for (int i = from; i <= to; ++i) {
        if (m_stmt.m_classes[i] == kSspCompareOp) {
            if (op >= 0) {
                return;
            }
            op = i;
        }
    }
    if (op < 0) {
        AddPlan(from, to);
    } else if (op > from && op < to) {
        AddPlan(from, op - 1);
        AddPlan(op + 1, to);
    }
}

const CSspExpressionPlan* CSspExpression::FindPlan(int from, int to) const {
    if (from == 0 && to == static_cast<int>(m_stmt.Size()) - 1) {
        return m_pWholePlan;
    }
    auto it = m_plans.find({from, to});
    return it != m_plans.end() ? &it->second : nullptr;
}
