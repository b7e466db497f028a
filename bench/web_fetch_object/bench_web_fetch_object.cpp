// web_fetch_object against a bare curl_easy_perform of the same request, in the same run, on
// loopback: a 10 MiB GET and the song search's small form POST. Both sides send the same
// headers, open a fresh connection per request and keep the whole body in memory.
// Goal: median time of ours at most 1.2x the baseline's.
//
// Usage: bench_web_fetch_object [runs] [get|post]
//        runs: default 15 for the GET, 20x that for the POST; the second argument picks one.

#include "common/curl_baseline.h"
#include "common/fetch_bench.h"

#include "support/server/test_server.h"
#include "web/web_fetch_object.h"

#include <string>
#include <utility>
#include <vector>

namespace {

constexpr double kGoal = 1.2;
constexpr std::size_t kLargeSize = 10u * 1024u * 1024u;
const std::string kForm = "input=%E5%91%A8%E6%9D%B0%E4%BC%A6&filter=name&type=netease&page=1";
const std::string kReply = R"({"data":[{"title":"t","author":"a","songid":"1","url":"u"}]})";

// The baseline: one blocking libcurl transfer with the headers web_fetch_object sends.
bool baseline(const std::string& url, const std::string* post, std::size_t expected_size) {
    std::vector<std::string> lines = {
        "Accept: */*", "Referer: " + url, "Accept-Language: zh-cn",
        "User-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)", "Expect:"};
    if (post != nullptr) {
        lines.push_back("Content-Type: application/x-www-form-urlencoded");
    }
    return zorvik::bench::curl_baseline(
        {.url = url, .header_lines = std::move(lines), .post = post}, expected_size);
}

bool ours(const std::string& url, const std::string* post, std::size_t expected_size) {
    const zorvik::Bytes body =
        post != nullptr ? zorvik::web_fetch_object(url, 1, *post) : zorvik::web_fetch_object(url);
    return body.size() == expected_size;
}

} // namespace

int main(int argc, char** argv) {
    zorvik::bench::FetchBench bench;
    bench.routine = "web_fetch_object";
    bench.name_width = 18;
    bench.goal = kGoal;
    bench.measures = [](zorvik::test::LocalServer& server, int runs, const std::string& which) {
        server.serve_generated("/large", kLargeSize);
        server.serve_text("/music", 200, kReply, {}, "application/json");
        const std::string large_url = server.url("/large");
        const std::string search_url = server.url("/music");
        std::vector<zorvik::bench::FetchMeasure> measures;
        // Any other choice than "get" picks the POST.
        if (which.empty() || which == "get") {
            measures.push_back({"GET 10 MiB", runs,
                                [large_url] { return ours(large_url, nullptr, kLargeSize); },
                                [large_url] { return baseline(large_url, nullptr, kLargeSize); }});
        }
        if (which != "get") {
            measures.push_back(
                {"POST search form", runs * 20,
                 [search_url] { return ours(search_url, &kForm, kReply.size()); },
                 [search_url] { return baseline(search_url, &kForm, kReply.size()); }});
        }
        return measures;
    };
    return zorvik::bench::run_fetch_bench(argc, argv, bench);
}
