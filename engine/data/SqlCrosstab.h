#pragma once

#include <string>
#include <vector>

#include "engine/foundation/SspValue.h"

class CDynBindSet;

// The cross table of a crosstab statement, built in memory from the rows of
// "SELECT row, column[, argument] ... ORDER BY row, column". Each cell holds
// the group function of its rows: count counts rows, sum and avg add up or
// average the argument column; the totals use the same function.
//
// Rows are fetched as: the header row (-1), then one row group per row key,
// then the "Total" row. Texts raised are CSspException without position.
class CSqlCrosstab {
public:
    // Turns "... crosstab row, col[, func(arg)] from rest" into its SELECT;
    // *groupFunc receives "count", "sum" or "avg". Text already beginning
    // with "SELECT " is returned unchanged.
    static std::string Rewrite(const std::string& sql, std::string* groupFunc);

    // Forgets headers, cells and the cursor.
    void Clear();
    // Preset layout, before Build.
    void AddXHeader(const std::string& key);
    void AddYHeader(const std::string& key);
    bool HasHeaders() const { return !m_headers.empty(); }

    // Reads every row of the open set and lays out the table (cursor -2).
    void Build(CDynBindSet& set, const std::string& groupFunc);

    // Next row of the table: 1 when positioned on one, 0 at the end.
    int Fetch();
    // A cell of the current row by column index (0 = the row key, last =
    // the row's total); texts for rows or columns out of bound.
    CSspValue Column(int index) const;
    CSspValue ColTotal(int index) const;
    int ColumnCount() const { return static_cast<int>(m_headers.size()); }
    int RowCount() const { return m_nRows + 2; }

    // -3 not built, -2 built, -1 on the header row, n >= 0 on the row group
    // whose first cell is n.
    int m_nCursor = -3;
    bool m_bPresetHeaders = false;

private:
    struct CTally {
        int rows = 0;    // rows counted
        double sum = 0;  // sum of non-null arguments
        int values = 0;  // non-null arguments
        void Add(bool hasValue, double v);
        void Add(const CTally& other);
    };
    struct CHeader {
        std::string key;
        CTally tally;
    };
    struct CCell {
        std::string row;
        std::string col;
        CTally tally;
    };

    CSspValue Result(const CTally& t) const;
    void AddTotals(const CTally& all);

    std::vector<CHeader> m_headers;
    std::vector<CCell> m_cells;
    int m_nRows = 0;
    bool m_bBuilt = false;
    std::string m_strGroupFunc = "count";
};
