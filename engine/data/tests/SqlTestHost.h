#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/data/SqlHost.h"
#include "engine/data/SspSql.h"

class CDataSource;

// A stand-in for the page language: a small scanner and an evaluator of
// single operands (numbers, 'text', null, Local.name) joined by "+", enough
// to drive the sql object the way pages do.
class CSqlTestHost : public CSqlHost {
public:
    explicit CSqlTestHost(CDataSource* page) : m_pPage(page) {}

    std::vector<CSqlToken> Scan(const char* start, const char* end) override;
    CSspValue Evaluate(int from, int to) override;
    CDataSource* PageDataSource(const char*) override { return m_pPage; }
    bool EvaluatingWatch() const override { return m_bWatch; }

    // Declares `name` on a statement as a page writes it (statement mode
    // unless the text is a string expression, then sqlText is its value).
    CSspSql& Declare(const std::string& name, const std::string& statement);
    // Runs a member with text arguments.
    CSspValue Call(CSspSql& sql, const std::string& member,
                   const std::vector<std::string>& args = {});

    std::map<std::string, CSspValue> m_locals;  // Local.<name>, lower case
    bool m_bWatch = false;

private:
    CSspValue Operand(const std::string& token);

    CDataSource* m_pPage;
    std::vector<CSqlToken> m_tokens;
    // Sources and objects live as long as the host, as a page's do.
    std::vector<std::unique_ptr<std::string>> m_sources;
    std::map<std::string, std::unique_ptr<CSspSql>> m_objects;
};
