// The search page's fill step: from the reply's bytes to the rows in 超级列表框1 and the
// addresses in download_urls, against a QJsonDocument-based fill of the same QTreeWidget in
// the same run.
// Goals: the list filled within 10 ms of a ten-song reply's arrival, within 250 ms of a
// 1000-song reply's.
//
// Usage: bench_search [runs]      (default 15; the median run counts)

#include "common/bench_report.h"
#include "music/search_results.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QStringList>
#include <QTreeWidget>
#include <QTreeWidgetItem>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What the service sends for a page of `songs` results, short lyrics included.
zorvik::Bytes reply_of(int songs) {
    std::string body = R"({"code":200,"data":[)";
    for (int i = 0; i < songs; ++i) {
        const std::string n = std::to_string(i);
        body += (i == 0 ? "{" : ",{");
        body += R"("type":"netease","link":"http://music.example.cn/song?id=)" + n +
                R"(","songid":)" + std::to_string(186000 + i) + R"(,"title":"晴天 )" + n +
                R"(","author":"周杰伦","lrc":"[00:00.00] 晴天\n[00:01.00] 作词：周杰伦",)"
                R"("url":"http://music.example.cn/song/media/outer/url?id=)" +
                n + R"(.mp3","pic":"http://p1.music.example.cn/)" + n + R"(.jpg"})";
    }
    body += R"(],"error":""})";
    return zorvik::Bytes(body.begin(), body.end());
}

// The baseline: Qt's own JSON reader filling the same list the same way.
int fill_with_qjson(const zorvik::Bytes& reply, QTreeWidget& list, std::vector<QString>& urls) {
    list.clear();
    urls.clear();
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray(
        reinterpret_cast<const char*>(reply.data()), static_cast<qsizetype>(reply.size())));
    const QJsonArray data = doc.object().value(QStringLiteral("data")).toArray();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(data.size());
    for (const QJsonValue& value : data) {
        const QJsonObject song = value.toObject();
        const double id = song.value(QStringLiteral("songid")).toDouble();
        rows.append(
            new QTreeWidgetItem(QStringList{song.value(QStringLiteral("title")).toString(),
                                            song.value(QStringLiteral("author")).toString(),
                                            QString::number(static_cast<qint32>(std::trunc(id)))}));
        urls.push_back(song.value(QStringLiteral("url")).toString());
    }
    list.addTopLevelItems(rows);
    return static_cast<int>(rows.size());
}

template <typename Fill> double median_ms(int runs, Fill fill) {
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        const auto start = Clock::now();
        fill();
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        // What the window does between two searches: paint the rows it was given.
        QApplication::processEvents();
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;

    QTreeWidget list;
    list.setColumnCount(3);
    list.resize(296, 223);
    list.show();

    struct Size final {
        int songs;
        double goal_ms;
    };
    const Size sizes[] = {{10, 10.0}, {1000, 250.0}};

    std::printf("search reply to filled list, median of %d runs\n\n", runs);
    std::printf("%8s %10s %12s %14s %8s %10s %8s\n", "songs", "reply KB", "ours ms",
                "QJsonDocument", "ratio", "goal ms", "");
    bool all_met = true;
    for (const Size& size : sizes) {
        const zorvik::Bytes reply = reply_of(size.songs);
        std::vector<zorvik::Text> download_urls;
        std::vector<QString> baseline_urls;
        zorvik::SearchFill fill;
        const double ours = median_ms(
            runs, [&] { fill = zorvik::fill_search_results(reply, list, download_urls); });
        const bool filled = fill.rows == size.songs && list.topLevelItemCount() == size.songs &&
                            download_urls.size() == static_cast<std::size_t>(size.songs);
        int baseline_rows = 0;
        const double baseline =
            median_ms(runs, [&] { baseline_rows = fill_with_qjson(reply, list, baseline_urls); });
        const bool met = filled && baseline_rows == size.songs && ours <= size.goal_ms;
        all_met = all_met && met;
        std::printf("%8d %10.1f %12.3f %14.3f %7.1fx %10.0f %8s\n", size.songs,
                    static_cast<double>(reply.size()) / 1024.0, ours, baseline, ours / baseline,
                    size.goal_ms, filled ? zorvik::bench::verdict(met) : "WRONG");
        zorvik::bench::report("search list filled, " + std::to_string(size.songs) + " songs",
                              zorvik::bench::format("%.3f ms", ours), "QJsonDocument fill",
                              zorvik::bench::format("%.3f ms", baseline), ours / baseline,
                              zorvik::bench::format("<= %.0f ms", size.goal_ms),
                              zorvik::bench::verdict(met));
    }
    return all_met ? 0 : 1;
}
