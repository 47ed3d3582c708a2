#ifndef KIVO_BENCH_RATIO_H
#define KIVO_BENCH_RATIO_H

// Runs the registered benchmarks and then prints, for each pair (label,
// ours, reference), the time ratio ours / reference measured in this run.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace kivo_bench {

struct RatioPair
{
    const char* label;
    const char* ours;
    const char* reference;
};

class RatioReporter : public benchmark::ConsoleReporter
{
public:
    std::map<std::string, double> times; // time per iteration, by name
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

inline int run_with_ratios(int argc, char** argv, const std::vector<RatioPair>& pairs)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nratio ours / reference (time; below 1.00 is faster):\n");
    for (const RatioPair& p : pairs) {
        auto a = reporter.times.find(p.ours), b = reporter.times.find(p.reference);
        if (a == reporter.times.end() || b == reporter.times.end() || b->second <= 0)
            continue;
        std::printf("  %-46s %6.2f\n", p.label, a->second / b->second);
    }
    benchmark::Shutdown();
    return 0;
}

} // namespace kivo_bench

#endif
