// Runs every page (.zrp) and script (.zrs) of tests/data/corpus and compares what it gives with
// the file of the same name ending in .expect:
//   code <n>            the run's result code
//   error <message>     the error text ends with this message ("%%" read as "%")
//   errortext <text>    the error text is exactly this (errors raised without a position)
//   contains <text>     the error text holds this text
//   at <line>,<column>  the error text names this line and column
//   output:             everything after this line is the exact output
#include <gtest/gtest.h>

#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/script/SspHarness.h"
#include "engine/testsupport/ScopedTimeZone.h"
#include "engine/testsupport/WholeFile.h"

namespace {

namespace fs = std::filesystem;

struct CExpectation {
    int m_code = 0;
    std::string m_error;
    bool m_hasError = false;
    std::string m_errorText;
    bool m_hasErrorText = false;
    std::string m_contains;
    std::string m_at;
    std::string m_output;
};

bool ParseExpectation(const std::string& text, CExpectation& out, std::string& problem) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t lf = text.find('\n', pos);
        if (lf == std::string::npos) {
            problem = "no \"output:\" line";
            return false;
        }
        std::string line = text.substr(pos, lf - pos);
        pos = lf + 1;
        if (line == "output:") {
            out.m_output = text.substr(pos);
            return true;
        }
        if (line.rfind("code ", 0) == 0) {
            out.m_code = std::stoi(line.substr(5));
        } else if (line.rfind("error ", 0) == 0) {
            out.m_error = line.substr(6);
            out.m_hasError = true;
        } else if (line.rfind("errortext ", 0) == 0) {
            out.m_errorText = line.substr(10);
            out.m_hasErrorText = true;
        } else if (line.rfind("contains ", 0) == 0) {
            out.m_contains = line.substr(9);
        } else if (line.rfind("at ", 0) == 0) {
            out.m_at = line.substr(3);
        } else {
            problem = "unknown line: " + line;
            return false;
        }
    }
    problem = "no \"output:\" line";
    return false;
}

std::string UndoublePercent(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == '%') {
            ++i;
        }
    }
    return out;
}

std::vector<std::string> CorpusFiles() {
    std::vector<std::string> files;
    for (const auto& entry : fs::directory_iterator(fs::path(VELMORIN_TEST_DATA) / "corpus")) {
        std::string ext = entry.path().extension().string();
        if (ext == ".zrp" || ext == ".zrs") {
            files.push_back(entry.path().filename().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

class CorpusTest : public ::testing::TestWithParam<std::string> {
protected:
    // Dates print in local time: make it the same on every machine.
    CScopedTimeZone m_zone{"UTC"};
};

TEST_P(CorpusTest, GivesExpectedResult) {
    fs::path source = fs::path(VELMORIN_TEST_DATA) / "corpus" / GetParam();
    fs::path expectFile = source;
    expectFile.replace_extension(".expect");
    ASSERT_TRUE(fs::exists(expectFile)) << "missing " << expectFile;
    CExpectation expect;
    std::string problem;
    ASSERT_TRUE(ParseExpectation(ReadFile(expectFile), expect, problem)) << problem;

    bool page = source.extension() == ".zrp";
    CSspRunResult result =
        RunSspFile(source.string(), page ? "/corpus/" + GetParam() : "/script/test.zrs");

    EXPECT_EQ(result.m_code, expect.m_code) << result.m_error;
    EXPECT_EQ(result.m_output, expect.m_output);
    if (expect.m_hasError) {
        std::string error = UndoublePercent(result.m_error);
        EXPECT_TRUE(error.size() >= expect.m_error.size() &&
                    error.compare(error.size() - expect.m_error.size(), std::string::npos,
                                  expect.m_error) == 0)
            << "error text: " << result.m_error;
    }
    if (expect.m_hasErrorText) {
        EXPECT_EQ(result.m_error, expect.m_errorText);
    }
    if (!expect.m_contains.empty()) {
        EXPECT_NE(result.m_error.find(expect.m_contains), std::string::npos)
            << "error text: " << result.m_error;
    }
    if (!expect.m_at.empty()) {
        EXPECT_NE(result.m_error.find(" (" + expect.m_at + "): \r\n"), std::string::npos)
            << "error text: " << result.m_error;
    }
    if (!expect.m_hasError && !expect.m_hasErrorText && expect.m_contains.empty()) {
        EXPECT_EQ(result.m_error, "");
    }
}

std::string CaseName(const ::testing::TestParamInfo<std::string>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            c = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Files, CorpusTest, ::testing::ValuesIn(CorpusFiles()), CaseName);

}  // namespace
