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
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspMemberRow.h"

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

}  // namespace

struct CSspSql::CMembers {
    using Row = CSspMemberRow<CSspSql&>;

    static void ExecuteMember(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        result = CSspValue::FromInteger(self.Execute());
    }
    static void FetchMember(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        result = CSspValue::FromInteger(self.Fetch());
    }
    static void MoveFirstMember(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        result = CSspValue::FromInteger(self.MoveFirst());
    }
    static void CloseMember(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        self.Close();
        result = CSspValue::FromInteger(1);
    }
    static void ColumnCountMember(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        result = CSspValue::FromInteger(self.ColumnCount());
    }
    static void RowCount(CSspSql& self, CSspCall& /*call*/, CSspValue& result) {
        if (!self.m_bCrosstab) {
            self.Raise(g_msg.m_rowCountCrosstabOnly);
        }
        self.BuildCrosstab();
        result = CSspValue::FromInteger(self.m_crosstab.RowCount());
    }
    static void UseDataSource(CSspSql& self, CSspCall& call, CSspValue& result) {
        std::string connect = MakeUseDataSourceConnection(call, self.m_nStart);
        if (!self.m_pOwnSource) {
            self.m_pOwnSource = std::make_unique<CDataSource>(connect);
        }
        result = CSspValue::FromInteger(1);
    }
    static void PreventSqlInjection(CSspSql& self, CSspCall& call, CSspValue& result) {
        self.m_bPreventInjection = call.GetParamStr(0) == "1";
        result = CSspValue();
    }
    static void SetQueryTimeout(CSspSql& self, CSspCall& call, CSspValue& result) {
        self.m_set.m_nQueryTimeout = CSspValue::TextToInt(call.GetParamStr(0));
        result = CSspValue::FromInteger(1);
    }
    static void Column(CSspSql& self, CSspCall& call, CSspValue& result) {
        result = self.AnyColumn(call.GetParamStr(0));
    }
    static void ColTotal(CSspSql& self, CSspCall& call, CSspValue& result) {
        self.BuildCrosstab();
        result = self.m_crosstab.ColTotal(CSspValue::TextToInt(call.GetParamStr(0)));
    }
    // A header's text; headers shape the cross table, so they come before it is built.
    static std::string HeaderText(CSspSql& self, CSspCall& call, const char* member) {
        if (self.m_crosstab.m_nCursor != -3) {
            self.Raise(std::string(member) + " is valid only before the query is executed");
        }
        if (call.ArgCount() == 0) {
            self.Raise(g_msg.m_missingParameter);
        }
        return call.GetParamStr(0);
    }
    static void AddXHeader(CSspSql& self, CSspCall& call, CSspValue& result) {
        self.m_crosstab.AddXHeader(HeaderText(self, call, "addXHeader"));
        result = CSspValue::FromInteger(1);
    }
    static void AddYHeader(CSspSql& self, CSspCall& call, CSspValue& result) {
        if (!self.m_crosstab.HasHeaders()) {
            self.Raise("Call addXHeader first");
        }
        self.m_crosstab.AddYHeader(HeaderText(self, call, "addYHeader"));
        result = CSspValue::FromInteger(1);
    }

    // UseDataSource counts its arguments itself (one or three), and the headers after
    // their other checks.
    static constexpr Row kTable[] = {
        {"execute", 0, kSspAnyArgs, &ExecuteMember},
        {"fetch", 0, kSspAnyArgs, &FetchMember},
        {"movefirst", 0, kSspAnyArgs, &MoveFirstMember},
        {"close", 0, kSspAnyArgs, &CloseMember},
        {"ColumnCount", 0, kSspAnyArgs, &ColumnCountMember},
        {"RowCount", 0, kSspAnyArgs, &RowCount},
        {"UseDataSource", 0, kSspAnyArgs, &UseDataSource},
        {"PreventSqlInjection", 1, kSspAnyArgs, &PreventSqlInjection},
        {"SetQueryTimeout", 1, kSspAnyArgs, &SetQueryTimeout},
        {"Column", 1, kSspAnyArgs, &Column},
        {"colTotal", 1, kSspAnyArgs, &ColTotal},
        {"addXHeader", 0, kSspAnyArgs, &AddXHeader},
        {"addYHeader", 0, kSspAnyArgs, &AddYHeader},
    };
};

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

void CSspSql::CallMethod(CSspCall& call, CSspValue& result) {
    if (!m_pHost) {
        throw CSspException(g_msg.m_internalError);
    }
    // A name that is no member reads the column of that name.
    const CMembers::Row* row = FindSspMemberRow(CMembers::kTable, call.m_strMember);
    if (row != nullptr) {
        // Like every error of the object, a missing argument is at its declaration.
        CheckSspArgCount(call.ArgCount(), row->m_minArgs, row->m_maxArgs, m_nStart);
    }
    try {
        if (row != nullptr) {
            row->m_handler(*this, call, result);
        } else {
            result = AnyColumn(call.m_strMember);
        }
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

CSspValue CSspSql::AnyColumn(const std::string& name) {
    return m_bCrosstab ? CrosstabColumn(name) : ColumnValue(name);
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
