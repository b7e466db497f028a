// Process start to first painted window: zorvik against a minimal Qt Widgets program (one
// QWidget), started alternately on the offscreen platform, median of N runs each. Each program
// prints the monotonic clock once its window has painted; the time runs from just before the
// spawn to that moment, so tearing down afterwards does not count. Goal: at most 1.3x.
#include "common/bench_report.h"
#include "common/bench_timing.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace {

using zorvik::bench::median;

constexpr double kGoal = 1.3;

struct Run {
    double to_paint_ms;
    double whole_ms;
};

// Closes a descriptor when it goes out of scope.
class Fd final {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = -1;
    }

private:
    int fd_;
};

std::optional<Run> run_once(const char* path) {
    int ends[2];
    if (pipe(ends) != 0) {
        return std::nullopt;
    }
    Fd read_end(ends[0]);
    Fd write_end(ends[1]);

    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) {
        return std::nullopt;
    }
    const bool actions_ok =
        posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO) == 0 &&
        posix_spawn_file_actions_addclose(&actions, read_end.get()) == 0 &&
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0) == 0;

    char* const argv[] = {const_cast<char*>(path), nullptr};
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    const bool spawned =
        actions_ok && posix_spawn(&pid, path, &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    if (!spawned) {
        return std::nullopt;
    }
    write_end.reset();

    std::string out;
    char buffer[64];
    ssize_t n = 0;
    while ((n = read(read_end.get(), buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    const bool exited =
        waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const auto end = std::chrono::steady_clock::now();
    if (!exited || out.empty()) {
        return std::nullopt;
    }
    const long long painted_ns = std::atoll(out.c_str());
    const long long start_ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
    if (painted_ns <= start_ns) {
        return std::nullopt;
    }
    return Run{static_cast<double>(painted_ns - start_ns) / 1e6,
               std::chrono::duration<double, std::milli>(end - start).count()};
}

} // namespace

int main(int argc, char** argv) {
    int runs = 31;
    if (argc > 1) {
        runs = std::max(1, std::atoi(argv[1]));
    }
    if (setenv("QT_QPA_PLATFORM", "offscreen", 1) != 0) {
        std::perror("setenv");
        return 1;
    }

    struct Program {
        const char* label;
        const char* path;
        std::vector<double> to_paint;
        std::vector<double> whole;
    };
    std::vector<Program> programs = {
        {"baseline: minimal Qt Widgets window", ZORVIK_BENCH_MINIMAL, {}, {}},
        {"minimal window + zorvik's libraries", ZORVIK_BENCH_MINIMAL_LIBS, {}, {}},
        {"one label of Chinese text", ZORVIK_BENCH_LABEL, {}, {}},
        {"zorvik main window", ZORVIK_BENCH_ZORVIK, {}, {}},
    };
    // One run of each first, so all start from a warm file cache; then alternately.
    for (int i = -1; i < runs; ++i) {
        for (Program& program : programs) {
            const auto run = run_once(program.path);
            if (!run) {
                std::fprintf(stderr, "%s failed to run\n", program.path);
                return 1;
            }
            if (i >= 0) {
                program.to_paint.push_back(run->to_paint_ms);
                program.whole.push_back(run->whole_ms);
            }
        }
    }

    std::printf("Start-up on the offscreen platform, median of %d runs each\n", runs);
    std::printf("  %-37s %14s %12s %9s\n", "", "to first paint", "whole run", "ratio");
    const double baseline = median(programs.front().to_paint);
    for (const Program& program : programs) {
        const double to_paint = median(program.to_paint);
        std::printf("  %-37s %11.1f ms %9.1f ms %8.2fx\n", program.label, to_paint,
                    median(program.whole), to_paint / baseline);
    }
    const double ratio = median(programs.back().to_paint) / baseline;
    std::printf("  zorvik against the minimal window %.2fx, goal at most %.2fx: %s\n", ratio, kGoal,
                ratio <= kGoal ? "met" : "MISSED");
    zorvik::bench::report("start-up to first paint",
                          zorvik::bench::format("%.1f ms", median(programs.back().to_paint)),
                          programs.front().label, zorvik::bench::format("%.1f ms", baseline), ratio,
                          "<= 1.30x", zorvik::bench::verdict(ratio <= kGoal));
    return 0;
}
