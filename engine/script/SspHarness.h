#pragma once

#include <string>
#include <string_view>

#include "engine/script/SspResponseObject.h"

// A response that keeps the output in memory, for tests, benchmarks and tools that run a
// page without a connection. Response.Redirect(url) records the URL; Response.Write(x)
// writes; any other member raises "Unknown response field: " and the name.
class CSspMemoryResponse : public CSspResponseObject {
public:
    void WriteText(std::string_view text) override { m_output.append(text); }
    void WriteValue(const CSspValue& value) override;
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    std::string m_output;
    std::string m_redirect;
};

// What one run gave: the result code (0 done, 1 error, 2 redirected, 3 stopped, 4 returned),
// the output and the error text.
struct CSspRunResult {
    int m_code = 0;
    std::string m_output;
    std::string m_error;
};

// Runs the page or script at `path` (a ".zrp" runs as a page, anything else as a script)
// without a request, against a CSspMemoryResponse.
CSspRunResult RunSspFile(const std::string& path, const std::string& url = "/test.zrp");

// Runs `text` as a page (`page`) or a script, from a temporary file that is removed after.
CSspRunResult RunSspText(std::string_view text, bool page = true);
