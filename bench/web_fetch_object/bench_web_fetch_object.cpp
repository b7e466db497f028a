// web_fetch_object against a bare curl_easy_perform of the same request, in the same run, on
// loopback: a 10 MiB GET and the song search's small form POST. Both sides send the same
// headers, open a fresh connection per request and keep the whole body in memory.
// Goal: median time of ours at most 1.2x the baseline's.
//
// Usage: bench_web_fetch_object [runs] [get|post]
//        runs: default 15 for the GET, 20x that for the POST; the second argument picks one.

#include "common/bench_report.h"

#include "support/server/test_server.h"
#include "web/web_fetch_object.h"

#include <QCoreApplication>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kGoal = 1.2;
constexpr std::size_t kLargeSize = 10u * 1024u * 1024u;
const std::string kForm = "input=%E5%91%A8%E6%9D%B0%E4%BC%A6&filter=name&type=netease&page=1";
const std::string kReply = R"({"data":[{"title":"t","author":"a","songid":"1","url":"u"}]})";

struct CurlDeleter final {
    void operator()(CURL* h) const { curl_easy_cleanup(h); }
};
struct SlistDeleter final {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

std::size_t append(char* data, std::size_t size, std::size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

// The baseline: one blocking libcurl transfer with the headers web_fetch_object sends.
bool baseline(const std::string& url, const std::string* post, std::size_t expected_size) {
    std::unique_ptr<CURL, CurlDeleter> h(curl_easy_init());
    if (!h) {
        return false;
    }
    std::vector<std::string> lines = {
        "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", "Expect:"};
    if (post != nullptr) {
        lines.push_back("Content-Type: application/x-www-form-urlencoded");
    }
    std::unique_ptr<curl_slist, SlistDeleter> headers;
    for (const auto& line : lines) {
        curl_slist* grown = curl_slist_append(headers.get(), line.c_str());
        if (grown == nullptr) {
            return false;
        }
        (void)headers.release();
        headers.reset(grown);
    }
    std::string body;
    bool ok = curl_easy_setopt(h.get(), CURLOPT_URL, url.c_str()) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_HTTP_VERSION,
                               static_cast<long>(CURL_HTTP_VERSION_1_1)) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_NOSIGNAL, 1L) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_WRITEFUNCTION, append) == CURLE_OK &&
              curl_easy_setopt(h.get(), CURLOPT_WRITEDATA, &body) == CURLE_OK;
    if (post != nullptr) {
        ok = ok &&
             curl_easy_setopt(h.get(), CURLOPT_POSTFIELDSIZE, static_cast<long>(post->size())) ==
                 CURLE_OK &&
             curl_easy_setopt(h.get(), CURLOPT_POSTFIELDS, post->c_str()) == CURLE_OK;
    }
    return ok && curl_easy_perform(h.get()) == CURLE_OK && body.size() == expected_size;
}

bool ours(const std::string& url, const std::string* post, std::size_t expected_size) {
    const zorvik::Bytes body =
        post != nullptr ? zorvik::web_fetch_object(url, 1, *post) : zorvik::web_fetch_object(url);
    return body.size() == expected_size;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Measure final {
    const char* name;
    std::string url;
    const std::string* post;
    std::size_t expected_size;
    int runs;
};

} // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
    const std::string only = argc > 2 ? argv[2] : "";
    QCoreApplication app(argc, argv);
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        std::fprintf(stderr, "libcurl did not start\n");
        return 1;
    }

    zorvik::test::LocalServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "the loopback server did not start\n");
        return 1;
    }
    server.serve_generated("/large", kLargeSize);
    server.serve_text("/music", 200, kReply, {}, "application/json");

    const std::vector<Measure> measures = {
        {"GET 10 MiB", server.url("/large"), nullptr, kLargeSize, runs},
        {"POST search form", server.url("/music"), &kForm, kReply.size(), runs * 20},
    };

    std::printf("web_fetch_object vs curl_easy_perform on loopback, median of the runs; "
                "goal: ratio <= %.2fx\n\n",
                kGoal);
    std::printf("%-18s %6s %12s %15s %8s %8s\n", "measure", "runs", "ours (ms)", "baseline (ms)",
                "ratio", "goal");
    bool all_met = true;
    for (const Measure& m : measures) {
        if (!only.empty() && std::string(m.name).rfind(only == "get" ? "GET" : "POST", 0) != 0) {
            continue;
        }
        std::vector<double> ours_ms;
        std::vector<double> base_ms;
        bool ok = true;
        // One untimed round each, then alternate so a noisy moment hurts both sides alike.
        ok = ours(m.url, m.post, m.expected_size) && baseline(m.url, m.post, m.expected_size);
        for (int r = 0; r < m.runs && ok; ++r) {
            auto start = Clock::now();
            ok = ok && ours(m.url, m.post, m.expected_size);
            ours_ms.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            start = Clock::now();
            ok = ok && baseline(m.url, m.post, m.expected_size);
            base_ms.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
        if (!ok) {
            std::printf("%-18s failed\n", m.name);
            all_met = false;
            continue;
        }
        const double o = median(ours_ms);
        const double b = median(base_ms);
        const double ratio = o / b;
        const bool met = ratio <= kGoal;
        all_met = all_met && met;
        std::printf("%-18s %6d %12.3f %15.3f %7.2fx %8s\n", m.name, m.runs, o, b, ratio,
                    met ? "met" : "MISSED");
        zorvik::bench::report(std::string("web_fetch_object ") + m.name,
                              zorvik::bench::format("%.3f ms", o), "curl_easy_perform",
                              zorvik::bench::format("%.3f ms", b), ratio, "<= 1.20x",
                              zorvik::bench::verdict(met));
    }
    curl_global_cleanup();
    return all_met ? 0 : 1;
}
