#include "engine/data/SqlCrosstab.h"

#include <strings.h>

#include <cmath>
#include <optional>

#include "engine/data/DynBindSet.h"
#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"

namespace {

std::string KeyText(const CSspValue& v) {
    if (v.IsDateTime()) {
        return v.m_dateTime > 0 ? CSspDateTime(v.m_dateTime).GetDateStr() : std::string();
    }
    return v.GetText();
}

}  // namespace

std::string CSqlCrosstab::Rewrite(const std::string& sql, std::string* groupFunc) {
    if (sql.rfind("SELECT ", 0) == 0) {
        return sql;
    }
    // Words with their positions, to keep the text after "from" as written.
    std::string head;
    std::optional<std::string> fromPart;
    bool inHead = false;
    for (size_t i = 0; i < sql.size();) {
        while (i < sql.size() && IsSpaceTabOrLineBreak(sql[i])) {
            ++i;
        }
        size_t start = i;
        while (i < sql.size() && !IsSpaceTabOrLineBreak(sql[i])) {
            ++i;
        }
        if (start == i) {
            break;
        }
        std::string word = sql.substr(start, i - start);
        if (!inHead) {
            inHead = strcasecmp(word.c_str(), "crosstab") == 0;
            continue;
        }
        if (strcasecmp(word.c_str(), "from") == 0) {
            size_t rest = i;
            while (rest < sql.size() && IsSpaceTabOrLineBreak(sql[rest])) {
                ++rest;
            }
            fromPart = " FROM " + sql.substr(rest);
            break;
        }
        head += word;
    }
    std::vector<std::string> parts;
    std::string part;
    for (char c : head + " ") {
        if (c == ' ' || c == ',' || c == '(' || c == ')') {
            if (!part.empty()) {
                parts.push_back(part);
            }
            part.clear();
        } else {
            part += c;
        }
    }
    parts.resize(std::max<size_t>(parts.size(), 4));
    const std::string& row = parts[0];
    const std::string& col = parts[1];
    std::string func = parts[2].empty() ? "count" : AsciiLowerCopy(parts[2]);
    const std::string& arg = parts[3];
    if (func != "count" && func != "sum" && func != "avg") {
        throw CSspException(g_msg.m_groupFunctionsOnly);
    }
    if (row.empty() || col.empty()) {
        throw CSspException(g_msg.m_crosstabFieldEmpty);
    }
    if (!fromPart) {
        throw CSspException(g_msg.m_tableNameEmpty);
    }
    *groupFunc = func;
    std::string out = "SELECT " + row + ", " + col;
    // count(*) counts rows; "*" is no column to select.
    if (!arg.empty() && arg != "*") {
        out += ", " + arg;
    }
    return out + *fromPart + " ORDER BY " + row + " ASC, " + col + " ASC";
}

void CSqlCrosstab::CTally::Add(bool hasValue, double v) {
    ++rows;
    if (hasValue) {
        sum += v;
        ++values;
    }
}

void CSqlCrosstab::CTally::Add(const CTally& other) {
    rows += other.rows;
    sum += other.sum;
    values += other.values;
}

void CSqlCrosstab::Clear() {
    m_headers.clear();
    m_cells.clear();
    m_nRows = 0;
    m_nCursor = -3;
    m_bPresetHeaders = false;
    m_bBuilt = false;
}

void CSqlCrosstab::AddXHeader(const std::string& key) {
    if (m_headers.empty()) {
        m_headers.push_back({"Crosstab", {}});
    }
    m_headers.push_back({key, {}});
    m_bPresetHeaders = true;
}

void CSqlCrosstab::AddYHeader(const std::string& key) {
    if (m_cells.empty()) {
        for (size_t h = 1; h < m_headers.size(); ++h) {
            m_cells.push_back({"", m_headers[h].key, {}});
        }
        ++m_nRows;
    }
    for (size_t h = 1; h < m_headers.size(); ++h) {
        m_cells.push_back({key, m_headers[h].key, {}});
    }
    ++m_nRows;
}

void CSqlCrosstab::Build(CDynBindSet& set, const std::string& groupFunc) {
    m_strGroupFunc = groupFunc;
    bool preset = m_bPresetHeaders;
    if (preset && m_bBuilt) {
        // Built before and closed: count afresh into the preset layout.
        m_headers.pop_back();
        m_cells.pop_back();
        for (CHeader& h : m_headers) {
            h.tally = CTally();
        }
        for (CCell& c : m_cells) {
            c.tally = CTally();
        }
    }
    if (!preset) {
        m_nRows = 0;
        m_headers.assign(1, {"Crosstab", {}});
        m_cells.clear();
    }
    CTally all;
    std::optional<std::string> previousRow;
    for (; !set.IsEOF(); set.MoveNext()) {
        const CSspValue* r = set.GetColumnValue(0);
        const CSspValue* c = set.GetColumnValue(1);
        if (!r || !c) {
            throw CSspException(g_msg.m_crosstabColumnFailed);
        }
        const CSspValue* a = set.GetColumnValue(2);
        bool hasValue = a && !a->IsNull() && groupFunc != "count";
        double value = hasValue ? a->GetDouble() : 0;
        std::string rowKey = KeyText(*r);
        std::string colKey = KeyText(*c);
        all.Add(hasValue, value);
        if (preset) {
            for (CCell& cell : m_cells) {
                if (strcasecmp(cell.row.c_str(), rowKey.c_str()) == 0 &&
                    strcasecmp(cell.col.c_str(), colKey.c_str()) == 0) {
                    cell.tally.Add(hasValue, value);
                    break;
                }
            }
            for (size_t h = 1; h < m_headers.size(); ++h) {
                if (strcasecmp(m_headers[h].key.c_str(), colKey.c_str()) == 0) {
                    m_headers[h].tally.Add(hasValue, value);
                    break;
                }
            }
            continue;
        }
        if (!previousRow || *previousRow != rowKey) {
            ++m_nRows;
            previousRow = rowKey;
        }
        if (!m_cells.empty() && m_cells.back().row == rowKey && m_cells.back().col == colKey) {
            m_cells.back().tally.Add(hasValue, value);
        } else {
            CCell cell{rowKey, colKey, {}};
            cell.tally.Add(hasValue, value);
            m_cells.push_back(std::move(cell));
        }
        size_t h = 1;
        int cmp = 1;
        for (; h < m_headers.size(); ++h) {
            cmp = strcasecmp(m_headers[h].key.c_str(), colKey.c_str());
            if (cmp >= 0) {
                break;
            }
        }
        if (h < m_headers.size() && cmp == 0) {
            m_headers[h].tally.Add(hasValue, value);
        } else {
            CHeader header{colKey, {}};
            header.tally.Add(hasValue, value);
            m_headers.insert(m_headers.begin() + static_cast<long>(h), std::move(header));
        }
    }
    AddTotals(all);
    m_bBuilt = true;
    m_nCursor = -2;
}

void CSqlCrosstab::AddTotals(const CTally& all) {
    m_headers.push_back({"Total", all});
    m_cells.push_back({"Total", "Total", {}});
}

int CSqlCrosstab::Fetch() {
    if (m_nCursor == -2) {
        m_nCursor = -1;
        return 1;
    }
    if (m_nCursor == -1) {
        m_nCursor = 0;
        return m_cells.empty() ? 0 : 1;
    }
    if (m_nCursor < -1) {
        throw CSspException(g_msg.m_internalError);
    }
    size_t n = static_cast<size_t>(m_nCursor);
    if (n >= m_cells.size()) {
        return 0;
    }
    const std::string key = m_cells[n].row;
    while (n < m_cells.size() && m_cells[n].row == key) {
        ++n;
    }
    m_nCursor = static_cast<int>(n);
    return n < m_cells.size() ? 1 : 0;
}

CSspValue CSqlCrosstab::Result(const CTally& t) const {
    if (m_strGroupFunc == "count") {
        return CSspValue::FromInteger(t.rows);
    }
    double v = t.sum;
    if (m_strGroupFunc == "avg") {
        v = t.values ? t.sum / t.values : 0;
    }
    if (std::floor(v) == v && std::fabs(v) < 2147483647.0) {
        return CSspValue::FromInteger(static_cast<int32_t>(v));
    }
    return CSspValue::FromDouble(v);
}

CSspValue CSqlCrosstab::Column(int index) const {
    if (m_nCursor == -1) {
        if (index < 0 || index >= static_cast<int>(m_headers.size())) {
            return CSspValue::FromText("column out of bound");
        }
        return CSspValue::FromText(m_headers[index].key);
    }
    if (m_nCursor < 0 || static_cast<size_t>(m_nCursor) >= m_cells.size()) {
        return CSspValue::FromText("row out of bound");
    }
    if (index < 0 || index >= static_cast<int>(m_headers.size())) {
        return CSspValue::FromText("column out of bound");
    }
    const CCell& first = m_cells[m_nCursor];
    if (first.row == "Total" && first.col == "Total") {
        return index == 0 ? CSspValue::FromText("Total") : Result(m_headers[index].tally);
    }
    if (index == 0) {
        return CSspValue::FromText(first.row);
    }
    bool totalColumn = index == static_cast<int>(m_headers.size()) - 1;
    CTally sum;
    for (size_t n = m_nCursor; n < m_cells.size() && m_cells[n].row == first.row; ++n) {
        if (totalColumn) {
            sum.Add(m_cells[n].tally);
        } else if (m_cells[n].col == m_headers[index].key) {
            return Result(m_cells[n].tally);
        }
    }
    return Result(sum);
}

CSspValue CSqlCrosstab::ColTotal(int index) const {
    if (index < 0 || index >= static_cast<int>(m_headers.size())) {
        return CSspValue::FromText("column out of bound");
    }
    if (index == 0) {
        return CSspValue::FromText("Total");
    }
    return Result(m_headers[index].tally);
}
