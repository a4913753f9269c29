// Statement-mode SELECT, INSERT, UPDATE and DELETE of the sql object: the
// page's tokens are rebuilt into SQL with every value written as a literal of
// its column's type.
#include <strings.h>

#include "engine/data/DataSource.h"
#include "engine/data/SspSql.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

bool Is(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

std::string Tok(const std::vector<CSqlToken>& toks, size_t i) {
    return i < toks.size() ? toks[i].Text() : std::string();
}

bool IsComparison(const std::string& t) {
    static const char* const kOps[] = {"<", ">", "<=", ">=", "=", "==", "<>", "!="};
    for (const char* op : kOps) {
        if (t == op) {
            return true;
        }
    }
    return Is(t, "alike") || Is(t, "like");
}

bool EndsClause(const std::string& t) {
    return t.empty() || t == ";" || Is(t, "group") || Is(t, "order");
}

// A decimal written bare into SQL must be a plain number.
bool PlainNumber(const std::string& s) {
    size_t i = s[0] == '-' ? 1 : 0;
    size_t digits = 0;
    bool dot = false;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') {
            ++digits;
        } else if (s[i] == '.' && !dot) {
            dot = true;
        } else {
            return false;
        }
    }
    return digits > 0;
}

}  // namespace

size_t CSspSql::ReadToAndOrOrder(const std::vector<CSqlToken>& toks, size_t i) const {
    int depth = 0;
    for (; i < toks.size(); ++i) {
        std::string t = toks[i].Text();
        if (depth == 0 && (Is(t, "and") || Is(t, "or") || EndsClause(t))) {
            break;
        }
        if (t == "(") {
            ++depth;
        } else if (t == ")") {
            if (depth == 0) {
                break;  // closes a group opened before the operator
            }
            --depth;
        }
    }
    return i;
}

size_t CSspSql::ReadToCommaOrWhere(const std::vector<CSqlToken>& toks, size_t i) const {
    int depth = 0;
    for (; i < toks.size(); ++i) {
        std::string t = toks[i].Text();
        if (depth == 0 && (t == "," || t == ";" || Is(t, "WHERE"))) {
            break;
        }
        if (t == "(") {
            ++depth;
        } else if (t == ")") {
            --depth;
        }
    }
    return i;
}

void CSspSql::CollectWhereColumns(const std::vector<CSqlToken>& toks, size_t i, CDynBindSet& set) {
    bool expectColumn = true;
    for (; i < toks.size(); ++i) {
        std::string t = toks[i].Text();
        if (EndsClause(t)) {
            break;
        }
        if (Is(t, "not")) {
            continue;
        }
        if (Is(t, "and") || Is(t, "or")) {
            expectColumn = true;
            continue;
        }
        if (expectColumn && t != "(" && t != ")") {
            set.AddColumn(t);
            expectColumn = false;
        }
    }
    if (expectColumn) {
        Raise(g_msg.m_missingColumnName);
    }
}

std::string CSspSql::BuildWhereClause(const std::vector<CSqlToken>& toks, size_t* pos) {
    CDataSource* ds = m_pRunSource;
    CDynBindSet types(&ds->Connection());
    // The statement's tables, as the main set collected them.
    std::string tables = m_set.GetDefaultSQL() + ",";
    for (size_t start = 0, comma; (comma = tables.find(',', start)) != std::string::npos;
         start = comma + 1) {
        if (comma > start) {
            types.AddTable(tables.substr(start, comma - start));
        }
    }
    CollectWhereColumns(toks, *pos, types);
    // Names that are no column (a function, an expression) keep their
    // values' own types.
    types.m_bTolerateUnknownColumns = true;
    types.m_bKeptCatalogue = true;
    bool typed = types.OpenForInsert(ds->GetDbmsName());

    std::string out;
    std::string latest;
    size_t i = *pos;
    while (i < toks.size()) {
        std::string t = toks[i].Text();
        if (EndsClause(t)) {
            break;
        }
        if (!IsComparison(t)) {
            out += t + " ";
            latest = t;
            ++i;
            continue;
        }
        size_t from = i + 1;
        size_t to = ReadToAndOrOrder(toks, from);
        if (to == from) {
            Raise(g_msg.m_missingOperand, toks[i].m_pStart);
        }
        CSspValue value = m_pHost->Evaluate(static_cast<int>(from), static_cast<int>(to));
        CBoundColumn* column = typed ? types.FindColumn(latest) : nullptr;
        if (column && column->m_value.m_type != kSqlNoType) {
            CSspValue typedValue = column->m_value;
            typedValue.SetFromText(value.GetTextFor(typedValue));
            if (typedValue.IsDecimal() && !typedValue.m_text.empty() &&
                !PlainNumber(typedValue.m_text)) {
                Raise(g_msg.m_invalidToken + value.GetText(), toks[from].m_pStart);
            }
            value = std::move(typedValue);
        }
        std::string literal = value.ToSqlLiteral();
        if (!Is(literal, "null")) {
            out += t + " " + literal + " ";
        } else {
            out += std::string(t == "=" || t == "==" ? "IS " : "IS NOT ") + literal + " ";
        }
        i = to;
    }
    *pos = i;
    out.resize(TrimSpaceTabOrLineBreakRight(out).size());
    return out;
}

void CSspSql::ExecuteSelect(const std::vector<CSqlToken>& toks) {
    CloseSet();
    RunSource();
    std::string sql;
    size_t i = 0;
    bool from = false;
    while (i < toks.size()) {
        std::string t = toks[i++].Text();
        if (t.empty() || t == ";") {
            --i;
            break;
        }
        sql += t + " ";
        if (Is(t, "FROM")) {
            from = true;
            break;
        }
    }
    if (!from) {
        Raise(g_msg.m_missingFrom);
    }
    for (; i < toks.size(); ++i) {
        std::string t = toks[i].Text();
        if (t.empty() || t == ";" || Is(t, "WHERE")) {
            break;
        }
        sql += t + " ";
        if (t != ",") {
            m_set.AddTable(t);
        }
    }
    if (i < toks.size() && Is(toks[i].Text(), "WHERE")) {
        ++i;
        std::string where = BuildWhereClause(toks, &i);
        if (!where.empty()) {
            sql += "WHERE " + where + " ";
        }
    }
    for (; i < toks.size(); ++i) {
        std::string t = toks[i].Text();
        if (t.empty() || t == ";") {
            break;
        }
        sql += t + " ";
    }
    sql.resize(TrimSpaceTabOrLineBreakRight(sql).size());
    m_strSql = sql;
    CheckInjection(sql);
    // The tables only typed the WHERE values; the text names its own columns.
    m_set.Reset();
    m_set.Open(sql, CDynBindSet::kExecuteDirect);
}

std::vector<CSspValue> CSspSql::EvaluateValueList(const std::vector<CSqlToken>& toks, size_t* pos) {
    size_t i = *pos;
    if (Tok(toks, i) != "(") {
        Raise(g_msg.m_missingOpenParen, i < toks.size() ? toks[i].m_pStart : nullptr);
    }
    int depth = 0;
    size_t close = i;
    for (; close < toks.size(); ++close) {
        std::string t = toks[close].Text();
        if (t == "(") {
            ++depth;
        } else if (t == ")" && --depth == 0) {
            break;
        }
    }
    if (close >= toks.size()) {
        Raise(g_msg.m_missingCloseParen, toks[i].m_pStart);
    }
    std::vector<CSspValue> values;
    size_t start = i + 1;
    depth = 0;
    for (size_t k = start; k <= close; ++k) {
        std::string t = toks[k].Text();
        if (t == "(") {
            ++depth;
        }
        if (t == ")" && k != close) {
            --depth;
        }
        if ((t == "," && depth == 0) || k == close) {
            if (k == start) {
                if (t == ",") {
                    Raise(g_msg.m_missingParamBeforeComma, toks[k].m_pStart);
                }
            } else {
                values.push_back(m_pHost->Evaluate(static_cast<int>(start), static_cast<int>(k)));
            }
            start = k + 1;
        }
    }
    *pos = close + 1;
    return values;
}

void CSspSql::ExecuteInsert(const std::vector<CSqlToken>& toks) {
    size_t i = 1;
    if (Is(Tok(toks, i), "INTO")) {
        ++i;
    }
    m_set.Reset();
    m_set.AddTable(Tok(toks, i++));
    for (; i < toks.size() && !Is(toks[i].Text(), "VALUES"); ++i) {
        std::string t = toks[i].Text();
        if (t == "(" || t == ")" || t == ",") {
            continue;
        }
        if (!m_set.AddColumn(t)) {
            Raise(g_msg.m_duplicateColumn + t);
        }
    }
    if (i >= toks.size()) {
        Raise(g_msg.m_missingValues + m_strSql);
    }
    const char* afterValues = toks[i].m_pEnd;
    ++i;
    CDataSource* ds = RunSource();
    m_set.OpenForInsert(ds->GetDbmsName());
    m_set.AddNewRow();
    std::vector<CSspValue> values = EvaluateValueList(toks, &i);
    int columns = m_set.GetColumnCount();
    if (static_cast<int>(values.size()) < columns) {
        Raise(g_msg.m_valueCountTooSmall, afterValues);
    }
    for (int c = 0; c < columns; ++c) {
        m_set.SetColumnValue(c, values[c]);
    }
    m_set.UpdateNewRow();
    m_set.Reset();
}

void CSspSql::ExecuteUpdate(const std::vector<CSqlToken>& toks) {
    m_set.Reset();
    m_set.AddTable(Tok(toks, 1));
    if (!Is(Tok(toks, 2), "set")) {
        Raise(g_msg.m_missingSetKeyword);
    }
    struct Assignment {
        size_t from, to;
    };
    std::vector<Assignment> assignments;
    size_t i = 3;
    while (i < toks.size()) {
        std::string t = toks[i].Text();
        if (t.empty() || t == ";" || Is(t, "WHERE")) {
            break;
        }
        if (t == ",") {
            ++i;
            continue;
        }
        if (!m_set.AddColumn(t)) {
            Raise(g_msg.m_duplicateColumn + t, toks[i].m_pStart);
        }
        i += 2;  // the column and its "="
        size_t to = ReadToCommaOrWhere(toks, i);
        assignments.push_back({i, to});
        std::string next = Tok(toks, to);
        if (!next.empty() && next != ";" && next != "," && !Is(next, "WHERE")) {
            Raise(g_msg.m_valueCountTooSmall + next, toks[to].m_pStart);
        }
        i = to;
    }
    RunSource();
    if (Is(Tok(toks, i), "WHERE")) {
        ++i;
        CollectWhereColumns(toks, i, m_set);
        m_set.m_strFilter = BuildWhereClause(toks, &i);
    }
    if (!m_set.OpenDefault() || m_set.IsEOF()) {
        Raise(g_msg.m_recordNotFound);
    }
    m_set.Edit();
    for (size_t k = 0; k < assignments.size(); ++k) {
        m_set.SetColumnValue(static_cast<int>(k),
                             m_pHost->Evaluate(static_cast<int>(assignments[k].from),
                                               static_cast<int>(assignments[k].to)));
    }
    m_set.Update();
    m_set.Reset();
}

void CSspSql::ExecuteDelete(const std::vector<CSqlToken>& toks) {
    size_t i = 1;
    if (Is(Tok(toks, i), "from")) {
        ++i;
    }
    std::string table = Tok(toks, i++);
    std::string sql = "DELETE FROM " + table;
    m_set.Reset();
    m_set.AddTable(table);
    CDataSource* ds = RunSource();
    if (Is(Tok(toks, i), "where")) {
        ++i;
        std::string where = BuildWhereClause(toks, &i);
        if (!where.empty()) {
            sql += " WHERE " + where;
        }
    }
    m_set.Reset();
    ds->DoCommand("ExecuteSQL", sql.c_str());
}
