// Reading a music-search reply the way the song search does (parse, count of "data", then per
// song get_text of title, author and url and get_number of songid), from the UTF-8 reply to
// the fields as Text, against QJsonDocument extracting the same fields in the same run.
// Goals: a ten-song reply in under 5 ms and a thousand-song reply in under 0.2 s.
//
// Usage: bench_json [runs]

#include "common/bench_report.h"

#include "codepage/codepage.h"
#include "script/json_object.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Song final {
    zorvik::Text title;
    zorvik::Text author;
    zorvik::Text url;
    double songid = 0;
};

// A reply shaped like the service's, with the extra members it sends along.
std::string make_reply(int songs) {
    std::string reply = R"({"code":200,"error":"","data":[)";
    for (int i = 0; i < songs; ++i) {
        const std::string n = std::to_string(i);
        if (i > 0) {
            reply += ',';
        }
        reply += R"({"type":"netease","link":"http://music.example/song?id=)" + n +
                 R"(","songid":)" + std::to_string(186016 + i) + R"(,"title":"晴天 )" + n +
                 R"(","author":"周杰伦","lrc":"[00:00.00]晴天\n[00:01.00])"
                 R"(故事的小黄花\n[00:05.00]从出生那年就飘着","url":"http://music.example/)" +
                 n + R"(.mp3","pic":"http://music.example/)" + n + R"(.jpg"})";
    }
    return reply + "]}";
}

std::vector<Song> read_ours(const std::string& utf8) {
    zorvik::JsonObject json;
    json.parse(zorvik::utf8_to_ansi(utf8));
    const int count = json.count("data");
    std::vector<Song> songs;
    songs.reserve(count > 0 ? count : 0);
    for (int i = 0; i < count; ++i) {
        const std::string item = "data[" + std::to_string(i) + "]";
        songs.push_back({json.get_text(item + ".title"), json.get_text(item + ".author"),
                         json.get_text(item + ".url"), json.get_number(item + ".songid")});
    }
    return songs;
}

std::vector<Song> read_baseline(const std::string& utf8) {
    const QJsonDocument doc = QJsonDocument::fromJson(
        QByteArray::fromRawData(utf8.data(), static_cast<int>(utf8.size())));
    const QJsonArray data = doc.object().value(QLatin1String("data")).toArray();
    std::vector<Song> songs;
    songs.reserve(data.size());
    for (const QJsonValue& v : data) {
        const QJsonObject o = v.toObject();
        songs.push_back({zorvik::from_qstring(o.value(QLatin1String("title")).toString()),
                         zorvik::from_qstring(o.value(QLatin1String("author")).toString()),
                         zorvik::from_qstring(o.value(QLatin1String("url")).toString()),
                         o.value(QLatin1String("songid")).toDouble()});
    }
    return songs;
}

// Best of `runs`: the figure least disturbed by other work on a shared machine.
double best_ms(int runs, const std::function<std::vector<Song>()>& work,
               std::vector<Song>& result) {
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        std::vector<Song> songs = work();
        best =
            std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        result = std::move(songs);
    }
    return best;
}

bool same(const std::vector<Song>& a, const std::vector<Song>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const Song& x, const Song& y) {
               return x.title == y.title && x.author == y.author && x.url == y.url &&
                      x.songid == y.songid;
           });
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;

    struct Measure final {
        int songs;
        double goal_ms; // 0: none
    };
    const Measure measures[] = {{10, 5}, {100, 0}, {1000, 200}};

    std::printf("%-28s %12s %12s %8s %10s\n", "measure", "ours (ms)", "QJsonDoc (ms)", "ratio",
                "goal");
    bool ok = true;
    for (const Measure& m : measures) {
        const std::string reply = make_reply(m.songs);
        std::vector<Song> ours;
        std::vector<Song> baseline;
        read_ours(reply); // warm-up: first engine, code pages
        const double t_ours = best_ms(
            runs, [&] { return read_ours(reply); }, ours);
        const double t_base = best_ms(
            runs, [&] { return read_baseline(reply); }, baseline);
        if (!same(ours, baseline) || static_cast<int>(ours.size()) != m.songs) {
            std::printf("%d songs: the two readings differ\n", m.songs);
            ok = false;
        }
        char goal[32] = "-";
        if (m.goal_ms > 0) {
            std::snprintf(goal, sizeof goal, "< %.0f ms%s", m.goal_ms,
                          t_ours < m.goal_ms ? "" : " MISSED");
            ok = ok && t_ours < m.goal_ms;
        }
        char name[64];
        std::snprintf(name, sizeof name, "search reply, %d songs", m.songs);
        std::printf("%-28s %12.3f %12.3f %8.1f %10s\n", name, t_ours, t_base, t_ours / t_base,
                    goal);
        zorvik::bench::report(
            std::string("JsonObject ") + name, zorvik::bench::format("%.3f ms", t_ours),
            "QJsonDocument", zorvik::bench::format("%.3f ms", t_base), t_ours / t_base,
            m.goal_ms > 0 ? zorvik::bench::format("< %.0f ms", m.goal_ms) : std::string("-"),
            m.goal_ms > 0 ? zorvik::bench::verdict(t_ours < m.goal_ms) : "-");
    }
    return ok ? 0 : 1;
}
