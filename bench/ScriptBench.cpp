// The programs of bench/script/, whose Lua and PHP forms scripts/bench-script.sh runs beside
// these: one whole run of the script file per iteration.
#include <benchmark/benchmark.h>

#include <string>

#include "engine/script/SspHarness.h"

namespace {

void RunScript(benchmark::State& state, const char* file, const std::string& expected) {
    const std::string path = std::string(VELMORIN_BENCH_SCRIPTS) + "/" + file;
    for (auto _ : state) {
        CSspRunResult result = RunSspFile(path, "/script/bench.zrs");
        // A run that fails fast would pass for a fast one.
        if (result.m_code != 0 || result.m_output != expected) {
            state.SkipWithError(("unexpected result: " + result.m_error + result.m_output).c_str());
            break;
        }
        benchmark::DoNotOptimize(result);
    }
}

void BM_Counter(benchmark::State& state) {
    RunScript(state, "counter.zrs", "100000");
}
BENCHMARK(BM_Counter)->Unit(benchmark::kMillisecond);

void BM_Fib25(benchmark::State& state) {
    RunScript(state, "fib.zrs", "75025");
}
BENCHMARK(BM_Fib25)->Unit(benchmark::kMillisecond);

void BM_Strings(benchmark::State& state) {
    RunScript(state, "strings.zrs", "<td>100000</td>");
}
BENCHMARK(BM_Strings)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
