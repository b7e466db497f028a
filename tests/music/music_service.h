#pragma once

// A local stand-in for the music-search service, over HTTPS with the trusted test CA.
//
// POST /music answers like the real service: JSON {"code":200,"data":[...],"error":""} for a
// request that says it comes from a script (X-Requested-With), an HTML page otherwise. Each
// request is recorded (LocalServer::requests()). Songs' files:
//   /songs/small.mp3     kSmallSong, zero bytes included
//   /songs/large.mp3     generated_body(kLargeSongBytes), with a length
//   /songs/chunked.mp3   generated_body(kLargeSongBytes), chunked, no length
//   /songs/halfway.mp3   announces 200000 bytes, breaks off after 100000
//   /songs/missing.mp3   404 with a page
//   /songs/stalled.mp3   sends 65536 bytes of a larger body, then waits (release_stalls())

#include "support/server/test_server.h"
#include "support/trust_test_ca.h"

#include <QString>

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace zorvik::test {

inline constexpr char kSmallSongBytes[] = "ID3\x03\x00\x00 small song \xff\xfe\x00 end";
inline const std::string kSmallSong(kSmallSongBytes, sizeof kSmallSongBytes - 1);
inline constexpr std::size_t kLargeSongBytes = 3u * 1024u * 1024u + 17u;
inline constexpr std::size_t kStalledSongFirstBytes = 65536;

// The members of one element of "data", as the service writes them.
inline std::string song(const std::string& title, const std::string& author,
                        const std::string& songid, const std::string& url) {
    return R"("title":")" + title + R"(","author":")" + author + R"(","songid":)" + songid +
           R"(,"url":")" + url + R"(","pic":"","lrc":"[00:00.00]")";
}

class MusicService final {
public:
    MusicService() {
        server_.on("POST", "/music", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.get_header_value("X-Requested-With") != "XMLHttpRequest") {
                res.set_content("<!DOCTYPE html><html><body>music</body></html>", "text/html");
                return;
            }
            const std::lock_guard lock(mutex_);
            res.status = status_;
            res.set_content(reply_, "application/json; charset=utf-8");
        });
        server_.serve_text("/songs/small.mp3", 200, kSmallSong, {}, "audio/mpeg");
        server_.serve_generated("/songs/large.mp3", kLargeSongBytes);
        server_.serve_generated("/songs/chunked.mp3", kLargeSongBytes, true);
        server_.serve_text("/songs/missing.mp3", 404, "<html>not found</html>", {}, "text/html");
        server_.serve_stall_mid_body("/songs/stalled.mp3", kStalledSongFirstBytes,
                                     std::chrono::seconds(30));
        server_.on("GET", "/songs/halfway.mp3",
                   LocalServer::cut_short(200000, 100000, "audio/mpeg"));
        set_songs({});
    }
    ~MusicService() { server_.release_stalls(); }
    MusicService(const MusicService&) = delete;
    MusicService& operator=(const MusicService&) = delete;

    bool ok() const { return server_.ok() && test_certificates().ok; }
    QString endpoint() const { return QString::fromStdString(server_.url("/music")); }
    std::string song_url(const std::string& name) const { return server_.url("/songs/" + name); }
    LocalServer& server() { return server_; }

    // The reply to the next searches: the service's envelope around these elements' members
    // (written into the JSON as they stand, so a test can leave members out or retype them).
    void set_songs(const std::vector<std::string>& songs) {
        std::string body = R"({"code":200,"data":[)";
        for (std::size_t i = 0; i < songs.size(); ++i) {
            body += (i == 0 ? "{" : ",{") + songs[i] + "}";
        }
        body += R"(],"error":""})";
        set_reply(200, std::move(body));
    }
    // Any status and body.
    void set_reply(int status, std::string body) {
        const std::lock_guard lock(mutex_);
        status_ = status;
        reply_ = std::move(body);
    }

    std::vector<RecordedRequest> searches() const {
        std::vector<RecordedRequest> found;
        for (RecordedRequest& request : server_.requests()) {
            if (request.path == "/music") {
                found.push_back(std::move(request));
            }
        }
        return found;
    }
    std::size_t fetches_of(const std::string& name) const {
        std::size_t n = 0;
        for (const RecordedRequest& request : server_.requests()) {
            n += request.path == "/songs/" + name ? 1 : 0;
        }
        return n;
    }

private:
    TrustTestCa trust_ca_;
    LocalServer server_{Scheme::Https};
    mutable std::mutex mutex_;
    int status_ = 200;
    std::string reply_;
};

} // namespace zorvik::test
