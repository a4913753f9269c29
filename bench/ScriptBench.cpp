// Time of the statement loop and of function calls, reported per pass of the script's loop
// and per function call.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/script/SspHarness.h"

namespace {

// A script file that lives as long as the benchmark.
class CScriptFile {
public:
    CScriptFile(const char* name, const std::string& text)
        : m_path((std::filesystem::temp_directory_path() /
                  (std::string(name) + "-" + std::to_string(::getpid()) + ".zrs"))
                     .string()) {
        FILE* f = std::fopen(m_path.c_str(), "wb");
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }
    ~CScriptFile() { std::remove(m_path.c_str()); }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

void RunScript(benchmark::State& state, const CScriptFile& file, const std::string& expected,
               double unitsPerRun, const char* unit) {
    for (auto _ : state) {
        CSspRunResult result = RunSspFile(file.Path(), "/script/bench.zrs");
        if (result.m_code != 0 || result.m_output != expected) {
            state.SkipWithError(("unexpected result: " + result.m_error + result.m_output).c_str());
            break;
        }
        benchmark::DoNotOptimize(result);
    }
    state.counters[unit] = benchmark::Counter(
        unitsPerRun, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_LoopArithmeticAndConcat(benchmark::State& state) {
    static const CScriptFile file("ssp-bench-loop",
                                  "set Local.i = 0;\n"
                                  "set Local.sum = 0;\n"
                                  "while (Local.i < 100000)\n"
                                  "  set Local.i = Local.i + 1;\n"
                                  "  set Local.sum = (Local.sum + Local.i * 3) % 1000;\n"
                                  "  set Local.s = 'row ' || Local.i || ': ' || Local.sum;\n"
                                  "endwhile\n"
                                  "write Local.s;\n");
    RunScript(state, file, "row 100000: 0", 100000, "per_pass");
}
BENCHMARK(BM_LoopArithmeticAndConcat)->Unit(benchmark::kMillisecond);

void BM_RecursiveFib20(benchmark::State& state) {
    static const CScriptFile file("ssp-bench-fib",
                                  "write Local.fib(20);\n"
                                  "function fib(n)\n"
                                  "  if (arg.n < 2) return arg.n; endif\n"
                                  "  return Local.fib(arg.n - 1) + Local.fib(arg.n - 2);\n"
                                  "endfunction\n");
    // fib(20) makes 21891 calls.
    RunScript(state, file, "6765", 21891, "per_call");
}
BENCHMARK(BM_RecursiveFib20)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
