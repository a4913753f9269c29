#include "engine/data/SspSql.h"

#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "engine/data/DataSource.h"
#include "engine/data/DbException.h"
#include "engine/data/SqlInjectionGuard.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"

namespace {

bool Is(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

bool StartsNoCase(const std::string& text, const char* prefix) {
    size_t n = std::strlen(prefix);
    return text.size() >= n && strncasecmp(text.c_str(), prefix, n) == 0;
}

bool AllDigits(const std::string& s) {
    for (char c : s) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// Members with the fewest arguments each needs ("Missing parameter." below).
struct CSqlMember {
    const char* name;
    int minArgs;
};
constexpr CSqlMember kMembers[] = {
    {"execute", 0},         {"fetch", 0},    {"movefirst", 0},     {"close", 0},
    {"ColumnCount", 0},     {"RowCount", 0}, {"UseDataSource", 0}, {"PreventSqlInjection", 1},
    {"SetQueryTimeout", 1}, {"Column", 1},   {"colTotal", 1},      {"addXHeader", 0},
    {"addYHeader", 0},
};

}  // namespace

CSspSql::CSspSql() = default;

CSspSql::~CSspSql() = default;

bool CSspSql::IsStringModeText(const std::string& statement) {
    return StartsNoCase(statement, "Request.") || StartsNoCase(statement, "Local.") ||
           StartsNoCase(statement, "Session.") || (!statement.empty() && statement[0] == '\'');
}

void CSspSql::Raise(const std::string& text, const char* pos) const {
    throw CSspException(text, pos ? pos : m_nStart);
}

void CSspSql::Declare(CSqlHost* host, const std::string& name, const char* start, const char* end,
                      bool stringMode, const std::string& sqlText) {
    if (m_pHost) {
        Close();
    }
    m_pHost = host;
    m_nStart = start;
    m_nEnd = end;
    m_strName = name;
    m_strSql = sqlText;
    m_bStringMode = stringMode;
    m_bMovedFirst = m_bImplicitFetch = false;
    m_bPreventInjection = true;
    m_crosstab.Clear();
    m_strGroupFunc = "count";
    size_t first = 0;
    while (first < m_strSql.size() && IsSpaceTabOrLineBreak(m_strSql[first])) {
        ++first;
    }
    if (first == m_strSql.size()) {
        Raise(g_msg.m_sqlEmpty);
    }
    m_bCrosstab = strncasecmp(m_strSql.c_str() + first, "crosstab", 8) == 0;
}

void CSspSql::CloseSet() {
    m_set.Reset();
    m_bMovedFirst = m_bImplicitFetch = false;
    m_crosstab.m_nCursor = -3;
}

void CSspSql::Close() {
    CloseSet();
    m_pOwnSource.reset();
    m_pRunSource = nullptr;
}

CDataSource* CSspSql::RunSource() {
    CDataSource* ds = m_pOwnSource ? m_pOwnSource.get() : m_pHost->PageDataSource(m_nStart);
    if (!ds) {
        Raise(g_msg.m_noDataSourceDefined);
    }
    m_pRunSource = ds;
    ds->DoCommand("Open");
    m_set.SetConnection(&ds->Connection());
    return ds;
}

void CSspSql::CheckInjection(const std::string& sql) const {
    if (m_bPreventInjection && LooksLikeSqlInjection(sql)) {
        Raise(g_msg.m_sqlInjection + sql);
    }
}

CSspValue CSspSql::CallMethod(const std::string& member, const std::vector<CSspValue>& args) {
    if (!m_pHost) {
        throw CSspException(g_msg.m_internalError);
    }
    for (const CSqlMember& m : kMembers) {
        if (Is(member, m.name) && static_cast<int>(args.size()) < m.minArgs) {
            Raise(g_msg.m_missingParameter);
        }
    }
    auto arg = [&](size_t i) { return i < args.size() ? args[i].GetText() : std::string(); };
    try {
        if (Is(member, "execute")) {
            return CSspValue::FromInteger(Execute());
        }
        if (Is(member, "fetch")) {
            return CSspValue::FromInteger(Fetch());
        }
        if (Is(member, "movefirst")) {
            return CSspValue::FromInteger(MoveFirst());
        }
        if (Is(member, "close")) {
            Close();
            return CSspValue::FromInteger(1);
        }
        if (Is(member, "ColumnCount")) {
            return CSspValue::FromInteger(ColumnCount());
        }
        if (Is(member, "RowCount")) {
            if (!m_bCrosstab) {
                Raise(g_msg.m_rowCountCrosstabOnly);
            }
            BuildCrosstab();
            return CSspValue::FromInteger(m_crosstab.RowCount());
        }
        if (Is(member, "UseDataSource")) {
            UseDataSource(args);
            return CSspValue::FromInteger(1);
        }
        if (Is(member, "PreventSqlInjection")) {
            m_bPreventInjection = arg(0) == "1";
            return CSspValue();
        }
        if (Is(member, "SetQueryTimeout")) {
            m_set.m_nQueryTimeout = CSspValue::TextToInt(arg(0));
            return CSspValue::FromInteger(1);
        }
        if (Is(member, "Column")) {
            return m_bCrosstab ? CrosstabColumn(arg(0)) : ColumnValue(arg(0));
        }
        if (Is(member, "colTotal")) {
            BuildCrosstab();
            return m_crosstab.ColTotal(CSspValue::TextToInt(arg(0)));
        }
        if (Is(member, "addXHeader")) {
            if (m_crosstab.m_nCursor != -3) {
                Raise("addXHeader is valid only before the query is executed");
            }
            if (args.empty()) {
                Raise(g_msg.m_missingParameter);
            }
            m_crosstab.AddXHeader(arg(0));
            return CSspValue::FromInteger(1);
        }
        if (Is(member, "addYHeader")) {
            if (!m_crosstab.HasHeaders()) {
                Raise("Call addXHeader first");
            }
            if (m_crosstab.m_nCursor != -3) {
                Raise("addYHeader is valid only before the query is executed");
            }
            if (args.empty()) {
                Raise(g_msg.m_missingParameter);
            }
            m_crosstab.AddYHeader(arg(0));
            return CSspValue::FromInteger(1);
        }
        return m_bCrosstab ? CrosstabColumn(member) : ColumnValue(member);
    } catch (const CDbException& e) {
        std::string text;
        const std::string& state = e.m_strStateNativeOrigin;
        if (IsConnectionLost(e)) {
            text = g_msg.m_connectionBroken;
            if (m_pRunSource) {
                m_set.Reset();
                try {
                    m_pRunSource->DoCommand("Close");
                } catch (const CSspException&) {
                }
            }
        } else {
            text = e.m_strError.empty() ? state : e.m_strError;
        }
        text += " SQL " + m_strName + ":" + m_strSql;
        if (m_pRunSource) {
            text += " DSN:" + m_pRunSource->Dsn();
        }
        throw CSspException(text);
    } catch (const CSspException& e) {
        if (e.Position()) {
            throw;
        }
        throw CSspException(e.Message(), m_nStart);
    }
}

void CSspSql::UseDataSource(const std::vector<CSspValue>& args) {
    std::string connect;
    if (args.size() == 1) {
        std::string text = args[0].GetText();
        if (text.size() < 5) {
            Raise("Invalid ODBC connection string");
        }
        connect = text.substr(5);
    } else if (args.size() == 3) {
        connect =
            CDataSource::MakeConnectString(args[0].GetText(), args[1].GetText(), args[2].GetText());
    } else {
        Raise(g_msg.m_missingParameter);
    }
    if (!m_pOwnSource) {
        m_pOwnSource = std::make_unique<CDataSource>(connect);
    }
}

int CSspSql::Execute() {
    size_t first = 0;
    while (first < m_strSql.size() && IsSpaceTabOrLineBreak(m_strSql[first])) {
        ++first;
    }
    m_strSql.erase(0, first);
    if (m_bStringMode) {
        CheckInjection(m_strSql);
        if (StartsNoCase(m_strSql, "SELECT")) {
            // A new result replaces the old; the own connection stays.
            CloseSet();
            RunSource();
            m_set.Open(m_strSql, CDynBindSet::kExecuteDirect);
        } else if (StartsNoCase(m_strSql, "CROSSTAB")) {
            m_crosstab.m_nCursor = -3;
            BuildCrosstab();
        } else {
            RunSource()->DoCommand("ExecuteSQL", m_strSql.c_str());
        }
        return 1;
    }
    std::vector<CSqlToken> toks = m_pHost->Scan(m_nStart, m_nEnd);
    if (StartsNoCase(m_strSql, "SELECT")) {
        ExecuteSelect(toks);
    } else if (StartsNoCase(m_strSql, "INSERT")) {
        ExecuteInsert(toks);
    } else if (StartsNoCase(m_strSql, "UPDATE")) {
        ExecuteUpdate(toks);
    } else if (StartsNoCase(m_strSql, "DELETE")) {
        ExecuteDelete(toks);
    } else {
        Raise(g_msg.m_sqlNotSupported + m_strSql);
    }
    return 1;
}

int CSspSql::Fetch() {
    if (m_bCrosstab) {
        BuildCrosstab();
        return m_crosstab.Fetch();
    }
    if (!m_set.IsOpen()) {
        Execute();
        return m_set.IsOpen() && !m_set.IsEOF() ? 1 : 0;
    }
    if (m_set.IsEOF()) {
        return 0;
    }
    if (m_bMovedFirst) {
        m_bMovedFirst = false;
        return 1;
    }
    if (m_bImplicitFetch) {
        m_bImplicitFetch = false;
        return 1;
    }
    m_set.MoveNext();
    return m_set.IsEOF() ? 0 : 1;
}

int CSspSql::MoveFirst() {
    if (!m_set.IsOpen() || m_set.m_bLayoutOnly) {
        return 0;
    }
    m_set.MoveFirst();
    if (m_set.IsEOF()) {
        return 0;
    }
    m_bMovedFirst = true;
    return 1;
}

int CSspSql::ColumnCount() {
    if (m_bCrosstab) {
        BuildCrosstab();
        return m_crosstab.ColumnCount();
    }
    if (m_set.GetColumnCount() > 0) {
        return m_set.GetColumnCount();
    }
    int count = 0;
    if (m_bStringMode) {
        std::string word;
        for (char c : m_strSql + " ") {
            if (c == ',' || IsSpaceTabOrLineBreak(c)) {
                if (Is(word, "from")) {
                    break;
                }
                if (!word.empty() && !Is(word, "select") && !Is(word, "distinct")) {
                    ++count;
                }
                word.clear();
            } else {
                word += c;
            }
        }
        return count;
    }
    // Items of the select list: commas at the top level separate them.
    int depth = 0;
    bool item = false;
    for (const CSqlToken& t : m_pHost->Scan(m_nStart, m_nEnd)) {
        std::string s = t.Text();
        if (Is(s, "FROM") && depth == 0) {
            break;
        }
        if (Is(s, "SELECT") || Is(s, "DISTINCT")) {
            continue;
        }
        if (s == "(") {
            ++depth;
        } else if (s == ")") {
            --depth;
        }
        if (s == "," && depth == 0) {
            count += item ? 1 : 0;
            item = false;
        } else {
            item = true;
        }
    }
    return count + (item ? 1 : 0);
}

CSspValue CSspSql::ColumnValue(const std::string& name) {
    if (!m_set.IsOpen()) {
        if (m_pHost->EvaluatingWatch()) {
            return CSspValue::FromText("SQL statement has not been executed.");
        }
        Fetch();
        m_bImplicitFetch = true;
    }
    if (Is(name, "sql")) {
        return CSspValue::FromText(m_set.GetSQL());
    }
    CSspValue* v = AllDigits(name) ? m_set.GetColumnValue(CSspValue::TextToInt(name))
                                   : m_set.GetColumnValue(name);
    if (!v) {
        char buf[1024];
        std::snprintf(buf, sizeof(buf), g_msg.m_addColumnToSelect, name.c_str(), m_strName.c_str());
        Raise(buf);
    }
    return *v;
}

CSspValue CSspSql::CrosstabColumn(const std::string& name) {
    if (m_crosstab.m_nCursor == -3 || m_crosstab.m_nCursor == -2) {
        BuildCrosstab();
        m_crosstab.Fetch();
    }
    return m_crosstab.Column(CSspValue::TextToInt(name));
}

void CSspSql::BuildCrosstab() {
    if (m_crosstab.m_nCursor != -3) {
        return;
    }
    CloseSet();
    if (m_bStringMode) {
        CheckInjection(m_strSql);
    }
    m_strSql = CSqlCrosstab::Rewrite(m_strSql, &m_strGroupFunc);
    RunSource();
    m_set.Open(m_strSql, CDynBindSet::kExecuteDirect);
    m_crosstab.Build(m_set, m_strGroupFunc);
    m_set.Reset();
}
