#ifndef KIVO_BENCH_RATIO_H
#define KIVO_BENCH_RATIO_H

// Runs the registered benchmarks in several interleaved rounds (every
// benchmark once per round, in registration order, so ours and its
// reference meet the same machine state) and then prints, for each pair
// (label, ours, reference), the median and the minimum over the rounds of
// the time ratio ours / reference. KIVO_BENCH_ROUNDS sets the rounds (5).
// KIVO_BENCH_QUICK=1 makes one round of one iteration each, for the tests
// that check a benchmark still builds, runs and prints its ratios. A pair
// without a ratio (a benchmark that failed or is missing) fails the run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace kivo_bench {

// One short round, no extra measurements: the run only has to work.
inline bool quick()
{
    const char* q = std::getenv("KIVO_BENCH_QUICK");
    return q && q[0] && std::strcmp(q, "0") != 0;
}

struct RatioPair
{
    const char* label;
    const char* ours;
    const char* reference;
};

// Collects the time per iteration of every run, by name, one entry per
// round; prints nothing itself.
class RoundReporter : public benchmark::BenchmarkReporter
{
public:
    std::map<std::string, std::vector<double>> times;
    std::vector<std::string> order;
    std::map<std::string, const char*> units;
    bool ReportContext(const Context&) override { return true; }
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations <= 0 || r.error_occurred) {
                continue;
            }
            auto& v = times[r.benchmark_name()];
            if (v.empty()) {
                order.push_back(r.benchmark_name());
                units[r.benchmark_name()] = benchmark::GetTimeUnitString(r.time_unit);
            }
            v.push_back(r.GetAdjustedRealTime());
        }
    }
};

inline double median_of(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

inline int run_with_ratios(int argc, char** argv, const std::vector<RatioPair>& pairs)
{
    // A shorter minimum time per round: the rounds, not one long run, give
    // the steadiness.
    std::vector<char*> args(argv, argv + argc);
    static char min_time[] = "--benchmark_min_time=0.1";
    static char no_min_time[] = "--benchmark_min_time=0";
    bool has_min_time = false;
    for (int i = 1; i < argc; ++i) {
        has_min_time |= std::strncmp(argv[i], "--benchmark_min_time", 20) == 0;
    }
    if (!has_min_time) {
        args.push_back(quick() ? no_min_time : min_time);
    }
    int n = static_cast<int>(args.size());
    benchmark::Initialize(&n, args.data());
    if (benchmark::ReportUnrecognizedArguments(n, args.data())) {
        return 1;
    }

    int rounds = 5;
    if (const char* r = std::getenv("KIVO_BENCH_ROUNDS")) {
        rounds = std::max(1, std::atoi(r));
    }
    if (quick()) {
        rounds = 1;
    }
    RoundReporter reporter;
    for (int i = 0; i < rounds; ++i) {
        benchmark::RunSpecifiedBenchmarks(&reporter);
    }

    std::printf("%-60s %12s  (median of %d rounds)\n", "benchmark", "time/iter", rounds);
    for (const std::string& name : reporter.order) {
        std::printf("%-60s %12.3f %s\n", name.c_str(), median_of(reporter.times[name]), reporter.units[name]);
    }

    std::printf("\nratio ours / reference (time; below 1.00 is faster):\n");
    std::printf("  %-58s %7s %7s\n", "", "median", "min");
    int missing = 0;
    for (const RatioPair& p : pairs) {
        auto a = reporter.times.find(p.ours), b = reporter.times.find(p.reference);
        if (a == reporter.times.end() || b == reporter.times.end()) {
            std::printf("  %-58s no ratio: %s did not run\n", p.label,
                        a == reporter.times.end() ? p.ours : p.reference);
            ++missing;
            continue;
        }
        std::vector<double> ratios;
        for (size_t i = 0; i < std::min(a->second.size(), b->second.size()); ++i) {
            if (b->second[i] > 0) {
                ratios.push_back(a->second[i] / b->second[i]);
            }
        }
        if (ratios.empty()) {
            std::printf("  %-58s no ratio: %s took no measurable time\n", p.label, p.reference);
            continue;
        }
        std::printf("  %-58s %7.2f %7.2f\n", p.label, median_of(ratios),
                    *std::min_element(ratios.begin(), ratios.end()));
    }
    benchmark::Shutdown();
    return missing ? 1 : 0;
}

} // namespace kivo_bench

#endif
