// The real main window, aimed at a local stand-in for the outside services, so smoke tests
// can search, download and fetch quotes in a real X server without the internet.
//
// The stand-in (HTTPS, trusted test CA) answers:
//   POST /music  two songs, "Smoke Song"/"Tester" (songid 42) and "第二首"/"歌手" (7), whose
//                addresses are /songs/1.mp3 and /songs/2.mp3 on the same server
//   GET /songs/1.mp3, /songs/2.mp3   generated_body(kSongBytes)
//   GET /        the quote "人生若只如初见。" (UTF-8), a blank and the query it received, on
//                either quote endpoint
//
// When ZORVIK_SMOKE_GEOMETRY names a file, one line "<index> <x> <y>" per tab of the tab
// control is written there once the window shows: the tab's centre relative to the window,
// so a script can click it.
#include "app/main_window.h"
#include "platform/curl_transfer.h"
#include "platform/ui/tab_control.h"
#include "support/server/test_server.h"

#include <QApplication>
#include <QTabBar>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

constexpr std::size_t kSongBytes = 300000;

std::string search_reply(const std::string& base) {
    return R"({"code":200,"data":[{"title":"Smoke Song","author":"Tester","songid":42,"url":")" +
           base + R"(/songs/1.mp3"},{"title":"第二首","author":"歌手","songid":7,"url":")" + base +
           R"(/songs/2.mp3"}],"error":""})";
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    zorvik::apply_application_look(app);

    zorvik::test::LocalServer server(zorvik::test::Scheme::Https);
    if (!server.ok()) {
        std::fprintf(stderr, "the local stand-in did not start\n");
        return 2;
    }
    zorvik::set_ca_file_override(zorvik::test::test_certificates().ca_file);

    const std::string reply = search_reply(server.base_url());
    server.on("POST", "/music", [reply](const httplib::Request&, httplib::Response& res) {
        res.set_content(reply, "application/json; charset=utf-8");
    });
    server.serve_generated("/songs/1.mp3", kSongBytes);
    server.serve_generated("/songs/2.mp3", kSongBytes);
    server.on("GET", "/", [](const httplib::Request& req, httplib::Response& res) {
        const std::size_t query = req.target.find('?');
        res.set_content("人生若只如初见。 " + (query == std::string::npos
                                                   ? std::string()
                                                   : req.target.substr(query + 1)),
                        "text/plain; charset=utf-8");
    });

    zorvik::Endpoints endpoints;
    endpoints.music_search = QString::fromStdString(server.url("/music"));
    endpoints.quote_primary = QString::fromStdString(server.url("/?"));
    endpoints.quote_international = QString::fromStdString(server.url("/?"));

    zorvik::MainWindow window(endpoints);
    window.show();

    if (const char* geometry_file = std::getenv("ZORVIK_SMOKE_GEOMETRY")) {
        const std::string path = geometry_file;
        QTimer::singleShot(0, &window, [&window, path] {
            const auto* tabs = window.findChild<zorvik::TabControl*>(QStringLiteral("高级选择夹1"));
            if (tabs == nullptr) {
                return;
            }
            std::ofstream out(path);
            for (int i = 0; i < tabs->tab_bar()->count(); ++i) {
                const QPoint centre =
                    tabs->tab_bar()->mapTo(&window, tabs->tab_bar()->tabRect(i).center());
                out << i << ' ' << centre.x() << ' ' << centre.y() << '\n';
            }
        });
    }
    return QApplication::exec();
}
