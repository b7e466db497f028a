#pragma once

// The frame of the benchmarks that set one of our fetch routines against a bare
// curl_easy_perform of the same request on loopback: libcurl and a LocalServer started, each
// measure timed alternately against its baseline, one table row and one report line apiece.
//
// Usage of such a benchmark: <name> [runs] [which]; runs defaults to 15, `which` is the
// benchmark's own choice of one measure.

#include "common/bench_report.h"
#include "common/bench_timing.h"

#include "support/server/test_server.h"

#include <QCoreApplication>

#include <curl/curl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace zorvik::bench {

struct FetchMeasure final {
    const char* name;
    int runs;
    std::function<bool()> ours;
    std::function<bool()> baseline;
};

struct FetchBench final {
    const char* routine;
    // Width of the table's first column.
    int name_width;
    // Ours may take at most this many times the baseline's median.
    double goal;
    // Serves what the measures fetch and gives those to run, for the runs and the choice the
    // command line made.
    std::function<std::vector<FetchMeasure>(test::LocalServer& server, int runs,
                                            const std::string& which)>
        measures;
};

// The exit status: 0 when every measure met the goal.
inline int run_fetch_bench(int argc, char** argv, const FetchBench& bench) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string which = argc > 2 ? argv[2] : "";
    QCoreApplication app(argc, argv);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "libcurl did not start\n");
        return 1;
    }

    test::LocalServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return 1;
    }
    const std::vector<FetchMeasure> measures = bench.measures(server, runs, which);

    std::printf("%s vs curl_easy_perform on loopback, median of the runs; "
                "goal: ratio <= %.2fx\n\n",
                bench.routine, bench.goal);
    std::printf("%-*s %6s %12s %15s %8s %8s\n", bench.name_width, "measure", "runs", "ours (ms)",
                "baseline (ms)", "ratio", "goal");
    bool all_met = true;
    for (const FetchMeasure& m : measures) {
        const auto medians = alternate_medians(m.runs, m.ours, m.baseline);
        if (!medians) {
            std::printf("%-*s failed\n", bench.name_width, m.name);
            all_met = false;
            continue;
        }
        const double o = medians->ours_ms;
        const double b = medians->baseline_ms;
        const double ratio = o / b;
        const bool met = ratio <= bench.goal;
        all_met = all_met && met;
        std::printf("%-*s %6d %12.3f %15.3f %7.2fx %8s\n", bench.name_width, m.name, m.runs, o, b,
                    ratio, met ? "met" : "MISSED");
        report(std::string(bench.routine) + " " + m.name, format("%.3f ms", o), "curl_easy_perform",
               format("%.3f ms", b), ratio, format("<= %.2fx", bench.goal), verdict(met));
    }
    curl_global_cleanup();
    return all_met ? 0 : 1;
}

} // namespace zorvik::bench
