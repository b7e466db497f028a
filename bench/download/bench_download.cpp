// The song download against `curl -o` of the same loopback address, in the same run: wall
// throughput and peak resident memory of both, for growing file sizes.
// Goals: at least 0.9x curl's throughput; peak memory within 32 MiB of the idle program,
// whatever the size.
//
// The server runs in a child process and makes its bytes on the fly, so neither side's
// memory holds the file. Both clients write to the same folder.
//
// Usage: bench_download [runs] [MiB ...]      (default: 3 runs of 64, 256 and 1024 MiB)

#include "common/bench_report.h"
#include "platform/download.h"

#include <QCoreApplication>
#include <QString>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kThroughputGoal = 0.9;
constexpr double kMemoryGoalMiB = 32.0;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The served bytes: byte i is 'a' + i % 26. One buffer, sliced at the right phase.
constexpr std::size_t kPiece = 1 << 20;

// Serves GET /blob/<bytes> until killed; reports its port through `port_pipe`.
[[noreturn]] void run_server(int port_pipe) {
    std::string pattern(kPiece + 26, '\0');
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        pattern[i] = static_cast<char>('a' + i % 26);
    }
    httplib::Server server;
    server.Get(R"(/blob/(\d+))", [&pattern](const httplib::Request& req, httplib::Response& res) {
        const std::size_t size = std::stoull(req.matches[1].str());
        res.set_content_provider(
            size, "audio/mpeg",
            [&pattern](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                return sink.write(pattern.data() + offset % 26, std::min(kPiece, length));
            });
    });
    const int port = server.bind_to_any_port("127.0.0.1");
    if (write(port_pipe, &port, sizeof port) != static_cast<ssize_t>(sizeof port)) {
        _exit(1);
    }
    close(port_pipe);
    server.listen_after_bind();
    _exit(0);
}

std::optional<double> status_mib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(field) + ":";
    while (std::getline(status, line)) {
        if (line.rfind(prefix, 0) == 0) {
            return std::stod(line.substr(prefix.size())) / 1024.0;
        }
    }
    return std::nullopt;
}

// Starts the peak-memory count afresh (Linux: "5" into clear_refs resets VmHWM).
bool reset_peak() {
    std::ofstream refs("/proc/self/clear_refs");
    refs << "5";
    refs.flush();
    return static_cast<bool>(refs);
}

struct Run final {
    double seconds = 0;
    double peak_mib = 0;
    bool ok = false;
};

Run ours(const std::string& url, const std::string& target) {
    Run run;
    const bool peak_reset = reset_peak();
    const auto start = Clock::now();
    const zorvik::DownloadResult result =
        zorvik::download_to_file(url, QString::fromStdString(target));
    run.seconds = seconds_since(start);
    run.ok = result.ok;
    run.peak_mib = peak_reset ? status_mib("VmHWM").value_or(0) : 0;
    return run;
}

Run curl_o(const std::string& url, const std::string& target) {
    Run run;
    std::vector<std::string> args = {"curl", "-s", "-f", "-o", target, url};
    std::vector<char*> argv;
    for (auto& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv.data(), environ) != 0) {
        return run;
    }
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid) {
        return run;
    }
    run.seconds = seconds_since(start);
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    run.peak_mib = static_cast<double>(usage.ru_maxrss) / 1024.0;
    return run;
}

bool file_is_pattern(const std::string& path, std::size_t size) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> block(kPiece);
    std::size_t offset = 0;
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        for (std::streamsize i = 0; i < in.gcount(); ++i, ++offset) {
            if (block[i] != static_cast<char>('a' + offset % 26)) {
                return false;
            }
        }
    }
    return offset == size;
}

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::vector<std::size_t> sizes_mib;
    for (int i = 2; i < argc; ++i) {
        sizes_mib.push_back(std::strtoull(argv[i], nullptr, 10));
    }
    if (sizes_mib.empty()) {
        sizes_mib = {64, 256, 1024};
    }

    int port_pipe[2];
    if (pipe(port_pipe) != 0) {
        std::perror("pipe");
        return 1;
    }
    // The server is forked before Qt starts any thread.
    const pid_t server = fork();
    if (server < 0) {
        std::perror("fork");
        return 1;
    }
    if (server == 0) {
        close(port_pipe[0]);
        run_server(port_pipe[1]);
    }
    close(port_pipe[1]);
    int port = 0;
    const bool got_port = read(port_pipe[0], &port, sizeof port) == sizeof port && port > 0;
    close(port_pipe[0]);
    const auto stop_server = [server] {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    };
    if (!got_port) {
        std::fprintf(stderr, "the loopback server did not start\n");
        stop_server();
        return 1;
    }

    QCoreApplication app(argc, argv);
    char folder_template[] = "/tmp/zorvik-bench-download-XXXXXX";
    if (mkdtemp(folder_template) == nullptr) {
        std::perror("mkdtemp");
        stop_server();
        return 1;
    }
    const std::string folder = folder_template;
    const double idle_mib = status_mib("VmRSS").value_or(0);

    std::printf("download of a loopback file, best of %d; goals: >= %.2fx curl -o throughput, "
                "peak RSS <= idle + %.0f MiB\n",
                runs, kThroughputGoal, kMemoryGoalMiB);
    std::printf("idle program RSS: %.1f MiB\n\n", idle_mib);
    std::printf("%8s %12s %12s %8s %10s | %10s %10s %12s %8s\n", "MiB", "ours MiB/s", "curl MiB/s",
                "ratio", "goal", "ours peak", "curl peak", "ours-idle", "goal");

    bool all_met = true;
    for (const std::size_t mib : sizes_mib) {
        const std::size_t size = mib << 20;
        const std::string url =
            "http://127.0.0.1:" + std::to_string(port) + "/blob/" + std::to_string(size);
        const std::string target = folder + "/song.mp3";
        Run best_ours{1e30, 0, true};
        Run best_curl{1e30, 0, true};
        bool verified = true;
        for (int r = 0; r < runs; ++r) {
            // Alternate, so a noisy moment on the shared machine hurts both sides alike.
            std::filesystem::remove(target);
            const Run o = ours(url, target);
            verified = verified && o.ok && (r > 0 || file_is_pattern(target, size));
            std::filesystem::remove(target);
            const Run c = curl_o(url, target);
            best_ours.ok = best_ours.ok && o.ok;
            best_curl.ok = best_curl.ok && c.ok;
            best_ours.seconds = std::min(best_ours.seconds, o.seconds);
            best_curl.seconds = std::min(best_curl.seconds, c.seconds);
            best_ours.peak_mib = std::max(best_ours.peak_mib, o.peak_mib);
            best_curl.peak_mib = std::max(best_curl.peak_mib, c.peak_mib);
        }
        std::filesystem::remove(target);
        if (!verified || !best_ours.ok || !best_curl.ok) {
            std::printf("%8zu  failed (ours %s, curl %s)\n", mib, verified ? "ok" : "FAILED",
                        best_curl.ok ? "ok" : "FAILED");
            all_met = false;
            continue;
        }
        const double ours_rate = static_cast<double>(mib) / best_ours.seconds;
        const double curl_rate = static_cast<double>(mib) / best_curl.seconds;
        const double ratio = ours_rate / curl_rate;
        const double growth = best_ours.peak_mib - idle_mib;
        const bool rate_met = ratio >= kThroughputGoal;
        const bool memory_met = growth <= kMemoryGoalMiB;
        all_met = all_met && rate_met && memory_met;
        std::printf("%8zu %12.0f %12.0f %7.2fx %10s | %10.1f %10.1f %12.1f %8s\n", mib, ours_rate,
                    curl_rate, ratio, rate_met ? "met" : "MISSED", best_ours.peak_mib,
                    best_curl.peak_mib, growth, memory_met ? "met" : "MISSED");
        const std::string measure = "song download, " + std::to_string(mib) + " MiB";
        zorvik::bench::report(
            measure + ", throughput", zorvik::bench::format("%.0f MiB/s", ours_rate), "curl -o",
            zorvik::bench::format("%.0f MiB/s", curl_rate), ratio,
            zorvik::bench::format(">= %.2fx", kThroughputGoal), zorvik::bench::verdict(rate_met));
        zorvik::bench::report(measure + ", peak RSS",
                              zorvik::bench::format("%.1f MiB", best_ours.peak_mib), "curl -o",
                              zorvik::bench::format("%.1f MiB", best_curl.peak_mib),
                              best_ours.peak_mib / best_curl.peak_mib,
                              zorvik::bench::format("<= idle + %.0f MiB", kMemoryGoalMiB),
                              zorvik::bench::verdict(memory_met));
    }

    std::filesystem::remove_all(folder);
    stop_server();
    return all_met ? 0 : 1;
}
