#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/data/DynBindSet.h"
#include "engine/data/SqlCrosstab.h"
#include "engine/data/SqlHost.h"
#include "engine/foundation/SspValue.h"

class CDataSource;
class CSspCall;

// The page language's sql object: a declared query that the page executes,
// fetches row by row, reads columns from (q.price) and closes. Statements
// written in the page's own syntax (SELECT, INSERT, UPDATE, DELETE with
// script expressions in value positions) are rebuilt with every value as an
// SQL literal of its column's type; string statements run as given, after an
// injection check; crosstab statements are built into a cross table.
//
// The page engine owns one per declaration, gives it a CSqlHost for scanning,
// evaluation and the page's data source, and calls CallMethod for every member
// reference. Every error is a CSspException at the declaration's start
// (ODBC errors without position, naming the object, its statement and DSN).
// One interpreter, one thread.
//
// Binding from the page engine, for `sql q = <statement>;`:
//   text = the statement's source [start, end) before the ";";
//   stringMode = CSspSql::IsStringModeText(text);
//   sqlText = stringMode ? Evaluate(text).GetText() : tokens joined with " ";
//   object.Declare(host, "q", start, end, stringMode, sqlText);
// then q.fetch() is object.CallMethod with a call of member "fetch", q.price
// one of member "price", and the end of the page calls Close().
class CSspSql {
public:
    CSspSql();
    ~CSspSql();
    CSspSql(const CSspSql&) = delete;
    CSspSql& operator=(const CSspSql&) = delete;

    // Whether a declared statement text is a string expression (the host then
    // evaluates it and passes the result as sqlText).
    static bool IsStringModeText(const std::string& statement);

    // (Re)declares the object: [start, end) is the statement in the source,
    // sqlText its text (statement mode: the tokens joined with blanks; string
    // mode: the evaluated text). A second declaration of the same object
    // (the statement running again) closes it first, own data source included.
    void Declare(CSqlHost* host, const std::string& name, const char* start, const char* end,
                 bool stringMode, const std::string& sqlText);

    // Runs call.m_strMember (case-insensitive) with the call's arguments and
    // fills `result`: execute, fetch, movefirst, close, ColumnCount, RowCount,
    // UseDataSource, PreventSqlInjection, SetQueryTimeout, Column, colTotal,
    // addXHeader, addYHeader; any other name reads the column of that name (or
    // index, or "sql": the statement that ran).
    void CallMethod(CSspCall& call, CSspValue& result);

    // Deletes the own data source and closes the record set; the crosstab
    // layout stays. The page engine calls it for every declared object when
    // a page ends.
    void Close();

    const std::string& Name() const { return m_strName; }
    const char* Start() const { return m_nStart; }
    // The current statement text (rebuilt after a statement-mode SELECT).
    const std::string& Sql() const { return m_strSql; }
    CDynBindSet& RecordSet() { return m_set; }
    // The connection of UseDataSource, or nullptr.
    const CDataSource* OwnSource() const { return m_pOwnSource.get(); }

private:
    // The member table and its handlers.
    struct CMembers;

    int Execute();
    int Fetch();
    int MoveFirst();
    int ColumnCount();
    // The column `name` of the cross table or of the record set.
    CSspValue AnyColumn(const std::string& name);
    CSspValue ColumnValue(const std::string& name);
    CSspValue CrosstabColumn(const std::string& name);
    void BuildCrosstab();
    void CloseSet();

    void ExecuteSelect(const std::vector<CSqlToken>& toks);
    void ExecuteInsert(const std::vector<CSqlToken>& toks);
    void ExecuteUpdate(const std::vector<CSqlToken>& toks);
    void ExecuteDelete(const std::vector<CSqlToken>& toks);
    void CollectWhereColumns(const std::vector<CSqlToken>& toks, size_t i, CDynBindSet& set);
    std::string BuildWhereClause(const std::vector<CSqlToken>& toks, size_t* i);
    size_t ReadToAndOrOrder(const std::vector<CSqlToken>& toks, size_t i) const;
    size_t ReadToCommaOrWhere(const std::vector<CSqlToken>& toks, size_t i) const;
    std::vector<CSspValue> EvaluateValueList(const std::vector<CSqlToken>& toks, size_t* i);

    // The data source of this run (own one opened, or the page's), with the
    // record set pointed at its connection.
    CDataSource* RunSource();
    void CheckInjection(const std::string& sql) const;
    [[noreturn]] void Raise(const std::string& text, const char* pos = nullptr) const;

    CSqlHost* m_pHost = nullptr;
    const char* m_nStart = nullptr;
    const char* m_nEnd = nullptr;
    std::string m_strName;
    std::unique_ptr<CDataSource> m_pOwnSource;
    CDataSource* m_pRunSource = nullptr;
    CDynBindSet m_set;
    std::string m_strSql;
    bool m_bStringMode = false;
    bool m_bMovedFirst = false;
    bool m_bImplicitFetch = false;
    bool m_bPreventInjection = true;
    bool m_bCrosstab = false;
    CSqlCrosstab m_crosstab;
    std::string m_strGroupFunc = "count";
};
