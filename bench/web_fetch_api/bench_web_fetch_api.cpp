// web_fetch_api against a bare curl_easy_perform of the same GET, in the same run, on
// loopback: a short quote (the quote page's request) and a 10 MiB page. Both sides send the
// same header lines, open a fresh connection per request and keep the whole body in memory;
// ours also runs its charset step over the body's head.
// Goal: median time of ours at most 1.2x the baseline's.
//
// Usage: bench_web_fetch_api [runs] [quote|large]
//        runs: default 15 for the large page, 20x that for the quote; the second argument
//        picks one.

#include "common/curl_baseline.h"
#include "common/fetch_bench.h"

#include "support/server/test_server.h"
#include "web/web_fetch_api.h"

#include <string>
#include <vector>

namespace {

constexpr double kGoal = 1.2;
constexpr std::size_t kLargeSize = 10u * 1024u * 1024u;
// A quote as the service sends it in its plain-text format.
const std::string kQuote = "\xE4\xBA\xBA\xE7\x94\x9F\xE8\x8B\xA5\xE5\x8F\xAA\xE5\xA6\x82"
                           "\xE5\x88\x9D\xE8\xA7\x81\xE3\x80\x82";

// The baseline: one blocking libcurl transfer with the header lines web_fetch_api sends.
bool baseline(const std::string& url, std::size_t expected_size) {
    zorvik::bench::CurlBaselineRequest request;
    request.url = url;
    request.header_lines = {
        "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)",
        "Accept: text/html, application/xhtml+xml, */*",
        "Accept-Encoding: gbk, GB2312",
        "Accept-Language: zh-cn",
        "Cache-Control: no-cache",
        "Content-Type:",
        "Expect:"};
    request.follow_redirects = true;
    return zorvik::bench::curl_baseline(request, expected_size);
}

// As the quote page calls it: method 0, the status read, no body bytes asked for.
bool ours(const std::string& url, std::size_t expected_size) {
    zorvik::Text status;
    const zorvik::Text body = zorvik::web_fetch_api(
        url, 0, std::nullopt, nullptr, nullptr, std::nullopt, nullptr, std::nullopt, std::nullopt,
        std::nullopt, std::nullopt, std::nullopt, std::nullopt, std::nullopt, nullptr, &status);
    return status == "200 OK" && body.size() == expected_size;
}

} // namespace

int main(int argc, char** argv) {
    zorvik::bench::FetchBench bench;
    bench.routine = "web_fetch_api";
    bench.name_width = 12;
    bench.goal = kGoal;
    bench.measures = [](zorvik::test::LocalServer& server, int runs, const std::string& which) {
        server.serve_generated("/large", kLargeSize);
        server.serve_text("/", 200, kQuote, {}, "text/plain; charset=utf-8");
        const std::string quote_url = server.url("/?encode=text&charset=utf-8");
        const std::string large_url = server.url("/large");
        std::vector<zorvik::bench::FetchMeasure> measures;
        if (which.empty() || which == "quote") {
            measures.push_back({"GET quote", runs * 20,
                                [quote_url] { return ours(quote_url, kQuote.size()); },
                                [quote_url] { return baseline(quote_url, kQuote.size()); }});
        }
        if (which.empty() || which == "large") {
            measures.push_back({"GET 10 MiB", runs,
                                [large_url] { return ours(large_url, kLargeSize); },
                                [large_url] { return baseline(large_url, kLargeSize); }});
        }
        return measures;
    };
    return zorvik::bench::run_fetch_bench(argc, argv, bench);
}
