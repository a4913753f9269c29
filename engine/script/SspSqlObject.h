#pragma once

#include <vector>

#include "engine/data/SqlHost.h"
#include "engine/data/SspSql.h"
#include "engine/script/SspObject.h"

// A declared `sql name = statement;`: the data library's sql object, given this run's
// scanner, evaluator and data source.
class CSspSqlObject : public CSspObject, public CSqlHost {
public:
    explicit CSspSqlObject(CSspInterpreter& interp) : m_interp(interp) {}

    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    std::vector<CSqlToken> Scan(const char* start, const char* end) override;
    CSspValue Evaluate(int from, int to) override;
    CDataSource* PageDataSource(const char* pos) override;
    bool EvaluatingWatch() const override;

    CSspSql m_sql;

private:
    CSspInterpreter& m_interp;
    std::vector<CSqlToken> m_tokens;
};
